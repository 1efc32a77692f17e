#pragma once

#include "platform/core/Value.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>
#include <type_traits>
#include <vector>

namespace corvex {

class Encoder;
class Decoder;

// An object that writes itself to a keyed encoder. Decoding goes through the factory a class
// registers with CodableRegistry: nothing outside the registry is ever made from stored data.
class Codable
{
public:
    virtual ~Codable();
    // The registered class name ("Idea", "IconImage", ...).
    virtual QString className() const = 0;
    virtual void encodeWithCoder(Encoder& coder) const = 0;
    // How coder failures name this object (the circular-reference reason quotes it).
    // "<ClassName 0x...>" unless the class says more.
    virtual QString codingDescription() const;
};

using CodablePtr = std::shared_ptr<Codable>;

// What a decoder hands back for a key: nothing, a plain value (text, number, boolean, data,
// date, or an array or dictionary of plain values), a decoded object, or a list of decoded
// values (objects, or plain values where a list held those). Copies are cheap: a list is
// shared by its copies.
class CodedValue
{
public:
    enum class Kind
    {
        None,
        Plain,
        Object,
        List
    };

    CodedValue() = default;
    // A Null value is None; a null pointer is None.
    CodedValue(Value plain);
    CodedValue(CodablePtr object);
    CodedValue(std::vector<CodedValue> list);

    Kind kind() const { return mKind; }
    bool isNone() const { return mKind == Kind::None; }
    bool isPlain() const { return mKind == Kind::Plain; }
    bool isObject() const { return mKind == Kind::Object; }
    bool isList() const { return mKind == Kind::List; }
    const Value& plain() const;                  // the null Value unless Plain
    const CodablePtr& object() const;            // nullptr unless Object
    const std::vector<CodedValue>& list() const; // empty unless List

    // The object as T, or nullptr when it is not one.
    template <class T> std::shared_ptr<T> objectAs() const { return std::dynamic_pointer_cast<T>(mObject); }

private:
    Kind mKind = Kind::None;
    Value mPlain;
    CodablePtr mObject;
    std::shared_ptr<const std::vector<CodedValue>> mList;
};

// The writing half of a keyed coder: the JSON encoder, the keyed archiver and the tests'
// in-memory encoder implement it. Writes of absent values (a null string, null data, an
// invalid date, a null object, an empty list, a Null value) write nothing.
class Encoder
{
public:
    virtual ~Encoder();

    virtual bool allowsKeyedCoding() const { return true; }
    // The JSON encoder answers true: classes that store a value differently in JSON and in
    // keyed archives (a picture as plain data or as an object) ask it.
    virtual bool isJSONCoder() const { return false; }

    virtual void encodeObject(const CodablePtr& object, const QString& key) = 0;
    // An empty list writes nothing; null elements are dropped.
    virtual void encodeObjects(const std::vector<CodablePtr>& objects, const QString& key) = 0;
    // A plain value (text, number, boolean, data, date, or arrays and dictionaries of those).
    // A set is handed over as an array of its elements.
    virtual void encodeValue(const Value& value, const QString& key) = 0;
    virtual void encodeData(const QByteArray& data, const QString& key) = 0;
    virtual void encodeDate(const QDateTime& date, const QString& key) = 0;
    // The coder's single unkeyed data object.
    virtual void encodeDataObject(const QByteArray& data) = 0;

    // Scalars go to encodeValue unless an encoder writes them itself (the JSON encoder puts
    // them straight into its text).
    virtual void encodeString(const QString& text, const QString& key);
    virtual void encodeBool(bool value, const QString& key);
    virtual void encodeInt(qint32 value, const QString& key);
    virtual void encodeInt64(qint64 value, const QString& key);
    virtual void encodeFloat(float value, const QString& key);
    virtual void encodeDouble(double value, const QString& key);
    // Any list of objects of one Codable class (an idea's children).
    template <class T>
    void encodeObjectList(const std::vector<std::shared_ptr<T>>& objects, const QString& key)
    {
        if constexpr (std::is_same_v<T, Codable>) {
            encodeObjects(objects, key);
        } else if (writesListsWhileBorrowing()) {
            std::vector<const Codable*> borrowed;
            borrowed.reserve(objects.size());
            for (const auto& object : objects)
                borrowed.push_back(object.get());
            encodeBorrowedObjects(borrowed, key);
        } else {
            encodeObjects(std::vector<CodablePtr>(objects.begin(), objects.end()), key);
        }
    }

protected:
    // An encoder that is done with a list before encodeObjectList returns may take it as
    // plain pointers: a save then does not count references up and down for every idea.
    virtual bool writesListsWhileBorrowing() const { return false; }
    virtual void encodeBorrowedObjects(const std::vector<const Codable*>& objects, const QString& key);

public:
};

// The reading half of a keyed coder: the JSON decoder, the keyed unarchiver and the tests'
// in-memory decoder implement it. Typed reads treat a value of the wrong type as missing;
// they never throw.
class Decoder
{
public:
    virtual ~Decoder();

