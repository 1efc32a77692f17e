#include "platform/core/BinaryPropertyList.h"

#include <QtEndian>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <unordered_map>

namespace corvex {

namespace {

// 2001-01-01 00:00:00 UTC in milliseconds since the Unix epoch.
constexpr qint64 ReferenceMSecs = 978307200000LL;
// About three million years either way: far inside QDateTime's range and qint64 milliseconds.
constexpr double MaxDateSeconds = 1e14;

const QByteArray& header()
{
    static const QByteArray magic = QByteArrayLiteral("bplist00");
    return magic;
}

} // namespace

// ---------------------------------------------------------------------------------------
// PlistValue

void PlistValue::releaseContainer() noexcept
{
    // Containers this value owns alone are emptied into a local list, level by level, so
    // that each one is destroyed with no nested containers left inside it.
    std::vector<PlistValue> pending;
    auto takeChildren = [&pending](Storage& data) {
        if (auto* array = std::get_if<std::shared_ptr<PlistArray>>(&data)) {
            if (*array && array->use_count() == 1) {
                for (PlistValue& element : **array) {
                    if (element.mData.index() >= ContainerIndex)
                        pending.push_back(std::move(element));
                }
            }
        } else if (auto* dictionary = std::get_if<std::shared_ptr<PlistDictionary>>(&data)) {
            if (*dictionary && dictionary->use_count() == 1) {
                for (auto& entry : (*dictionary)->mEntries) {
                    if (entry.second.mData.index() >= ContainerIndex)
                        pending.push_back(std::move(entry.second));
                }
            }
        }
        data = Storage{};
    };
    takeChildren(mData);
    while (!pending.empty()) {
        Storage data = std::exchange(pending.back().mData, Storage{});
        pending.pop_back();
        takeChildren(data);
    }
}

PlistValue PlistValue::uid(quint64 value)
{
    PlistValue result;
    result.mData = UidValue{value};
    return result;
}

PlistValue PlistValue::date(double secondsSinceReference)
{
    PlistValue result;
    result.mData = DateSeconds{secondsSinceReference};
    return result;
}

PlistValue PlistValue::date(const QDateTime& dateTime)
{
    if (!dateTime.isValid())
        return PlistValue();
    return date(secondsFromDateTime(dateTime));
}

PlistValue::Type PlistValue::type() const
{
    switch (mData.index()) {
    case 0:
        return Type::Null;
    case 1:
        return Type::Bool;
    case 2:
    case 3:
        return Type::Integer;
    case 4:
        return Type::Real;
    case 5:
        return Type::Date;
    case 6:
        return Type::Data;
    case 7:
        return Type::String;
    case 8:
        return Type::Uid;
    case 9:
        return Type::Array;
    default:
        return Type::Dictionary;
    }
}

QString PlistValue::typeName(Type type)
{
    switch (type) {
    case Type::Null:
        return QStringLiteral("null");
    case Type::Bool:
        return QStringLiteral("bool");
    case Type::Integer:
        return QStringLiteral("integer");
    case Type::Real:
        return QStringLiteral("real");
    case Type::Date:
        return QStringLiteral("date");
    case Type::Data:
        return QStringLiteral("data");
    case Type::String:
        return QStringLiteral("string");
    case Type::Uid:
        return QStringLiteral("uid");
    case Type::Array:
        return QStringLiteral("array");
    case Type::Dictionary:
        return QStringLiteral("dictionary");
    }
    return QString();
}

bool PlistValue::toBool(bool defaultValue) const
{
    if (const bool* b = std::get_if<bool>(&mData))
        return *b;
    return defaultValue;
}

qint64 PlistValue::toInteger(qint64 defaultValue) const
{
    if (const qint64* i = std::get_if<qint64>(&mData))
        return *i;
    return defaultValue;
}

quint64 PlistValue::toUnsigned(quint64 defaultValue) const
{
    if (const quint64* u = std::get_if<quint64>(&mData))
        return *u;
    if (const qint64* i = std::get_if<qint64>(&mData))
        return *i >= 0 ? quint64(*i) : defaultValue;
    return defaultValue;
}

double PlistValue::toReal(double defaultValue) const
{
    if (const double* d = std::get_if<double>(&mData))
        return *d;
    if (const qint64* i = std::get_if<qint64>(&mData))
        return double(*i);
    if (const quint64* u = std::get_if<quint64>(&mData))
        return double(*u);
    return defaultValue;
}

double PlistValue::dateSeconds(double defaultValue) const
{
    if (const DateSeconds* d = std::get_if<DateSeconds>(&mData))
        return d->seconds;
    return defaultValue;
}

QDateTime PlistValue::toDateTime() const
{
    if (const DateSeconds* d = std::get_if<DateSeconds>(&mData))
        return dateTimeFromSeconds(d->seconds);
    return QDateTime();
}

QByteArray PlistValue::toData() const
{
    if (const QByteArray* data = std::get_if<QByteArray>(&mData))
        return *data;
    return QByteArray();
}

QString PlistValue::toString() const
{
    if (const QString* text = std::get_if<QString>(&mData))
        return *text;
    return QString();
}

quint64 PlistValue::toUid(quint64 defaultValue) const
{
    if (const UidValue* u = std::get_if<UidValue>(&mData))
        return u->value;
    return defaultValue;
}

const PlistArray& PlistValue::toArray() const
{
    static const PlistArray empty;
    if (const auto* array = std::get_if<std::shared_ptr<PlistArray>>(&mData))
        return **array;
    return empty;
}

const PlistDictionary& PlistValue::toDictionary() const
{
    static const PlistDictionary empty;
    if (const auto* dictionary = std::get_if<std::shared_ptr<PlistDictionary>>(&mData))
        return **dictionary;
    return empty;
}

const PlistValue& PlistValue::value(const QString& key) const
{
    return toDictionary().value(key);
}

const PlistValue& PlistValue::at(qsizetype index) const
{
    const PlistArray& array = toArray();
    if (index < 0 || index >= qsizetype(array.size()))
        return null();
    return array[std::size_t(index)];
}

qsizetype PlistValue::size() const
{
    if (isArray())
        return qsizetype(toArray().size());
    if (isDictionary())
        return toDictionary().size();
    return 0;
}

const PlistValue& PlistValue::null()
{
    static const PlistValue nullValue;
    return nullValue;
}

QDateTime PlistValue::dateTimeFromSeconds(double secondsSinceReference)
{
    if (!std::isfinite(secondsSinceReference) || std::fabs(secondsSinceReference) > MaxDateSeconds)
        return QDateTime();
    const qint64 msecs = ReferenceMSecs + qint64(std::llround(secondsSinceReference * 1000.0));
    return QDateTime::fromMSecsSinceEpoch(msecs, Qt::UTC);
}

double PlistValue::secondsFromDateTime(const QDateTime& dateTime)
{
    // Whole seconds and the millisecond rest apart, so that the double is as close as it
    // can be to the decimal value (1.001 s rather than 1001 / 1000 computed in one step).
    const qint64 msecs = dateTime.toMSecsSinceEpoch() - ReferenceMSecs;
    const qint64 whole = msecs / 1000;
    const qint64 rest = msecs % 1000;
    return double(whole) + double(rest) / 1000.0;
}

Result<Value> PlistValue::toValue() const
{
    switch (type()) {
    case Type::Null:
        return Value();
    case Type::Bool:
        return Value(toBool());
    case Type::Integer:
        if (isLargeUnsigned())
            return Value(toUnsigned());
        return Value(toInteger());
    case Type::Real:
        return Value(toReal());
    case Type::Date: {
        QDateTime dateTime = toDateTime();
        if (!dateTime.isValid())
            return Error(BinaryPropertyList::ErrorDomain, BinaryPropertyList::CorruptObject,
                         QStringLiteral("The date %1 is out of range").arg(dateSeconds()));
        return Value(std::move(dateTime));
    }
    case Type::Data:
        return Value(toData());
    case Type::String:
        return Value(toString());
    case Type::Uid:
        return Error(BinaryPropertyList::ErrorDomain, BinaryPropertyList::CorruptObject,
                     QStringLiteral("A UID has no Value form"));
    case Type::Array: {
        ValueArray array;
        array.reserve(toArray().size());
        for (const PlistValue& element : toArray()) {
            Result<Value> converted = element.toValue();
            if (!converted)
                return converted.error();
            array.push_back(std::move(converted).value());
        }
        return Value(std::move(array));
    }
    case Type::Dictionary: {
        ValueDictionary dictionary;
        dictionary.reserve(toDictionary().size());
        for (const auto& [key, element] : toDictionary()) {
            Result<Value> converted = element.toValue();
            if (!converted)
                return converted.error();
            dictionary.insert(key, std::move(converted).value());
        }
        return Value(std::move(dictionary));
    }
    }
    return Value();
}

PlistValue PlistValue::fromValue(const Value& value)
{
    switch (value.type()) {
    case Value::Type::Null:
        return PlistValue();
    case Value::Type::Bool:
        return PlistValue(value.toBool());
    case Value::Type::Integer:
        return PlistValue(value.toInteger());
    case Value::Type::Real:
        return PlistValue(value.toReal());
    case Value::Type::String:
        return PlistValue(value.toString());
    case Value::Type::Data:
        return PlistValue(value.toData());
    case Value::Type::Date:
        return date(value.toDate());
    case Value::Type::Array: {
        PlistArray array;
        array.reserve(value.toArray().size());
        for (const Value& element : value.toArray())
            array.push_back(fromValue(element));
        return PlistValue(std::move(array));
    }
    case Value::Type::Dictionary: {
        PlistDictionary dictionary;
        dictionary.reserve(value.toDictionary().size());
        for (const auto& [key, element] : value.toDictionary())
            dictionary.insert(key, fromValue(element));
        return PlistValue(std::move(dictionary));
    }
    }
    return PlistValue();
}

bool operator==(const PlistValue& a, const PlistValue& b)
{
    if (a.mData.index() != b.mData.index())
        return false;
    switch (a.mData.index()) {
    case 0:
        return true;
    case 1:
        return std::get<bool>(a.mData) == std::get<bool>(b.mData);
    case 2:
        return std::get<qint64>(a.mData) == std::get<qint64>(b.mData);
    case 3:
        return std::get<quint64>(a.mData) == std::get<quint64>(b.mData);
    case 4:
        return std::get<double>(a.mData) == std::get<double>(b.mData);
    case 5:
        return std::get<PlistValue::DateSeconds>(a.mData).seconds ==
               std::get<PlistValue::DateSeconds>(b.mData).seconds;
    case 6:
        return std::get<QByteArray>(a.mData) == std::get<QByteArray>(b.mData);
    case 7:
        return std::get<QString>(a.mData) == std::get<QString>(b.mData);
    case 8:
        return std::get<PlistValue::UidValue>(a.mData).value == std::get<PlistValue::UidValue>(b.mData).value;
    case 9: {
        const auto& x = std::get<std::shared_ptr<PlistArray>>(a.mData);
        const auto& y = std::get<std::shared_ptr<PlistArray>>(b.mData);
        return x == y || *x == *y;
    }
    default: {
        const auto& x = std::get<std::shared_ptr<PlistDictionary>>(a.mData);
        const auto& y = std::get<std::shared_ptr<PlistDictionary>>(b.mData);
        return x == y || *x == *y;
    }
    }
}

// ---------------------------------------------------------------------------------------
// Reading

const QString BinaryPropertyList::ErrorDomain = QStringLiteral("com.tallowfen.corvex.plist");

bool BinaryPropertyList::hasHeader(const QByteArray& data)
{
    return data.startsWith(header());
}

namespace {

constexpr quint64 HeaderSize = 8;
constexpr quint64 TrailerSize = 32;

quint64 readBigEndian(const uchar* at, int size)
{
    quint64 result = 0;
    for (int i = 0; i < size; ++i)
        result = (result << 8) | at[i];
    return result;
}

qint64 saturatingAdd(qint64 a, qint64 b)
{
    return a > std::numeric_limits<qint64>::max() - b ? std::numeric_limits<qint64>::max() : a + b;
}

// The reader keeps one frame per open container on its own stack; finished objects are
// remembered, so a shared object is decoded once and its result shared.
class PlistReader
{
public:
    PlistReader(const QByteArray& data, const BinaryPropertyList::Limits& limits)
        : mData(reinterpret_cast<const uchar*>(data.constData())), mSize(quint64(data.size())),
          mLimits(limits)
    {}

