#include "platform/core/UserDefaults.h"

#include "platform/core/Log.h"
#include "platform/core/MainQueue.h"
#include "platform/core/NotificationCenter.h"
#include "platform/core/Paths.h"
#include "platform/core/SaveFile.h"
#include "platform/core/SysCalls.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <cerrno>
#include <cmath>
#include <limits>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

namespace corvex {

const QString UserDefaults::DidChangeNotification = QStringLiteral("UserDefaultsDidChangeNotification");

namespace {

// Deeper values are refused when set and make a file corrupt when read; keeps the
// recursive conversions far from the end of the stack.
constexpr int kMaxDepth = 128;

const QString kDomain = QStringLiteral("com.tallowfen.corvex.UserDefaults");

QVariant nullValue()
{
    return QVariant::fromValue(nullptr);
}

// Brings a caller's value to the stored form; false for what the file cannot hold.
bool normalize(const QVariant& in, QVariant& out, int depth)
{
    if (depth > kMaxDepth)
        return false;
    switch (in.typeId()) {
    case QMetaType::UnknownType:
    case QMetaType::Nullptr:
        out = nullValue();
        return true;
    case QMetaType::Bool:
        out = QVariant(in.toBool());
        return true;
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Long:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::LongLong:
        out = QVariant(qint64(in.toLongLong()));
        return true;
    case QMetaType::ULong:
    case QMetaType::ULongLong: {
        const qulonglong value = in.toULongLong();
        if (value <= qulonglong(std::numeric_limits<qint64>::max()))
            out = QVariant(qint64(value));
        else
            out = QVariant(double(value));
        return true;
    }
    case QMetaType::Float:
    case QMetaType::Double: {
        const double value = in.toDouble();
        if (!std::isfinite(value))
            return false;
        out = QVariant(value);
        return true;
    }
    case QMetaType::QString:
        out = QVariant(in.toString());
        return true;
    case QMetaType::QStringList: {
        QVariantList list;
        for (const QString& item : in.toStringList())
            list.append(QVariant(item));
        out = QVariant(std::move(list));
        return true;
    }
    case QMetaType::QVariantList: {
        QVariantList list;
        for (const QVariant& item : in.toList()) {
            QVariant value;
            if (!normalize(item, value, depth + 1))
                return false;
            list.append(std::move(value));
        }
        out = QVariant(std::move(list));
        return true;
    }
    case QMetaType::QVariantMap:
    case QMetaType::QVariantHash: {
        QVariantMap map;
        const QVariantMap source = in.toMap();
        for (auto it = source.begin(); it != source.end(); ++it) {
            QVariant value;
            if (!normalize(it.value(), value, depth + 1))
                return false;
            map.insert(it.key(), std::move(value));
        }
        out = QVariant(std::move(map));
        return true;
    }
    default:
        return false;
    }
}

// Equality that also tells 1 from 1.0 and true from 1, so that a change of type is a change.
bool sameValue(const QVariant& a, const QVariant& b)
{
    if (a.typeId() != b.typeId())
        return false;
    switch (a.typeId()) {
    case QMetaType::QVariantList: {
        const QVariantList left = a.toList();
        const QVariantList right = b.toList();
        if (left.size() != right.size())
            return false;
        for (qsizetype i = 0; i < left.size(); ++i) {
            if (!sameValue(left[i], right[i]))
                return false;
        }
        return true;
    }
    case QMetaType::QVariantMap: {
        const QVariantMap left = a.toMap();
        const QVariantMap right = b.toMap();
        if (left.size() != right.size())
            return false;
        for (auto l = left.begin(), r = right.begin(); l != left.end(); ++l, ++r) {
            if (l.key() != r.key() || !sameValue(l.value(), r.value()))
                return false;
        }
        return true;
    }
    case QMetaType::Nullptr:
        return true;
    default:
        return a == b;
    }
}

using OrderedJson = nlohmann::ordered_json;

OrderedJson toJson(const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::Bool:
        return OrderedJson(value.toBool());
    case QMetaType::LongLong:
        return OrderedJson(std::int64_t(value.toLongLong()));
    case QMetaType::Double:
        return OrderedJson(value.toDouble());
    case QMetaType::QString:
        return OrderedJson(value.toString().toStdString());
    case QMetaType::QVariantList: {
        OrderedJson array = OrderedJson::array();
        for (const QVariant& item : value.toList())
            array.push_back(toJson(item));
        return array;
    }
    case QMetaType::QVariantMap: {
        OrderedJson object = OrderedJson::object();
        const QVariantMap map = value.toMap();
        for (auto it = map.begin(); it != map.end(); ++it)
            object[it.key().toStdString()] = toJson(it.value());
        return object;
    }
    default:
        return OrderedJson(nullptr);
    }
}

QByteArray serialize(const QVariantMap& values)
{
    OrderedJson root = OrderedJson::object();
    for (auto it = values.begin(); it != values.end(); ++it)
        root[it.key().toStdString()] = toJson(it.value());
    const std::string text = root.dump(2, ' ', false, OrderedJson::error_handler_t::replace) + '\n';
    return QByteArray(text.data(), qsizetype(text.size()));
}

// Builds the QVariant tree straight from the parser's events, refusing a root that is not
// an object and nesting deeper than kMaxDepth.
class VariantBuilder
{
public:
    using number_integer_t = OrderedJson::number_integer_t;
    using number_unsigned_t = OrderedJson::number_unsigned_t;
    using number_float_t = OrderedJson::number_float_t;
    using string_t = OrderedJson::string_t;
    using binary_t = OrderedJson::binary_t;

