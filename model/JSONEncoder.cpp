#include "model/JSONEncoder.h"

#include "model/Idea.h"
#include "model/StringAdditions.h"
#include "platform/core/Base64.h"
#include "platform/core/DateText.h"
#include "platform/core/JsonText.h"
#include "platform/core/Log.h"

#include <atomic>
#include <cmath>

namespace corvex {

const QString JSONEncoder::ErrorDomain = QStringLiteral("com.tallowfen.corvex.jsonencoder");
const QString JSONEncoder::CircularReferenceExceptionName = QStringLiteral("Circular Reference Not Allowed");
const QString JSONEncoder::ExceptionNameKey = QStringLiteral("ExceptionName");
const QString JSONEncoder::ExceptionReasonKey = QStringLiteral("ExceptionReason");

static_assert(JSONEncoder::MaxClassNesting == Idea::MaxDepth, "the encoder writes what the decoder reads");

namespace {

// Stops an encoding that cannot produce readable JSON; caught at the top-level call.
struct EncodingStopped
{
    int code;
    QString text;
};

// True when the value holds no data and no dates anywhere, so that the JSON writer takes it
// as it is. Marks non-finite numbers on the way. Iterative: values may nest deeply.
bool isPlainJson(const Value& value, bool& invalidNumber)
{
    bool plain = true;
    std::vector<const Value*> pending{&value};
    while (!pending.empty()) {
        const Value* current = pending.back();
        pending.pop_back();
        switch (current->type()) {
        case Value::Type::Data:
        case Value::Type::Date:
            plain = false;
            break;
        case Value::Type::Real:
            if (!std::isfinite(current->toReal()))
                invalidNumber = true;
            break;
        case Value::Type::Array:
            for (const Value& element : current->toArray())
                pending.push_back(&element);
            break;
        case Value::Type::Dictionary:
            for (const auto& entry : current->toDictionary())
                pending.push_back(&entry.second);
            break;
        default:
            break;
        }
    }
    return plain;
}

} // namespace

bool JSONEncoder::encodeObject(const CodablePtr& object)
{
    return encodeTop(object.get(), true);
}

bool JSONEncoder::encodeObject(const Codable& object)
{
    return encodeTop(&object, true);
}

bool JSONEncoder::encodeTopObject(const CodablePtr& object)
{
    return encodeTop(object.get(), false);
}

bool JSONEncoder::encodeTopObject(const Codable& object)
{
    return encodeTop(&object, false);
}

bool JSONEncoder::encodeTop(const Codable* object, bool wrapped)
{
    mFinalJSONObject = Value();
    mError = Error();
    mInvalidNumber = false;
    mObjectStack.clear();
    mJsonObjectStack.clear();
    mClassNesting.clear();
    if (!object) {
        mError = Error(ErrorDomain, NothingToEncode, QStringLiteral("Nothing to encode"));
        return false;
    }
    try {
        Value body = encodeCodable(*object);
        if (mInvalidNumber) {
            mError = Error(ErrorDomain, InvalidNumber,
                           QStringLiteral("A number that is not finite cannot be written as JSON"));
        } else if (wrapped) {
            ValueDictionary top;
            top.insert(StringAdditions::camelcaseString(object->className()), std::move(body));
            mFinalJSONObject = Value(std::move(top));
        } else {
            mFinalJSONObject = std::move(body);
        }
    } catch (const Exception& exception) {
        QVariantMap info;
        info.insert(ExceptionNameKey, exception.name());
        info.insert(ExceptionReasonKey, exception.reason());
        const int code =
            exception.name() == CircularReferenceExceptionName ? CircularReference : EncodingFailed;
        mError = Error(ErrorDomain, code, exception.name() + QStringLiteral(": ") + exception.reason(), info);
    } catch (const EncodingStopped& stopped) {
        mError = Error(ErrorDomain, stopped.code, stopped.text);
    } catch (const std::exception& exception) {
        mError = Error(ErrorDomain, EncodingFailed,
                       QStringLiteral("Encoding failed: ") + QString::fromLocal8Bit(exception.what()));
    } catch (...) {
        mError = Error(ErrorDomain, EncodingFailed, QStringLiteral("Encoding failed"));
    }
    mObjectStack.clear();
    mJsonObjectStack.clear();
    mClassNesting.clear();
    return mError.isNull();
}

std::optional<QByteArray> JSONEncoder::data() const
{
    if (failed() || mFinalJSONObject.isNull())
        return std::nullopt;
    return JsonText::serialize(mFinalJSONObject);
}

std::optional<QString> JSONEncoder::json() const
{
    const auto bytes = data();
    if (!bytes)
        return std::nullopt;
    return QString::fromUtf8(*bytes);
}

Value JSONEncoder::encodeCodable(const Codable& object)
{
    // Identity, not equality: two equal objects in different places are no cycle.
    for (const void* open : mObjectStack) {
        if (open == &object)
            throw Exception(
                CircularReferenceExceptionName,
                QStringLiteral("Found circular reference for %1 ").arg(object.codingDescription()));
    }
    const QString name = object.className();
    std::size_t slot = 0;
    while (slot < mClassNesting.size() && mClassNesting[slot].first != name)
        ++slot;
    if (slot == mClassNesting.size())
        mClassNesting.emplace_back(name, 0);
    if (mClassNesting[slot].second >= MaxClassNesting)
        throw EncodingStopped{TooDeep,
                              QStringLiteral("%1 objects nested deeper than %2 levels cannot be written")
                                  .arg(name)
                                  .arg(MaxClassNesting)};
    ++mClassNesting[slot].second;
    mObjectStack.push_back(&object);
    // Room for the keys of a typical object (an idea writes up to twelve), so that its
    // dictionary is not grown key by key.
    mJsonObjectStack.emplace_back().reserve(12);
    object.encodeWithCoder(*this);
    Value result(std::move(mJsonObjectStack.back()));
    mJsonObjectStack.pop_back();
    mObjectStack.pop_back();
    --mClassNesting[slot].second;
    return result;
}

Value JSONEncoder::encodeList(const std::vector<CodablePtr>& objects)
{
    if (objects.empty())
        return Value();
    mObjectStack.push_back(&objects);
    ValueArray elements;
    elements.reserve(objects.size());
    for (const CodablePtr& object : objects) {
        if (object)
            elements.push_back(encodeCodable(*object));
    }
    mObjectStack.pop_back();
    return Value(std::move(elements));
}

Value JSONEncoder::plainForm(const Value& value, int depth)
{
    switch (value.type()) {
    case Value::Type::Null:
        return Value();
    case Value::Type::Real:
        if (!std::isfinite(value.toReal()))
            mInvalidNumber = true;
        return value;
    case Value::Type::Data:
        return Value(Base64::encode(value.toData()));
    case Value::Type::Date: {
        const QDateTime date = value.toDate();
        return date.isValid() ? Value(DateText::format(date)) : Value();
    }
    case Value::Type::Array:
    case Value::Type::Dictionary:
        break;
    default:
        return value;
    }
    if (value.size() == 0)
        return value.isArray() ? Value() : value;
    if (isPlainJson(value, mInvalidNumber))
        return value;
    if (depth >= JsonText::DefaultMaxDepth)
        throw EncodingStopped{TooDeep,
                              QStringLiteral("A value nested deeper than %1 levels cannot be written")
                                  .arg(JsonText::DefaultMaxDepth)};
    if (value.isArray()) {
        ValueArray elements;
        for (const Value& element : value.toArray()) {
            Value form = plainForm(element, depth + 1);
            if (!form.isNull())
                elements.push_back(std::move(form));
        }
        return Value(std::move(elements));
    }
    ValueDictionary entries;
    for (const auto& [key, element] : value.toDictionary()) {
        Value form = plainForm(element, depth + 1);
        if (!form.isNull())
            entries.insert(key, std::move(form));
    }
    return Value(std::move(entries));
}

ValueDictionary* JSONEncoder::currentDictionary()
{
    if (mJsonObjectStack.empty()) {
        Log::assertionFailure(QStringLiteral("JSONEncoder: a keyed write outside encodeWithCoder"));
        return nullptr;
    }
    return &mJsonObjectStack.back();
}

void JSONEncoder::put(const QString& key, Value value)
{
    if (value.isNull())
        return;
    if (ValueDictionary* dictionary = currentDictionary())
        dictionary->insert(key, std::move(value));
}

void JSONEncoder::encodeObject(const CodablePtr& object, const QString& key)
{
    if (!object || !currentDictionary())
        return;
    put(key, encodeCodable(*object));
}

void JSONEncoder::encodeObjects(const std::vector<CodablePtr>& objects, const QString& key)
{
    if (objects.empty() || !currentDictionary())
        return;
    put(key, encodeList(objects));
}

void JSONEncoder::encodeValue(const Value& value, const QString& key)
{
    if (value.isNull())
        return;
    put(key, plainForm(value, 0));
}

void JSONEncoder::encodeData(const QByteArray& data, const QString& key)
{
    if (!data.isNull())
        put(key, Value(Base64::encode(data)));
}

void JSONEncoder::encodeDate(const QDateTime& date, const QString& key)
{
    if (date.isValid())
        put(key, Value(DateText::format(date)));
}

void JSONEncoder::encodeDataObject(const QByteArray&)
{
    static std::atomic<bool> logged{false};
    if (!logged.exchange(true))
        Log::assertionFailure(
            QStringLiteral("JSONEncoder: JSON has no unkeyed data object; nothing written"));
}

bool JSONEncoder::containsValueForKey(const QString&) const
{
    return false;
}

CodedValue JSONEncoder::decodeObjectForKey(const QString&)
{
    return CodedValue();
}

QByteArray JSONEncoder::decodeDataForKey(const QString&)
{
    return QByteArray();
}

std::optional<QDateTime> JSONEncoder::decodeDateForKey(const QString&)
{
    return std::nullopt;
}

QByteArray JSONEncoder::decodeDataObject()
{
    return QByteArray();
}

bool JSONEncoder::decodeBoolForKey(const QString&)
{
    return false;
}

qint32 JSONEncoder::decodeIntForKey(const QString&)
{
    return 0;
}

qint64 JSONEncoder::decodeInt64ForKey(const QString&)
{
    return 0;
}

float JSONEncoder::decodeFloatForKey(const QString&)
{
    return 0.0f;
}

double JSONEncoder::decodeDoubleForKey(const QString&)
{
    return 0.0;
}

} // namespace corvex
