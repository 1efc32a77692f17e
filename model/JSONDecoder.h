#pragma once

#include "platform/core/Coder.h"
#include "platform/core/Error.h"
#include "platform/core/Value.h"

#include <QByteArray>
#include <QHash>
#include <QString>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace corvex {

// Reads the JSON text of JSONEncoder back into objects. The class of a dictionary comes from
// the key it stands under (an alias registered with addAlias, else the key with its first
// letter capitalised) or from an "@class" entry, and only ever from CodableRegistry: stored
// data name classes, they never choose code.
//
// Lenient where the old format needs it, strict where input could hurt:
// - a value of the wrong JSON type, and a JSON null, read as missing (typed reads answer 0,
//   false, null data or nothing; a number outside the range of the type asked for, too);
// - unparsable text (also invalid UTF-8 and numbers beyond a double), an "@class" naming no
//   registered class, a class nested in itself more than maxClassNesting() times (the
//   model's maximum idea depth) and a root without a decodable object fail the whole
//   decoding: decodeObject() answers nothing and error() says why. After a failure every
//   read answers nothing, so a factory in the middle of a deep tree unwinds at once.
// No exception leaves the decoder. One decoder serves one thread.
class JSONDecoder final : public Coder
{
public:
    static const QString ErrorDomain; // "com.tallowfen.corvex.jsondecoder"
    enum ErrorCode
    {
        ParseFailed = 1,  // the JsonText error is the underlying error
        UnknownClass = 2, // "@class" names no registered class (or is not a text)
        TooDeep = 3,
        NoRootObject = 4,   // the root is no dictionary, or its first key gives no object
        DecodingFailed = 5, // an exception left a factory
    };
    // The id of the parsed document before decodeObject() opens it.
    static const QString RootId; // "root"
    // The id under which array elements that name no class are read as plain dictionaries.
    static const QString PlainObjectId; // "object"
    static const QString ClassKey;      // "@class"
    // The model's maximum idea depth (Idea::MaxDepth).
    static constexpr int DefaultMaxClassNesting = 1000;

    // Parses the bytes; on a parse error logs "NSJSONSerialization: Error <details>" and the
    // decoder is not valid (every read answers nothing).
    explicit JSONDecoder(const QByteArray& json);
    // A value parsed elsewhere.
    explicit JSONDecoder(Value root);
    JSONDecoder(const JSONDecoder&) = delete;
    JSONDecoder& operator=(const JSONDecoder&) = delete;

    // A decoder for the bytes, then decodeObject(); nothing on any failure.
    static CodedValue decodeWithData(const QByteArray& json);

    // The bytes parsed.
    bool isValid() const { return mValid; }

    // Values found under `key` are decoded by the registered class `className`.
    void addAlias(const QString& key, const QString& className);
    // A class nested in itself deeper than this fails the decoding (at least 1).
    void setMaxClassNesting(int levels);
    int maxClassNesting() const { return mMaxClassNesting; }

    // Decodes the current value: at the root, the value of the root dictionary's first key,
    // by the class that key names.
    CodedValue decodeObject();

    bool isJSONCoder() const override { return true; }

    bool failed() const { return !mError.isNull(); }
    const Error& error() const { return mError; }
    QString errorString() const { return mError.localizedDescription(); }

    // Coder: reads from the dictionary being decoded.
    bool containsValueForKey(const QString& key) const override;
    // Nothing when missing or null; a text, number or boolean as a plain value; anything
    // else decoded by the class the key names (see decodeObject).
    CodedValue decodeObjectForKey(const QString& key) override;
    // The text is a copy of its own, not a share of the parsed document's: a decoded tree
    // then pins none of the parse's memory once the decoder is gone.
    std::optional<QString> decodeStringForKey(const QString& key) override;
    // Base64 text; characters outside the alphabet are skipped.
    QByteArray decodeDataForKey(const QString& key) override;
    // The date text; nothing when it does not match.
    std::optional<QDateTime> decodeDateForKey(const QString& key) override;
    // JSON has no unkeyed values: always null.
    QByteArray decodeDataObject() override;
    bool decodeBoolForKey(const QString& key) override;
    qint32 decodeIntForKey(const QString& key) override;
    // The full 64-bit value.
    qint64 decodeInt64ForKey(const QString& key) override;
    float decodeFloatForKey(const QString& key) override;
    double decodeDoubleForKey(const QString& key) override;

    // A decoder writes nothing.
    void encodeObject(const CodablePtr& object, const QString& key) override;
    void encodeObjects(const std::vector<CodablePtr>& objects, const QString& key) override;
    void encodeValue(const Value& value, const QString& key) override;
    void encodeData(const QByteArray& data, const QString& key) override;
    void encodeDate(const QDateTime& date, const QString& key) override;
    void encodeDataObject(const QByteArray& data) override;

private:
    struct Frame
    {
        const Value* value;
        QString id;
    };
    // A registered class as the decoder uses it: the factory taken once, and the count of
    // its objects being decoded (one count per class, whichever key named it).
    struct ClassInfo
    {
        QString name;
        std::shared_ptr<const CodableRegistry::Factory> factory;
        int nesting = 0;
    };

    CodedValue decodeCurrent();
    CodedValue decodeArray(ClassInfo* itemClass);
    CodedValue decodeElement(const Value& element, const QString& id);
    CodedValue make(ClassInfo& info);
    bool push(const Value& value, const QString& id);
    // The class for a key: its alias, else the capitalised key when registered; nullptr when
    // none.
    ClassInfo* classForKey(const QString& key);
    ClassInfo* classForClassName(const QString& name);
    ClassInfo* registeredClass(const QString& name);
    // The value under the key in the current dictionary; nullptr when missing or null.
    const Value* lookup(const QString& key) const;
    void fail(int code, const QString& text, const QVariantMap& userInfo = {});

    Value mRoot;
    std::vector<Frame> mJsonObjectStack;
    QHash<QString, QString> mMappingClasses;
    QHash<QString, std::shared_ptr<ClassInfo>> mClasses; // registered class name -> info
    QHash<QString, ClassInfo*> mClassCache;              // key -> class (nullptr for none)
    // The key looked up last: elements of one list all ask for the same one.
    QString mLastKey;
    ClassInfo* mLastClass = nullptr;
    int mMaxClassNesting = DefaultMaxClassNesting;
    Error mError;
    bool mValid = false;
};

} // namespace corvex
