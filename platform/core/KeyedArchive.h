#pragma once

#include "platform/core/BinaryPropertyList.h"
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
#include <memory>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

namespace corvex {

class ArchivedObject;
class ArchivedValue;
class ArchivedDictionary;
using ArchivedArray = std::vector<ArchivedValue>;

// One value of a keyed archive's object graph: nil, a primitive (string, integer, real,
// bool, data, date; held as a Value), an object, an array or a dictionary with string keys.
// Arrays and dictionaries are immutable once made and shared between copies; objects are
// shared by pointer, and two uses of one pointer are archived as one object.
class ArchivedValue
{
public:
    enum class Kind
    {
        Nil,
        String,
        Integer,
        Real,
        Bool,
        Data,
        Date,
        Object,
        Array,
        Dictionary
    };

    ArchivedValue() = default;
    ArchivedValue(std::nullptr_t) {}
    // A Value's primitives keep their kind; Null is Nil; arrays and dictionaries are
    // converted element by element.
    ArchivedValue(const Value& value);
    ArchivedValue(bool value) : mData(Value(value)) {}
    template <class T, std::enable_if_t<std::is_integral_v<T> && !std::is_same_v<T, bool>, int> = 0>
    ArchivedValue(T value) : mData(Value(value))
    {}
    ArchivedValue(double value) : mData(Value(value)) {}
    ArchivedValue(QString value) : mData(Value(std::move(value))) {}
    ArchivedValue(QLatin1String value) : mData(Value(value)) {}
    ArchivedValue(QByteArray value) : mData(Value(std::move(value))) {}
    // An invalid date is Nil.
    ArchivedValue(const QDateTime& value);
    // A null pointer is Nil.
    ArchivedValue(std::shared_ptr<ArchivedObject> object);
    ArchivedValue(ArchivedArray array);
    ArchivedValue(ArchivedDictionary dictionary);
    template <class T> ArchivedValue(T*) = delete;

    Kind kind() const;
    static QString kindName(Kind kind);
    bool isNil() const { return kind() == Kind::Nil; }
    bool isPrimitive() const { return std::holds_alternative<Value>(mData); }
    bool isObject() const { return kind() == Kind::Object; }
    bool isArray() const { return kind() == Kind::Array; }
    bool isDictionary() const { return kind() == Kind::Dictionary; }

    // The primitive as a Value (Null for the other kinds); the accessors below read it the
    // way Value does, so numbers convert among themselves.
    const Value& primitive() const;
    QString toString() const { return primitive().toString(); }
    qint64 toInteger(qint64 defaultValue = 0) const { return primitive().toInteger(defaultValue); }
    double toReal(double defaultValue = 0.0) const { return primitive().toReal(defaultValue); }
    bool toBool(bool defaultValue = false) const { return primitive().toBool(defaultValue); }
    QByteArray toData() const { return primitive().toData(); }
    QDateTime toDate() const { return primitive().toDate(); }
    // Null for another kind.
    const std::shared_ptr<ArchivedObject>& object() const;
    // The shared empty container for another kind.
    const ArchivedArray& toArray() const;
    const ArchivedDictionary& toDictionary() const;

    static const ArchivedValue& nil();

    // Deep equality: objects are equal when they are the same object, or have the same class,
    // hierarchy and equal values (the graphs compared must be free of cycles).
    friend bool operator==(const ArchivedValue& a, const ArchivedValue& b);
    friend bool operator!=(const ArchivedValue& a, const ArchivedValue& b) { return !(a == b); }

private:
    std::variant<std::monostate, Value, std::shared_ptr<ArchivedObject>, std::shared_ptr<const ArchivedArray>,
                 std::shared_ptr<const ArchivedDictionary>>
        mData;
};

// Insertion-ordered (key, value) pairs: the keys of an object, the entries of a dictionary
// and the top-level keys of an archive.
class ArchivedDictionary : public OrderedDictionary<ArchivedValue>
{
public:
    using OrderedDictionary::OrderedDictionary;
};

// An instance of a class in a keyed archive: the class name, its hierarchy for "$classes"
// (most derived first, e.g. {"IdeaProxy", "NSObject"}) and its keyed values in the order
// they were set. Nothing here knows the classes: callers decide which names they accept.
class ArchivedObject
{
public:
    // An empty hierarchy stands for {className, "NSObject"}.
    explicit ArchivedObject(QString className, QStringList classes = {});
    static std::shared_ptr<ArchivedObject> create(QString className, QStringList classes = {});

