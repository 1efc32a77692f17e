#pragma once

#include "platform/core/OrderedDictionary.h"
#include "platform/core/Result.h"
#include "platform/core/Value.h"

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QLatin1String>
#include <QString>
#include <QStringList>
#include <initializer_list>
#include <limits>
#include <memory>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

namespace corvex {

class PlistValue;
class PlistDictionary;
using PlistArray = std::vector<PlistValue>;

// One value of a property list. It differs from Value in two ways that only matter inside
// property lists: it has a UID kind (the object references of keyed archives) and it keeps
// integers up to 2^64 - 1 and dates as exact seconds since 2001-01-01 00:00:00 UTC (the
// format's own clock), so that a file reads and writes back without loss. Value stays free
// of UIDs, so none can reach JSON text; toValue()/fromValue() bridge the two.
//
// Containers are immutable once made and shared between copies, so copying is cheap and a
// value read from a file shares the subtrees the file shares. Destruction walks nested
// containers without recursion, so a deep tree cannot exhaust the stack.
class PlistValue
{
public:
    // The order matches the alternatives of Storage, except that Integer covers both
    // integer alternatives.
    enum class Type
    {
        Null,
        Bool,
        Integer,
        Real,
        Date,
        Data,
        String,
        Uid,
        Array,
        Dictionary
    };

    PlistValue() noexcept = default;
    PlistValue(std::nullptr_t) noexcept {}
    PlistValue(bool value) : mData(value) {}
    // Every integer type; unsigned values above the range of qint64 are kept as unsigned.
    template <class T, std::enable_if_t<std::is_integral_v<T> && !std::is_same_v<T, bool>, int> = 0>
    PlistValue(T value)
    {
        if constexpr (std::is_unsigned_v<T> && sizeof(T) >= sizeof(qint64)) {
            if (value > T(std::numeric_limits<qint64>::max())) {
                mData = quint64(value);
                return;
            }
        }
        mData = qint64(value);
    }
    PlistValue(double value) : mData(value) {}
    PlistValue(float value) : mData(double(value)) {}
    PlistValue(QString value) : mData(std::move(value)) {}
    PlistValue(QLatin1String value) : mData(QString(value)) {}
    PlistValue(QByteArray value) : mData(std::move(value)) {}
    PlistValue(PlistArray array);
    PlistValue(PlistDictionary dictionary);
    // A pointer would otherwise become a Bool without a word.
    template <class T> PlistValue(T*) = delete;

    PlistValue(const PlistValue& other) = default;
    PlistValue(PlistValue&& other) noexcept : mData(std::exchange(other.mData, Storage{})) {}
    // One assignment for copies and moves; the old content is released without recursion.
    PlistValue& operator=(PlistValue other) noexcept
    {
        mData.swap(other.mData);
        return *this;
    }
    ~PlistValue()
    {
        if (mData.index() >= ContainerIndex)
            releaseContainer();
    }

    static PlistValue uid(quint64 value);
    // Seconds since 2001-01-01 00:00:00 UTC; negative for earlier times.
    static PlistValue date(double secondsSinceReference);
    // Millisecond precision, as QDateTime has; an invalid QDateTime gives Null.
    static PlistValue date(const QDateTime& dateTime);

    Type type() const;
    static QString typeName(Type type);

    bool isNull() const { return type() == Type::Null; }
    bool isBool() const { return type() == Type::Bool; }
    bool isInteger() const { return type() == Type::Integer; }
    bool isReal() const { return type() == Type::Real; }
    bool isDate() const { return type() == Type::Date; }
    bool isData() const { return type() == Type::Data; }
    bool isString() const { return type() == Type::String; }
    bool isUid() const { return type() == Type::Uid; }
    bool isArray() const { return type() == Type::Array; }
    bool isDictionary() const { return type() == Type::Dictionary; }

    // Accessors never throw: another type gives the default (empty, 0, false, Null).
    bool toBool(bool defaultValue = false) const;
    // An unsigned integer above the range of qint64 also gives the default.
    qint64 toInteger(qint64 defaultValue = 0) const;
    // An Integer above the range of qint64 (only unsigned ones are).
    bool isLargeUnsigned() const { return std::holds_alternative<quint64>(mData); }
    // Integer bits as unsigned: negative integers give the default.
    quint64 toUnsigned(quint64 defaultValue = 0) const;
    // Real; Integer converted.
    double toReal(double defaultValue = 0.0) const;
    double dateSeconds(double defaultValue = 0.0) const;
    // The date rounded to milliseconds; invalid for another type or a date beyond about
    // three million years from 2001.
    QDateTime toDateTime() const;
    QByteArray toData() const;
    QString toString() const;
    quint64 toUid(quint64 defaultValue = 0) const;
    const PlistArray& toArray() const;
    const PlistDictionary& toDictionary() const;

    // Lookups that never fail: the shared null value when there is nothing there.
    const PlistValue& value(const QString& key) const;
    const PlistValue& at(qsizetype index) const;
    // The element count of an array or a dictionary; 0 for anything else.
    qsizetype size() const;

    static const PlistValue& null();

