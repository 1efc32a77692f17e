#include "model/JSONDecoder.h"

#include "model/Idea.h"
#include "model/StringAdditions.h"
#include "platform/core/Base64.h"
#include "platform/core/DateText.h"
#include "platform/core/Log.h"

#include <array>
#include <cmath>
#include <cstring>
#include <deque>
#include <iterator>
#include <limits>

namespace corvex {

const QString JSONDecoder::ErrorDomain = QStringLiteral("com.tallowfen.corvex.jsondecoder");
const QString JSONDecoder::RootId = QStringLiteral("root");
const QString JSONDecoder::PlainObjectId = QStringLiteral("object");
const QString JSONDecoder::ClassKey = QStringLiteral("@class");

static_assert(JSONDecoder::DefaultMaxClassNesting == Idea::MaxDepth, "decoding enforces the model's depth");

namespace {

// Arrays and dictionaries open at once while decoding; the parser already refuses deeper
// text, this bounds values handed over already parsed.
constexpr std::size_t MaxStackDepth = std::size_t(JsonText::DefaultMaxDepth) + 2;

const QString& stringKey()
{
    static const QString key = QStringLiteral("string");
    return key;
}

// The user information in the platform's dictionary notation, for the parse-error line.
QString describeUserInfo(const QVariantMap& info)
{
    QStringList parts;
    for (auto it = info.constBegin(); it != info.constEnd(); ++it)
        parts << it.key() + QStringLiteral(" = ") + it.value().toString();
    return QLatin1Char('{') + parts.join(QStringLiteral("; ")) + QLatin1Char('}');
}

// What a member read while the text goes by holds.
enum class SlotKind : quint8
{
    Null,    // JSON null: missing
    Scalar,  // a text, number or boolean, in `value`
    Kept,    // a dictionary or array kept as a Value, decoded on request
    Decoded, // an object, a list or a plain array made already, in `decoded`
    Failed,  // what made it failed; the failure counts once a factory reads it
};

} // namespace

// How many objects of each class the longest chain of objects below a point holds: what the
// class nesting bound is checked against when children are made before their parents.
struct JSONDecoder::Heights
{
    struct Entry
    {
        ClassInfo* info = nullptr;
        int height = 0;
    };

    int of(const ClassInfo* info) const
    {
        for (int i = 0; i < count; ++i) {
            if (first[std::size_t(i)].info == info)
                return first[std::size_t(i)].height;
        }
        for (const Entry& entry : rest) {
            if (entry.info == info)
                return entry.height;
        }
        return 0;
    }

    void raise(ClassInfo* info, int height)
    {
        for (int i = 0; i < count; ++i) {
            Entry& entry = first[std::size_t(i)];
            if (entry.info == info) {
                entry.height = std::max(entry.height, height);
                return;
            }
        }
        for (Entry& entry : rest) {
            if (entry.info == info) {
                entry.height = std::max(entry.height, height);
                return;
            }
        }
        if (count < int(first.size()))
            first[std::size_t(count++)] = Entry{info, height};
        else
            rest.push_back(Entry{info, height});
    }

    void merge(const Heights& other)
    {
        for (int i = 0; i < other.count; ++i)
            raise(other.first[std::size_t(i)].info, other.first[std::size_t(i)].height);
        for (const Entry& entry : other.rest)
            raise(entry.info, entry.height);
    }

    void clear()
    {
        count = 0;
        rest.clear();
    }

    // A few classes at most nest in one document; no allocation for those.
    std::array<Entry, 3> first{};
    int count = 0;
    std::vector<Entry> rest;
};

// A key of the text, kept once for the whole decoding: members point at their key's entry.
struct JSONDecoder::KeyEntry
{
    QByteArray utf8;
    QString text;
    // The class of a dictionary or array under this key; nullptr keeps such values as Values
    // ("object" always does: its dictionaries are plain unless they name a class).
    ClassInfo* objectClass = nullptr;
    bool shared = false; // found again by its bytes (see KeyStore)
    // The key that followed this one last time: documents repeat their keys in one order,
    // so the next key is usually known before it is looked up.
    const KeyEntry* next = nullptr;
};

// Every key of one decoding. A document repeats a few keys thousands of times: those are
// shared through an index; a text of endless distinct keys has the rest kept unindexed (no
// more memory than their text took).
struct JSONDecoder::KeyStore
{
    static constexpr qsizetype MaxSharedLength = 64;
    static constexpr qsizetype MaxShared = 1024;
    std::deque<KeyEntry> entries;
    QHash<QByteArray, const KeyEntry*> index;
};

// One member of a dictionary read while the text goes by.
struct JSONDecoder::Slot
{
    const QString* key = nullptr; // the key's text, in the decoder's KeyStore
    SlotKind kind = SlotKind::Null;
    Value::Type jsonType = Value::Type::Null; // what stood in the text
    // Scalar: by its JSON type (no Value made for every member read).
    bool boolean = false;
    qint64 integer = 0;
    double real = 0;
    QString text;
    Value kept;         // Kept
    CodedValue decoded; // Decoded
    Error error;        // Failed
    Heights heights;    // Decoded: how deep its objects go

    // The member as a plain value: its scalar or kept container; Null for anything else.
    Value plain() const
    {
        if (kind == SlotKind::Kept)
            return kept;
        if (kind != SlotKind::Scalar)
            return Value();
        switch (jsonType) {
        case Value::Type::Bool:
            return Value(boolean);
        case Value::Type::Integer:
            return Value(integer);
        case Value::Type::Real:
            return Value(real);
        case Value::Type::String:
            return Value(text);
        default:
            return Value();
        }
    }

