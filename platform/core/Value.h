#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QLatin1String>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <initializer_list>
#include <limits>
#include <memory>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

namespace corvex {

class Value;
class ValueDictionary;
using ValueArray = std::vector<Value>;

// The variant value of property lists and JSON object graphs.
//
// Copying is cheap: strings, data and dates are Qt's implicitly shared types, and arrays and
// dictionaries are shared until one copy is edited (copy on write, one level at a time).
// Destruction, equality and JSON writing walk nested containers without recursion, so a
// deep tree cannot exhaust the stack. A const Value may be read from several threads.
//
// Accessors never throw: asking for a type the value does not hold answers an empty string,
// 0, false, an empty container or the shared null value. Numbers convert among themselves
// (Bool, Integer, Real): true is 1, any non-zero number is true, and a Real becomes an
// Integer truncated towards zero (the default when out of range).
class Value
{
public:
    // The order matches the alternatives of Storage.
    enum class Type
    {
        Null,
        Bool,
        Integer,
        Real,
        String,
        Data,
        Date,
        Array,
        Dictionary
    };

    Value() noexcept = default;
    Value(std::nullptr_t) noexcept {}
    Value(bool value) : mData(value) {}
    // Every integer type; unsigned values above the range of qint64 become Real.
    template <class T, std::enable_if_t<std::is_integral_v<T> && !std::is_same_v<T, bool>, int> = 0>
    Value(T value)
    {
        if constexpr (std::is_unsigned_v<T> && sizeof(T) >= sizeof(qint64)) {
            if (value > T(std::numeric_limits<qint64>::max())) {
                mData = double(value);
                return;
            }
        }
        mData = qint64(value);
    }
    Value(double value) : mData(value) {}
    Value(float value) : mData(double(value)) {}
    Value(QString value) : mData(std::move(value)) {}
    Value(QLatin1String value) : mData(QString(value)) {}
    Value(QByteArray value) : mData(std::move(value)) {}
    Value(QDateTime value) : mData(std::move(value)) {}
    Value(ValueArray array);
    Value(ValueDictionary dictionary);
    // A pointer would otherwise become a Bool without a word.
    template <class T> Value(T*) = delete;

    Value(const Value& other) = default;
    Value(Value&& other) noexcept : mData(std::exchange(other.mData, Storage{})) {}
    // One assignment for copies and moves; the old content is released without recursion.
    Value& operator=(Value other) noexcept
    {
        swap(other);
        return *this;
    }
    ~Value()
    {
        if (mData.index() >= std::size_t(Type::Array))
            releaseContainer();
    }
    void swap(Value& other) noexcept { mData.swap(other.mData); }

    Type type() const { return Type(mData.index()); }
    static QString typeName(Type type);

    bool isNull() const { return type() == Type::Null; }
    bool isBool() const { return type() == Type::Bool; }
    bool isInteger() const { return type() == Type::Integer; }
    bool isReal() const { return type() == Type::Real; }
    // Integer or Real.
    bool isNumber() const { return isInteger() || isReal(); }
    bool isString() const { return type() == Type::String; }
    bool isData() const { return type() == Type::Data; }
    bool isDate() const { return type() == Type::Date; }
    bool isArray() const { return type() == Type::Array; }
    bool isDictionary() const { return type() == Type::Dictionary; }

    // Bool; a number is true when not zero.
    bool toBool(bool defaultValue = false) const;
    // Integer; Bool as 0/1; Real truncated toward zero when it fits.
    qint64 toInteger(qint64 defaultValue = 0) const;
    // Real; Integer and Bool converted.
    double toReal(double defaultValue = 0.0) const;
    QString toString() const;
    QByteArray toData() const;
    QDateTime toDate() const;
    // The shared empty container when this is not one.
    const ValueArray& toArray() const;
    const ValueDictionary& toDictionary() const;

    // Lookups that never fail: the shared null value when there is nothing there.
    const Value& value(const QString& key) const;
    const Value& at(qsizetype index) const;
    // The element count of an array or a dictionary; 0 for anything else.
    qsizetype size() const;

    // In-place editing of a container; nullptr when this is not one. A container shared
    // with other copies is copied first, so the others keep their content.
    ValueArray* editArray();
    ValueDictionary* editDictionary();

    static const Value& null();

    // QVariant bridge. Null is an invalid QVariant; Array a QVariantList; Dictionary a
    // QVariantMap, which sorts its keys: the insertion order is lost in that direction.
    // fromVariant maps QVariantMap/QVariantHash keys in sorted order, QStringList to an
    // Array, other types convertible to text to String and anything else to Null. Both
    // directions recurse; they serve shallow settings data.
    QVariant toVariant() const;
    static Value fromVariant(const QVariant& variant);

    // Deep equality. Values of different types differ (Integer 1 is not Real 1.0); Real
    // compares as double (NaN differs from itself); dictionaries are equal when they hold
    // the same keys with equal values, in any order.
    friend bool operator==(const Value& a, const Value& b);
    friend bool operator!=(const Value& a, const Value& b) { return !(a == b); }

private:
    using Storage = std::variant<std::monostate, bool, qint64, double, QString, QByteArray, QDateTime,
                                 std::shared_ptr<ValueArray>, std::shared_ptr<ValueDictionary>>;

    void releaseContainer() noexcept;
    bool isUniqueContainer() const;
    template <class Visitor> void forEachChild(Visitor&& visitor);

    friend class ValueDictionary;
    Storage mData;
};

// An insertion-ordered dictionary of Values. Small dictionaries are searched in order; from
// a few dozen keys on, a hash index makes lookups constant time.
class ValueDictionary
{
public:
    using Entry = std::pair<QString, Value>;
    using const_iterator = std::vector<Entry>::const_iterator;

    ValueDictionary() = default;
    // Repeated keys keep the first position and the last value.
    ValueDictionary(std::initializer_list<Entry> entries);

    qsizetype size() const { return qsizetype(mEntries.size()); }
    bool isEmpty() const { return mEntries.empty(); }
    bool contains(const QString& key) const { return indexOf(key) >= 0; }
    // The shared null value when absent.
    const Value& value(const QString& key) const;
    const Value* find(const QString& key) const;
    Value* find(const QString& key);
    // A new key goes last; an existing key keeps its position and takes the new value.
    void insert(const QString& key, Value value);
    bool remove(const QString& key);
    // Removes the key and answers its value (Null when absent).
    Value take(const QString& key);
    void clear();
    void reserve(qsizetype count) { mEntries.reserve(std::size_t(count)); }

    QStringList keys() const;
    // The first key in order; empty when the dictionary is.
    QString firstKey() const;
    const Entry& entryAt(qsizetype index) const { return mEntries[std::size_t(index)]; }

    const_iterator begin() const { return mEntries.begin(); }
    const_iterator end() const { return mEntries.end(); }

    // Same keys with equal values, in any order (see Value's equality).
    friend bool operator==(const ValueDictionary& a, const ValueDictionary& b);
    friend bool operator!=(const ValueDictionary& a, const ValueDictionary& b) { return !(a == b); }

private:
    static constexpr std::size_t IndexThreshold = 24;

    qsizetype indexOf(const QString& key) const;
    void rebuildIndex();

    friend class Value;
    std::vector<Entry> mEntries;
    QHash<QString, qsizetype> mIndex; // filled only above IndexThreshold entries
};

inline Value::Value(ValueArray array) : mData(std::make_shared<ValueArray>(std::move(array))) {}
inline Value::Value(ValueDictionary dictionary)
    : mData(std::make_shared<ValueDictionary>(std::move(dictionary)))
{}

} // namespace corvex