    bool null() { return add(nullValue()); }
    bool boolean(bool value) { return add(QVariant(value)); }
    bool number_integer(number_integer_t value) { return add(QVariant(qint64(value))); }
    bool number_unsigned(number_unsigned_t value)
    {
        if (value <= number_unsigned_t(std::numeric_limits<qint64>::max()))
            return add(QVariant(qint64(value)));
        return add(QVariant(double(value)));
    }
    bool number_float(number_float_t value, const string_t&) { return add(QVariant(double(value))); }
    bool string(string_t& value) { return add(QVariant(QString::fromStdString(value))); }
    bool binary(binary_t&) { return refuse(QStringLiteral("binary values are not JSON")); }
    bool start_object(std::size_t) { return open(true); }
    bool key(string_t& key)
    {
        mStack.back().key = QString::fromStdString(key);
        return true;
    }
    bool end_object() { return close(); }
    bool start_array(std::size_t) { return open(false); }
    bool end_array() { return close(); }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception& error)
    {
        return refuse(QString::fromUtf8(error.what()));
    }

    bool finished() const { return mDone; }
    QVariantMap& root() { return mRoot; }
    const QString& problem() const { return mProblem; }

private:
    struct Frame
    {
        bool isObject = false;
        QVariantMap map;
        QVariantList list;
        QString key;
    };

    bool refuse(const QString& problem)
    {
        if (mProblem.isEmpty())
            mProblem = problem;
        return false;
    }

    bool open(bool isObject)
    {
        if (mStack.empty() && !isObject)
            return refuse(QStringLiteral("the top level is not an object"));
        if (int(mStack.size()) >= kMaxDepth)
            return refuse(QStringLiteral("values are nested too deeply"));
        mStack.push_back(Frame{isObject, {}, {}, {}});
        return true;
    }

    bool close()
    {
        Frame frame = std::move(mStack.back());
        mStack.pop_back();
        if (mStack.empty()) {
            mRoot = std::move(frame.map);
            mDone = true;
            return true;
        }
        return frame.isObject ? add(QVariant(std::move(frame.map))) : add(QVariant(std::move(frame.list)));
    }

    bool add(QVariant value)
    {
        if (mStack.empty())
            return refuse(QStringLiteral("the top level is not an object"));
        Frame& top = mStack.back();
        if (top.isObject)
            top.map.insert(top.key, std::move(value));
        else
            top.list.append(std::move(value));
        return true;
    }