    Result<PlistValue> run();

private:
    struct Done
    {
        PlistValue value;
        int height = 0;    // containers along the tallest path, this one included
        qint64 weight = 1; // values in the expanded tree
    };

    struct Frame
    {
        quint64 object = 0;
        bool dictionary = false;
        quint64 count = 0; // elements, or key-value pairs
        quint64 refsAt = 0;
        quint64 next = 0; // the next reference to follow (keys first, then values)
        PlistArray items;
        std::vector<QString> keys;
        int height = 1;
        qint64 weight = 1;
    };

    // What an object's marker describes.
    struct Parsed
    {
        bool container = false;
        bool dictionary = false;
        quint64 count = 0;
        quint64 refsAt = 0;
        PlistValue leaf;
    };

    bool fail(BinaryPropertyList::ErrorCode code, const QString& text)
    {
        if (mError.isNull())
            mError = Error(BinaryPropertyList::ErrorDomain, code, text);
        return false;
    }

    bool readTrailer();
    bool objectOffset(quint64 object, quint64& offset);
    bool parseObject(quint64 object, Parsed& parsed);
    bool readCount(quint64 object, uchar marker, quint64& pos, quint64& count);
    bool readLeafString(quint64 object, PlistValue& out);
    bool countBytes(qint64 bytes);
    bool pushOrShare(std::vector<Frame>& stack, quint64 ref, bool asKey, Done& shared, bool& pushed);
    void addChild(Frame& frame, const Done& child);