    // Empties the member for its next use (also one moved from).
    void clear()
    {
        if (!text.isNull())
            text = QString();
        if (kind == SlotKind::Kept || !kept.isNull())
            kept = Value();
        if (kind == SlotKind::Decoded || !decoded.isNone()) {
            decoded = CodedValue();
            heights.clear();
        }
        if (kind == SlotKind::Failed)
            error = Error();
        kind = SlotKind::Null;
        jsonType = Value::Type::Null;
    }
};

namespace {

bool sameKey(const QString& a, const QString& b)
{
    return a.size() == b.size() &&
           (a.constData() == b.constData() ||
            std::memcmp(a.constData(), b.constData(), std::size_t(a.size()) * sizeof(QChar)) == 0);
}

} // namespace

// Decodes while the text is read (the constructors with TextOptions). Each dictionary under
// a key that names a class collects its members; when it closes, its class's factory makes
// the object from them. Arrays under such keys collect their elements as decodeArray would
// make them. Anything else is kept as a Value for decoding on request, or read past where
// nothing could read it.
class JSONDecoder::TextReader final : public JsonHandler
{
public:
    explicit TextReader(JSONDecoder& decoder) : mDecoder(decoder), mKeys(*decoder.mKeys) {}

    // The text holds the old wrapped form around a container: it must be decoded from Values.
    bool needsValues() const { return mNeedsValues; }
    // The root dictionary's members; nullptr when the root is no dictionary.
    std::unique_ptr<std::vector<Slot>> takeRoot() { return std::move(mRoot); }

    bool null() override
    {
        if (mKeptDepth > 0)
            return mKept.null();
        if (scalarSlot(Value::Type::Null) == nullptr)
            listScalar(Value::Type::Null);
        return !mFailedTarget;
    }
    bool boolean(bool value) override
    {
        if (mKeptDepth > 0)
            return mKept.boolean(value);
        if (Slot* slot = scalarSlot(Value::Type::Bool))
            slot->boolean = value;
        else if (listScalar(Value::Type::Bool))
            mScalarList->scalars.push_back(Value(value));
        return !mFailedTarget;
    }
    bool integer(qint64 value) override
    {
        if (mKeptDepth > 0)
            return mKept.integer(value);
        if (Slot* slot = scalarSlot(Value::Type::Integer))
            slot->integer = value;
        else if (listScalar(Value::Type::Integer))
            mScalarList->scalars.push_back(Value(value));
        return !mFailedTarget;
    }
    bool real(double value) override
    {
        if (mKeptDepth > 0)
            return mKept.real(value);
        if (Slot* slot = scalarSlot(Value::Type::Real))
            slot->real = value;
        else if (listScalar(Value::Type::Real))
            mScalarList->scalars.push_back(Value(value));
        return !mFailedTarget;
    }
    bool string(QByteArrayView utf8) override
    {
        if (mKeptDepth > 0)
            return mKept.string(utf8);
        if (mSkipDepth > 0)
            return true;
        if (Slot* slot = scalarSlot(Value::Type::String)) {
            slot->text = JsonText::stringFromUtf8(utf8);
        } else if (listScalar(Value::Type::String)) {
            Value text(JsonText::stringFromUtf8(utf8));
            if (mScalarList->objects)
                mScalarList->items.emplace_back(std::move(text));
            else
                mScalarList->scalars.push_back(std::move(text));
        }
        return !mFailedTarget;
    }
    bool key(QByteArrayView utf8) override
    {
        if (mKeptDepth > 0)
            return mKept.key(utf8);
        if (mSkipDepth > 0)
            return true;
        return memberKey(utf8);
    }
    bool startObject() override { return open(true); }
    bool startArray() override { return open(false); }
    bool endObject() override { return close(true); }
    bool endArray() override { return close(false); }

private:
    enum class Mode
    {
        Root,
        Object, // a dictionary whose class's factory makes an object when it closes
        List,   // an array whose elements decodeArray would decode with `info`
    };

    struct Level
    {
        Mode mode = Mode::Root;
        const QString* id = nullptr;
        ClassInfo* info = nullptr;
        // Root, Object: the members, reused from one dictionary to the next (slots[0, used)).
        std::vector<Slot> slots;
        qsizetype used = 0;
        qsizetype target = -1; // the member the next value fills
        bool head = false;     // Object: the first element of a list
        // List
        qsizetype count = 0;
        bool objects = false; // the first element was a dictionary
        std::vector<CodedValue> items;
        ValueArray scalars;
        Heights heights;
        Error failure;
        // A first element of one member is the old wrapped form when it stays the only
        // element: it is made only once a second element shows it is none.
        bool headPending = false;
        std::vector<Slot> headSlots;

        Slot& addSlot()
        {
            if (used == qsizetype(slots.size()))
                slots.emplace_back();
            return slots[std::size_t(used++)];
        }
        // The members, moved out; the level keeps empty ones for reuse.
        std::vector<Slot> takeSlots()
        {
            std::vector<Slot> taken;
            taken.reserve(std::size_t(used));
            for (qsizetype i = 0; i < used; ++i) {
                taken.push_back(std::move(slots[std::size_t(i)]));
                slots[std::size_t(i)].clear();
            }
            used = 0;
            return taken;
        }
        void clearSlots()
        {
            for (qsizetype i = 0; i < used; ++i)
                slots[std::size_t(i)].clear();
            used = 0;
        }
    };