    virtual bool allowsKeyedCoding() const { return true; }
    // See Encoder::isJSONCoder.
    virtual bool isJSONCoder() const { return false; }

    // A value is there (a stored null counts as missing).
    virtual bool containsValueForKey(const QString& key) const = 0;
    virtual CodedValue decodeObjectForKey(const QString& key) = 0;
    // Null when missing or unreadable; stored empty data reads as empty, non-null data.
    virtual QByteArray decodeDataForKey(const QString& key) = 0;
    virtual std::optional<QDateTime> decodeDateForKey(const QString& key) = 0;
    // Null when there is none.
    virtual QByteArray decodeDataObject() = 0;
    // 0 / false when missing, not a number, or out of the type's range.
    virtual bool decodeBoolForKey(const QString& key) = 0;
    virtual qint32 decodeIntForKey(const QString& key) = 0;
    virtual qint64 decodeInt64ForKey(const QString& key) = 0;
    virtual float decodeFloatForKey(const QString& key) = 0;
    virtual double decodeDoubleForKey(const QString& key) = 0;

    // A text under the key; nothing when missing or not a text. Virtual so that a decoder
    // can answer it without making a CodedValue.
    virtual std::optional<QString> decodeStringForKey(const QString& key);
    template <class T> std::shared_ptr<T> decodeObjectOfClass(const QString& key)
    {
        return decodeObjectForKey(key).template objectAs<T>();
    }
    // The objects of class T under the key, in order; elements of other kinds are skipped.
    template <class T> std::vector<std::shared_ptr<T>> decodeArrayOfClass(const QString& key)
    {
        std::vector<std::shared_ptr<T>> result;
        const CodedValue value = decodeObjectForKey(key);
        if (value.kind() == CodedValue::Kind::Object) {
            if (auto object = value.template objectAs<T>())
                result.push_back(std::move(object));
        } else if (value.kind() == CodedValue::Kind::List) {
            result.reserve(value.list().size());
            for (const CodedValue& element : value.list()) {
                if (auto object = element.template objectAs<T>())
                    result.push_back(std::move(object));
            }
        }
        return result;
    }

protected:
    // The number rules of the decoders that read Values: nothing, or a value that is neither
    // a number nor a boolean, reads as 0 / false; a number out of the type's range reads as
    // 0; reals become integers truncated towards zero.
    static bool boolFromValue(const Value* value);
    static qint32 int32FromValue(const Value* value);
    static qint64 int64FromValue(const Value* value);
    static double doubleFromValue(const Value* value);
};

// The closed set of classes that may be made from stored data. Each class registers a
// factory that reads it from a decoder (its "init with coder"); a factory may answer nullptr
// for unusable data. Registration happens at start-up (a second registration of a name
// replaces the first); lookups and make() are safe from any thread, also while another
// thread registers.
class CodableRegistry
{
public:
    using Factory = std::function<CodablePtr(Decoder&)>;

    static void registerClass(const QString& className, Factory factory);
    static bool isRegistered(const QString& className);
    // The factory of a registered class (nullptr for unknown classes), for decoders that
    // make many objects of one class: it stays valid when the class is registered again.
    static std::shared_ptr<const Factory> factory(const QString& className);
    // Makes an object of a registered class from the decoder; nullptr for unknown classes.
    // The factory runs without any registry lock held, so it may decode nested objects.
    static CodablePtr make(const QString& className, Decoder& decoder);
    // Sorted, for diagnostics and tests.
    static QStringList registeredClassNames();
};

} // namespace corvex
