#include "model/JSONEncoder.h"

#include "model/Idea.h"
#include "model/StringAdditions.h"
#include "platform/core/Base64.h"
#include "platform/core/DateText.h"
#include "platform/core/JsonText.h"
#include "platform/core/Log.h"
#include "platform/core/OutputBuffer.h"

#include <atomic>
#include <cmath>

namespace corvex {

const QString JSONEncoder::ErrorDomain = QStringLiteral("com.tallowfen.corvex.jsonencoder");
const QString JSONEncoder::CircularReferenceExceptionName = QStringLiteral("Circular Reference Not Allowed");
const QString JSONEncoder::ExceptionNameKey = QStringLiteral("ExceptionName");
const QString JSONEncoder::ExceptionReasonKey = QStringLiteral("ExceptionReason");

static_assert(JSONEncoder::MaxClassNesting == Idea::MaxDepth, "the encoder writes what the decoder reads");

namespace {

constexpr qsizetype MemberSlack = 4096;

// Data as a JSON string of Base64 text (the standard alphabet, padded: what Base64::encode
// gives), written straight into the text. The alphabet needs no escapes, and pictures make
// up most of a document's bytes: a save should cost them little more than a copy.
void appendBase64String(QByteArray& out, OutputBuffer& buffer, const QByteArray& data)
{
    const qsizetype length = Base64::encodedSize(data.size()) + 2;
    buffer.reserveMore(out, length);
    const qsizetype at = out.size();
    out.resize(at + length); // within the capacity just reserved: no reallocation
    char* dst = out.data() + at;
    *dst++ = '"';
    dst = Base64::encodeInto(dst, data.constData(), data.size());
    *dst = '"';
}

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
    mOut = QByteArray();
    mBuffer = OutputBuffer();
    mFinalJSONObject.reset();
    mError = Error();
    mInvalidNumber = false;
    mHasResult = false;
    mObjectStack.clear();
    mOpenDictionaries.clear();
    mMembers.clear();
    mClassNesting.clear();
    if (!object) {
        mError = Error(ErrorDomain, NothingToEncode, QStringLiteral("Nothing to encode"));
        return false;
    }
    if (mExpectedSize > 0)
        mBuffer.reserveMore(mOut, mExpectedSize);
    try {
        if (wrapped) {
            mOut.append('{');
            JsonText::appendString(mOut, StringAdditions::camelcaseString(object->className()));
            mOut.append(':');
        }
        writeCodable(*object);
        if (wrapped)
            mOut.append('}');
        if (mInvalidNumber)
            mError = Error(ErrorDomain, InvalidNumber,
                           QStringLiteral("A number that is not finite cannot be written as JSON"));
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
    mOpenDictionaries.clear();
    mMembers.clear();
    mClassNesting.clear();
    if (!mError.isNull()) {
        mOut = QByteArray(); // half a text is no text
        return false;
    }
    mHasResult = true;
    return true;
}

std::optional<QByteArray> JSONEncoder::data() const
{
    if (failed() || !mHasResult)
        return std::nullopt;
    return mOut;
}

std::optional<QString> JSONEncoder::json() const
{
    const auto bytes = data();
    if (!bytes)
        return std::nullopt;
    return QString::fromUtf8(*bytes);
}

const Value& JSONEncoder::finalJSONObject() const
{
    if (failed() || !mHasResult)
        return Value::null();
    if (!mFinalJSONObject)
        mFinalJSONObject = JsonText::parse(mOut).valueOr(Value());
    return *mFinalJSONObject;
}

void JSONEncoder::writeCodable(const Codable& object)
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
    mOut.append('{');
    mOpenDictionaries.push_back(qsizetype(mMembers.size()));
    object.encodeWithCoder(*this);
    mMembers.resize(std::size_t(mOpenDictionaries.back()));
    mOpenDictionaries.pop_back();
    mOut.append('}');
    mObjectStack.pop_back();
    --mClassNesting[slot].second;
}

bool JSONEncoder::beginMember(const QString& key)
{
    if (mOpenDictionaries.empty()) {
        Log::assertionFailure(QStringLiteral("JSONEncoder: a keyed write outside encodeWithCoder"));
        return false;
    }
    // Room ahead for this member, so that the text grows here, in the buffer's way, and Qt's
    // own growth (a copy into fresh 4 KiB pages) is left to members longer than the slack.
    mBuffer.reserveMore(mOut, MemberSlack);
    const qsizetype start = mOut.size();
    JsonText::appendKey(mOut, key, qsizetype(mMembers.size()) > mOpenDictionaries.back());
    mMembers.push_back(Member{key, start, mOut.size(), -1});
    return true;
}

void JSONEncoder::endMember()
{
    Member& added = mMembers.back();
    added.valueEnd = mOut.size();
    // A key written before in this dictionary keeps its place and takes the new value, as a
    // dictionary's insert does.
    const std::size_t first = std::size_t(mOpenDictionaries.back());
    for (std::size_t i = first; i + 1 < mMembers.size(); ++i) {
        Member& old = mMembers[i];
        if (old.key != added.key)
            continue;
        const QByteArray value = mOut.mid(added.valueStart, added.valueEnd - added.valueStart);
        mOut.truncate(added.start);
        mMembers.pop_back();
        const qsizetype delta = value.size() - (old.valueEnd - old.valueStart);
        mOut.replace(old.valueStart, old.valueEnd - old.valueStart, value);
        old.valueEnd += delta;
        for (std::size_t j = i + 1; j < mMembers.size(); ++j) {
            mMembers[j].start += delta;
            mMembers[j].valueStart += delta;
            mMembers[j].valueEnd += delta;
        }
        return;
    }
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

void JSONEncoder::writeReal(double value)
{
    if (!std::isfinite(value))
        mInvalidNumber = true;
    JsonText::appendReal(mOut, value);
}

void JSONEncoder::encodeObject(const CodablePtr& object, const QString& key)
{
    if (!object || !beginMember(key))
        return;
    writeCodable(*object);
    endMember();
}

void JSONEncoder::encodeObjects(const std::vector<CodablePtr>& objects, const QString& key)
{
    writeList(
        &objects, objects, [](const CodablePtr& object) { return object.get(); }, key);
}

void JSONEncoder::encodeBorrowedObjects(const std::vector<const Codable*>& objects, const QString& key)
{
    writeList(
        &objects, objects, [](const Codable* object) { return object; }, key);
}

template <class List, class Get>
void JSONEncoder::writeList(const void* identity, const List& objects, Get get, const QString& key)
{
    if (objects.empty() || !beginMember(key))
        return;
    mObjectStack.push_back(identity);
    mOut.append('[');
    bool first = true;
    for (const auto& element : objects) {
        const Codable* object = get(element);
        if (!object)
            continue;
        if (!first)
            mOut.append(',');
        first = false;
        writeCodable(*object);
    }
    mOut.append(']');
    mObjectStack.pop_back();
    endMember();
}

void JSONEncoder::encodeValue(const Value& value, const QString& key)
{
    switch (value.type()) {
    case Value::Type::Null:
        return;
    case Value::Type::Bool:
        encodeBool(value.toBool(), key);
        return;
    case Value::Type::Integer:
        encodeInt64(value.toInteger(), key);
        return;
    case Value::Type::Real:
        encodeDouble(value.toReal(), key);
        return;
    case Value::Type::String:
    case Value::Type::Data:
        // A text or data value is written even when null: only encodeString and encodeData
        // take null as "nothing".
        if (!beginMember(key))
            return;
        JsonText::appendString(mOut, value.isString() ? value.toString() : Base64::encode(value.toData()));
        endMember();
        return;
    case Value::Type::Date:
        encodeDate(value.toDate(), key);
        return;
    case Value::Type::Array:
    case Value::Type::Dictionary:
        break;
    }
    // Containers keep the rules of their plain form: an empty array is nothing, data and
    // dates inside take their text forms.
    const Value form = plainForm(value, 0);
    if (form.isNull() || !beginMember(key))
        return;
    JsonText::appendValue(mOut, form);
    endMember();
}

void JSONEncoder::encodeData(const QByteArray& data, const QString& key)
{
    if (data.isNull() || !beginMember(key))
        return;
    appendBase64String(mOut, mBuffer, data);
    endMember();
}

void JSONEncoder::encodeDate(const QDateTime& date, const QString& key)
{
    if (!date.isValid() || !beginMember(key))
        return;
    JsonText::appendString(mOut, DateText::format(date));
    endMember();
}

void JSONEncoder::encodeDataObject(const QByteArray&)
{
    static std::atomic<bool> logged{false};
    if (!logged.exchange(true))
        Log::assertionFailure(
            QStringLiteral("JSONEncoder: JSON has no unkeyed data object; nothing written"));
}

void JSONEncoder::encodeString(const QString& text, const QString& key)
{
    if (text.isNull() || !beginMember(key))
        return;
    JsonText::appendString(mOut, text);
    endMember();
}

void JSONEncoder::encodeBool(bool value, const QString& key)
{
    if (!beginMember(key))
        return;
    if (value)
        mOut.append("true", 4);
    else
        mOut.append("false", 5);
    endMember();
}

void JSONEncoder::encodeInt(qint32 value, const QString& key)
{
    encodeInt64(value, key);
}

void JSONEncoder::encodeInt64(qint64 value, const QString& key)
{
    if (!beginMember(key))
        return;
    JsonText::appendInteger(mOut, value);
    endMember();
}

void JSONEncoder::encodeFloat(float value, const QString& key)
{
    encodeDouble(double(value), key);
}

void JSONEncoder::encodeDouble(double value, const QString& key)
{
    if (!beginMember(key))
        return;
    writeReal(value);
    endMember();
}

} // namespace corvex