    Level& top() { return mLevels[mDepth - 1]; }

    Level& push(Mode mode, const QString* id, ClassInfo* info)
    {
        if (mDepth == mLevels.size())
            mLevels.emplace_back();
        Level& level = mLevels[mDepth++];
        level.mode = mode;
        level.id = id;
        level.info = info;
        level.target = -1;
        level.head = false;
        if (mode == Mode::List) {
            level.count = 0;
            level.objects = false;
            level.items.clear();
            level.scalars.clear();
            level.heights.clear();
            level.failure = Error();
            level.headPending = false;
            level.headSlots.clear();
        }
        return level;
    }

    const KeyEntry* keyEntry(QByteArrayView utf8)
    {
        // The key that followed the last one last time, else the index.
        if (mLastKey != nullptr && mLastKey->next != nullptr && mLastKey->next->utf8 == utf8)
            return mLastKey->next;
        const bool shareable = utf8.size() <= KeyStore::MaxSharedLength;
        if (shareable) {
            const QByteArray lookup = QByteArray::fromRawData(utf8.data(), utf8.size());
            if (const auto it = mKeys.index.constFind(lookup); it != mKeys.index.constEnd())
                return *it;
        }
        KeyEntry& entry = mKeys.entries.emplace_back();
        entry.utf8 = QByteArray(utf8.data(), utf8.size());
        entry.text = JsonText::stringFromUtf8(utf8);
        if (entry.text != PlainObjectId)
            entry.objectClass = mDecoder.classForKey(entry.text);
        if (shareable && mKeys.index.size() < KeyStore::MaxShared) {
            entry.shared = true;
            mKeys.index.insert(entry.utf8, &entry);
        }
        return &entry;
    }

    bool memberKey(QByteArrayView utf8)
    {
        if (mDepth == 0)
            return false;
        Level& level = top();
        if (level.mode == Mode::List)
            return false;
        const KeyEntry* entry = keyEntry(utf8);
        if (mLastKey != nullptr && entry->shared)
            const_cast<KeyEntry*>(mLastKey)->next = entry;
        mLastKey = entry->shared ? entry : nullptr;
        mCurrentKey = entry;
        // A repeated key keeps its first place and takes the last value.
        for (qsizetype i = 0; i < level.used; ++i) {
            Slot& slot = level.slots[std::size_t(i)];
            if (slot.key == &entry->text || (!entry->shared && sameKey(*slot.key, entry->text))) {
                slot.clear();
                level.target = i;
                return true;
            }
        }
        level.addSlot().key = &entry->text;
        level.target = level.used - 1;
        return true;
    }

    bool open(bool object)
    {
        if (mKeptDepth > 0) {
            ++mKeptDepth;
            return object ? mKept.startObject() : mKept.startArray();
        }
        if (mSkipDepth > 0) {
            ++mSkipDepth;
            return true;
        }
        if (mDepth == 0) {
            if (!object) {
                mSkipDepth = 1; // a root that is no dictionary holds no object
                return true;
            }
            push(Mode::Root, &RootId, nullptr);
            return true;
        }
        Level& parent = top();
        if (parent.mode == Mode::List) {
            const qsizetype index = parent.count++;
            if (index == 0)
                parent.objects = object;
            else if (index == 1 && parent.headPending)
                resolveHead(parent);
            if (!parent.objects) {
                mSkipDepth = 1; // a list of plain values keeps no containers
                return true;
            }
            const QString* id = parent.id;
            ClassInfo* info = parent.info;
            Level& level = push(object ? Mode::Object : Mode::List, id, info);
            level.head = object && index == 0;
            return true;
        }
        if (parent.target < 0 || mCurrentKey == nullptr)
            return false;
        const KeyEntry* key = mCurrentKey;
        if (key->objectClass == nullptr) {
            mKeptDepth = 1;
            return object ? mKept.startObject() : mKept.startArray();
        }
        push(object ? Mode::Object : Mode::List, &key->text, key->objectClass);
        return true;
    }

    bool close(bool object)
    {
        // Past the bound on objects nothing more is read.
        if (mDecoder.mTooManyObjects)
            return false;
        if (mKeptDepth > 0) {
            const bool ok = object ? mKept.endObject() : mKept.endArray();
            if (--mKeptDepth == 0) {
                Slot kept;
                kept.kind = SlotKind::Kept;
                kept.jsonType = object ? Value::Type::Dictionary : Value::Type::Array;
                kept.kept = mKept.take();
                deliver(std::move(kept));
            }
            return ok;
        }
        if (mSkipDepth > 0) {
            --mSkipDepth;
            return true;
        }
        if (mDepth == 0)
            return false;
        Level& level = top();
        --mDepth;
        switch (level.mode) {
        case Mode::Root:
            mRoot = std::make_unique<std::vector<Slot>>(level.takeSlots());
            return true;
        case Mode::Object:
            if (level.head && level.used == 1) {
                Level& list = top();
                list.headPending = true;
                list.headSlots = level.takeSlots();
                return true;
            }
            deliver(makeObject(level.slots.data(), level.used, level.info));
            level.clearSlots();
            return true;
        case Mode::List: {
            Slot made;
            const bool finished = finishList(level, made);
            level.items.clear();
            level.headSlots.clear();
            if (!finished) {
                mNeedsValues = true;
                return false;
            }
            deliver(std::move(made));
            return true;
        }
        }
        return false;
    }

