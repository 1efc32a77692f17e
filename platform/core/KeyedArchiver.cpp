#include "platform/core/KeyedArchiver.h"

#include <algorithm>
#include <exception>

namespace corvex {

const QString KeyedArchiver::ErrorDomain = QStringLiteral("com.tallowfen.corvex.keyedarchiver");
const QString KeyedArchiver::DataObjectKey = QStringLiteral("$0");
const QString KeyedArchiver::RootKey = QStringLiteral("root");
const QString KeyedArchiver::BaseClassName = QStringLiteral("NSObject");

Result<QByteArray> KeyedArchiver::archivedDataWithRootObject(const CodablePtr& object)
{
    KeyedArchiver archiver;
    archiver.encodeObject(object, RootKey);
    return archiver.encodedData();
}

Result<QByteArray> KeyedArchiver::encodedData() const
{
    if (failed())
        return mError;
    return KeyedArchive::archive(mTop);
}

void KeyedArchiver::fail(int code, const QString& text)
{
    if (mError.isNull())
        mError = Error(ErrorDomain, code, text);
}

void KeyedArchiver::put(const QString& key, ArchivedValue value)
{
    if (failed() || value.isNil())
        return;
    if (mStack.empty())
        mTop.insert(key, std::move(value));
    else
        mStack.back()->set(key, std::move(value));
}

std::shared_ptr<ArchivedObject> KeyedArchiver::archiveObject(const CodablePtr& object)
{
    if (failed() || !object)
        return nullptr;
    const Codable* source = object.get();
    if (const auto found = mEncoded.find(source); found != mEncoded.end())
        return found->second.archived;
    if (std::find(mOpen.begin(), mOpen.end(), source) != mOpen.end()) {
        fail(CircularReference,
             QStringLiteral("Found circular reference for %1 ").arg(object->codingDescription()));
        return nullptr;
    }
    // Stop before the stack could suffer; KeyedArchive::archive checks the exact limit.
    if (mDepth >= KeyedArchive::DefaultMaxDepth) {
        fail(TooDeep, QStringLiteral("Objects nested deeper than %1 levels cannot be archived")
                          .arg(KeyedArchive::DefaultMaxDepth));
        return nullptr;
    }

    const QString className = object->className();
    auto archived = ArchivedObject::create(className, {className, BaseClassName});
    mStack.push_back(archived);
    mOpen.push_back(source);
    ++mDepth;
    try {
        object->encodeWithCoder(*this);
    } catch (const std::exception& exception) {
        fail(EncodingFailed,
             QStringLiteral("Encoding %1 failed: %2").arg(className, QString::fromUtf8(exception.what())));
    }
    --mDepth;
    mOpen.pop_back();
    mStack.pop_back();
    if (failed())
        return nullptr;
    mEncoded.emplace(source, Encoded{object, archived});
    return archived;
}

void KeyedArchiver::encodeObject(const CodablePtr& object, const QString& key)
{
    if (auto archived = archiveObject(object))
        put(key, ArchivedValue(std::move(archived)));
}

void KeyedArchiver::encodeObjects(const std::vector<CodablePtr>& objects, const QString& key)
{
    if (failed() || objects.empty())
        return;
    ArchivedArray elements;
    elements.reserve(objects.size());
    ++mDepth;
    for (const CodablePtr& object : objects) {
        if (!object)
            continue;
        auto archived = archiveObject(object);
        if (!archived)
            break;
        elements.emplace_back(std::move(archived));
    }
    --mDepth;
    if (!elements.empty())
        put(key, ArchivedValue(std::move(elements)));
}

void KeyedArchiver::encodeValue(const Value& value, const QString& key)
{
    if (!value.isNull())
        put(key, ArchivedValue(value));
}

void KeyedArchiver::encodeData(const QByteArray& data, const QString& key)
{
    if (!data.isNull())
        put(key, ArchivedValue(data));
}

void KeyedArchiver::encodeDate(const QDateTime& date, const QString& key)
{
    if (date.isValid())
        put(key, ArchivedValue(date));
}

void KeyedArchiver::encodeDataObject(const QByteArray& data)
{
    encodeData(data, DataObjectKey);
}

} // namespace corvex
