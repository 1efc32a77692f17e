#include "kit/core/BBXUserDefaults.h"

#include "platform/core/Bundle.h"
#include "platform/core/Log.h"
#include "platform/core/Paths.h"
#include "platform/core/SerialQueue.h"
#include "platform/core/SysCalls.h"
#include "platform/core/UserDefaults.h"
#include "platform/core/XmlPropertyList.h"

#include <QDir>
#include <QFile>
#include <cerrno>
#include <sys/stat.h>

namespace corvex {

const QString BBXUserDefaults::AccessQueueLabel = QStringLiteral("com.blackbox.BBXUserDefaults.access");
const QString BBXUserDefaults::IoQueueLabel = QStringLiteral("com.blackbox.BBXUserDefaults.io");

namespace {

void logDefaults(const QString& message)
{
    Log::error(QStringLiteral("[Loom:UserDefaults] ") + message);
}

} // namespace

BBXUserDefaults& BBXUserDefaults::standardUserDefaults()
{
    static BBXUserDefaults* const shared =
        new BBXUserDefaults(Paths::applicationSupport(), Bundle::mainBundle().identifier(),
                            &UserDefaults::standardUserDefaults());
    return *shared;
}

QString BBXUserDefaults::getEscapedAppBundleIdentifier(const QString& bundleIdentifier)
{
    QString escaped = bundleIdentifier;
    return escaped.replace(QLatin1Char('/'), QLatin1Char('_'));
}

QString BBXUserDefaults::generateDirectoryURLForBaseURL(const QString& baseDirectory,
                                                        const QString& hostAppBundleIdentifier)
{
    QString directory = baseDirectory;
    const QString escaped = getEscapedAppBundleIdentifier(hostAppBundleIdentifier);
    // "." and ".." would lead the store out of its folder; they count as no identifier.
    if (!escaped.isEmpty() && escaped != QLatin1String(".") && escaped != QLatin1String(".."))
        directory += QLatin1Char('/') + escaped;
    return directory + QStringLiteral("/com.blackbox");
}

BBXUserDefaults::BBXUserDefaults(const QString& baseDirectory, const QString& bundleIdentifier,
                                 UserDefaults* applicationDefaults)
    : mApplicationDefaults(applicationDefaults),
      mAccessQueue(std::make_unique<SerialQueue>(AccessQueueLabel)),
      mIoQueue(std::make_unique<SerialQueue>(IoQueueLabel))
{
    mAccessQueue->sync([&] {
        mDirectoryPath = generateDirectoryURLForBaseURL(baseDirectory, bundleIdentifier);
        mFilePath = mDirectoryPath + QStringLiteral("/BBXUserDefaults.plist");
        mData = loadDefaults().value_or(ValueDictionary());
    });
}

BBXUserDefaults::~BBXUserDefaults() = default;

Value BBXUserDefaults::objectForKey(const QString& key) const
{
    Value value;
    mAccessQueue->sync([&] { value = mData.value(key); });
    return value;
}

QString BBXUserDefaults::stringForKey(const QString& key) const
{
    const Value value = objectForKey(key);
    return value.isString() ? value.toString() : QString();
}

bool BBXUserDefaults::boolForKey(const QString& key) const
{
    const Value value = objectForKey(key);
    return (value.isNumber() || value.isBool()) && value.toBool();
}

void BBXUserDefaults::setObject(const Value& value, const QString& key)
{
    mAccessQueue->sync([&] {
        if (value.isNull())
            mData.remove(key);
        else
            mData.insert(key, value);
    });
}

void BBXUserDefaults::setString(const QString& value, const QString& key)
{
    setObject(value.isNull() ? Value() : Value(value), key);
}

void BBXUserDefaults::setBool(bool value, const QString& key)
{
    setObject(Value(value), key);
}

void BBXUserDefaults::removeObjectForKey(const QString& key)
{
    mAccessQueue->sync([&] { mData.remove(key); });
}

void BBXUserDefaults::removeAllObjects()
{
    mAccessQueue->sync([&] { mData.clear(); });
}

ValueDictionary BBXUserDefaults::dictionaryRepresentation() const
{
    ValueDictionary copy;
    mAccessQueue->sync([&] { copy = mData; });
    return copy;
}

bool BBXUserDefaults::synchronize()
{
    const ValueDictionary snapshot = dictionaryRepresentation();
    bool written = false;
    mIoQueue->sync([&] {
        struct stat info
        {};
        if (SysCalls::stat(QFile::encodeName(mDirectoryPath).constData(), &info) != 0) {
            const Status made = Paths::makePath(mDirectoryPath);
            if (!made.ok())
                logDefaults(
                    QStringLiteral("failed to create directory with error:%1").arg(made.error().toString()));
        }
        const Status saved = XmlPropertyList::writeFile(mFilePath, Value(snapshot));
        if (!saved.ok()) {
            logDefaults(QStringLiteral("Unable to open file for writing at path %1").arg(mFilePath));
            return;
        }
        written = true;
    });
    return written;
}

std::optional<ValueDictionary> BBXUserDefaults::loadDefaults()
{
    std::optional<ValueDictionary> loaded;
    mIoQueue->sync([&] {
        struct stat info
        {};
        if (SysCalls::stat(QFile::encodeName(mFilePath).constData(), &info) != 0)
            return;
        if (S_ISDIR(info.st_mode)) {
            logDefaults(
                QStringLiteral("found directory where file expected. Removing conflicting directory"));
            if (!QDir(mFilePath).removeRecursively())
                logDefaults(QStringLiteral("error removing conflicting directory: {error = %1}")
                                .arg(Error::posix(EIO, QStringLiteral("remove"), mFilePath).toString()));
            return;
        }
        const auto read = XmlPropertyList::readFile(mFilePath);
        if (!read.ok() || !read->isDictionary()) {
            logDefaults(QStringLiteral("failed to read existing UserDefaults file"));
            return;
        }
        loaded = read->toDictionary();
    });
    return loaded;
}

void BBXUserDefaults::migrateFromNSUserDefaults(const QStringList& keys)
{
    if (mApplicationDefaults == nullptr)
        return;
    bool moved = false;
    for (const QString& key : keys) {
        const QVariant value = mApplicationDefaults->objectForKey(key);
        if (!value.isValid())
            continue;
        setObject(Value::fromVariant(value), key);
        moved = true;
    }
    if (!moved)
        return;
    // Removed from the application's defaults only once the file holds them.
    if (!synchronize())
        return;
    for (const QString& key : keys)
        mApplicationDefaults->removeObjectForKey(key);
    (void)mApplicationDefaults->synchronize();
}

Value BBXUserDefaults::objectForKeyByMigratingFromNSUserDefaults(const QString& key)
{
    if (key.isNull())
        return Value();
    const Value held = objectForKey(key);
    if (!held.isNull())
        return held;
    if (mApplicationDefaults == nullptr)
        return Value();
    const QVariant old = mApplicationDefaults->objectForKey(key);
    if (!old.isValid())
        return Value();
    const Value value = Value::fromVariant(old);
    setObject(value, key);
    if (synchronize()) {
        mApplicationDefaults->removeObjectForKey(key);
        (void)mApplicationDefaults->synchronize();
    }
    return value;
}

} // namespace corvex
