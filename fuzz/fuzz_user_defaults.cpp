// Loads a user defaults file made of the input bytes and reads it through every typed
// getter. The file lives at one fixed path per process and is removed after each input,
// together with the ".corrupt" copy a damaged file is moved to.

#include "fuzz/FuzzSupport.h"
#include "platform/core/UserDefaults.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace {

const std::string& defaultsPath()
{
    static const std::string path = [] {
        const char* tmp = std::getenv("TMPDIR");
        std::string folder = (tmp != nullptr && *tmp != '\0') ? tmp : "/tmp";
        return folder + "/corvex-fuzz-defaults-" + std::to_string(::getpid()) + ".json";
    }();
    return path;
}

void removeFiles()
{
    ::unlink(defaultsPath().c_str());
    ::unlink((defaultsPath() + ".corrupt").c_str());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    corvex::fuzz::silenceLog();
    const std::string& path = defaultsPath();
    removeFiles();
    if (std::FILE* file = std::fopen(path.c_str(), "wb")) {
        if (size > 0)
            std::fwrite(data, 1, size, file);
        std::fclose(file);
    } else {
        return 0;
    }

    {
        corvex::UserDefaults defaults(QString::fromStdString(path));
        const QVariantMap all = defaults.dictionaryRepresentation();
        QStringList keys = all.keys().mid(0, 8);
        keys << QStringLiteral("absent") << QString();
        for (const QString& key : keys) {
            (void)defaults.objectForKey(key);
            (void)defaults.boolForKey(key);
            (void)defaults.integerForKey(key);
            (void)defaults.doubleForKey(key);
            (void)defaults.stringForKey(key);
            (void)defaults.arrayForKey(key);
            (void)defaults.dictionaryForKey(key);
            (void)defaults.containsKey(key);
        }
    }
    removeFiles();
    return 0;
}