    std::vector<Frame> mStack;
    QVariantMap mRoot;
    bool mDone = false;
    QString mProblem;
};

std::optional<bool> wordValue(const QString& text)
{
    if (text.compare(QLatin1String("YES"), Qt::CaseInsensitive) == 0 ||
        text.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0)
        return true;
    if (text.compare(QLatin1String("NO"), Qt::CaseInsensitive) == 0 ||
        text.compare(QLatin1String("false"), Qt::CaseInsensitive) == 0)
        return false;
    return std::nullopt;
}

std::optional<qint64> integerValue(const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::Bool:
        return value.toBool() ? 1 : 0;
    case QMetaType::LongLong:
        return value.toLongLong();
    case QMetaType::Double: {
        const double number = value.toDouble();
        if (std::isnan(number))
            return std::nullopt;
        // 2^63 is the first double past the range; -2^63 is inside it.
        if (number >= 9223372036854775808.0)
            return std::numeric_limits<qint64>::max();
        if (number < -9223372036854775808.0)
            return std::numeric_limits<qint64>::min();
        return qint64(number);
    }
    case QMetaType::QString: {
        const QString text = value.toString().trimmed();
        if (const auto word = wordValue(text))
            return *word ? 1 : 0;
        bool ok = false;
        const qint64 number = text.toLongLong(&ok);
        if (ok)
            return number;
        return std::nullopt;
    }
    default:
        return std::nullopt;
    }
}

std::optional<bool> boolValue(const QVariant& value)
{
    if (value.typeId() == QMetaType::Double) {
        const double number = value.toDouble();
        if (std::isnan(number))
            return std::nullopt;
        return number != 0;
    }
    if (const auto number = integerValue(value))
        return *number != 0;
    return std::nullopt;
}

std::optional<double> doubleValue(const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::Bool:
        return value.toBool() ? 1.0 : 0.0;
    case QMetaType::LongLong:
        return double(value.toLongLong());
    case QMetaType::Double:
        return value.toDouble();
    case QMetaType::QString: {
        const QString text = value.toString().trimmed();
        if (const auto word = wordValue(text))
            return *word ? 1.0 : 0.0;
        bool ok = false;
        const double number = text.toDouble(&ok);
        if (ok && std::isfinite(number))
            return number;
        return std::nullopt;
    }
    default:
        return std::nullopt;
    }
}

std::optional<QString> stringValue(const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::QString:
        return value.toString();
    case QMetaType::Bool:
        return value.toBool() ? QStringLiteral("1") : QStringLiteral("0");
    case QMetaType::LongLong:
        return QString::number(value.toLongLong());
    case QMetaType::Double:
        return QString::number(value.toDouble(), 'g', QLocale::FloatingPointShortest);
    default:
        return std::nullopt;
    }
}

std::optional<QVariantList> listValue(const QVariant& value)
{
    if (value.typeId() == QMetaType::QVariantList)
        return value.toList();
    return std::nullopt;
}

std::optional<QVariantMap> mapValue(const QVariant& value)
{
    if (value.typeId() == QMetaType::QVariantMap)
        return value.toMap();
    return std::nullopt;
}

std::mutex gStandardMutex;
UserDefaults* gStandard = nullptr; // deliberately never destroyed at exit

} // namespace

struct UserDefaults::NotifyState
{
    std::atomic<bool> pending{false};
    const void* sender = nullptr;
};

UserDefaults::UserDefaults(QString filePath)
    : mFilePath(std::move(filePath)), mNotify(std::make_shared<NotifyState>())
{
    mNotify->sender = this;
    load();
}

UserDefaults::~UserDefaults() = default;

QString UserDefaults::standardFilePath()
{
    return Paths::config() + QLatin1Char('/') + Paths::appFolderName() + QStringLiteral("/defaults.json");
}

UserDefaults& UserDefaults::standardUserDefaults()
{
    std::lock_guard lock(gStandardMutex);
    if (gStandard == nullptr)
        gStandard = new UserDefaults(standardFilePath());
    return *gStandard;
}

