#include "crash/processing/BBXSymbolResolver.h"

#include "crash/BBXInternalReport.h"
#include "crash/runtime/BBXBinaryImages.h"
#include "platform/core/Log.h"

#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <dlfcn.h> // dladdr1 with the symbol table entry
#include <link.h>  // dl_iterate_phdr: the loaded file of an image

namespace corvex {

namespace {

struct PathSearch
{
    std::uint64_t bias = 0;
    QString path;
    bool found = false;
};

int findPathForBias(dl_phdr_info* info, std::size_t, void* data)
{
    auto* search = static_cast<PathSearch*>(data);
    if (std::uint64_t(info->dlpi_addr) != search->bias)
        return 0;
    search->found = true;
    search->path = info->dlpi_name != nullptr && info->dlpi_name[0] != '\0'
                       ? QFile::decodeName(info->dlpi_name)
                       : QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
    return 1;
}

bool unsignedMember(const Value& dictionary, const QString& key, std::uint64_t* out)
{
    const Value& value = dictionary.value(key);
    if (!value.isNumber())
        return false;
    *out = std::uint64_t(value.toInteger());
    return true;
}

} // namespace

bool BBXSymbolResolver::loadBinaryImagesFromFile(const QString& path)
{
    if (path.isEmpty())
        return false;
    const std::optional<ValueArray> sections = BBXInternalReport::readBBXFileAtPath(path);
    if (!sections) {
        Log::error(
            QStringLiteral("[Blackbox:Crash:SymbolResolver] failed to read binary image file %1").arg(path));
        return false;
    }
    for (const Value& section : *sections) {
        if (!section.isDictionary())
            continue;
        const Value& load = section.value(QStringLiteral("load"));
        if (!load.isDictionary())
            continue;
        Image image;
        if (!unsignedMember(load, QStringLiteral("base"), &image.base) ||
            !unsignedMember(load, QStringLiteral("size"), &image.size))
            continue;
        image.uuid = load.value(QStringLiteral("uuid")).toString();
        image.path = load.value(QStringLiteral("path")).toString();
        image.fileName = QFileInfo(image.path).fileName();
        mImages.push_back(image);
    }
    std::stable_sort(mImages.begin(), mImages.end(),
                     [](const Image& a, const Image& b) { return a.base < b.base; });
    return true;
}

const BBXSymbolResolver::Image* BBXSymbolResolver::loadedBinaryImageForPC(std::uint64_t pc) const
{
    for (const Image& image : mImages) {
        if (image.base <= pc && pc - image.base < image.size)
            return &image;
    }
    return nullptr;
}

const BBXSymbolResolver::ImageSymbols& BBXSymbolResolver::imageSymbols(const Image& image)
{
    const QString key = image.uuid + QLatin1Char('\n') + image.path;
    auto known = mSymbols.constFind(key);
    if (known != mSymbols.constEnd())
        return *known;
    ImageSymbols symbols;
    const QByteArray uuidText = image.uuid.toLatin1();
    // Without a build id nothing tells whether a file is the image that ran.
    if (uuidText.size() == 32) {
        QString localPath;
        BBXBinaryImageDetails details;
        if (BBXBinaryImageFindImageForUUID(uuidText.constData(), &details)) {
            symbols.localBase = details.node.baseAddress;
            PathSearch search;
            search.bias = details.slide;
            dl_iterate_phdr(findPathForBias, &search);
            localPath = search.path;
        }
        // A file on disk may be another build than the one that ran (upgraded since): its
        // symbols count only while its build id is the recorded one.
        const auto tableAt = [&uuidText](const QString& path) -> std::shared_ptr<BBXElfSymbolTable> {
            if (path.isEmpty())
                return nullptr;
            std::optional<BBXElfSymbolTable> table = BBXElfSymbolTable::readFile(path);
            if (!table || table->uuidText() != uuidText || !table->imageStart())
                return nullptr;
            return std::make_shared<BBXElfSymbolTable>(std::move(*table));
        };
        symbols.table = tableAt(localPath);
        if (!symbols.table && image.path != localPath)
            symbols.table = tableAt(image.path);
    }
    return *mSymbols.insert(key, symbols);
}

std::optional<BBXSymbolResolver::Found> BBXSymbolResolver::symbolAt(const ImageSymbols& symbols,
                                                                    std::uint64_t offset) const
{
    if (symbols.table) {
        // The file's tables hold its dynamic symbols too (.symtab lists them, and a stripped
        // file's own table is .dynsym): what they do not name, dladdr names no better.
        const std::uint64_t imageStart = *symbols.table->imageStart();
        const BBXElfSymbolTable::Symbol* symbol = symbols.table->symbolContaining(imageStart + offset);
        if (symbol == nullptr)
            return std::nullopt;
        return Found{symbol->value - imageStart, symbol->name};
    }
    if (symbols.localBase == 0)
        return std::nullopt;
    // dladdr answers the nearest exported symbol at or below, whatever lies between: its
    // answer counts only inside the extent its own symbol table entry gives.
    const std::uint64_t local = symbols.localBase + offset;
    Dl_info info{};
    void* found = nullptr;
    if (dladdr1(reinterpret_cast<void*>(local), &info, &found, RTLD_DL_SYMENT) == 0 || found == nullptr ||
        info.dli_sname == nullptr || info.dli_saddr == nullptr ||
        std::uint64_t(reinterpret_cast<std::uintptr_t>(info.dli_fbase)) != symbols.localBase)
        return std::nullopt;
    const auto* entry = static_cast<const ElfW(Sym)*>(found);
    const auto start = std::uint64_t(reinterpret_cast<std::uintptr_t>(info.dli_saddr));
    if (entry->st_size == 0 || local < start || local - start >= entry->st_size)
        return std::nullopt;
    return Found{start - symbols.localBase, QByteArray(info.dli_sname)};
}

bool BBXSymbolResolver::updateStackFrame(BBXStackFrame& frame)
{
    if (frame.address == 0)
        return false;
    const Image* image = loadedBinaryImageForPC(frame.address);
    if (image == nullptr)
        return false;
    if (!image->fileName.isEmpty())
        frame.library = image->fileName;
    const std::uint64_t offset = frame.address - image->base;
    frame.offset = offset;
    const ImageSymbols& symbols = imageSymbols(*image);
    // A return address lies just past its call: the call itself, in the function that made
    // it, is what is looked up (its function may end right there, at another's start).
    const bool returnAddress = !frame.exactAddress && offset != 0;
    const std::optional<Found> found = symbolAt(symbols, returnAddress ? offset - 1 : offset);
    if (!found)
        return true;
    // A return address at a symbol's start is counted from two bytes before it.
    std::uint64_t counted = offset;
    if (returnAddress && offset >= 2) {
        const std::optional<Found> here = symbolAt(symbols, offset);
        if (here && here->start == offset)
            counted = offset - 2;
    }
    frame.symbol = QString::fromUtf8(found->name);
    frame.rawSymbol = frame.symbol;
    frame.offset = counted > found->start ? counted - found->start : 0;
    return true;
}
std::optional<BBXStackFrame> BBXSymbolResolver::frameForAddress(std::uint64_t address)
{
    BBXStackFrame frame = BBXStackFrame::stackFrameWithAddress(address);
    if (!updateStackFrame(frame))
        return std::nullopt;
    return frame;
}

} // namespace corvex
