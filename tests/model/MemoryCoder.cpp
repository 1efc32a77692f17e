#include "tests/model/MemoryCoder.h"

#include <limits>

namespace corvex::test {

QStringList MemoryRecord::keys() const
{
    QStringList result;
    for (const auto& entry : entries)
        result.append(entry.first);
    return result;
}

const MemoryRecord::Entry* MemoryRecord::find(const QString& key) const
{
    for (const auto& entry : entries) {
        if (entry.first == key)
            return &entry.second;
    }
    return nullptr;
}

void MemoryRecord::set(const QString& key, Value value)
{
    Entry entry;
    entry.plain = std::move(value);
    for (auto& existing : entries) {
        if (existing.first == key) {
            existing.second = std::move(entry);
            return;
        }
    }
    entries.emplace_back(key, std::move(entry));
}

void MemoryRecord::setObject(const QString& key, std::shared_ptr<MemoryRecord> record)
{
    Entry entry;
    entry.object = std::move(record);
    entries.emplace_back(key, std::move(entry));
}

void MemoryRecord::setList(const QString& key, std::vector<std::shared_ptr<MemoryRecord>> records)
{
    Entry entry;
    entry.list = std::move(records);
    entry.isList = true;
    entries.emplace_back(key, std::move(entry));
}

MemoryEncoder::MemoryEncoder() : mRecord(std::make_shared<MemoryRecord>()) {}

MemoryDecoder::MemoryDecoder(std::shared_ptr<const MemoryRecord> record) : mRecord(std::move(record)) {}

std::shared_ptr<MemoryRecord> MemoryCoder::encode(const Codable& object)
{
    MemoryEncoder encoder;
    encoder.record()->className = object.className();
    object.encodeWithCoder(encoder);
    return encoder.record();
}

CodablePtr MemoryCoder::decode(const std::shared_ptr<const MemoryRecord>& record)
{
    if (!record)
        return nullptr;
    MemoryDecoder decoder(record);
    return CodableRegistry::make(record->className, decoder);
}

void MemoryEncoder::encodeObject(const CodablePtr& object, const QString& key)
{
    if (mRecord && object)
        mRecord->setObject(key, MemoryCoder::encode(*object));
}

void MemoryEncoder::encodeObjects(const std::vector<CodablePtr>& objects, const QString& key)
{
    if (!mRecord)
        return;
    std::vector<std::shared_ptr<MemoryRecord>> records;
    for (const CodablePtr& object : objects) {
        if (object)
            records.push_back(MemoryCoder::encode(*object));
    }
    if (!records.empty())
        mRecord->setList(key, std::move(records));
}

void MemoryEncoder::encodeValue(const Value& value, const QString& key)
{
    if (mRecord && !value.isNull())
        mRecord->set(key, value);
}

void MemoryEncoder::encodeData(const QByteArray& data, const QString& key)
{
    if (mRecord && !data.isNull())
        mRecord->set(key, Value(data));
}

void MemoryEncoder::encodeDate(const QDateTime& date, const QString& key)
{
    if (mRecord && date.isValid())
        mRecord->set(key, Value(date));
}

void MemoryEncoder::encodeDataObject(const QByteArray& data)
{
    if (mRecord)
        mRecord->dataObject = data;
}

const Value& MemoryDecoder::plainFor(const QString& key) const
{
    if (!mRecord)
        return Value::null();
    const MemoryRecord::Entry* entry = mRecord->find(key);
    return entry ? entry->plain : Value::null();
}

bool MemoryDecoder::containsValueForKey(const QString& key) const
{
    return mRecord && mRecord->find(key) != nullptr;
}

CodedValue MemoryDecoder::decodeObjectForKey(const QString& key)
{
    if (!mRecord)
        return CodedValue();
    const MemoryRecord::Entry* entry = mRecord->find(key);
    if (!entry)
        return CodedValue();
    if (entry->object)
        return CodedValue(MemoryCoder::decode(entry->object));
    if (entry->isList) {
        std::vector<CodedValue> list;
        for (const auto& record : entry->list)
            list.emplace_back(MemoryCoder::decode(record));
        return CodedValue(std::move(list));
    }
    return CodedValue(entry->plain);
}

QByteArray MemoryDecoder::decodeDataForKey(const QString& key)
{
    const Value& value = plainFor(key);
    return value.isData() ? value.toData() : QByteArray();
}

std::optional<QDateTime> MemoryDecoder::decodeDateForKey(const QString& key)
{
    const Value& value = plainFor(key);
    if (!value.isDate())
        return std::nullopt;
    return value.toDate();
}

QByteArray MemoryDecoder::decodeDataObject()
{
    return mRecord ? mRecord->dataObject : QByteArray();
}

bool MemoryDecoder::decodeBoolForKey(const QString& key)
{
    const Value& value = plainFor(key);
    return (value.isBool() || value.isNumber()) && value.toBool();
}

qint32 MemoryDecoder::decodeIntForKey(const QString& key)
{
    const qint64 value = decodeInt64ForKey(key);
    if (value < std::numeric_limits<qint32>::min() || value > std::numeric_limits<qint32>::max())
        return 0;
    return qint32(value);
}

qint64 MemoryDecoder::decodeInt64ForKey(const QString& key)
{
    const Value& value = plainFor(key);
    return value.isInteger() || value.isBool() ? value.toInteger() : 0;
}

float MemoryDecoder::decodeFloatForKey(const QString& key)
{
    return float(decodeDoubleForKey(key));
}

double MemoryDecoder::decodeDoubleForKey(const QString& key)
{
    const Value& value = plainFor(key);
    return value.isNumber() || value.isBool() ? value.toReal() : 0.0;
}

} // namespace corvex::test
