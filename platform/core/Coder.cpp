#include "platform/core/Coder.h"

#include "platform/core/Log.h"

#include <QHash>
#include <algorithm>
#include <cmath>
#include <limits>
#include <mutex>
#include <shared_mutex>

namespace corvex {

Codable::~Codable() = default;

QString Codable::codingDescription() const
{
    return QStringLiteral("<%1 0x%2>")
        .arg(className())
        .arg(QString::number(reinterpret_cast<quintptr>(this), 16));
}

CodedValue::CodedValue(Value plain)
{
    if (!plain.isNull()) {
        mKind = Kind::Plain;
        mPlain = std::move(plain);
    }
}

CodedValue::CodedValue(CodablePtr object)
{
    if (object) {
        mKind = Kind::Object;
        mObject = std::move(object);
    }
}

CodedValue::CodedValue(std::vector<CodedValue> list)
    : mKind(Kind::List), mList(std::make_shared<const std::vector<CodedValue>>(std::move(list)))
{}

const Value& CodedValue::plain() const
{
    return mKind == Kind::Plain ? mPlain : Value::null();
}

const CodablePtr& CodedValue::object() const
{
    static const CodablePtr none;
    return mKind == Kind::Object ? mObject : none;
}

const std::vector<CodedValue>& CodedValue::list() const
{
    static const std::vector<CodedValue> none;
    return mKind == Kind::List ? *mList : none;
}

Encoder::~Encoder() = default;

void Encoder::encodeBorrowedObjects(const std::vector<const Codable*>&, const QString& key)
{
    // Only reached by an encoder that says it borrows lists and forgot to write them.
    Log::assertionFailure(QStringLiteral("Encoder: a borrowed list for \"%1\" was not written").arg(key));
}

Decoder::~Decoder() = default;

void Encoder::encodeString(const QString& text, const QString& key)
{
    if (!text.isNull())
        encodeValue(Value(text), key);
}

void Encoder::encodeBool(bool value, const QString& key)
{
    encodeValue(Value(value), key);
}

void Encoder::encodeInt(qint32 value, const QString& key)
{
    encodeValue(Value(value), key);
}

void Encoder::encodeInt64(qint64 value, const QString& key)
{
    encodeValue(Value(value), key);
}

void Encoder::encodeFloat(float value, const QString& key)
{
    encodeValue(Value(value), key);
}

void Encoder::encodeDouble(double value, const QString& key)
{
    encodeValue(Value(value), key);
}

std::optional<QString> Decoder::decodeStringForKey(const QString& key)
{
    const CodedValue value = decodeObjectForKey(key);
    if (value.isPlain() && value.plain().isString())
        return value.plain().toString();
    return std::nullopt;
}

namespace {

// Factories are held by shared pointers so that make() can take one out under the lock and
// run it after releasing the lock, while a registration may replace the entry.
struct Registry
{
    std::shared_mutex mutex;
    QHash<QString, std::shared_ptr<const CodableRegistry::Factory>> factories;
};

Registry& registry()
{
    static Registry instance;
    return instance;
}

} // namespace

void CodableRegistry::registerClass(const QString& className, Factory factory)
{
    if (className.isEmpty() || !factory)
        return;
    Registry& r = registry();
    auto entry = std::make_shared<const Factory>(std::move(factory));
    std::unique_lock lock(r.mutex);
    r.factories.insert(className, std::move(entry));
}

bool CodableRegistry::isRegistered(const QString& className)
{
    if (className.isEmpty())
        return false;
    Registry& r = registry();
    std::shared_lock lock(r.mutex);
    return r.factories.contains(className);
}

std::shared_ptr<const CodableRegistry::Factory> CodableRegistry::factory(const QString& className)
{
    Registry& r = registry();
    std::shared_lock lock(r.mutex);
    return r.factories.value(className);
}

CodablePtr CodableRegistry::make(const QString& className, Decoder& decoder)
{
    const auto factory = CodableRegistry::factory(className);
    if (!factory)
        return nullptr;
    return (*factory)(decoder);
}

QStringList CodableRegistry::registeredClassNames()
{
    Registry& r = registry();
    QStringList names;
    {
        std::shared_lock lock(r.mutex);
        names = r.factories.keys();
    }
    std::sort(names.begin(), names.end());
    return names;
}

bool Decoder::boolFromValue(const Value* value)
{
    if (value == nullptr || !(value->isBool() || value->isNumber()))
        return false;
    return value->toBool();
}

qint32 Decoder::int32FromValue(const Value* value)
{
    if (value == nullptr)
        return 0;
    if (value->isBool() || value->isInteger()) {
        const qint64 number = value->toInteger();
        if (number < std::numeric_limits<qint32>::min() || number > std::numeric_limits<qint32>::max())
            return 0;
        return qint32(number);
    }
    if (value->isReal()) {
        const double real = std::trunc(value->toReal());
        if (!std::isfinite(real) || real < double(std::numeric_limits<qint32>::min()) ||
            real > double(std::numeric_limits<qint32>::max()))
            return 0;
        return qint32(real);
    }
    return 0;
}

qint64 Decoder::int64FromValue(const Value* value)
{
    if (value == nullptr || !(value->isBool() || value->isNumber()))
        return 0;
    // Value answers the default for a real outside the 64-bit range.
    return value->toInteger(0);
}

double Decoder::doubleFromValue(const Value* value)
{
    if (value == nullptr || !(value->isBool() || value->isNumber()))
        return 0.0;
    return value->toReal();
}

} // namespace corvex