    // The member a scalar fills, typed and cleared of its value; nullptr when the scalar
    // goes elsewhere (into a list: see listScalar) or nowhere.
    Slot* scalarSlot(Value::Type type)
    {
        mFailedTarget = false;
        mScalarList = nullptr;
        if (mSkipDepth > 0 || mDepth == 0)
            return nullptr;
        Level& level = top();
        if (level.mode == Mode::List) {
            mScalarList = &level;
            return nullptr;
        }
        if (level.target < 0) {
            mFailedTarget = true;
            return nullptr;
        }
        Slot& slot = level.slots[std::size_t(level.target)];
        slot.kind = type == Value::Type::Null ? SlotKind::Null : SlotKind::Scalar;
        slot.jsonType = type;
        return &slot;
    }

    // Counts a scalar as an element of the list scalarSlot found; true when the list keeps
    // it (mScalarList's items or scalars, by its first element).
    bool listScalar(Value::Type type)
    {
        if (mScalarList == nullptr)
            return false;
        Level& level = *mScalarList;
        const qsizetype index = level.count++;
        if (index == 0)
            level.objects = false;
        else if (index == 1 && level.headPending)
            resolveHead(level);
        // Among decoded elements only texts count; numbers, booleans and null are malformed
        // and left out. Plain lists keep texts, numbers and booleans.
        if (level.objects)
            return type == Value::Type::String;
        return type != Value::Type::Null;
    }

    // Hands what a dictionary or array made to where it stands.
    void deliver(Slot&& made)
    {
        if (mDepth == 0)
            return;
        Level& level = top();
        if (level.mode != Mode::List) {
            if (level.target < 0)
                return;
            Slot& slot = level.slots[std::size_t(level.target)];
            made.key = slot.key;
            slot = std::move(made);
            return;
        }
        addItem(level, std::move(made));
    }

    void addItem(Level& list, Slot&& made)
    {
        switch (made.kind) {
        case SlotKind::Decoded:
            // Elements that give nothing are malformed input; they are left out.
            if (!made.decoded.isNone())
                list.items.push_back(std::move(made.decoded));
            list.heights.merge(made.heights);
            return;
        case SlotKind::Failed:
            if (list.failure.isNull())
                list.failure = std::move(made.error);
            return;
        case SlotKind::Kept: {
            // A nested list's wrapped form around a plain value: decoded now, as the list
            // that holds it is being made.
            mDecoder.mError = Error();
            mDecoder.mTaken->clear();
            const CodedValue decoded = mDecoder.decodeKept(made.kept, *list.id);
            if (mDecoder.failed()) {
                if (list.failure.isNull())
                    list.failure = std::exchange(mDecoder.mError, Error());
                mDecoder.mError = Error();
                return;
            }
            if (!decoded.isNone())
                list.items.push_back(decoded);
            list.heights.merge(*mDecoder.mTaken);
            return;
        }
        case SlotKind::Null:
        case SlotKind::Scalar:
            return;
        }
    }

    void resolveHead(Level& list)
    {
        list.headPending = false;
        Slot made = makeObject(list.headSlots.data(), qsizetype(list.headSlots.size()), list.info);
        list.headSlots.clear();
        addItem(list, std::move(made));
    }

    // What decodeArray makes of the finished list; false for the wrapped form around a
    // container made already, which only Values can decode again.
    bool finishList(Level& list, Slot& made)
    {
        made.jsonType = Value::Type::Array;
        made.kind = SlotKind::Decoded;
        if (list.count == 0) {
            made.decoded = CodedValue(std::vector<CodedValue>());
            return true;
        }
        if (!list.objects) {
            made.decoded = CodedValue(Value(std::move(list.scalars)));
            list.scalars = ValueArray();
            return true;
        }
        if (list.headPending) {
            // [{"key": value}]: the old wrapped form; the list is the value's elements.
            Slot& inner = list.headSlots.front();
            switch (inner.kind) {
            case SlotKind::Null:
                made.decoded = CodedValue();
                return true;
            case SlotKind::Scalar: {
                std::vector<CodedValue> one;
                if (inner.jsonType == Value::Type::String)
                    one.emplace_back(inner.plain());
                made.decoded = CodedValue(std::move(one));
                return true;
            }
            case SlotKind::Kept: {
                ValueDictionary wrapper;
                wrapper.insert(*inner.key, std::move(inner.kept));
                made.kind = SlotKind::Kept;
                made.kept = Value(ValueArray{Value(std::move(wrapper))});
                return true;
            }
            case SlotKind::Decoded:
            case SlotKind::Failed:
                return false;
            }
        }
        if (!list.failure.isNull()) {
            made.kind = SlotKind::Failed;
            made.error = std::move(list.failure);
            return true;
        }
        // Exactly sized: the list lives on in its parent until the parent is made.
        std::vector<CodedValue> items;
        items.reserve(list.items.size());
        std::move(list.items.begin(), list.items.end(), std::back_inserter(items));
        list.items.clear();
        made.decoded = CodedValue(std::move(items));
        made.heights = list.heights;
        return true;
    }

