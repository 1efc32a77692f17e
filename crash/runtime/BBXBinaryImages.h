#pragma once

// Set-up and rescans of the loaded images: ordinary code (it allocates, locks and calls the
// dynamic linker), never run at crash time. The crash-time half is BBXBinaryImageTable.h.
//
// Images are listed with dl_iterate_phdr at set-up and again after every dlopen and dlclose
// (interposed in the executable, BBXDlopenHooks.cpp): a rescan puts new images into the
// table and takes gone ones out, and queues a "load" or "unload" line for each into
// "binary_images.bbxrecord" on the binary-images queue.

#include "crash/runtime/BBXBinaryImageTable.h"
#include "crash/runtime/BBXFile.h"

#include <cstdint>
#include <link.h>

namespace corvex {

class SerialQueue;

struct BBXVersionTriple
{
    int major = 0;
    int minor = 0;
    int patch = 0;
};

// The full description of one image, on the stack of whoever fills it.
struct BBXBinaryImageDetails
{
    char uuid[33] = {}; // 32 lower-case hex digits of the build id's first 16 bytes; empty: none
    bool encrypted = false;
    BBXVersionTriple builtSDKVersion;
    BBXVersionTriple minimumOSVersion;
    BBXBinaryImageRuntimeNode node;
    std::uint64_t slide = 0;    // the load bias
    const char* path = nullptr; // valid while the details are being filled and recorded
};

// The image tracking's block, handed in by its caller (the crash context's writable part).
struct BBXBinaryImageState
{
    BBXBinaryImageTable table;
    BBXFile file; // "binary_images.bbxrecord" while the images present at set-up are written
};

// Clears the block, installs its table for crash-time lookups, and on `queue` starts the
// file afresh and writes a "load" line for every image loaded now, returning once they are
// written. Later rescans write a line per change, opening and closing the file each time.
// The block, the path and the queue must outlive BBXBinaryImageStop. False for missing
// arguments or a second set-up.
bool BBXBinaryImageInit(BBXBinaryImageState* state, const char* path, SerialQueue* queue);
// Brings the table up to date with the loaded images and returns once the lines of the
// changes are written; does nothing before set-up.
void BBXBinaryImageRescan();
// Ends tracking: waits for the queued lines and uninstalls the table.
void BBXBinaryImageStop();

// Fills a details record from an image's program headers.
bool BBXBinaryImageFillInSections(BBXBinaryImageDetails* details, const dl_phdr_info* info);
// The "executable" line of the metadata record: architecture, uuid, base, size, encrypted,
// minimum_sdk_version, built_sdk_version. Always true.
bool BBXBinaryImageRecordMainExecutable(BBXFile* file);
// The first loaded image whose uuid text equals `uuid` (32 digits); its path is not kept.
bool BBXBinaryImageFindImageForUUID(const char* uuid, BBXBinaryImageDetails* outDetails);
// Writes "uuid", "base" and "size".
void BBXBinaryImageRecordDetails(BBXFile* file, const BBXBinaryImageDetails* details);

} // namespace corvex