    // The same tree as a Value: Date becomes a QDateTime (millisecond precision) and large
    // unsigned integers become Real, as Value's own constructor does. Fails on a UID and on a
    // date outside QDateTime's range.
    Result<Value> toValue() const;
    // A Value as a property list; Null stays Null and an invalid date becomes Null.
    static PlistValue fromValue(const Value& value);

    // Conversions between the format's clock and QDateTime.
    static QDateTime dateTimeFromSeconds(double secondsSinceReference);
    static double secondsFromDateTime(const QDateTime& dateTime);

    // Deep equality. Different types differ (Integer 1 is not Real 1.0); Real and Date compare
    // as double; dictionaries are equal with the same keys and equal values in any order. It
    // recurses: compare trees no deeper than the default depth bound.
    friend bool operator==(const PlistValue& a, const PlistValue& b);
    friend bool operator!=(const PlistValue& a, const PlistValue& b) { return !(a == b); }

private:
    struct DateSeconds
    {
        double seconds;
    };
    struct UidValue
    {
        quint64 value;
    };
    // Containers are never changed once shared; the pointers are not to const only so that
    // the last owner can take the elements apart without recursion.
    using Storage =
        std::variant<std::monostate, bool, qint64, quint64, double, DateSeconds, QByteArray, QString,
                     UidValue, std::shared_ptr<PlistArray>, std::shared_ptr<PlistDictionary>>;
    static constexpr std::size_t ContainerIndex = 9;

    void releaseContainer() noexcept;

    Storage mData;
};

// An insertion-ordered dictionary with string keys. Writing follows the insertion order.
class PlistDictionary : public OrderedDictionary<PlistValue>
{
public:
    using OrderedDictionary::OrderedDictionary;

private:
    friend class PlistValue; // empties shared-alone dictionaries when releasing a tree
};

inline PlistValue::PlistValue(PlistArray array) : mData(std::make_shared<PlistArray>(std::move(array))) {}
inline PlistValue::PlistValue(PlistDictionary dictionary)
    : mData(std::make_shared<PlistDictionary>(std::move(dictionary)))
{}

// The binary property list format "bplist00": a header, the objects, a table of their
// offsets and a 32-byte trailer (offset size, reference size, object count, top object,
// table offset).
//
// Reading faces files from synced folders, so every offset, reference, count and size is
// checked against the data before use, and the work is iterative: hostile nesting, reference
// cycles and shared subtrees that would expand exponentially fail with an error instead of
// exhausting the stack or memory. Objects the file shares stay shared in the result.
class BinaryPropertyList
{
public:
    static const QString ErrorDomain; // "com.tallowfen.corvex.plist"
    enum ErrorCode
    {
        NotBinaryPropertyList = 1, // no "bplist00" header, or too short for header and trailer
        CorruptTrailer = 2,        // sizes, counts or the top object out of range
        CorruptOffsetTable = 3,    // the table or an offset in it outside the object area
        InvalidReference = 4,      // an object reference not below the object count
        CorruptObject = 5,  // unknown marker, bad count, truncated object, bad key, integer beyond 64 bits
        ReferenceCycle = 6, // a container that contains itself
        TooDeep = 7,        // containers nested deeper than maxDepth
        LimitExceeded = 8,  // more objects, values or bytes than the limits allow
        OutOfMemory = 9,
    };

    static constexpr int DefaultMaxDepth = 512;

    struct Limits
    {
        // Containers open at once, counted along the expanded tree.
        int maxDepth = DefaultMaxDepth;
        // Objects the trailer may declare.
        qint64 maxObjects = qint64(1) << 22;
        // Values in the expanded tree (each element, key and value counts, a shared subtree
        // once per use), so that a consumer walking the result stays bounded.
        qint64 maxValues = qint64(1) << 22;
        // Decoded string (UTF-16) and data bytes, each distinct object once.
        qint64 maxBytes = qint64(1) << 28;
    };

    // True when the data starts with the "bplist00" header.
    static bool hasHeader(const QByteArray& data);

    // The top object of the data. Reads integers of 1, 2, 4 and 8 bytes and 16-byte ones that
    // fit 64 bits (signed or unsigned), reals of 4 and 8 bytes, dates, data, ASCII (read as
    // Latin-1) and UTF-16 strings, UIDs, arrays, dictionaries with string keys, and sets and
    // ordered sets as arrays. A repeated dictionary key keeps its first position and its last
    // value.
    static Result<PlistValue> read(const QByteArray& data);
    static Result<PlistValue> read(const QByteArray& data, const Limits& limits);

    // The value as "bplist00". Equal strings, numbers, dates, UIDs and data are written once,
    // and so is a container that several places share (copies of one PlistValue), so a value
    // read from a file writes back no larger. Reals are written with 8 bytes; integers with
    // the fewest bytes the format reads back as the same value (1, 2, 4 or 8; 16 for unsigned
    // values above the range of qint64). Fails only with TooDeep when containers nest deeper
    // than maxDepth.
    static Result<QByteArray> write(const PlistValue& value, int maxDepth = DefaultMaxDepth);
};

} // namespace corvex