    const QString& className() const { return mClassName; }
    const QStringList& classes() const { return mClasses; }

    // A new key goes last; an existing key keeps its position and takes the new value.
    void set(const QString& key, ArchivedValue value) { mValues.insert(key, std::move(value)); }
    // Nil when absent.
    const ArchivedValue& value(const QString& key) const { return mValues.value(key); }
    bool contains(const QString& key) const { return mValues.contains(key); }
    const ArchivedDictionary& values() const { return mValues; }
    QStringList keys() const { return mValues.keys(); }

private:
    QString mClassName;
    QStringList mClasses;
    ArchivedDictionary mValues;
};

// The top-level keys of an archive and their values.
using ArchivedTop = ArchivedDictionary;

// Object graphs to and from keyed archives: a binary property list holding "$archiver"
// "NSKeyedArchiver", "$version" 100000, "$top" and "$objects", where objects refer to each
// other through UIDs (indexes into "$objects", whose entry 0 is "$null") and name their
// class through a "$class" UID of a class description ("$classname", "$classes").
//
// Writing: integers, reals and bools are stored inline in an object's keys and in "$top";
// every other value is an entry of "$objects" referred to by UID (nil is UID 0). Strings and
// data are plain entries (equal strings once), dates "NSDate" objects with "NS.time"
// (seconds since 2001-01-01 UTC), arrays "NSArray" objects with "NS.objects" (a nil element
// is UID 0), dictionaries "NSDictionary" objects with "NS.keys" and "NS.objects". An object,
// array or dictionary used in several places is written once. A cycle of objects is refused,
// and so is nesting the reader would refuse (a shared value counts its depth at every use).
//
// Reading: the reverse, accepting the forms other writers use too: NSArray, NSMutableArray,
// NSSet, NSMutableSet, NSOrderedSet and NSMutableOrderedSet as arrays; NSDictionary and
// NSMutableDictionary; NSDate; NSString and NSMutableString ("NS.string", or UTF-8
// "NS.bytes"); NSData and NSMutableData ("NS.data"); NSNumber (plain numbers, or an object
// holding one number); NSNull as nil; values stored inline or by UID. Every other class is an
// ArchivedObject with its name and hierarchy as text; nothing is instantiated. An entry
// referred to twice is read once and shared (both uses hold the same object). Every UID is
// checked; a UID cycle, nesting
// beyond maxDepth or more than maxValues values (shared values once per use) fail.
class KeyedArchive
{
public:
    static const QString ErrorDomain; // "com.tallowfen.corvex.keyedarchive"
    enum ErrorCode
    {
        NotKeyedArchive = 1,   // a property list without the keyed-archive layout
        CorruptArchive = 2,    // a bad UID, class description or class form
        CircularReference = 3, // an object that contains itself (writing and reading)
        TooDeep = 4,           // objects and containers nested deeper than maxDepth
        LimitExceeded = 5,     // more values than maxValues
        InvalidValue = 6,      // writing: an empty class name or the reserved key "$class"
    };

    static constexpr int DefaultMaxDepth = 512;

    struct Limits
    {
        // Objects, arrays, dictionaries and dates open at once. Reading recurses once per
        // level, so keep this in the low thousands.
        int maxDepth = DefaultMaxDepth;
        // Values in the result, a shared value once per use.
        qint64 maxValues = qint64(1) << 22;
        // For the property list underneath.
        BinaryPropertyList::Limits plist;
    };

    // The archive of the graph below the top-level keys. Fails with CircularReference,
    // TooDeep or InvalidValue.
    static Result<QByteArray> archive(const ArchivedTop& top, int maxDepth = DefaultMaxDepth);

    // The top-level keys. Bytes that are no binary property list fail with the error of
    // BinaryPropertyList (its domain); a property list without the layout (no "$archiver"
    // "NSKeyedArchiver", a "$version" other than the integer 100000, no "$top" dictionary, no
    // "$objects" array starting with "$null") fails with NotKeyedArchive.
    static Result<ArchivedTop> unarchive(const QByteArray& data);
    static Result<ArchivedTop> unarchive(const QByteArray& data, const Limits& limits);
    // The same for a property list already read.
    static Result<ArchivedTop> unarchive(const PlistValue& plist, const Limits& limits);
};

} // namespace corvex