    const uchar* mData;
    quint64 mSize;
    BinaryPropertyList::Limits mLimits;
    Error mError;

    int mOffsetSize = 0;
    int mRefSize = 0;
    quint64 mCount = 0;
    quint64 mTop = 0;
    quint64 mTableOffset = 0;

    std::vector<quint8> mState; // 0 unseen, 1 open, 2 done
    std::unordered_map<quint64, Done> mDone;
    qint64 mBytes = 0;
};

bool PlistReader::readTrailer()
{
    if (mSize < HeaderSize + TrailerSize || std::memcmp(mData, header().constData(), HeaderSize) != 0)
        return fail(BinaryPropertyList::NotBinaryPropertyList, QStringLiteral("Not a binary property list"));
    const uchar* trailer = mData + mSize - TrailerSize;
    mOffsetSize = trailer[6];
    mRefSize = trailer[7];
    mCount = qFromBigEndian<quint64>(trailer + 8);
    mTop = qFromBigEndian<quint64>(trailer + 16);
    mTableOffset = qFromBigEndian<quint64>(trailer + 24);
    if (mOffsetSize < 1 || mOffsetSize > 8 || mRefSize < 1 || mRefSize > 8)
        return fail(BinaryPropertyList::CorruptTrailer,
                    QStringLiteral("Offset size %1 or reference size %2 out of range")
                        .arg(mOffsetSize)
                        .arg(mRefSize));
    if (mCount == 0 || mTop >= mCount)
        return fail(BinaryPropertyList::CorruptTrailer,
                    QStringLiteral("Top object %1 of %2 objects out of range").arg(mTop).arg(mCount));
    // Objects lie between the header and the table; the table ends before the trailer.
    const quint64 tableEnd = mSize - TrailerSize;
    if (mTableOffset <= HeaderSize || mTableOffset > tableEnd ||
        mCount > (tableEnd - mTableOffset) / quint64(mOffsetSize))
        return fail(BinaryPropertyList::CorruptOffsetTable,
                    QStringLiteral("Offset table at %1 for %2 objects lies outside the data")
                        .arg(mTableOffset)
                        .arg(mCount));
    if (mCount > quint64(mLimits.maxObjects))
        return fail(BinaryPropertyList::LimitExceeded,
                    QStringLiteral("%1 objects exceed the limit of %2").arg(mCount).arg(mLimits.maxObjects));
    return true;
}

bool PlistReader::objectOffset(quint64 object, quint64& offset)
{
    offset = readBigEndian(mData + mTableOffset + object * quint64(mOffsetSize), mOffsetSize);
    if (offset < HeaderSize || offset >= mTableOffset)
        return fail(
            BinaryPropertyList::CorruptOffsetTable,
            QStringLiteral("Object %1 at offset %2 lies outside the object area").arg(object).arg(offset));
    return true;
}

bool PlistReader::countBytes(qint64 bytes)
{
    mBytes = saturatingAdd(mBytes, bytes);
    if (mBytes > mLimits.maxBytes)
        return fail(BinaryPropertyList::LimitExceeded,
                    QStringLiteral("Decoded bytes exceed the limit of %1").arg(mLimits.maxBytes));
    return true;
}

// The length of data, strings and containers: the marker's low nibble, or 0xF followed by an
// integer object of 1, 2, 4 or 8 bytes.
bool PlistReader::readCount(quint64 object, uchar marker, quint64& pos, quint64& count)
{
    const quint64 nibble = marker & 0x0F;
    if (nibble != 0x0F) {
        count = nibble;
        return true;
    }
    if (pos >= mTableOffset)
        return fail(BinaryPropertyList::CorruptObject,
                    QStringLiteral("Object %1: count truncated").arg(object));
    const uchar intMarker = mData[pos++];
    if ((intMarker & 0xF0) != 0x10 || (intMarker & 0x0F) > 3)
        return fail(BinaryPropertyList::CorruptObject,
                    QStringLiteral("Object %1: bad count marker").arg(object));
    const int size = 1 << (intMarker & 0x0F);
    if (quint64(size) > mTableOffset - pos)
        return fail(BinaryPropertyList::CorruptObject,
                    QStringLiteral("Object %1: count truncated").arg(object));
    count = readBigEndian(mData + pos, size);
    pos += quint64(size);
    if (size == 8 && count > quint64(std::numeric_limits<qint64>::max()))
        return fail(BinaryPropertyList::CorruptObject,
                    QStringLiteral("Object %1: negative count").arg(object));
    return true;
}

bool PlistReader::parseObject(quint64 object, Parsed& parsed)
{
    quint64 pos = 0;
    if (!objectOffset(object, pos))
        return false;
    const uchar marker = mData[pos++];
    const uchar high = marker >> 4;
    const uchar low = marker & 0x0F;
    const quint64 available = mTableOffset - pos;
    auto truncated = [&] {
        return fail(BinaryPropertyList::CorruptObject, QStringLiteral("Object %1 is truncated").arg(object));
    };
    switch (high) {
    case 0x0:
        if (marker == 0x00) {
            parsed.leaf = PlistValue();
            return true;
        }
        if (marker == 0x08 || marker == 0x09) {
            parsed.leaf = PlistValue(marker == 0x09);
            return true;
        }
        break;
    case 0x1: {
        if (low > 4)
            break;
        const quint64 size = quint64(1) << low;
        if (size > available)
            return truncated();
        const uchar* at = mData + pos;
        if (size <= 4) {
            parsed.leaf = PlistValue(qint64(readBigEndian(at, int(size))));
        } else if (size == 8) {
            parsed.leaf = PlistValue(qint64(readBigEndian(at, 8)));
        } else {
            // 16 bytes, signed: the high half must only extend the low half's sign, or be zero
            // for an unsigned value above the range of qint64.
            const quint64 highHalf = readBigEndian(at, 8);
            const quint64 lowHalf = readBigEndian(at + 8, 8);
            if (highHalf == 0)
                parsed.leaf = PlistValue(lowHalf);
            else if (highHalf == ~quint64(0) && (lowHalf >> 63) == 1)
                parsed.leaf = PlistValue(qint64(lowHalf));
            else
                return fail(BinaryPropertyList::CorruptObject,
                            QStringLiteral("Object %1: integer beyond 64 bits").arg(object));
        }
        return true;
    }
    case 0x2: {
        if (low == 2) {
            if (available < 4)
                return truncated();
            parsed.leaf = PlistValue(double(qFromBigEndian<float>(mData + pos)));
            return true;
        }
        if (low == 3) {
            if (available < 8)
                return truncated();
            parsed.leaf = PlistValue(qFromBigEndian<double>(mData + pos));
            return true;
        }
        break;
    }
    case 0x3:
        if (low == 3) {
            if (available < 8)
                return truncated();
            parsed.leaf = PlistValue::date(qFromBigEndian<double>(mData + pos));
            return true;
        }
        break;
    case 0x4: {
        quint64 count = 0;
        if (!readCount(object, marker, pos, count))
            return false;
        if (count > mTableOffset - pos)
            return truncated();
        if (!countBytes(qint64(count)))
            return false;
        parsed.leaf = PlistValue(QByteArray(reinterpret_cast<const char*>(mData + pos), qsizetype(count)));
        return true;
    }
    case 0x5: {
        quint64 count = 0;
        if (!readCount(object, marker, pos, count))
            return false;
        if (count > mTableOffset - pos)
            return truncated();
        if (!countBytes(qint64(count) * 2))
            return false;
        parsed.leaf =
            PlistValue(QString::fromLatin1(reinterpret_cast<const char*>(mData + pos), qsizetype(count)));
        return true;
    }
    case 0x6: {
        quint64 count = 0;
        if (!readCount(object, marker, pos, count))
            return false;
        if (count > (mTableOffset - pos) / 2)
            return truncated();
        if (!countBytes(qint64(count) * 2))
            return false;
        QString text(qsizetype(count), Qt::Uninitialized);
        char16_t* out = reinterpret_cast<char16_t*>(text.data());
        for (quint64 i = 0; i < count; ++i)
            out[i] = char16_t(qFromBigEndian<quint16>(mData + pos + 2 * i));
        parsed.leaf = PlistValue(std::move(text));
        return true;
    }
    case 0x8: {
        const quint64 size = quint64(low) + 1;
        if (size > available)
            return truncated();
        // UIDs of up to 16 bytes are allowed by the layout; values beyond 64 bits are not.
        const quint64 extra = size > 8 ? size - 8 : 0;
        for (quint64 i = 0; i < extra; ++i) {
            if (mData[pos + i] != 0)
                return fail(BinaryPropertyList::CorruptObject,
                            QStringLiteral("Object %1: UID beyond 64 bits").arg(object));
        }
        parsed.leaf = PlistValue::uid(readBigEndian(mData + pos + extra, int(size - extra)));
        return true;
    }
    case 0xA:
    case 0xB:
    case 0xC:
    case 0xD: {
        quint64 count = 0;
        if (!readCount(object, marker, pos, count))
            return false;
        const bool dictionary = high == 0xD;
        const quint64 refsPerItem = dictionary ? 2 : 1;
        if (count > (mTableOffset - pos) / quint64(mRefSize) / refsPerItem)
            return truncated();
        // Every element (and key) is one value of the result.
        if (count > quint64(mLimits.maxValues) / refsPerItem)
            return fail(
                BinaryPropertyList::LimitExceeded,
                QStringLiteral("Object %1 holds more than %2 values").arg(object).arg(mLimits.maxValues));
        parsed.container = true;
        parsed.dictionary = dictionary;
        parsed.count = count;
        parsed.refsAt = pos;
        return true;
    }
    default:
        break;
    }
    return fail(BinaryPropertyList::CorruptObject, QStringLiteral("Object %1 has the unknown marker 0x%2")
                                                       .arg(object)
                                                       .arg(marker, 2, 16, QLatin1Char('0')));
}

void PlistReader::addChild(Frame& frame, const Done& child)
{
    frame.height = std::max(frame.height, child.height + 1);
    frame.weight = saturatingAdd(frame.weight, child.weight);
}

// Follows one reference of the frame on top: a finished object is shared, a leaf is decoded
// at once, a container gets a frame of its own.
bool PlistReader::pushOrShare(std::vector<Frame>& stack, quint64 ref, bool asKey, Done& shared, bool& pushed)
{
    pushed = false;
    if (ref >= mCount)
        return fail(BinaryPropertyList::InvalidReference,
                    QStringLiteral("Reference %1 is not below the object count %2").arg(ref).arg(mCount));
    const int openContainers = int(stack.size());
    if (mState[ref] == 2) {
        shared = mDone[ref];
        if (asKey && !shared.value.isString())
            return fail(BinaryPropertyList::CorruptObject,
                        QStringLiteral("A dictionary key is not a string"));
        if (openContainers + shared.height > mLimits.maxDepth)
            return fail(BinaryPropertyList::TooDeep,
                        QStringLiteral("Containers nest deeper than %1").arg(mLimits.maxDepth));
        return true;
    }
    if (mState[ref] == 1)
        return fail(BinaryPropertyList::ReferenceCycle, QStringLiteral("Object %1 contains itself").arg(ref));
    Parsed parsed;
    if (!parseObject(ref, parsed))
        return false;
    if (asKey && (parsed.container || !parsed.leaf.isString()))
        return fail(BinaryPropertyList::CorruptObject, QStringLiteral("A dictionary key is not a string"));
    if (!parsed.container) {
        Done& done = mDone[ref];
        done.value = std::move(parsed.leaf);
        done.height = 0;
        done.weight = 1;
        mState[ref] = 2;
        shared = done;
        return true;
    }
    if (openContainers + 1 > mLimits.maxDepth)
        return fail(BinaryPropertyList::TooDeep,
                    QStringLiteral("Containers nest deeper than %1").arg(mLimits.maxDepth));
    Frame frame;
    frame.object = ref;
    frame.dictionary = parsed.dictionary;
    frame.count = parsed.count;
    frame.refsAt = parsed.refsAt;
    if (parsed.dictionary) {
        frame.keys.reserve(std::size_t(parsed.count));
    }
    frame.items.reserve(std::size_t(parsed.count));
    mState[ref] = 1;
    stack.push_back(std::move(frame));
    pushed = true;
    return true;
}

Result<PlistValue> PlistReader::run()
{
    if (!readTrailer())
        return mError;
    mState.assign(std::size_t(mCount), 0);

    std::vector<Frame> stack;
    Done result;
    bool pushed = false;
    if (!pushOrShare(stack, mTop, false, result, pushed))
        return mError;
    while (!stack.empty()) {
        Frame& frame = stack.back();
        const quint64 total = frame.dictionary ? frame.count * 2 : frame.count;
        if (frame.next == total) {
            Done done;
            if (frame.dictionary) {
                PlistDictionary dictionary;
                dictionary.reserve(qsizetype(frame.count));
                for (std::size_t i = 0; i < frame.keys.size(); ++i)
                    dictionary.insert(frame.keys[i], std::move(frame.items[i]));
                done.value = PlistValue(std::move(dictionary));
            } else {
                done.value = PlistValue(std::move(frame.items));
            }
            done.height = frame.height;
            done.weight = frame.weight;
            const quint64 object = frame.object;
            stack.pop_back();
            mState[object] = 2;
            mDone[object] = done;
            if (stack.empty()) {
                result = std::move(done);
                break;
            }
            Frame& parent = stack.back();
            addChild(parent, done);
            if (parent.weight > mLimits.maxValues)
                return Error(BinaryPropertyList::ErrorDomain, BinaryPropertyList::LimitExceeded,
                             QStringLiteral("More than %1 values").arg(mLimits.maxValues));
            parent.items.push_back(std::move(done.value));
            continue;
        }
        const bool asKey = frame.dictionary && frame.next < frame.count;
        const quint64 ref = readBigEndian(mData + frame.refsAt + frame.next * quint64(mRefSize), mRefSize);
        ++frame.next;
        Done child;
        if (!pushOrShare(stack, ref, asKey, child, pushed))
            return mError;
        if (pushed)
            continue; // `frame` may dangle now; the new frame is on top
        addChild(frame, child);
        if (frame.weight > mLimits.maxValues)
            return Error(BinaryPropertyList::ErrorDomain, BinaryPropertyList::LimitExceeded,
                         QStringLiteral("More than %1 values").arg(mLimits.maxValues));
        if (asKey)
            frame.keys.push_back(child.value.toString());
        else
            frame.items.push_back(std::move(child.value));
    }
    return std::move(result.value);
}

// ---------------------------------------------------------------------------------------
// Writing

void appendBigEndian(QByteArray& out, quint64 value, int size)
{
    for (int i = size - 1; i >= 0; --i)
        out.append(char((value >> (8 * i)) & 0xFF));
}

int bytesFor(quint64 value)
{
    if (value <= 0xFF)
        return 1;
    if (value <= 0xFFFF)
        return 2;
    if (value <= 0xFFFFFFFFULL)
        return 4;
    return 8;
}

void appendIntegerObject(QByteArray& out, qint64 value)
{
    if (value < 0) {
        out.append(char(0x13));
        appendBigEndian(out, quint64(value), 8);
        return;
    }
    const int size = bytesFor(quint64(value));
    // 1, 2 and 4 byte integers read as unsigned, 8 byte ones as signed.
    out.append(char(0x10 | (size == 1 ? 0 : size == 2 ? 1 : size == 4 ? 2 : 3)));
    appendBigEndian(out, quint64(value), size);
}

void appendMarkerWithCount(QByteArray& out, uchar high, quint64 count)
{
    if (count < 15) {
        out.append(char((high << 4) | count));
        return;
    }
    out.append(char((high << 4) | 0x0F));
    appendIntegerObject(out, qint64(count));
}

void appendDouble(QByteArray& out, uchar marker, double value)
{
    quint64 bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    out.append(char(marker));
    appendBigEndian(out, bits, 8);
}

QByteArray encodeLeaf(const PlistValue& value)
{
    QByteArray out;
    switch (value.type()) {
    case PlistValue::Type::Null:
        out.append(char(0x00));
        break;
    case PlistValue::Type::Bool:
        out.append(char(value.toBool() ? 0x09 : 0x08));
        break;
    case PlistValue::Type::Integer:
        if (value.isLargeUnsigned()) {
            out.append(char(0x14));
            appendBigEndian(out, 0, 8);
            appendBigEndian(out, value.toUnsigned(), 8);
        } else {
            appendIntegerObject(out, value.toInteger());
        }
        break;
    case PlistValue::Type::Real:
        appendDouble(out, 0x23, value.toReal());
        break;
    case PlistValue::Type::Date:
        appendDouble(out, 0x33, value.dateSeconds());
        break;
    case PlistValue::Type::Data: {
        const QByteArray data = value.toData();
        appendMarkerWithCount(out, 0x4, quint64(data.size()));
        out.append(data);
        break;
    }
    case PlistValue::Type::String: {
        const QString text = value.toString();
        bool ascii = true;
        for (QChar c : text) {
            if (c.unicode() >= 0x80) {
                ascii = false;
                break;
            }
        }
        if (ascii) {
            appendMarkerWithCount(out, 0x5, quint64(text.size()));
            out.append(text.toLatin1());
        } else {
            appendMarkerWithCount(out, 0x6, quint64(text.size()));
            for (QChar c : text)
                appendBigEndian(out, c.unicode(), 2);
        }
        break;
    }
    case PlistValue::Type::Uid: {
        const int size = bytesFor(value.toUid());
        out.append(char(0x80 | (size - 1)));
        appendBigEndian(out, value.toUid(), size);
        break;
    }
    case PlistValue::Type::Array:
    case PlistValue::Type::Dictionary:
        break;
    }
    return out;
}

// The writer numbers objects in the order of a depth-first walk (the top object is 0). Equal
// leaves are numbered once, and so is a container shared by several parents, so a value read
// from a file writes back as small as it was. Containers are laid out after the count is
// known, since it decides the reference size.
class PlistWriter
{
public:
    explicit PlistWriter(int maxDepth) : mMaxDepth(maxDepth) {}

