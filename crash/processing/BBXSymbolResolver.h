#pragma once

#include "crash/processing/BBXElfSymbolTable.h"
#include "crash/processing/BBXStackFrame.h"
#include "platform/core/Value.h"

#include <QHash>
#include <QString>
#include <cstdint>
#include <memory>
#include <optional>

namespace corvex {

// Names the addresses of a crashed run. The report's image list says which image each
// address lay in, and the frame keeps that image's file name whatever else is found. The
// image's own symbol table names it: read from the file this process loaded with the same
// build id, else from the path the list holds (an image this process never loaded), each
// used only while its build id is the recorded one; its .symtab first, the dynamic symbols
// of a stripped file next, and for a loaded image without a readable file dladdr's answer
// with the size of the dynamic symbol it found. A symbol names only the addresses inside its
// extent: where none holds the address, the frame has its library and its offset in the
// image, and no name. Ordinary code, one resolver per report.
class BBXSymbolResolver
{
public:
    struct Image
    {
        std::uint64_t base = 0;
        std::uint64_t size = 0;
        QString uuid;
        QString path;
        QString fileName; // the path's last component, the frames' library
    };

    // The "load" sections of "binary_images.bbxrecord" ("unload" ones are ignored, so an
    // image unloaded before the crash still names its frames); false (logged) when the file
    // yields nothing.
    bool loadBinaryImagesFromFile(const QString& path);
    const Image* loadedBinaryImageForPC(std::uint64_t pc) const;
    // Fills library and offset, and symbol and raw symbol when one holds the address; false
    // when the address lies in no listed image and the frame keeps only its address.
    bool updateStackFrame(BBXStackFrame& frame);
    std::optional<BBXStackFrame> frameForAddress(std::uint64_t address);
    const std::vector<Image>& images() const { return mImages; }

private:
    // What names the addresses of one listed image.
    struct ImageSymbols
    {
        std::uint64_t localBase = 0;              // the image in this process; 0: not loaded here
        std::shared_ptr<BBXElfSymbolTable> table; // nullptr: no file of the recorded build
    };
    struct Found
    {
        std::uint64_t start = 0; // the symbol's offset in the image
        QByteArray name;
    };
    const ImageSymbols& imageSymbols(const Image& image);
    // The symbol whose extent holds `offset` (from the image's base); nothing when none does.
    std::optional<Found> symbolAt(const ImageSymbols& symbols, std::uint64_t offset) const;

    std::vector<Image> mImages;            // sorted by base
    QHash<QString, ImageSymbols> mSymbols; // by uuid and path
};

} // namespace corvex
