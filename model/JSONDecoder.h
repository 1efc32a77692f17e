#pragma once

#include "platform/core/Coder.h"
#include "platform/core/Error.h"
#include "platform/core/JsonText.h"
#include "platform/core/Value.h"

#include <QByteArray>
#include <QHash>
#include <QString>
#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace corvex {

// Reads the JSON text of JSONEncoder back into objects. The class of a dictionary comes from
// the key it stands under (an alias, else the key with its first letter capitalised) or from
// an "@class" entry, and only ever from CodableRegistry: stored data name classes, they
// never choose code.
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
//
// Two ways of reading, with the same results:
// - From parsed values (the constructors taking the bytes alone or a Value): the text is
//   parsed into Values first, and objects are made as factories ask for them. Aliases are
//   added afterwards with addAlias.
// - While reading the text (the constructors taking TextOptions): no value tree is made.
//   Each dictionary's members are collected as the text goes by, and when it closes its
//   class's factory makes the object at once from them, its children already made; the
//   object then waits in its parent's members until the parent's factory takes it. A
//   failure inside such a member (an unknown "@class", a class nested too deep, a factory
//   that throws) fails the decoding only when a factory reads that member, as it would when
//   made on request. Members whose meaning the text alone cannot settle while it is read
//   (dictionaries and arrays under keys that name no class) are kept as Values and decoded
//   on request. Should the text hold the old wrapped form of a list around a nested
//   container ([{"someClass": [...]}], meaning only known when the list ends), the decoder
//   reads the text once more into Values and decodes from those.
class JSONDecoder final : public Decoder
{
public:
    static const QString ErrorDomain; // "com.tallowfen.corvex.jsondecoder"
    enum ErrorCode
    {
        ParseFailed = 1,  // the JsonText (or the source's) error is the underlying error
        UnknownClass = 2, // "@class" names no registered class (or is not a text)
        TooDeep = 3,
        NoRootObject = 4,   // the root is no dictionary, or its first key gives no object
        DecodingFailed = 5, // an exception left a factory
        TooManyObjects = 6, // a class made more objects than TextOptions::maxObjectsOfAClass
    };
    // The id of the parsed document before decodeObject() opens it.
    static const QString RootId; // "root"
    // The id under which array elements that name no class are read as plain dictionaries.
    static const QString PlainObjectId; // "object"
    static const QString ClassKey;      // "@class"
    // The model's maximum idea depth (Idea::MaxDepth).
    static constexpr int DefaultMaxClassNesting = 1000;

    // Keys whose values are decoded by a registered class: {key, class name}.
    using Aliases = std::vector<std::pair<QString, QString>>;
    struct TextOptions
    {
        Aliases aliases;
        int maxClassNesting = DefaultMaxClassNesting;
        int maxDepth = JsonText::DefaultMaxDepth;
        // See JsonText::ReadOptions.
        bool replaceLoneSurrogates = false;
        // The most objects one class may make (0: no bound). Reading the text stops at the
        // first object past it, so that a text of endless small objects costs no more than
        // the bound; the decoding fails with TooManyObjects.
        qint64 maxObjectsOfAClass = 0;

        // The text's own rules among these.
        JsonReadOptions readOptions() const
        {
            JsonReadOptions read;
            read.maxDepth = maxDepth;
            read.replaceLoneSurrogates = replaceLoneSurrogates;
            return read;
        }
    };

    // Parses the bytes; on a parse error logs "NSJSONSerialization: Error <details>" and the
    // decoder is not valid (every read answers nothing).
    explicit JSONDecoder(const QByteArray& json);
    // A value parsed elsewhere.
    explicit JSONDecoder(Value root);
    // Decodes while it reads the text, with the classes the options' aliases name (addAlias
    // comes too late for these). Parse errors as above. The source is read once, or twice
    // (rewound) for the old wrapped form; it must outlive only the constructor.
    JSONDecoder(const QByteArray& json, const TextOptions& options);
    JSONDecoder(JsonSource& source, const TextOptions& options);
    ~JSONDecoder() override;
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

    // Decoder: reads from the dictionary being decoded.
    bool containsValueForKey(const QString& key) const override;
    // Nothing when missing or null; a text, number or boolean as a plain value; anything
    // else decoded by the class the key names (see decodeObject).
    CodedValue decodeObjectForKey(const QString& key) override;
    // The text is one of its own, not a share of a larger buffer: a decoded tree pins no
    // memory of the reading once the decoder is gone.
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

private:
    struct Frame
    {
        const Value* value;
        QString id;
    };
    // A registered class as the decoder uses it: the factory taken once, the count of its
    // objects being decoded (one count per class, whichever key named it) and the most
    // counted since the last look (reads on request report how deep they went).
    struct ClassInfo
    {
        QString name;
        std::shared_ptr<const CodableRegistry::Factory> factory;
        int nesting = 0;
        int deepest = 0;
        qint64 made = 0; // objects made, against mMaxObjectsOfAClass
    };
    // The reading-while-parsing side (JSONDecoder.cpp).
    struct Slot;
    struct Heights;
    struct KeyEntry;
    struct KeyStore;
    class TextReader;
    friend class TextReader;

    void readText(const std::function<Status(JsonHandler&)>& read, const TextOptions& options);
    void parseFailed(const Error& parseError);

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
    // The member under the key of the dictionary a factory reads while the text is read;
    // nullptr when there is none (or reads are not from members now).
    const Slot* slotFor(const QString& key) const;
    // The plain value a typed read sees under a member; Null for none.
    static Value plainValue(const Slot* slot);
    // A plain value kept for decoding on request, decoded now (see TextReader).
    CodedValue decodeKept(const Value& value, const QString& id);
    void fail(int code, const QString& text, const QVariantMap& userInfo = {});
    // Counts an object the class is about to make; false, with the decoding failed, past the
    // bound.
    bool countObject(ClassInfo& info);

    Value mRoot;
    std::vector<Frame> mJsonObjectStack;
    QHash<QString, QString> mMappingClasses;
    QHash<QString, std::shared_ptr<ClassInfo>> mClasses; // registered class name -> info
    QHash<QString, ClassInfo*> mClassCache;              // key -> class (nullptr for none)
    // The key looked up last: elements of one list all ask for the same one.
    QString mLastKey;
    ClassInfo* mLastClass = nullptr;
    int mMaxClassNesting = DefaultMaxClassNesting;
    qint64 mMaxObjectsOfAClass = 0;
    bool mTooManyObjects = false;
    Error mError;
    bool mValid = false;
    bool mFromText = false; // decoded while the text was read

    // Reading while parsing: the members a factory reads now (or the root's), and how deep
    // the objects it took go, per class.
    const Slot* mSlots = nullptr;
    qsizetype mSlotCount = 0;
    std::unique_ptr<std::vector<Slot>> mRootSlots;
    std::unique_ptr<Heights> mTaken;
    std::unique_ptr<KeyStore> mKeys; // the members' keys point into it
};

} // namespace corvex
