// The kit's reader of the stored "settings.json" on arbitrary bytes: the file is written
// and read back through LOMSettings, then the fields start-up decides on are asked for. A
// file that is no JSON object must read as nothing (and be removed), never crash.

#include "kit/core/LOMSettings.h"

#include <QDir>
#include <QFile>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const QString path =
        QDir::temp().filePath(QStringLiteral("fuzz_kit_settings_%1.json").arg(getpid()));
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return 0;
        file.write(bytes);
    }
    corvex::LOMSettings settings(path);
    const corvex::Value dictionary = settings.settingsDictionary();
    const bool parsed = corvex::LOMSettings::parseSettings(bytes).ok();
    if (parsed != dictionary.isDictionary()) {
        std::fprintf(stderr, "fuzz_kit_settings: the reader and the parser disagree\n");
        std::abort();
    }
    if (!parsed && QFile::exists(path)) {
        std::fprintf(stderr, "fuzz_kit_settings: an unusable file was kept\n");
        std::abort();
    }
    (void)settings.appStatus();
    (void)settings.appNeedsOnboarding();
    (void)settings.appUpdateRequired();
    settings.clearSettingsDictionary();
    QFile::remove(path);
    return 0;
}
