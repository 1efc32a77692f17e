#include "crash/processing/BBXSymbolResolver.h"

#include "crash/BBXInternalReport.h"
#include "crash/runtime/BBXBinaryImages.h"
#include "platform/core/Log.h"

#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <dlfcn.h> // dladdr
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

const BBXSymbolResolver::LocalImage& BBXSymbolResolver::localImage(const QString& uuid)
{
    auto known = mLocal.constFind(uuid);
    if (known != mLocal.constEnd())
        return *known;
    LocalImage local;
    BBXBinaryImageDetails details;
    const QByteArray uuidText = uuid.toLatin1();
    if (uuid.size() == 32 && BBXBinaryImageFindImageForUUID(uuidText.constData(), &details)) {
        local.found = true;
        local.base = details.node.baseAddress;
        local.bias = details.slide;
        PathSearch search;
        search.bias = details.slide;
        dl_iterate_phdr(findPathForBias, &search);
        local.path = search.path;
        // The file on disk may be another build than the one loaded (upgraded since): its
        // symbols count only when its build id is the loaded image's.
        if (!local.path.isEmpty()) {
            std::optional<BBXElfSymbolTable> table = BBXElfSymbolTable::readFile(local.path);
            if (table && table->uuidText() == uuidText)
                local.symbols = std::make_shared<BBXElfSymbolTable>(std::move(*table));
        }
    }
    return *mLocal.insert(uuid, local);
}

BBXSymbolResolver::Lookup BBXSymbolResolver::lookup(const LocalImage& image, std::uint64_t local) const
{
    Lookup found;
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(local), &info) != 0 && info.dli_saddr != nullptr &&
        info.dli_sname != nullptr &&
        std::uint64_t(reinterpret_cast<std::uintptr_t>(info.dli_fbase)) == image.base) {
        found.found = true;
        found.start = std::uint64_t(reinterpret_cast<std::uintptr_t>(info.dli_saddr));
        found.name = QByteArray(info.dli_sname);
    }
    if (image.symbols && local >= image.bias) {
        const BBXElfSymbolTable::Symbol* symbol = image.symbols->symbolAtOrBelow(local - image.bias);
        if (symbol != nullptr && (!found.found || symbol->value + image.bias > found.start)) {
            found.found = true;
            found.start = symbol->value + image.bias;
            found.name = symbol->name;
        }
    }
    return found;
}

bool BBXSymbolResolver::updateStackFrame(BBXStackFrame& frame)
{
    if (frame.address == 0)
        return false;
    const Image* image = loadedBinaryImageForPC(frame.address);
    if (image == nullptr || image->uuid.isEmpty())
        return false;
    const LocalImage& local = localImage(image->uuid);
    if (!local.found)
        return false;
    std::uint64_t address = local.base + (frame.address - image->base);
    Lookup found = lookup(local, address);
    if (!found.found)
        return false;
    // A return address at a symbol's start belongs to the function before it, whose last
    // instruction was the call.
    if (!frame.exactAddress && found.start == address) {
        address -= 2;
        found = lookup(local, address);
        if (!found.found)
            return false;
    }
    frame.symbol = QString::fromUtf8(found.name);
    frame.rawSymbol = frame.symbol;
    // Both addresses are this process's: the recorded one lay in another mapping.
    if (address > found.start)
        frame.offset = address - found.start;
    frame.library = image->fileName;
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
