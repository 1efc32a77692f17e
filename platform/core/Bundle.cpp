#include "platform/core/Bundle.h"

#include "platform/core/Log.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <atomic>
#include <mutex>

// Resources compiled into a static library are registered only when their init function
// runs; it has to be named from the global namespace.
static void initCoreResources()
{
    Q_INIT_RESOURCE(core);
}

namespace corvex {

const QString Bundle::IdentifierKey = QStringLiteral("CFBundleIdentifier");
const QString Bundle::ShortVersionKey = QStringLiteral("CFBundleShortVersionString");
const QString Bundle::VersionKey = QStringLiteral("CFBundleVersion");

namespace {

struct SuppliedInfoDictionary
{
    std::mutex mutex;
    bool read = false;
    bool supplied = false;
    std::optional<QVariantMap> info;
};

SuppliedInfoDictionary& suppliedInfoDictionary()
{
    static SuppliedInfoDictionary supplied;
    return supplied;
}

} // namespace

bool Bundle::supplyInfoDictionary(std::optional<QVariantMap> info)
{
    SuppliedInfoDictionary& supplied = suppliedInfoDictionary();
    std::lock_guard lock(supplied.mutex);
    if (supplied.read)
        return false;
    supplied.supplied = true;
    supplied.info = std::move(info);
    return true;
}

Bundle::Bundle()
{
    {
        SuppliedInfoDictionary& supplied = suppliedInfoDictionary();
        std::lock_guard lock(supplied.mutex);
        supplied.read = true;
        if (supplied.supplied) {
            mHasInfo = supplied.info.has_value();
            mInfo = supplied.info.value_or(QVariantMap());
            return;
        }
    }
    initCoreResources();
    const QString kInfoResource = QStringLiteral(":/corvex/Info.json");
    QFile file(kInfoResource);
    if (!file.open(QIODevice::ReadOnly)) {
        Log::error(QStringLiteral("The information dictionary %1 is missing: %2")
                       .arg(kInfoResource, file.errorString()));
        return;
    }
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &error);
    if (!document.isObject()) {
        Log::error(QStringLiteral("The information dictionary %1 cannot be read: %2")
                       .arg(kInfoResource, error.errorString()));
        return;
    }
    mInfo = document.object().toVariantMap();
    mHasInfo = true;
}

const Bundle& Bundle::mainBundle()
{
    static const Bundle bundle;
    return bundle;
}

QString Bundle::identifier() const
{
    return mInfo.value(IdentifierKey).toString();
}

QString Bundle::shortVersion() const
{
    return mInfo.value(ShortVersionKey).toString();
}

QString Bundle::version() const
{
    return mInfo.value(VersionKey).toString();
}

} // namespace corvex
