// Ordinary code: runs at set-up and after dlopen and dlclose, never at crash time.

#include "crash/runtime/BBXBinaryImages.h"

#include "crash/runtime/BBXCrashTime.h"
#include "crash/runtime/BBXMemory.h"
#include "crash/runtime/BBXSDKLog.h"
#include "platform/core/ElfImage.h"
#include "platform/core/SerialQueue.h"

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <elf.h>
#include <map>
#include <mutex>
#include <string>
#include <unistd.h>
#include <vector>

namespace corvex {

namespace {

struct BBXFoundImage
{
    BBXBinaryImageDetails details;
    std::string path;
};

struct BBXImageTracker
{
    std::mutex mutex;
    BBXBinaryImageState* state = nullptr;
    std::string filePath;
    SerialQueue* queue = nullptr;
    std::map<std::uint64_t, BBXFoundImage> images; // by base address
};

// Never destroyed: a dlclose during the process's own teardown still finds it.
BBXImageTracker& bbxImageTracker()
{
    static auto* tracker = new BBXImageTracker();
    return *tracker;
}

const std::string& bbxExecutablePath()
{
    // Never destroyed: a dlclose during the process's exit still rescans after static
    // destructors ran.
    static const std::string* const path = [] {
        char buffer[4096];
        const ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
        return new std::string(length > 0 ? std::string(buffer, std::size_t(length)) : std::string());
    }();
    return *path;
}

// A pointer of .eh_frame_hdr in one of the encodings linkers write there.
bool bbxDecodeEhPointer(std::uint8_t encoding, const std::uint8_t* at, std::uint64_t headerStart,
                        std::uint64_t* value)
{
    std::uint64_t raw = 0;
    switch (encoding & 0x0F) {
    case 0x00: // absptr
    case 0x04: // udata8
    case 0x0C: // sdata8
        std::memcpy(&raw, at, 8);
        break;
    case 0x03: { // udata4
        std::uint32_t v;
        std::memcpy(&v, at, 4);
        raw = v;
        break;
    }
    case 0x0B: { // sdata4
        std::int32_t v;
        std::memcpy(&v, at, 4);
        raw = std::uint64_t(std::int64_t(v));
        break;
    }
    default:
        return false;
    }
    switch (encoding & 0x70) {
    case 0x00:
        break;
    case 0x10: // pcrel
        raw += reinterpret_cast<std::uintptr_t>(at);
        break;
    case 0x30: // datarel: from the start of .eh_frame_hdr
        raw += headerStart;
        break;
    default:
        return false;
    }
    *value = raw;
    return true;
}

void bbxReadBuildId(BBXBinaryImageDetails* details, std::uint64_t notes, std::uint64_t size)
{
    std::uint64_t offset = 0;
    while (offset + sizeof(ElfW(Nhdr)) <= size) {
        const auto* note = reinterpret_cast<const ElfW(Nhdr)*>(notes + offset);
        const std::uint64_t nameSize = (note->n_namesz + 3) & ~std::uint64_t(3);
        const std::uint64_t descriptionSize = (note->n_descsz + 3) & ~std::uint64_t(3);
        const std::uint64_t description = offset + sizeof(ElfW(Nhdr)) + nameSize;
        if (description + descriptionSize > size)
            return;
        const char* name = reinterpret_cast<const char*>(note + 1);
        if (note->n_type == NT_GNU_BUILD_ID && note->n_namesz == 4 && std::memcmp(name, "GNU", 4) == 0 &&
            note->n_descsz > 0) {
            const auto* id = reinterpret_cast<const std::uint8_t*>(notes + description);
            const std::size_t count = note->n_descsz < 16 ? note->n_descsz : 16;
            std::memset(details->node.uuid, 0, sizeof details->node.uuid);
            std::memcpy(details->node.uuid, id, count);
            details->node.hasUuid = true;
            BBXHexEncodeBytes(details->node.uuid, 16, details->uuid);
            return;
        }
        offset = description + descriptionSize;
    }
}

int bbxCollectImage(dl_phdr_info* info, std::size_t, void* context)
{
    auto* found = static_cast<std::vector<BBXFoundImage>*>(context);
    BBXFoundImage image;
    if (!BBXBinaryImageFillInSections(&image.details, info))
        return 0;
    image.path = image.details.path != nullptr ? image.details.path : "";
    image.details.path = nullptr;
    found->push_back(std::move(image));
    return 0;
}

std::vector<BBXFoundImage> bbxLoadedImages()
{
    std::vector<BBXFoundImage> found;
    found.reserve(64);
    ::dl_iterate_phdr(bbxCollectImage, &found);
    return found;
}

void bbxRecordImageLine(BBXBinaryImageState* state, const char* filePath, bool load,
                        const BBXBinaryImageDetails& details)
{
    BBXFile* file = &state->file;
    BBXFile ownFile;
    const bool openHere = !BBXFileIsOpen(file);
    if (openHere) {
        if (!BBXFileInitWithPathMode(&ownFile, filePath, true, false)) {
            BBX_LOG_WARN("Error: unable to open binary image log file");
            return;
        }
        file = &ownFile;
    }
    BBXFileWriteSectionStart(file, load ? "load" : "unload");
    BBXFileWriteHashStart(file);
    BBXFileWriteHashEntryString(file, "path", details.path);
    // Bundle identifiers and versions belong to ".framework" bundles, which ELF images are not.
    BBXBinaryImageRecordDetails(file, &details);
    BBXFileWriteHashEnd(file);
    BBXFileWriteSectionEnd(file);
    if (openHere)
        BBXFileClose(&ownFile);
}

void bbxQueueImageLine(BBXImageTracker& tracker, bool load, const BBXFoundImage& image)
{
    tracker.queue->async([state = tracker.state, filePath = tracker.filePath, load, image]() {
        BBXBinaryImageDetails details = image.details;
        details.path = image.path.empty() ? nullptr : image.path.c_str();
        bbxRecordImageLine(state, filePath.c_str(), load, details);
    });
}

bool bbxSameImage(const BBXFoundImage& a, const BBXFoundImage& b)
{
    return a.details.node.size == b.details.node.size && a.path == b.path &&
           std::memcmp(a.details.uuid, b.details.uuid, sizeof a.details.uuid) == 0;
}

// Diffs the loaded images against the tracked ones; the caller holds the tracker's mutex.
void bbxRescanLocked(BBXImageTracker& tracker)
{
    std::map<std::uint64_t, BBXFoundImage> current;
    for (BBXFoundImage& image : bbxLoadedImages())
        current.emplace(image.details.node.baseAddress, std::move(image));
    for (auto it = tracker.images.begin(); it != tracker.images.end();) {
        const auto now = current.find(it->first);
        if (now != current.end() && bbxSameImage(now->second, it->second)) {
            current.erase(now);
            ++it;
            continue;
        }
        if (!BBXBinaryImageTableRemove(&tracker.state->table, it->first))
            BBX_LOG_WARN("Error: Unable to track a %s node %p", "unloaded", it->first);
        bbxQueueImageLine(tracker, false, it->second);
        it = tracker.images.erase(it);
    }
    for (auto& [base, image] : current) {
        if (!BBXBinaryImageTableAdd(&tracker.state->table, image.details.node))
            BBX_LOG_WARN("Error: Unable to track a %s node %p", "loaded", base);
        bbxQueueImageLine(tracker, true, image);
        tracker.images.emplace(base, std::move(image));
    }
}

} // namespace

bool BBXBinaryImageFillInSections(BBXBinaryImageDetails* details, const dl_phdr_info* info)
{
    if (!BBXIsValidPointer(details) || !BBXIsValidPointer(info) || !BBXIsValidPointer(info->dlpi_phdr))
        return false;
    *details = BBXBinaryImageDetails();
    const std::uint64_t bias = info->dlpi_addr;
    std::uint64_t lowest = UINT64_MAX;
    std::uint64_t executableEnd = 0;
    std::uint64_t loadEnd = 0;
    for (ElfW(Half) i = 0; i < info->dlpi_phnum; ++i) {
        const ElfW(Phdr)& header = info->dlpi_phdr[i];
        if (header.p_type == PT_LOAD) {
            const std::uint64_t start = header.p_vaddr - header.p_offset;
            if (header.p_offset <= header.p_vaddr && start < lowest)
                lowest = start;
            const std::uint64_t end = header.p_vaddr + header.p_memsz;
            if (end > loadEnd)
                loadEnd = end;
            if ((header.p_flags & PF_X) != 0 && end > executableEnd)
                executableEnd = end;
        } else if (header.p_type == PT_GNU_EH_FRAME) {
            details->node.ehFrameHdr = bias + header.p_vaddr;
        } else if (header.p_type == PT_NOTE && !details->node.hasUuid) {
            bbxReadBuildId(details, bias + header.p_vaddr, header.p_memsz);
        }
    }
    if (lowest == UINT64_MAX)
        return false;
    const std::uint64_t end = executableEnd != 0 ? executableEnd : loadEnd;
    details->slide = bias;
    details->node.baseAddress = bias + lowest;
    details->node.size = end > lowest ? end - lowest : 0;
    if (details->node.ehFrameHdr != 0) {
        const auto* header = reinterpret_cast<const std::uint8_t*>(details->node.ehFrameHdr);
        std::uint64_t ehFrame = 0;
        if (header[0] == 1 && bbxDecodeEhPointer(header[1], header + 4, details->node.ehFrameHdr, &ehFrame))
            details->node.ehFrame = ehFrame;
    }
    const char* name = info->dlpi_name;
    details->path = name != nullptr && name[0] != 0 ? name : bbxExecutablePath().c_str();
    return true;
}

namespace {

// Waits until the lines queued so far are in the file: a crash right after a start or a
// dlopen would otherwise find the image list cut short, and its frames in the images left
// out without their library.
void bbxWaitForImageLines(SerialQueue* queue)
{
    if (queue != nullptr && !queue->isCurrent())
        queue->sync([] {});
}

bool bbxBinaryImageInitLocked(BBXImageTracker& tracker, BBXBinaryImageState* state, const char* path,
                              SerialQueue* queue)
{
    if (tracker.state != nullptr)
        return false;
    bbxExecutablePath();
    BBXBinaryImageTableClear(&state->table);
    state->file = BBXFile();
    tracker.state = state;
    tracker.filePath = path;
    tracker.queue = queue;
    tracker.images.clear();
    BBXBinaryImageInstallTable(&state->table);
    queue->async([state, filePath = tracker.filePath]() {
        if (!BBXUnlinkIfExists(filePath.c_str()))
            BBX_LOG_WARN("Unable to reset the binary image log file %s", ::strerrordesc_np(errno));
        if (!BBXFileInitWithPathMode(&state->file, filePath.c_str(), true, false))
            BBX_LOG_WARN("Error: Unable to open the binary image log file during init");
    });
    bbxRescanLocked(tracker);
    queue->async([state]() {
        if (BBXFileIsOpen(&state->file))
            BBXFileClose(&state->file);
    });
    return true;
}

} // namespace

bool BBXBinaryImageInit(BBXBinaryImageState* state, const char* path, SerialQueue* queue)
{
    if (!BBXIsValidPointer(state) || !BBXIsValidPointer(path) || queue == nullptr)
        return false;
    BBXImageTracker& tracker = bbxImageTracker();
    {
        std::lock_guard lock(tracker.mutex);
        if (!bbxBinaryImageInitLocked(tracker, state, path, queue))
            return false;
    }
    bbxWaitForImageLines(queue);
    return true;
}

void BBXBinaryImageRescan()
{
    BBXImageTracker& tracker = bbxImageTracker();
    SerialQueue* queue = nullptr;
    {
        std::lock_guard lock(tracker.mutex);
        if (tracker.state == nullptr)
            return;
        bbxRescanLocked(tracker);
        queue = tracker.queue;
    }
    bbxWaitForImageLines(queue);
}

void BBXBinaryImageStop()
{
    BBXImageTracker& tracker = bbxImageTracker();
    SerialQueue* queue = nullptr;
    {
        std::lock_guard lock(tracker.mutex);
        if (tracker.state == nullptr)
            return;
        BBXBinaryImageInstallTable(nullptr);
        queue = tracker.queue;
        tracker.state = nullptr;
        tracker.queue = nullptr;
        tracker.images.clear();
    }
    queue->sync([] {});
}

void BBXBinaryImageRecordDetails(BBXFile* file, const BBXBinaryImageDetails* details)
{
    if (!BBXFileIsOpen(file)) {
        BBX_LOG_WARN("Error: file is invalid");
        return;
    }
    if (!BBXIsValidPointer(details))
        return;
    BBXFileWriteHashEntryString(file, "uuid", details->uuid);
    BBXFileWriteHashEntryUint64(file, "base", details->node.baseAddress);
    BBXFileWriteHashEntryUint64(file, "size", details->node.size);
}

bool BBXBinaryImageRecordMainExecutable(BBXFile* file)
{
    BBXBinaryImageDetails details;
    bool found = false;
    for (BBXFoundImage& image : bbxLoadedImages()) {
        if (image.path == bbxExecutablePath()) {
            details = image.details;
            found = true;
            break;
        }
    }
    std::uint16_t machine = 0;
    if (found)
        std::memcpy(&machine,
                    reinterpret_cast<const char*>(details.node.baseAddress) + offsetof(ElfW(Ehdr), e_machine),
                    sizeof machine);
    const QByteArray architecture = ElfImage::architectureName(machine).toUtf8();
    BBXFileWriteSectionStart(file, "executable");
    BBXFileWriteHashStart(file);
    BBXFileWriteHashEntryString(file, "architecture", architecture.constData());
    BBXBinaryImageRecordDetails(file, &details);
    BBXFileWriteHashEntryBoolean(file, "encrypted", details.encrypted);
    // ELF carries no SDK versions: the triples stay 0.0.0.
    char version[40];
    const auto versionText = [&version](const BBXVersionTriple& triple) {
        std::snprintf(version, sizeof version, "%d.%d.%d", triple.major, triple.minor, triple.patch);
        return version;
    };
    BBXFileWriteHashEntryString(file, "minimum_sdk_version", versionText(details.minimumOSVersion));
    BBXFileWriteHashEntryString(file, "built_sdk_version", versionText(details.builtSDKVersion));
    BBXFileWriteHashEnd(file);
    BBXFileWriteSectionEnd(file);
    return true;
}

bool BBXBinaryImageFindImageForUUID(const char* uuid, BBXBinaryImageDetails* outDetails)
{
    if (!BBXIsValidPointer(uuid) || !BBXIsValidPointer(outDetails)) {
        BBX_LOG_WARN("null input");
        return false;
    }
    for (const BBXFoundImage& image : bbxLoadedImages()) {
        if (std::strncmp(image.details.uuid, uuid, sizeof image.details.uuid) == 0) {
            *outDetails = image.details;
            outDetails->path = nullptr;
            return true;
        }
    }
    return false;
}

} // namespace corvex
