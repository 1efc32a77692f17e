// The analytics view of the downloaded kit settings on arbitrary bytes: the stored file is
// read as the kit reads it, and every value the controller takes is asked for and used as
// the controller uses it. No interval or time-out may come out not finite, and the cap on
// waiting packages must keep the new package and at most that many in all.

#include "fuzz/FuzzSupport.h"
#include "kit/core/LOMSettings.h"
#include "platform/core/JsonText.h"
#include "tallykit/TLYEvent.h"
#include "tallykit/TLYFileOperations.h"
#include "tallykit/TLYSettings.h"

#include <QFile>
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

void fail(const char* why)
{
    std::fprintf(stderr, "fuzz_tally_settings: %s\n", why);
    std::abort();
}

void touch(const QString& path)
{
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write("x");
}

// Two packages wait; a third is made with the settings' cap.
void packageWithCap(qint64 maximum)
{
    const std::optional<QDir> folder = corvex::fuzz::emptyScratchFolder();
    if (!folder)
        return;
    const QDir& events = *folder;
    touch(events.filePath(QStringLiteral("A.multipartmime")));
    touch(events.filePath(QStringLiteral("B.multipartmime")));
    touch(events.filePath(QStringLiteral("C.gz")));
    const QString made = events.filePath(QStringLiteral("C.multipartmime"));
    corvex::TLYPackageLogOperation package(events.filePath(QStringLiteral("C.gz")), made, QStringLiteral("C"),
                                           maximum);
    package.main();
    if (!package.success())
        return;
    const QStringList left =
        corvex::TLYFileUtils::filesWithExtension(QStringLiteral("multipartmime"), events.path());
    const qint64 allowed = std::clamp<qint64>(maximum, 1, 3);
    if (!left.contains(made) || left.size() != allowed)
        fail("the cap on waiting packages was not kept");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    corvex::fuzz::silenceLog();
    const corvex::Result<corvex::Value> read =
        corvex::LOMSettings::parseSettings(QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)));
    if (!read)
        return 0;
    const corvex::TLYSettings settings(read.value());
    (void)settings.tallyURL().toString();
    (void)settings.shouldCollectAnalytics();
    (void)settings.shouldCollectCustomEvents();
    (void)settings.shouldCollectPredefinedEvents();
    (void)corvex::JsonText::serialize(read.value().value(QStringLiteral("analytics")));
    for (const double seconds :
         {settings.flushInterval(), settings.defaultUploadTimeout(), settings.lowPowerUploadTimeout()}) {
        if (!std::isfinite(seconds))
            fail("an interval that is not finite");
    }
    (void)(qint64(8001) > settings.maximumPayloadSize());
    (void)corvex::TLYEventFilter::shouldDiscardEventWithInstallationID(
        QStringLiteral("6F1C2A7E-3B4D-4C5E-9F80-112233445566"), settings.samplingRate());
    packageWithCap(settings.maxPendingSendFiles());
    return 0;
}
