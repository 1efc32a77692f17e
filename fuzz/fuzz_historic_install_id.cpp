// The crash reporter's historic defaults file on arbitrary bytes: the installation
// identifier is taken from it only when the file is an XML property list whose dictionary
// holds a non-empty string under the identifier's key; anything else answers nothing.

#include "crash/Blackbox.h"
#include "fuzz/FuzzSupport.h"
#include "kit/core/Loom.h"
#include "platform/core/XmlPropertyList.h"

#include <QFile>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    corvex::fuzz::silenceLog();
    const std::optional<QDir> folder = corvex::fuzz::emptyScratchFolder();
    if (!folder)
        return 0;
    const QString path = folder->filePath(QStringLiteral("BBXUserDefaults.plist"));
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return 0;
        file.write(bytes);
    }
    const std::optional<QString> identifier = corvex::Blackbox::historicInstallID(path);
    const corvex::Result<corvex::Value> plist = corvex::XmlPropertyList::read(bytes);
    const corvex::Value held = plist && plist.value().isDictionary()
                                   ? plist.value().value(corvex::Loom::InstallIdentifierKey)
                                   : corvex::Value();
    const bool expected = held.isString() && !held.toString().isEmpty();
    if (identifier.has_value() != expected || (identifier && *identifier != held.toString())) {
        std::fprintf(stderr, "fuzz_historic_install_id: the identifier does not follow the file\n");
        std::abort();
    }
    return 0;
}