void UserDefaults::resetStandardUserDefaultsForTesting()
{
    std::lock_guard lock(gStandardMutex);
    delete gStandard;
    gStandard = nullptr;
}

void UserDefaults::load()
{
    const QFileInfo info(mFilePath);
    SaveFile::removeStaleTemporaries(info.absolutePath(), info.fileName());

    QFile file(mFilePath);
    if (!file.exists())
        return;
    if (!file.open(QIODevice::ReadOnly)) {
        const Error error(
            kDomain, 1,
            QStringLiteral("Cannot read the user defaults %1: %2").arg(mFilePath, file.errorString()));
        Log::error(error.localizedDescription());
        mLastError = error;
        return;
    }
    const QByteArray bytes = file.readAll();
    file.close();
    if (bytes.isEmpty())
        return;

    VariantBuilder builder;
    const bool parsed = OrderedJson::sax_parse(bytes.constBegin(), bytes.constEnd(), &builder);
    if (parsed && builder.finished()) {
        mValues = std::move(builder.root());
        return;
    }
    const QString problem =
        builder.problem().isEmpty() ? QStringLiteral("not a JSON object") : builder.problem();
    const QString aside = mFilePath + QStringLiteral(".corrupt");
    const bool moved =
        SysCalls::rename(QFile::encodeName(mFilePath).constData(), QFile::encodeName(aside).constData()) == 0;
    Log::error(QStringLiteral("The user defaults %1 are damaged (%2); %3")
                   .arg(mFilePath, problem,
                        moved ? QStringLiteral("kept aside as %1, starting empty").arg(aside)
                              : QStringLiteral("starting empty")));
}

void UserDefaults::registerDefaults(const QVariantMap& defaults)
{
    QVariantMap normalized;
    for (auto it = defaults.begin(); it != defaults.end(); ++it) {
        QVariant value;
        if (normalize(it.value(), value, 0))
            normalized.insert(it.key(), std::move(value));
        else
            Log::warning(
                QStringLiteral(
                    "A registered default for %1 has a type user defaults cannot hold (%2); ignored.")
                    .arg(it.key(), QString::fromLatin1(it.value().typeName())));
    }
    std::lock_guard lock(mMutex);
    mRegistered.insert(normalized);
}

QVariant UserDefaults::objectForKey(const QString& key) const
{
    std::lock_guard lock(mMutex);
    if (auto it = mValues.constFind(key); it != mValues.constEnd())
        return *it;
    return mRegistered.value(key);
}

namespace {

template <class T, class Convert>
T typedValue(const QVariantMap& values, const QVariantMap& registered, const QString& key, Convert convert)
{
    if (auto it = values.constFind(key); it != values.constEnd()) {
        if (auto value = convert(*it))
            return *value;
    }
    if (auto it = registered.constFind(key); it != registered.constEnd()) {
        if (auto value = convert(*it))
            return *value;
    }
    return T();
}

} // namespace

bool UserDefaults::boolForKey(const QString& key) const
{
    std::lock_guard lock(mMutex);
    return typedValue<bool>(mValues, mRegistered, key, boolValue);
}

qint64 UserDefaults::integerForKey(const QString& key) const
{
    std::lock_guard lock(mMutex);
    return typedValue<qint64>(mValues, mRegistered, key, integerValue);
}

double UserDefaults::doubleForKey(const QString& key) const
{
    std::lock_guard lock(mMutex);
    return typedValue<double>(mValues, mRegistered, key, doubleValue);
}

QString UserDefaults::stringForKey(const QString& key) const
{
    std::lock_guard lock(mMutex);
    return typedValue<QString>(mValues, mRegistered, key, stringValue);
}

QVariantList UserDefaults::arrayForKey(const QString& key) const
{
    std::lock_guard lock(mMutex);
    return typedValue<QVariantList>(mValues, mRegistered, key, listValue);
}

