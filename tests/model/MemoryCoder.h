#pragma once

#include "platform/core/Coder.h"

#include <QStringList>
#include <memory>
#include <utility>
#include <vector>

namespace corvex::test {

// What MemoryCoder keeps of one coded object: its class, its keys in the order written and
// its unkeyed data object. Nested objects are records of their own.
struct MemoryRecord
{
    struct Entry
    {
        Value plain; // texts, numbers, booleans, data, dates
        std::shared_ptr<MemoryRecord> object;
        std::vector<std::shared_ptr<MemoryRecord>> list;
        bool isList = false;
    };

    QString className;
    std::vector<std::pair<QString, Entry>> entries;
    QByteArray dataObject;

    QStringList keys() const;
    const Entry* find(const QString& key) const;
    // Writes (or replaces) a plain value, for hand-made stored data.
    void set(const QString& key, Value value);
    void setObject(const QString& key, std::shared_ptr<MemoryRecord> record);
    void setList(const QString& key, std::vector<std::shared_ptr<MemoryRecord>> records);
};

// Keyed coding into memory, independent of any file format: encoding builds records,
// decoding makes objects from records through CodableRegistry. Both halves keep the coder
// contract (absent values write nothing, wrong types read as missing), so a class's own
// encodeWithCoder and factory can be tested on their own.
class MemoryEncoder final : public Encoder
{
public:
    MemoryEncoder();

    // The record written so far.
    const std::shared_ptr<MemoryRecord>& record() const { return mRecord; }

    void encodeObject(const CodablePtr& object, const QString& key) override;
    void encodeObjects(const std::vector<CodablePtr>& objects, const QString& key) override;
    void encodeValue(const Value& value, const QString& key) override;
    void encodeData(const QByteArray& data, const QString& key) override;
    void encodeDate(const QDateTime& date, const QString& key) override;
    void encodeDataObject(const QByteArray& data) override;

private:
    std::shared_ptr<MemoryRecord> mRecord;
};

class MemoryDecoder final : public Decoder
{
public:
    explicit MemoryDecoder(std::shared_ptr<const MemoryRecord> record);

    bool containsValueForKey(const QString& key) const override;
    CodedValue decodeObjectForKey(const QString& key) override;
    QByteArray decodeDataForKey(const QString& key) override;
    std::optional<QDateTime> decodeDateForKey(const QString& key) override;
    QByteArray decodeDataObject() override;
    bool decodeBoolForKey(const QString& key) override;
    qint32 decodeIntForKey(const QString& key) override;
    qint64 decodeInt64ForKey(const QString& key) override;
    float decodeFloatForKey(const QString& key) override;
    double decodeDoubleForKey(const QString& key) override;

private:
    const Value& plainFor(const QString& key) const;

    std::shared_ptr<const MemoryRecord> mRecord;
};

// The two halves as one object goes through them.
struct MemoryCoder
{
    static std::shared_ptr<MemoryRecord> encode(const Codable& object);
    // The record decoded by its class; nullptr when the class is unknown or refuses it.
    static CodablePtr decode(const std::shared_ptr<const MemoryRecord>& record);
};

} // namespace corvex::test
