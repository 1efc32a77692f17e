#include "platform/core/KeyedUnarchiver.h"

#include "platform/core/KeyedArchiver.h"
#include "platform/core/Log.h"

#include <cmath>
#include <exception>
#include <limits>

namespace corvex {

const QString KeyedUnarchiver::ErrorDomain = QStringLiteral("com.tallowfen.corvex.keyedunarchiver");

namespace {

// The value as a plain Value; false when it holds an object anywhere.
bool plainOf(const ArchivedValue& value, Value& out)
{
    switch (value.kind()) {
    case ArchivedValue::Kind::Nil:
        out = Value();
        return true;
    case ArchivedValue::Kind::Object:
        return false;
    case ArchivedValue::Kind::Array: {
        ValueArray elements;
        elements.reserve(value.toArray().size());
        for (const ArchivedValue& element : value.toArray()) {
            Value plain;
            if (!plainOf(element, plain))
                return false;
            elements.push_back(std::move(plain));
        }
        out = Value(std::move(elements));
        return true;
    }
    case ArchivedValue::Kind::Dictionary: {
        ValueDictionary entries;
        entries.reserve(value.toDictionary().size());
        for (const auto& [key, element] : value.toDictionary()) {
            Value plain;
            if (!plainOf(element, plain))
                return false;
            entries.insert(key, std::move(plain));
        }
        out = Value(std::move(entries));
        return true;
    }
    default:
        out = value.primitive();
        return true;
    }
}

} // namespace

KeyedUnarchiver::KeyedUnarchiver(const QByteArray& data) : KeyedUnarchiver(data, KeyedArchive::Limits()) {}

KeyedUnarchiver::KeyedUnarchiver(const QByteArray& data, const KeyedArchive::Limits& limits)
{
    Result<ArchivedTop> read = KeyedArchive::unarchive(data, limits);
    if (!read.ok()) {
        mError = read.error();
        return;
    }
    mTop = std::move(read).value();
    mValid = true;
}

KeyedUnarchiver::KeyedUnarchiver(ArchivedTop top) : mTop(std::move(top)), mValid(true) {}

CodedValue KeyedUnarchiver::unarchiveObjectWithData(const QByteArray& data)
{
    KeyedUnarchiver unarchiver(data);
    CodedValue value = unarchiver.decodeObjectForKey(KeyedArchiver::RootKey);
    if (unarchiver.failed())
        return CodedValue();
    return value;
}

const ArchivedValue* KeyedUnarchiver::lookup(const QString& key) const
{
    if (!mValid || failed())
        return nullptr;
    const ArchivedValue* value = mStack.empty() ? mTop.find(key) : mStack.back()->values().find(key);
    if (value == nullptr || value->isNil())
        return nullptr;
    return value;
}

const Value* KeyedUnarchiver::primitive(const QString& key) const
{
    const ArchivedValue* value = lookup(key);
    if (value == nullptr || !value->isPrimitive())
        return nullptr;
    return &value->primitive();
}

CodablePtr KeyedUnarchiver::make(const std::shared_ptr<ArchivedObject>& object)
{
    const ArchivedObject* key = object.get();
    if (const auto found = mDecoded.find(key); found != mDecoded.end())
        return found->second;
    // An object inside itself can only come from a graph made by hand (reading refuses
    // cycles); it reads as missing.
    if (mOpen.count(key) != 0)
        return nullptr;
    const QString& className = object->className();
    const auto factory = CodableRegistry::factory(className);
    if (!factory) {
        if (!mReportedClasses.contains(className)) {
            mReportedClasses.insert(className);
            Log::warning(
                QStringLiteral("KeyedUnarchiver: the class %1 is not known; its objects read as missing")
                    .arg(className));
        }
        return nullptr;
    }
    mOpen.insert(key);
    mStack.push_back(key);
    CodablePtr made;
    try {
        made = (*factory)(*this);
    } catch (const std::exception& exception) {
        mError = Error(
            ErrorDomain, DecodingFailed,
            QStringLiteral("Decoding %1 failed: %2").arg(className, QString::fromUtf8(exception.what())));
        made = nullptr;
    }
    mStack.pop_back();
    mOpen.erase(key);
    if (failed())
        return nullptr;
    mDecoded.emplace(key, made);
    return made;
}

CodedValue KeyedUnarchiver::convert(const ArchivedValue& value)
{
    switch (value.kind()) {
    case ArchivedValue::Kind::Nil:
        return CodedValue();
    case ArchivedValue::Kind::Object:
        return CodedValue(make(value.object()));
    case ArchivedValue::Kind::Array: {
        Value plain;
        if (plainOf(value, plain))
            return CodedValue(std::move(plain));
        std::vector<CodedValue> elements;
        elements.reserve(value.toArray().size());
        for (const ArchivedValue& element : value.toArray()) {
            elements.push_back(convert(element));
            if (failed())
                return CodedValue();
        }
        return CodedValue(std::move(elements));
    }
    case ArchivedValue::Kind::Dictionary: {
        ValueDictionary entries;
        for (const auto& [key, element] : value.toDictionary()) {
            Value plain;
            if (plainOf(element, plain))
                entries.insert(key, std::move(plain));
        }
        return CodedValue(Value(std::move(entries)));
    }
    default:
        return CodedValue(value.primitive());
    }
}

bool KeyedUnarchiver::containsValueForKey(const QString& key) const
{
    return lookup(key) != nullptr;
}

CodedValue KeyedUnarchiver::decodeObjectForKey(const QString& key)
{
    const ArchivedValue* value = lookup(key);
    return value == nullptr ? CodedValue() : convert(*value);
}

std::optional<QString> KeyedUnarchiver::decodeStringForKey(const QString& key)
{
    const Value* value = primitive(key);
    if (value == nullptr || !value->isString())
        return std::nullopt;
    return value->toString();
}

QByteArray KeyedUnarchiver::decodeDataForKey(const QString& key)
{
    const Value* value = primitive(key);
    if (value == nullptr || !value->isData())
        return QByteArray();
    QByteArray data = value->toData();
    if (data.isNull())
        data = QByteArray(""); // stored empty data is empty, not missing
    return data;
}

std::optional<QDateTime> KeyedUnarchiver::decodeDateForKey(const QString& key)
{
    const Value* value = primitive(key);
    if (value == nullptr || !value->isDate() || !value->toDate().isValid())
        return std::nullopt;
    return value->toDate();
}

QByteArray KeyedUnarchiver::decodeDataObject()
{
    return decodeDataForKey(KeyedArchiver::DataObjectKey);
}

bool KeyedUnarchiver::decodeBoolForKey(const QString& key)
{
    return boolFromValue(primitive(key));
}

qint32 KeyedUnarchiver::decodeIntForKey(const QString& key)
{
    return int32FromValue(primitive(key));
}

qint64 KeyedUnarchiver::decodeInt64ForKey(const QString& key)
{
    return int64FromValue(primitive(key));
}

float KeyedUnarchiver::decodeFloatForKey(const QString& key)
{
    const double number = decodeDoubleForKey(key);
    if (std::isfinite(number) && std::fabs(number) > double(std::numeric_limits<float>::max()))
        return 0.0f;
    return float(number);
}

double KeyedUnarchiver::decodeDoubleForKey(const QString& key)
{
    return doubleFromValue(primitive(key));
}

} // namespace corvex