QVariantMap UserDefaults::dictionaryForKey(const QString& key) const
{
    std::lock_guard lock(mMutex);
    return typedValue<QVariantMap>(mValues, mRegistered, key, mapValue);
}

bool UserDefaults::containsKey(const QString& key) const
{
    std::lock_guard lock(mMutex);
    return mValues.contains(key);
}

QVariantMap UserDefaults::dictionaryRepresentation() const
{
    std::lock_guard lock(mMutex);
    QVariantMap merged = mRegistered;
    merged.insert(mValues);
    return merged;
}

void UserDefaults::setObject(const QString& key, const QVariant& value)
{
    if (!value.isValid()) {
        change(key, nullptr);
        return;
    }
    QVariant normalized;
    if (!normalize(value, normalized, 0)) {
        const Error error(kDomain, EINVAL,
                          QStringLiteral("User defaults cannot hold the value for %1 (a %2).")
                              .arg(key, QString::fromLatin1(value.typeName())));
        Log::error(error.localizedDescription());
        setError(error);
        return;
    }
    change(key, &normalized);
}

void UserDefaults::setBool(const QString& key, bool value)
{
    setObject(key, QVariant(value));
}

void UserDefaults::setInteger(const QString& key, qint64 value)
{
    setObject(key, QVariant(value));
}

void UserDefaults::setDouble(const QString& key, double value)
{
    setObject(key, QVariant(value));
}

void UserDefaults::setString(const QString& key, const QString& value)
{
    setObject(key, QVariant(value));
}

void UserDefaults::removeObjectForKey(const QString& key)
{
    change(key, nullptr);
}

void UserDefaults::change(const QString& key, const QVariant* normalized)
{
    quint64 generation = 0;
    QByteArray bytes;
    {
        std::lock_guard lock(mMutex);
        const auto it = mValues.find(key);
        if (normalized == nullptr) {
            if (it == mValues.end())
                return;
            mValues.erase(it);
        } else {
            if (it != mValues.end() && sameValue(*it, *normalized))
                return;
            mValues.insert(key, *normalized);
        }
        generation = ++mGeneration;
        bytes = serialize(mValues);
    }
    persist(generation, bytes);

    if (!mNotify->pending.exchange(true)) {
        MainQueue::post([state = std::weak_ptr<NotifyState>(mNotify)] {
            const auto notify = state.lock();
            if (!notify)
                return;
            // Cleared first: changes made by observers start the next burst.
            notify->pending = false;
            NotificationCenter::defaultCenter().post(DidChangeNotification, notify->sender);
        });
    }
}

void UserDefaults::persist(quint64 generation, const QByteArray& bytes)
{
    std::lock_guard writeLock(mWriteMutex);
    // A later snapshot, which holds this change too, is on the disk already.
    if (generation <= mWrittenGeneration.load())
        return;
    const QFileInfo info(mFilePath);
    Status status = Status::success();
    if (!info.absoluteDir().exists())
        status = Paths::makePath(info.absolutePath(), 0700);
    if (status)
        status = SaveFile::writeAtomically(mFilePath, bytes);
    if (!status) {
        Log::error(
            QStringLiteral("Cannot save the user defaults: %1").arg(status.error().localizedDescription()));
        setError(status.error());
        return;
    }
    mWrittenGeneration = generation;
    setError(Error());
}

void UserDefaults::setError(const Error& error)
{
    std::lock_guard lock(mMutex);
    mLastError = error;
}

Error UserDefaults::lastError() const
{
    std::lock_guard lock(mMutex);
    return mLastError;
}

Status UserDefaults::synchronize()
{
    quint64 generation = 0;
    QByteArray bytes;
    {
        std::lock_guard lock(mMutex);
        if (mGeneration <= mWrittenGeneration.load())
            return Status::success();
        generation = mGeneration;
        bytes = serialize(mValues);
    }
    persist(generation, bytes);
    if (mWrittenGeneration.load() >= generation)
        return Status::success();
    return lastError();
}

} // namespace corvex