    // The object a dictionary's members make: by the class its "@class" names, else by the
    // class of its key.
    Slot makeObject(const Slot* slots, qsizetype count, ClassInfo* info)
    {
        Slot made;
        made.jsonType = Value::Type::Dictionary;
        for (qsizetype i = 0; i < count; ++i) {
            const Slot& slot = slots[i];
            if (!sameKey(*slot.key, ClassKey))
                continue;
            const bool text = slot.kind == SlotKind::Scalar && slot.jsonType == Value::Type::String;
            info = text ? mDecoder.classForClassName(slot.text) : nullptr;
            if (info == nullptr) {
                made.kind = SlotKind::Failed;
                made.error = Error(ErrorDomain, UnknownClass,
                                   QStringLiteral("\"@class\" names no known class: %1")
                                       .arg(text ? slot.text : Value::typeName(slot.jsonType)));
                return made;
            }
            break;
        }
        made.kind = SlotKind::Decoded;
        if (info == nullptr)
            return made; // nothing: no class for the key
        JSONDecoder& decoder = mDecoder;
        if (!decoder.countObject(*info)) {
            made.kind = SlotKind::Failed;
            made.error = decoder.mError;
            return made;
        }
        decoder.mSlots = slots;
        decoder.mSlotCount = count;
        decoder.mTaken->clear();
        decoder.mError = Error();
        info->nesting = 1;
        CodablePtr object;
        try {
            object = (*info->factory)(decoder);
        } catch (const std::exception& exception) {
            decoder.fail(DecodingFailed,
                         QStringLiteral("Decoding failed: ") + QString::fromLocal8Bit(exception.what()));
        } catch (...) {
            decoder.fail(DecodingFailed, QStringLiteral("Decoding failed"));
        }
        info->nesting = 0;
        decoder.mSlots = nullptr;
        decoder.mSlotCount = 0;
        if (decoder.failed()) {
            made.kind = SlotKind::Failed;
            made.error = std::exchange(decoder.mError, Error());
            return made;
        }
        made.heights = *decoder.mTaken;
        const int height = made.heights.of(info) + 1;
        if (height > decoder.mMaxClassNesting) {
            made.kind = SlotKind::Failed;
            made.error = Error(ErrorDomain, TooDeep,
                               QStringLiteral("%1 objects nested deeper than %2 levels")
                                   .arg(info->name)
                                   .arg(decoder.mMaxClassNesting));
            return made;
        }
        made.heights.raise(info, height);
        made.decoded = CodedValue(std::move(object));
        return made;
    }

