#include "model/JSONDecoder.h"

#include "model/Idea.h"
#include "model/StringAdditions.h"
#include "platform/core/Base64.h"
#include "platform/core/DateText.h"
#include "platform/core/JsonText.h"
#include "platform/core/Log.h"

#include <cmath>
#include <limits>

namespace corvex {

const QString JSONDecoder::ErrorDomain = QStringLiteral("com.tallowfen.corvex.jsondecoder");
const QString JSONDecoder::RootId = QStringLiteral("root");
const QString JSONDecoder::PlainObjectId = QStringLiteral("object");
const QString JSONDecoder::ClassKey = QStringLiteral("@class");

static_assert(JSONDecoder::DefaultMaxClassNesting == Idea::MaxDepth, "decoding enforces the model's depth");

namespace {

// Arrays and dictionaries open at once while decoding; the parser already refuses deeper
// text, this bounds values handed over already parsed.
constexpr std::size_t MaxStackDepth = std::size_t(JsonText::DefaultMaxDepth) + 2;

const QString& stringKey()
{
    static const QString key = QStringLiteral("string");
    return key;
}

// The user information in the platform's dictionary notation, for the parse-error line.
QString describeUserInfo(const QVariantMap& info)
{
    QStringList parts;
    for (auto it = info.constBegin(); it != info.constEnd(); ++it)
        parts << it.key() + QStringLiteral(" = ") + it.value().toString();
    return QLatin1Char('{') + parts.join(QStringLiteral("; ")) + QLatin1Char('}');
}

} // namespace

JSONDecoder::JSONDecoder(const QByteArray& json)
{
    auto parsed = JsonText::parse(json, JsonText::DefaultMaxDepth);
    if (!parsed.ok()) {
        const Error& parseError = parsed.error();
        Log::error(QStringLiteral("NSJSONSerialization: Error ") + describeUserInfo(parseError.userInfo()));
        QVariantMap info;
        info.insert(Error::UnderlyingErrorKey, parseError.toString());
        fail(ParseFailed,
             QStringLiteral("The JSON text is not readable: ") + parseError.localizedDescription(), info);
        return;
    }
    mRoot = std::move(parsed).value();
    mValid = true;
    mJsonObjectStack.push_back(Frame{&mRoot, RootId});
}

JSONDecoder::JSONDecoder(Value root) : mRoot(std::move(root)), mValid(true)
{
    mJsonObjectStack.push_back(Frame{&mRoot, RootId});
}

CodedValue JSONDecoder::decodeWithData(const QByteArray& json)
{
    JSONDecoder decoder(json);
    if (!decoder.isValid())
        return CodedValue();
    CodedValue result = decoder.decodeObject();
    return decoder.failed() ? CodedValue() : result;
}

void JSONDecoder::addAlias(const QString& key, const QString& className)
{
    mMappingClasses.insert(key, className);
    mClassCache.clear();
    mLastKey = QString();
    mLastClass = nullptr;
}

void JSONDecoder::setMaxClassNesting(int levels)
{
    mMaxClassNesting = std::max(1, levels);
}

void JSONDecoder::fail(int code, const QString& text, const QVariantMap& userInfo)
{
    // The first failure is the cause; later ones are its consequences.
    if (mError.isNull())
        mError = Error(ErrorDomain, code, text, userInfo);
}

JSONDecoder::ClassInfo* JSONDecoder::registeredClass(const QString& name)
{
    if (name.isEmpty())
        return nullptr;
    const auto known = mClasses.constFind(name);
    if (known != mClasses.constEnd())
        return known->get();
    auto factory = CodableRegistry::factory(name);
    if (!factory)
        return nullptr;
    auto info = std::make_shared<ClassInfo>(ClassInfo{name, std::move(factory), 0});
    mClasses.insert(name, info);
    return info.get();
}

JSONDecoder::ClassInfo* JSONDecoder::classForKey(const QString& key)
{
    // Keys are interned by the parser and ids are copies of them, so the same key usually
    // shares its characters with the last one.
    if (key.constData() == mLastKey.constData() && key.size() == mLastKey.size() && !mLastKey.isNull())
        return mLastClass;
    ClassInfo* info = nullptr;
    const auto cached = mClassCache.constFind(key);
    if (cached != mClassCache.constEnd()) {
        info = *cached;
    } else {
        const QString alias = mMappingClasses.value(key);
        info = registeredClass(alias);
        if (info == nullptr)
            info = registeredClass(StringAdditions::capitalizeFirstLetterString(key));
        mClassCache.insert(key, info);
    }
    mLastKey = key;
    mLastClass = info;
    return info;
}

JSONDecoder::ClassInfo* JSONDecoder::classForClassName(const QString& name)
{
    if (ClassInfo* info = registeredClass(name))
        return info;
    return classForKey(name);
}

bool JSONDecoder::push(const Value& value, const QString& id)
{
    if (mJsonObjectStack.size() >= MaxStackDepth) {
        fail(TooDeep, QStringLiteral("Values nested deeper than %1 levels").arg(MaxStackDepth));
        return false;
    }
    mJsonObjectStack.push_back(Frame{&value, id});
    return true;
}

const Value* JSONDecoder::lookup(const QString& key) const
{
    if (failed() || mJsonObjectStack.empty())
        return nullptr;
    const Value* value = mJsonObjectStack.back().value->toDictionary().find(key);
    if (value == nullptr || value->isNull())
        return nullptr;
    return value;
}

CodedValue JSONDecoder::decodeObject()
{
    try {
        return decodeCurrent();
    } catch (const std::exception& exception) {
        fail(DecodingFailed, QStringLiteral("Decoding failed: ") + QString::fromLocal8Bit(exception.what()));
    } catch (...) {
        fail(DecodingFailed, QStringLiteral("Decoding failed"));
    }
    return CodedValue();
}

CodedValue JSONDecoder::decodeCurrent()
{
    if (failed() || mJsonObjectStack.empty())
        return CodedValue();

    if (mJsonObjectStack.back().value == &mRoot && mJsonObjectStack.back().id == RootId) {
        // The root dictionary's first key names the class of the document's object. (Only
        // the parsed document itself: a stored key "root" is a key like any other.)
        const Value* root = mJsonObjectStack.back().value;
        mJsonObjectStack.pop_back();
        if (!root->isDictionary() || root->size() == 0) {
            fail(NoRootObject, QStringLiteral("The JSON text holds no object"));
            return CodedValue();
        }
        const auto& entry = root->toDictionary().entryAt(0);
        mJsonObjectStack.push_back(Frame{&entry.second, entry.first});
        CodedValue result = decodeCurrent();
        if (result.isNone())
            fail(NoRootObject, QStringLiteral("The root key \"%1\" gives no object").arg(entry.first));
        return result;
    }

    const Value& value = *mJsonObjectStack.back().value;
    const QString id = mJsonObjectStack.back().id;
    switch (value.type()) {
    case Value::Type::Dictionary: {
        if (const Value* named = value.toDictionary().find(ClassKey)) {
            ClassInfo* info = named->isString() ? classForClassName(named->toString()) : nullptr;
            if (info == nullptr) {
                fail(UnknownClass,
                     QStringLiteral("\"@class\" names no known class: %1")
                         .arg(named->isString() ? named->toString() : Value::typeName(named->type())));
                return CodedValue();
            }
            return make(*info);
        }
        if (id == PlainObjectId)
            return CodedValue(value);
        ClassInfo* info = classForKey(id);
        if (info == nullptr)
            return CodedValue();
        return make(*info);
    }
    case Value::Type::Array:
        return decodeArray(classForKey(id));
    case Value::Type::String:
        return CodedValue(value);
    default:
        // A number, boolean or null among decoded elements: malformed, read as nothing.
        return CodedValue();
    }
}

CodedValue JSONDecoder::make(ClassInfo& info)
{
    if (info.nesting >= mMaxClassNesting) {
        fail(TooDeep,
             QStringLiteral("%1 objects nested deeper than %2 levels").arg(info.name).arg(mMaxClassNesting));
        return CodedValue();
    }
    ++info.nesting;
    CodablePtr object = (*info.factory)(*this);
    --info.nesting;
    if (failed())
        return CodedValue();
    return CodedValue(std::move(object));
}

CodedValue JSONDecoder::decodeElement(const Value& element, const QString& id)
{
    if (!push(element, id))
        return CodedValue();
    CodedValue result = decodeCurrent();
    mJsonObjectStack.pop_back();
    return result;
}

CodedValue JSONDecoder::decodeArray(ClassInfo* itemClass)
{
    const ValueArray& array = mJsonObjectStack.back().value->toArray();
    const QString id = mJsonObjectStack.back().id;
    if (array.empty())
        return CodedValue(std::vector<CodedValue>());

    const Value& first = array.front();
    if (!first.isDictionary()) {
        ValueArray plain;
        for (const Value& element : array) {
            if (element.isString() || element.isNumber() || element.isBool())
                plain.push_back(element);
        }
        return CodedValue(Value(std::move(plain)));
    }

    const ValueDictionary& head = first.toDictionary();
    const bool idNamesClass = itemClass != nullptr;
    // The old wrapped form, [{"key": [elements]}]: only for a single element, so that a
    // longer list whose first element happens to have one key keeps all its elements.
    bool unwrap = false;
    QString wrapperKey;
    if (array.size() == 1 && head.size() == 1) {
        wrapperKey = head.firstKey();
        unwrap = idNamesClass || wrapperKey == stringKey() || classForKey(wrapperKey) != nullptr;
    }

    std::vector<CodedValue> decoded;
    const auto take = [&](const Value& element, const QString& elementId) {
        CodedValue result = decodeElement(element, elementId);
        // Elements that give nothing are malformed input; they are left out.
        if (!result.isNone())
            decoded.push_back(std::move(result));
    };
    if (!unwrap) {
        decoded.reserve(array.size());
        const QString& elementId = idNamesClass ? id : PlainObjectId;
        for (const Value& element : array) {
            take(element, elementId);
            if (failed())
                return CodedValue();
        }
        return CodedValue(std::move(decoded));
    }

    const Value& inner = head.value(wrapperKey);
    if (inner.isNull())
        return CodedValue();
    const QString elementId = idNamesClass ? id : wrapperKey;
    if (inner.isArray()) {
        decoded.reserve(inner.toArray().size());
        for (const Value& element : inner.toArray()) {
            take(element, elementId);
            if (failed())
                return CodedValue();
        }
    } else {
        take(inner, elementId);
    }
    if (failed())
        return CodedValue();
    return CodedValue(std::move(decoded));
}

bool JSONDecoder::containsValueForKey(const QString& key) const
{
    return lookup(key) != nullptr;
}

CodedValue JSONDecoder::decodeObjectForKey(const QString& key)
{
    try {
        const Value* value = lookup(key);
        if (value == nullptr)
            return CodedValue();
        if (value->isString() || value->isNumber() || value->isBool())
            return CodedValue(*value);
        return decodeElement(*value, key);
    } catch (const std::exception& exception) {
        fail(DecodingFailed, QStringLiteral("Decoding failed: ") + QString::fromLocal8Bit(exception.what()));
    } catch (...) {
        fail(DecodingFailed, QStringLiteral("Decoding failed"));
    }
    return CodedValue();
}

std::optional<QString> JSONDecoder::decodeStringForKey(const QString& key)
{
    const Value* value = lookup(key);
    if (value == nullptr || !value->isString())
        return std::nullopt;
    const QString shared = value->toString();
    if (shared.isNull())
        return shared;
    return QString(shared.constData(), shared.size());
}

QByteArray JSONDecoder::decodeDataForKey(const QString& key)
{
    const Value* value = lookup(key);
    if (value == nullptr || !value->isString())
        return QByteArray();
    QByteArray data = Base64::decode(value->toString());
    if (data.isNull())
        data = QByteArray("", 0); // stored empty data is data, not "missing"
    return data;
}

std::optional<QDateTime> JSONDecoder::decodeDateForKey(const QString& key)
{
    const Value* value = lookup(key);
    if (value == nullptr || !value->isString())
        return std::nullopt;
    return DateText::parse(value->toString());
}

QByteArray JSONDecoder::decodeDataObject()
{
    return QByteArray();
}

bool JSONDecoder::decodeBoolForKey(const QString& key)
{
    return boolFromValue(lookup(key));
}

qint32 JSONDecoder::decodeIntForKey(const QString& key)
{
    return int32FromValue(lookup(key));
}

qint64 JSONDecoder::decodeInt64ForKey(const QString& key)
{
    return int64FromValue(lookup(key));
}

float JSONDecoder::decodeFloatForKey(const QString& key)
{
    const double number = decodeDoubleForKey(key);
    if (std::fabs(number) > double(std::numeric_limits<float>::max()))
        return 0.0f;
    return float(number);
}

double JSONDecoder::decodeDoubleForKey(const QString& key)
{
    return doubleFromValue(lookup(key));
}

void JSONDecoder::encodeObject(const CodablePtr&, const QString&) {}
void JSONDecoder::encodeObjects(const std::vector<CodablePtr>&, const QString&) {}
void JSONDecoder::encodeValue(const Value&, const QString&) {}
void JSONDecoder::encodeData(const QByteArray&, const QString&) {}
void JSONDecoder::encodeDate(const QDateTime&, const QString&) {}
void JSONDecoder::encodeDataObject(const QByteArray&) {}

} // namespace corvex
