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

// Names the addresses of a crashed run: the report's image list says which image each
// address lay in; the image with the same build id in this process gives the address's
// place here, and dladdr and the image file's own symbol table (read only when its build id
// still matches the loaded image) name the nearest function at or below it. Ordinary
// code, one resolver per report.
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
    // Fills symbol, raw symbol, offset and library; false when the frame stays unresolved.
    bool updateStackFrame(BBXStackFrame& frame);
    std::optional<BBXStackFrame> frameForAddress(std::uint64_t address);
    const std::vector<Image>& images() const { return mImages; }

private:
    struct LocalImage
    {
        bool found = false;
        std::uint64_t base = 0; // the ELF header in this process
        std::uint64_t bias = 0;
        QString path;                               // of the file loaded here
        std::shared_ptr<BBXElfSymbolTable> symbols; // nullptr: unreadable or another build
    };
    struct Lookup
    {
        std::uint64_t start = 0;
        QByteArray name;
        bool found = false;
    };
    const LocalImage& localImage(const QString& uuid);
    Lookup lookup(const LocalImage& image, std::uint64_t local) const;

    std::vector<Image> mImages; // sorted by base
    QHash<QString, LocalImage> mLocal;
};

} // namespace corvex