    JSONDecoder& mDecoder;
    KeyStore& mKeys;
    std::deque<Level> mLevels; // reused by depth; a deque keeps references to them valid
    std::size_t mDepth = 0;
    const KeyEntry* mCurrentKey = nullptr;
    const KeyEntry* mLastKey = nullptr;
    JsonValueBuilder mKept; // the container being kept as a Value
    int mKeptDepth = 0;
    int mSkipDepth = 0; // the container being read past
    std::unique_ptr<std::vector<Slot>> mRoot;
    bool mNeedsValues = false;
    Level* mScalarList = nullptr; // the list the current scalar belongs to
    bool mFailedTarget = false;   // a scalar with no member to fill: the text is malformed
};

// ---- Construction

JSONDecoder::JSONDecoder(const QByteArray& json)
{
    auto parsed = JsonText::parse(json, JsonText::DefaultMaxDepth);
    if (!parsed.ok()) {
        parseFailed(parsed.error());
        return;
    }
    mRoot = std::move(parsed).value();
    mValid = true;
    mJsonObjectStack.push_back(Frame{&mRoot, RootId});
}

JSONDecoder::JSONDecoder(Value root) : mRoot(std::move(root)), mValid(true)
{
    mJsonObjectStack.push_back(Frame{&mRoot, RootId});
}

JSONDecoder::JSONDecoder(const QByteArray& json, const TextOptions& options)
{
    const JsonText::ReadOptions read = options.readOptions();
    readText([&](JsonHandler& handler) { return JsonText::read(json, handler, read); }, options);
}

JSONDecoder::JSONDecoder(JsonSource& source, const TextOptions& options)
{
    const JsonText::ReadOptions read = options.readOptions();
    bool first = true;
    readText(
        [&](JsonHandler& handler) -> Status {
            if (!first && !source.rewind())
                return Error(ErrorDomain, ParseFailed, QStringLiteral("The JSON text cannot be read again"));
            first = false;
            return JsonText::read(source, handler, read);
        },
        options);
}

JSONDecoder::~JSONDecoder() = default;

void JSONDecoder::readText(const std::function<Status(JsonHandler&)>& read, const TextOptions& options)
{
    mMaxClassNesting = std::max(1, options.maxClassNesting);
    mMaxObjectsOfAClass = std::max<qint64>(0, options.maxObjectsOfAClass);
    for (const auto& [key, className] : options.aliases)
        mMappingClasses.insert(key, className);
    mTaken = std::make_unique<Heights>();
    mKeys = std::make_unique<KeyStore>();
    Status status;
    bool needsValues = false;
    {
        TextReader reader(*this);
        status = read(reader);
        needsValues = reader.needsValues();
        if (status.ok()) {
            mRootSlots = reader.takeRoot();
            if (mRootSlots) {
                mSlots = mRootSlots->data();
                mSlotCount = qsizetype(mRootSlots->size());
            }
            mFromText = true;
            mValid = true;
            return;
        }
    }
    if (mTooManyObjects)
        return; // the error says so; no second reading
    mError = Error();
    // The values are decoded from the start: their objects are counted afresh.
    for (const auto& info : std::as_const(mClasses))
        info->made = 0;
    if (needsValues) {
        JsonValueBuilder builder;
        status = read(builder);
        if (status.ok()) {
            mRoot = builder.take();
            mValid = true;
            mJsonObjectStack.push_back(Frame{&mRoot, RootId});
            return;
        }
    }
    parseFailed(status.error());
}

void JSONDecoder::parseFailed(const Error& parseError)
{
    // The platform's line for text that is no JSON; a source that failed says so itself.
    if (parseError.domain() == JsonText::ErrorDomain)
        Log::error(QStringLiteral("NSJSONSerialization: Error ") + describeUserInfo(parseError.userInfo()));
    QVariantMap info;
    info.insert(Error::UnderlyingErrorKey, parseError.toString());
    fail(ParseFailed, QStringLiteral("The JSON text is not readable: ") + parseError.localizedDescription(),
         info);
}

CodedValue JSONDecoder::decodeWithData(const QByteArray& json)
{
    JSONDecoder decoder(json);
    if (!decoder.isValid())
        return CodedValue();
    CodedValue result = decoder.decodeObject();
    return decoder.failed() ? CodedValue() : result;
}

void JSONDecoder::addAlias(const QString& key, const QString& className)
{
    mMappingClasses.insert(key, className);
    mClassCache.clear();
    mLastKey = QString();
    mLastClass = nullptr;
}

bool JSONDecoder::countObject(ClassInfo& info)
{
    if (mMaxObjectsOfAClass == 0 || ++info.made <= mMaxObjectsOfAClass)
        return true;
    // The cause of everything after it, whatever failed before.
    mTooManyObjects = true;
    mError = Error(ErrorDomain, TooManyObjects,
                   QStringLiteral("More than %1 %2 objects").arg(mMaxObjectsOfAClass).arg(info.name));
    return false;
}

void JSONDecoder::setMaxClassNesting(int levels)
{
    mMaxClassNesting = std::max(1, levels);
}

void JSONDecoder::fail(int code, const QString& text, const QVariantMap& userInfo)
{
    // The first failure is the cause; later ones are its consequences.
    if (mError.isNull())
        mError = Error(ErrorDomain, code, text, userInfo);
}

JSONDecoder::ClassInfo* JSONDecoder::registeredClass(const QString& name)
{
    if (name.isEmpty())
        return nullptr;
    const auto known = mClasses.constFind(name);
    if (known != mClasses.constEnd())
        return known->get();
    auto factory = CodableRegistry::factory(name);
    if (!factory)
        return nullptr;
    auto info = std::make_shared<ClassInfo>(ClassInfo{name, std::move(factory), 0, 0});
    mClasses.insert(name, info);
    return info.get();
}

JSONDecoder::ClassInfo* JSONDecoder::classForKey(const QString& key)
{
    // Keys are interned by the parser and ids are copies of them, so the same key usually
    // shares its characters with the last one.
    if (key.constData() == mLastKey.constData() && key.size() == mLastKey.size() && !mLastKey.isNull())
        return mLastClass;
    ClassInfo* info = nullptr;
    const auto cached = mClassCache.constFind(key);
    if (cached != mClassCache.constEnd()) {
        info = *cached;
    } else {
        const QString alias = mMappingClasses.value(key);
        info = registeredClass(alias);
        if (info == nullptr)
            info = registeredClass(StringAdditions::capitalizeFirstLetterString(key));
        mClassCache.insert(key, info);
    }
    mLastKey = key;
    mLastClass = info;
    return info;
}

JSONDecoder::ClassInfo* JSONDecoder::classForClassName(const QString& name)
{
    if (ClassInfo* info = registeredClass(name))
        return info;
    return classForKey(name);
}

bool JSONDecoder::push(const Value& value, const QString& id)
{
    if (mJsonObjectStack.size() >= MaxStackDepth) {
        fail(TooDeep, QStringLiteral("Values nested deeper than %1 levels").arg(MaxStackDepth));
        return false;
    }
    mJsonObjectStack.push_back(Frame{&value, id});
    return true;
}

const Value* JSONDecoder::lookup(const QString& key) const
{
    if (failed() || mJsonObjectStack.empty())
        return nullptr;
    const Value* value = mJsonObjectStack.back().value->toDictionary().find(key);
    if (value == nullptr || value->isNull())
        return nullptr;
    return value;
}

const JSONDecoder::Slot* JSONDecoder::slotFor(const QString& key) const
{
    if (failed() || mSlots == nullptr || !mJsonObjectStack.empty())
        return nullptr;
    for (qsizetype i = 0; i < mSlotCount; ++i) {
        const Slot& slot = mSlots[i];
        if (sameKey(*slot.key, key))
            return slot.kind == SlotKind::Null ? nullptr : &slot;
    }
    return nullptr;
}

// ---- Decoding from Values

CodedValue JSONDecoder::decodeObject()
{
    try {
        if (mFromText) {
            if (failed())
                return CodedValue();
            if (!mRootSlots || mRootSlots->empty()) {
                fail(NoRootObject, QStringLiteral("The JSON text holds no object"));
                return CodedValue();
            }
            const Slot& first = mRootSlots->front();
            CodedValue result;
            switch (first.kind) {
            case SlotKind::Decoded:
                result = first.decoded;
                break;
            case SlotKind::Failed:
                if (mError.isNull())
                    mError = first.error;
                break;
            case SlotKind::Kept:
                result = decodeKept(first.kept, *first.key);
                break;
            case SlotKind::Scalar:
                if (first.jsonType == Value::Type::String)
                    result = CodedValue(first.plain());
                break;
            case SlotKind::Null:
                break;
            }
            if (result.isNone())
                fail(NoRootObject, QStringLiteral("The root key \"%1\" gives no object").arg(*first.key));
            return failed() ? CodedValue() : result;
        }
        return decodeCurrent();
    } catch (const std::exception& exception) {
        fail(DecodingFailed, QStringLiteral("Decoding failed: ") + QString::fromLocal8Bit(exception.what()));
    } catch (...) {
        fail(DecodingFailed, QStringLiteral("Decoding failed"));
    }
    return CodedValue();
}

CodedValue JSONDecoder::decodeCurrent()
{
    if (failed() || mJsonObjectStack.empty())
        return CodedValue();

    if (mJsonObjectStack.back().value == &mRoot && mJsonObjectStack.back().id == RootId) {
        // The root dictionary's first key names the class of the document's object. (Only
        // the parsed document itself: a stored key "root" is a key like any other.)
        const Value* root = mJsonObjectStack.back().value;
        mJsonObjectStack.pop_back();
        if (!root->isDictionary() || root->size() == 0) {
            fail(NoRootObject, QStringLiteral("The JSON text holds no object"));
            return CodedValue();
        }
        const auto& entry = root->toDictionary().entryAt(0);
        mJsonObjectStack.push_back(Frame{&entry.second, entry.first});
        CodedValue result = decodeCurrent();
        if (result.isNone())
            fail(NoRootObject, QStringLiteral("The root key \"%1\" gives no object").arg(entry.first));
        return result;
    }

    const Value& value = *mJsonObjectStack.back().value;
    const QString id = mJsonObjectStack.back().id;
    switch (value.type()) {
    case Value::Type::Dictionary: {
        if (const Value* named = value.toDictionary().find(ClassKey)) {
            ClassInfo* info = named->isString() ? classForClassName(named->toString()) : nullptr;
            if (info == nullptr) {
                fail(UnknownClass,
                     QStringLiteral("\"@class\" names no known class: %1")
                         .arg(named->isString() ? named->toString() : Value::typeName(named->type())));
                return CodedValue();
            }
            return make(*info);
        }
        if (id == PlainObjectId)
            return CodedValue(value);
        ClassInfo* info = classForKey(id);
        if (info == nullptr)
            return CodedValue();
        return make(*info);
    }
    case Value::Type::Array:
        return decodeArray(classForKey(id));
    case Value::Type::String:
        return CodedValue(value);
    default:
        // A number, boolean or null among decoded elements: malformed, read as nothing.
        return CodedValue();
    }
}

CodedValue JSONDecoder::make(ClassInfo& info)
{
    if (info.nesting >= mMaxClassNesting) {
        fail(TooDeep,
             QStringLiteral("%1 objects nested deeper than %2 levels").arg(info.name).arg(mMaxClassNesting));
        return CodedValue();
    }
    if (!countObject(info))
        return CodedValue();
    ++info.nesting;
    info.deepest = std::max(info.deepest, info.nesting);
    CodablePtr object = (*info.factory)(*this);
    --info.nesting;
    if (failed())
        return CodedValue();
    return CodedValue(std::move(object));
}

CodedValue JSONDecoder::decodeElement(const Value& element, const QString& id)
{
    if (!push(element, id))
        return CodedValue();
    CodedValue result = decodeCurrent();
    mJsonObjectStack.pop_back();
    return result;
}

CodedValue JSONDecoder::decodeArray(ClassInfo* itemClass)
{
    const ValueArray& array = mJsonObjectStack.back().value->toArray();
    const QString id = mJsonObjectStack.back().id;
    if (array.empty())
        return CodedValue(std::vector<CodedValue>());

    const Value& first = array.front();
    if (!first.isDictionary()) {
        ValueArray plain;
        for (const Value& element : array) {
            if (element.isString() || element.isNumber() || element.isBool())
                plain.push_back(element);
        }
        return CodedValue(Value(std::move(plain)));
    }

    const ValueDictionary& head = first.toDictionary();
    const bool idNamesClass = itemClass != nullptr;
    // The old wrapped form, [{"key": [elements]}]: only for a single element, so that a
    // longer list whose first element happens to have one key keeps all its elements.
    bool unwrap = false;
    QString wrapperKey;
    if (array.size() == 1 && head.size() == 1) {
        wrapperKey = head.firstKey();
        unwrap = idNamesClass || wrapperKey == stringKey() || classForKey(wrapperKey) != nullptr;
    }

    std::vector<CodedValue> decoded;
    const auto take = [&](const Value& element, const QString& elementId) {
        CodedValue result = decodeElement(element, elementId);
        // Elements that give nothing are malformed input; they are left out.
        if (!result.isNone())
            decoded.push_back(std::move(result));
    };
    if (!unwrap) {
        decoded.reserve(array.size());
        const QString& elementId = idNamesClass ? id : PlainObjectId;
        for (const Value& element : array) {
            take(element, elementId);
            if (failed())
                return CodedValue();
        }
        return CodedValue(std::move(decoded));
    }

    const Value& inner = head.value(wrapperKey);
    if (inner.isNull())
        return CodedValue();
    const QString elementId = idNamesClass ? id : wrapperKey;
    if (inner.isArray()) {
        decoded.reserve(inner.toArray().size());
        for (const Value& element : inner.toArray()) {
            take(element, elementId);
            if (failed())
                return CodedValue();
        }
    } else {
        take(inner, elementId);
    }
    if (failed())
        return CodedValue();
    return CodedValue(std::move(decoded));
}

CodedValue JSONDecoder::decodeKept(const Value& value, const QString& id)
{
    // The counts now are the objects being made around this read; what it reaches beyond
    // them is how deep its objects go.
    for (const auto& info : std::as_const(mClasses))
        info->deepest = info->nesting;
    CodedValue result;
    try {
        result = decodeElement(value, id);
    } catch (const std::exception& exception) {
        fail(DecodingFailed, QStringLiteral("Decoding failed: ") + QString::fromLocal8Bit(exception.what()));
    } catch (...) {
        fail(DecodingFailed, QStringLiteral("Decoding failed"));
    }
    if (mTaken) {
        for (const auto& info : std::as_const(mClasses)) {
            if (info->deepest > info->nesting)
                mTaken->raise(info.get(), info->deepest - info->nesting);
        }
    }
    return result;
}

// ---- Keyed reads

bool JSONDecoder::containsValueForKey(const QString& key) const
{
    if (mSlots != nullptr && mJsonObjectStack.empty())
        return slotFor(key) != nullptr;
    return lookup(key) != nullptr;
}

CodedValue JSONDecoder::decodeObjectForKey(const QString& key)
{
    try {
        if (mSlots != nullptr && mJsonObjectStack.empty()) {
            const Slot* slot = slotFor(key);
            if (slot == nullptr)
                return CodedValue();
            switch (slot->kind) {
            case SlotKind::Scalar:
                return CodedValue(slot->plain());
            case SlotKind::Decoded:
                mTaken->merge(slot->heights);
                return slot->decoded;
            case SlotKind::Failed:
                if (mError.isNull())
                    mError = slot->error;
                return CodedValue();
            case SlotKind::Kept: {
                // The read may decode further members' values: keep this one's key alive.
                const Value kept = slot->kept;
                const QString id = *slot->key;
                return decodeKept(kept, id);
            }
            case SlotKind::Null:
                return CodedValue();
            }
            return CodedValue();
        }
        const Value* value = lookup(key);
        if (value == nullptr)
            return CodedValue();
        if (value->isString() || value->isNumber() || value->isBool())
            return CodedValue(*value);
        return decodeElement(*value, key);
    } catch (const std::exception& exception) {
        fail(DecodingFailed, QStringLiteral("Decoding failed: ") + QString::fromLocal8Bit(exception.what()));
    } catch (...) {
        fail(DecodingFailed, QStringLiteral("Decoding failed"));
    }
    return CodedValue();
}

std::optional<QString> JSONDecoder::decodeStringForKey(const QString& key)
{
    if (mSlots != nullptr && mJsonObjectStack.empty()) {
        // Texts read while the text went by are exactly sized copies already.
        const Slot* slot = slotFor(key);
        if (slot == nullptr || slot->jsonType != Value::Type::String || slot->kind != SlotKind::Scalar)
            return std::nullopt;
        return slot->text;
    }
    const Value* value = lookup(key);
    if (value == nullptr || !value->isString())
        return std::nullopt;
    const QString shared = value->toString();
    if (shared.isNull())
        return shared;
    return QString(shared.constData(), shared.size());
}

QByteArray JSONDecoder::decodeDataForKey(const QString& key)
{
    const std::optional<QString> text = decodeStringForKey(key);
    if (!text)
        return QByteArray();
    QByteArray data = Base64::decode(*text);
    if (data.isNull())
        data = QByteArray("", 0); // stored empty data is data, not "missing"
    return data;
}

std::optional<QDateTime> JSONDecoder::decodeDateForKey(const QString& key)
{
    const std::optional<QString> text = decodeStringForKey(key);
    if (!text)
        return std::nullopt;
    return DateText::parse(*text);
}

QByteArray JSONDecoder::decodeDataObject()
{
    return QByteArray();
}

Value JSONDecoder::plainValue(const Slot* slot)
{
    // A member's scalar, or its kept container (which reads as no number); nothing for what
    // was made already.
    return slot == nullptr ? Value() : slot->plain();
}

bool JSONDecoder::decodeBoolForKey(const QString& key)
{
    if (mSlots != nullptr && mJsonObjectStack.empty()) {
        const Slot* slot = slotFor(key);
        const Value plain = plainValue(slot);
        return boolFromValue(plain.isNull() ? nullptr : &plain);
    }
    return boolFromValue(lookup(key));
}

qint32 JSONDecoder::decodeIntForKey(const QString& key)
{
    if (mSlots != nullptr && mJsonObjectStack.empty()) {
        const Slot* slot = slotFor(key);
        const Value plain = plainValue(slot);
        return int32FromValue(plain.isNull() ? nullptr : &plain);
    }
    return int32FromValue(lookup(key));
}

qint64 JSONDecoder::decodeInt64ForKey(const QString& key)
{
    if (mSlots != nullptr && mJsonObjectStack.empty()) {
        const Slot* slot = slotFor(key);
        const Value plain = plainValue(slot);
        return int64FromValue(plain.isNull() ? nullptr : &plain);
    }
    return int64FromValue(lookup(key));
}

float JSONDecoder::decodeFloatForKey(const QString& key)
{
    const double number = decodeDoubleForKey(key);
    if (std::fabs(number) > double(std::numeric_limits<float>::max()))
        return 0.0f;
    return float(number);
}

double JSONDecoder::decodeDoubleForKey(const QString& key)
{
    if (mSlots != nullptr && mJsonObjectStack.empty()) {
        const Slot* slot = slotFor(key);
        const Value plain = plainValue(slot);
        return doubleFromValue(plain.isNull() ? nullptr : &plain);
    }
    return doubleFromValue(lookup(key));
}

} // namespace corvex