    Result<QByteArray> run(const PlistValue& top);

private:
    struct Entry
    {
        bool dictionary = false;
        bool container = false;
        QByteArray leaf;
        std::vector<quint64> refs; // dictionaries: keys, then values
    };
    struct Work
    {
        const PlistValue* value;
        quint64 parent;
        std::size_t slot;
    };

    static bool isContainer(const PlistValue& value) { return value.isArray() || value.isDictionary(); }
    // Shared copies of a container have one address.
    static const void* identity(const PlistValue& value)
    {
        return value.isArray() ? static_cast<const void*>(&value.toArray())
                               : static_cast<const void*>(&value.toDictionary());
    }
    int height(const PlistValue& top);
    quint64 leafIndex(const PlistValue& value);

    int mMaxDepth;
    std::vector<Entry> mEntries;
    QHash<QByteArray, quint64> mLeaves;
    std::unordered_map<const void*, quint64> mContainers;
};

// Containers along the tallest path below `top`, counted once per shared container, without
// recursion.
int PlistWriter::height(const PlistValue& top)
{
    if (!isContainer(top))
        return 0;
    std::unordered_map<const void*, int> heights;
    auto forEachChild = [](const PlistValue& value, const auto& visit) {
        if (value.isArray()) {
            for (const PlistValue& element : value.toArray())
                visit(element);
        } else {
            for (const auto& entry : value.toDictionary())
                visit(entry.second);
        }
    };
    std::vector<std::pair<const PlistValue*, bool>> stack{{&top, false}};
    while (!stack.empty()) {
        auto& [value, expanded] = stack.back();
        const PlistValue* current = value;
        if (heights.count(identity(*current))) {
            stack.pop_back();
            continue;
        }
        if (!expanded) {
            expanded = true;
            forEachChild(*current, [&](const PlistValue& child) {
                if (isContainer(child) && !heights.count(identity(child)))
                    stack.emplace_back(&child, false);
            });
            continue;
        }
        int result = 1;
        forEachChild(*current, [&](const PlistValue& child) {
            if (isContainer(child))
                result = std::max(result, heights[identity(child)] + 1);
        });
        heights[identity(*current)] = result;
        stack.pop_back();
    }
    return heights[identity(top)];
}

quint64 PlistWriter::leafIndex(const PlistValue& value)
{
    QByteArray bytes = encodeLeaf(value);
    const auto found = mLeaves.constFind(bytes);
    if (found != mLeaves.constEnd())
        return found.value();
    const quint64 index = mEntries.size();
    mLeaves.insert(bytes, index);
    Entry entry;
    entry.leaf = std::move(bytes);
    mEntries.push_back(std::move(entry));
    return index;
}

Result<QByteArray> PlistWriter::run(const PlistValue& top)
{
    if (height(top) > mMaxDepth)
        return Error(BinaryPropertyList::ErrorDomain, BinaryPropertyList::TooDeep,
                     QStringLiteral("Containers nest deeper than %1").arg(mMaxDepth));

    constexpr quint64 NoParent = ~quint64(0);
    std::vector<Work> work{{&top, NoParent, 0}};
    while (!work.empty()) {
        const Work item = work.back();
        work.pop_back();
        const PlistValue& value = *item.value;
        quint64 index = 0;
        if (!isContainer(value)) {
            index = leafIndex(value);
        } else if (const auto known = mContainers.find(identity(value)); known != mContainers.end()) {
            index = known->second;
        } else {
            index = mEntries.size();
            mContainers.emplace(identity(value), index);
            Entry entry;
            entry.container = true;
            entry.dictionary = value.isDictionary();
            mEntries.push_back(std::move(entry));
            if (value.isArray()) {
                const PlistArray& array = value.toArray();
                mEntries[index].refs.assign(array.size(), 0);
                for (std::size_t i = array.size(); i-- > 0;)
                    work.push_back({&array[i], index, i});
            } else {
                const PlistDictionary& dictionary = value.toDictionary();
                const std::size_t count = std::size_t(dictionary.size());
                mEntries[index].refs.assign(count * 2, 0);
                for (std::size_t i = 0; i < count; ++i)
                    mEntries[index].refs[i] = leafIndex(PlistValue(dictionary.entryAt(qsizetype(i)).first));
                for (std::size_t i = count; i-- > 0;)
                    work.push_back({&dictionary.entryAt(qsizetype(i)).second, index, count + i});
            }
        }
        if (item.parent != NoParent)
            mEntries[item.parent].refs[item.slot] = index;
    }

    const quint64 count = mEntries.size();
    const int refSize = bytesFor(count - 1);
    QByteArray out = header();
    std::vector<quint64> offsets;
    offsets.reserve(std::size_t(count));
    for (const Entry& entry : mEntries) {
        offsets.push_back(quint64(out.size()));
        if (!entry.container) {
            out.append(entry.leaf);
            continue;
        }
        if (entry.dictionary)
            appendMarkerWithCount(out, 0xD, entry.refs.size() / 2);
        else
            appendMarkerWithCount(out, 0xA, entry.refs.size());
        for (quint64 ref : entry.refs)
            appendBigEndian(out, ref, refSize);
    }
    const quint64 tableOffset = quint64(out.size());
    const int offsetSize = bytesFor(offsets.back());
    for (quint64 offset : offsets)
        appendBigEndian(out, offset, offsetSize);
    out.append(QByteArray(6, '\0'));
    out.append(char(offsetSize));
    out.append(char(refSize));
    appendBigEndian(out, count, 8);
    appendBigEndian(out, 0, 8);
    appendBigEndian(out, tableOffset, 8);
    return out;
}

} // namespace

Result<PlistValue> BinaryPropertyList::read(const QByteArray& data)
{
    return read(data, Limits());
}

Result<PlistValue> BinaryPropertyList::read(const QByteArray& data, const Limits& limits)
{
    try {
        return PlistReader(data, limits).run();
    } catch (const std::bad_alloc&) {
        return Error(ErrorDomain, OutOfMemory, QStringLiteral("Out of memory while reading a property list"));
    }
}

Result<QByteArray> BinaryPropertyList::write(const PlistValue& value, int maxDepth)
{
    return PlistWriter(maxDepth).run(value);
}

} // namespace corvex
