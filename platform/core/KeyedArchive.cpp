#include "platform/core/KeyedArchive.h"

#include <algorithm>
#include <limits>
#include <new>
#include <unordered_map>
#include <unordered_set>

namespace corvex {

// ---------------------------------------------------------------------------------------
// ArchivedValue

ArchivedValue::ArchivedValue(const Value& value)
{
    switch (value.type()) {
    case Value::Type::Null:
        break;
    case Value::Type::Array: {
        ArchivedArray array;
        array.reserve(value.toArray().size());
        for (const Value& element : value.toArray())
            array.emplace_back(element);
        mData = std::make_shared<const ArchivedArray>(std::move(array));
        break;
    }
    case Value::Type::Dictionary: {
        ArchivedDictionary dictionary;
        for (const auto& [key, element] : value.toDictionary())
            dictionary.insert(key, ArchivedValue(element));
        mData = std::make_shared<const ArchivedDictionary>(std::move(dictionary));
        break;
    }
    case Value::Type::Date:
        if (value.toDate().isValid())
            mData = value;
        break;
    default:
        mData = value;
        break;
    }
}

ArchivedValue::ArchivedValue(const QDateTime& value)
{
    if (value.isValid())
        mData = Value(value);
}

ArchivedValue::ArchivedValue(std::shared_ptr<ArchivedObject> object)
{
    if (object)
        mData = std::move(object);
}

ArchivedValue::ArchivedValue(ArchivedArray array)
    : mData(std::make_shared<const ArchivedArray>(std::move(array)))
{}

ArchivedValue::ArchivedValue(ArchivedDictionary dictionary)
    : mData(std::make_shared<const ArchivedDictionary>(std::move(dictionary)))
{}

ArchivedValue::Kind ArchivedValue::kind() const
{
    switch (mData.index()) {
    case 0:
        return Kind::Nil;
    case 1:
        switch (std::get<Value>(mData).type()) {
        case Value::Type::String:
            return Kind::String;
        case Value::Type::Integer:
            return Kind::Integer;
        case Value::Type::Real:
            return Kind::Real;
        case Value::Type::Bool:
            return Kind::Bool;
        case Value::Type::Data:
            return Kind::Data;
        case Value::Type::Date:
            return Kind::Date;
        default:
            return Kind::Nil; // never stored: the constructors convert these
        }
    case 2:
        return Kind::Object;
    case 3:
        return Kind::Array;
    default:
        return Kind::Dictionary;
    }
}

QString ArchivedValue::kindName(Kind kind)
{
    switch (kind) {
    case Kind::Nil:
        return QStringLiteral("nil");
    case Kind::String:
        return QStringLiteral("string");
    case Kind::Integer:
        return QStringLiteral("integer");
    case Kind::Real:
        return QStringLiteral("real");
    case Kind::Bool:
        return QStringLiteral("bool");
    case Kind::Data:
        return QStringLiteral("data");
    case Kind::Date:
        return QStringLiteral("date");
    case Kind::Object:
        return QStringLiteral("object");
    case Kind::Array:
        return QStringLiteral("array");
    case Kind::Dictionary:
        return QStringLiteral("dictionary");
    }
    return QString();
}

const Value& ArchivedValue::primitive() const
{
    if (const Value* value = std::get_if<Value>(&mData))
        return *value;
    return Value::null();
}

const std::shared_ptr<ArchivedObject>& ArchivedValue::object() const
{
    static const std::shared_ptr<ArchivedObject> none;
    if (const auto* object = std::get_if<std::shared_ptr<ArchivedObject>>(&mData))
        return *object;
    return none;
}

const ArchivedArray& ArchivedValue::toArray() const
{
    static const ArchivedArray empty;
    if (const auto* array = std::get_if<std::shared_ptr<const ArchivedArray>>(&mData))
        return **array;
    return empty;
}

const ArchivedDictionary& ArchivedValue::toDictionary() const
{
    static const ArchivedDictionary empty;
    if (const auto* dictionary = std::get_if<std::shared_ptr<const ArchivedDictionary>>(&mData))
        return **dictionary;
    return empty;
}

const ArchivedValue& ArchivedValue::nil()
{
    static const ArchivedValue nilValue;
    return nilValue;
}

bool operator==(const ArchivedValue& a, const ArchivedValue& b)
{
    if (a.mData.index() != b.mData.index())
        return false;
    switch (a.mData.index()) {
    case 0:
        return true;
    case 1:
        return std::get<Value>(a.mData) == std::get<Value>(b.mData);
    case 2: {
        const auto& x = std::get<std::shared_ptr<ArchivedObject>>(a.mData);
        const auto& y = std::get<std::shared_ptr<ArchivedObject>>(b.mData);
        return x == y || (x->className() == y->className() && x->classes() == y->classes() &&
                          x->values() == y->values());
    }
    case 3: {
        const auto& x = std::get<std::shared_ptr<const ArchivedArray>>(a.mData);
        const auto& y = std::get<std::shared_ptr<const ArchivedArray>>(b.mData);
        return x == y || *x == *y;
    }
    default: {
        const auto& x = std::get<std::shared_ptr<const ArchivedDictionary>>(a.mData);
        const auto& y = std::get<std::shared_ptr<const ArchivedDictionary>>(b.mData);
        return x == y || *x == *y;
    }
    }
}

// ---------------------------------------------------------------------------------------
// ArchivedObject

ArchivedObject::ArchivedObject(QString className, QStringList classes)
    : mClassName(std::move(className)), mClasses(std::move(classes))
{
    if (mClasses.isEmpty())
        mClasses = QStringList{mClassName, QStringLiteral("NSObject")};
}

std::shared_ptr<ArchivedObject> ArchivedObject::create(QString className, QStringList classes)
{
    return std::make_shared<ArchivedObject>(std::move(className), std::move(classes));
}

// ---------------------------------------------------------------------------------------
// KeyedArchive

const QString KeyedArchive::ErrorDomain = QStringLiteral("com.tallowfen.corvex.keyedarchive");

namespace {

const QString ArchiverKey = QStringLiteral("$archiver");
const QString VersionKey = QStringLiteral("$version");
const QString TopKey = QStringLiteral("$top");
const QString ObjectsKey = QStringLiteral("$objects");
const QString ClassKey = QStringLiteral("$class");
const QString ClassNameKey = QStringLiteral("$classname");
const QString ClassesKey = QStringLiteral("$classes");
const QString NullEntry = QStringLiteral("$null");
const QString ArchiverName = QStringLiteral("NSKeyedArchiver");
constexpr qint64 ArchiveVersion = 100000;

const QString ObjectsField = QStringLiteral("NS.objects");
const QString KeysField = QStringLiteral("NS.keys");
const QString TimeField = QStringLiteral("NS.time");
const QString StringField = QStringLiteral("NS.string");
const QString BytesField = QStringLiteral("NS.bytes");
const QString DataField = QStringLiteral("NS.data");

Error archiveError(KeyedArchive::ErrorCode code, const QString& text)
{
    return Error(KeyedArchive::ErrorDomain, code, text);
}

// Writes the graph depth-first: an object takes its UID before its values, as the
// platform's archiver numbers them. Objects, arrays and dictionaries used in several places
// are written once. Depth is counted as the reader counts it (objects, arrays, dictionaries
// and dates open at once, a shared one at every use), so whatever is written reads back.
class Archiver
{
public:
    explicit Archiver(int maxDepth) : mMaxDepth(maxDepth) { mObjects.emplace_back(NullEntry); }

    Result<QByteArray> run(const ArchivedTop& top);

private:
    struct Written
    {
        quint64 uid;
        int height; // composites along the tallest path, this one included
    };

    bool fail(KeyedArchive::ErrorCode code, const QString& text)
    {
        if (mError.isNull())
            mError = archiveError(code, text);
        return false;
    }
    bool fits(int depth, int height)
    {
        return depth + height <= mMaxDepth ||
               fail(KeyedArchive::TooDeep, QStringLiteral("Objects nest deeper than %1").arg(mMaxDepth));
    }

    // The form under a key: numbers and bools inline, anything else a UID.
    bool keyed(const ArchivedValue& value, int depth, PlistValue& out, int& height);
    bool reference(const ArchivedValue& value, int depth, quint64& uid, int& height);
    bool composite(const ArchivedValue& value, int depth, quint64& uid, int& height);
    quint64 add(PlistValue entry);
    quint64 classUid(const QString& name, const QStringList& classes);

    int mMaxDepth;
    PlistArray mObjects;
    QHash<QString, quint64> mStrings;
    QHash<QString, quint64> mClasses;
    std::unordered_map<const void*, Written> mDone; // objects, arrays and dictionaries by address
    std::unordered_set<const ArchivedObject*> mOpen;
    Error mError;
};

quint64 Archiver::add(PlistValue entry)
{
    mObjects.push_back(std::move(entry));
    return mObjects.size() - 1;
}

quint64 Archiver::classUid(const QString& name, const QStringList& classes)
{
    const auto found = mClasses.constFind(name);
    if (found != mClasses.constEnd())
        return found.value();
    PlistArray hierarchy;
    for (const QString& entry : classes)
        hierarchy.emplace_back(entry);
    const quint64 uid =
        add(PlistDictionary{{ClassNameKey, name}, {ClassesKey, PlistValue(std::move(hierarchy))}});
    mClasses.insert(name, uid);
    return uid;
}

bool Archiver::keyed(const ArchivedValue& value, int depth, PlistValue& out, int& height)
{
    height = 0;
    switch (value.kind()) {
    case ArchivedValue::Kind::Integer:
        out = PlistValue(value.toInteger());
        return true;
    case ArchivedValue::Kind::Real:
        out = PlistValue(value.toReal());
        return true;
    case ArchivedValue::Kind::Bool:
        out = PlistValue(value.toBool());
        return true;
    default: {
        quint64 uid = 0;
        if (!reference(value, depth, uid, height))
            return false;
        out = PlistValue::uid(uid);
        return true;
    }
    }
}

bool Archiver::reference(const ArchivedValue& value, int depth, quint64& uid, int& height)
{
    height = 0;
    switch (value.kind()) {
    case ArchivedValue::Kind::Nil:
        uid = 0;
        return true;
    case ArchivedValue::Kind::String: {
        const QString text = value.toString();
        const auto found = mStrings.constFind(text);
        if (found != mStrings.constEnd()) {
            uid = found.value();
        } else {
            uid = add(PlistValue(text));
            mStrings.insert(text, uid);
        }
        return true;
    }
    case ArchivedValue::Kind::Integer:
        uid = add(PlistValue(value.toInteger()));
        return true;
    case ArchivedValue::Kind::Real:
        uid = add(PlistValue(value.toReal()));
        return true;
    case ArchivedValue::Kind::Bool:
        uid = add(PlistValue(value.toBool()));
        return true;
    case ArchivedValue::Kind::Data:
        uid = add(PlistValue(value.toData()));
        return true;
    case ArchivedValue::Kind::Date: {
        height = 1;
        if (!fits(depth, 1))
            return false;
        const quint64 classId =
            classUid(QStringLiteral("NSDate"), {QStringLiteral("NSDate"), QStringLiteral("NSObject")});
        uid = add(PlistDictionary{{ClassKey, PlistValue::uid(classId)},
                                  {TimeField, PlistValue::secondsFromDateTime(value.toDate())}});
        return true;
    }
    case ArchivedValue::Kind::Object:
    case ArchivedValue::Kind::Array:
    case ArchivedValue::Kind::Dictionary: {
        const void* identity = value.isObject()  ? static_cast<const void*>(value.object().get())
                               : value.isArray() ? static_cast<const void*>(&value.toArray())
                                                 : static_cast<const void*>(&value.toDictionary());
        if (const auto done = mDone.find(identity); done != mDone.end()) {
            uid = done->second.uid;
            height = done->second.height;
            return fits(depth, height);
        }
        if (!fits(depth, 1) || !composite(value, depth, uid, height))
            return false;
        mDone.emplace(identity, Written{uid, height});
        return true;
    }
    }
    return true;
}

// An object, array or dictionary met for the first time.
bool Archiver::composite(const ArchivedValue& value, int depth, quint64& uid, int& height)
{
    const int inner = depth + 1;
    int childHeight = 0;
    height = 1;
    if (value.isArray()) {
        uid = add(PlistValue());
        const quint64 classId =
            classUid(QStringLiteral("NSArray"), {QStringLiteral("NSArray"), QStringLiteral("NSObject")});
        PlistArray elements;
        elements.reserve(value.toArray().size());
        for (const ArchivedValue& element : value.toArray()) {
            quint64 elementUid = 0;
            if (!reference(element, inner, elementUid, childHeight))
                return false;
            height = std::max(height, childHeight + 1);
            elements.push_back(PlistValue::uid(elementUid));
        }
        mObjects[uid] =
            PlistDictionary{{ClassKey, PlistValue::uid(classId)}, {ObjectsField, std::move(elements)}};
        return true;
    }
    if (value.isDictionary()) {
        uid = add(PlistValue());
        const quint64 classId = classUid(QStringLiteral("NSDictionary"),
                                         {QStringLiteral("NSDictionary"), QStringLiteral("NSObject")});
        PlistArray keys;
        PlistArray objects;
        for (const auto& [key, element] : value.toDictionary()) {
            quint64 keyUid = 0;
            quint64 elementUid = 0;
            if (!reference(ArchivedValue(key), inner, keyUid, childHeight) ||
                !reference(element, inner, elementUid, childHeight))
                return false;
            height = std::max(height, childHeight + 1);
            keys.push_back(PlistValue::uid(keyUid));
            objects.push_back(PlistValue::uid(elementUid));
        }
        mObjects[uid] = PlistDictionary{{ClassKey, PlistValue::uid(classId)},
                                        {KeysField, std::move(keys)},
                                        {ObjectsField, std::move(objects)}};
        return true;
    }

    const ArchivedObject* object = value.object().get();
    if (mOpen.count(object))
        return fail(KeyedArchive::CircularReference,
                    QStringLiteral("Found circular reference for %1").arg(object->className()));
    if (object->className().isEmpty())
        return fail(KeyedArchive::InvalidValue, QStringLiteral("An object without a class name"));
    if (object->contains(ClassKey))
        return fail(
            KeyedArchive::InvalidValue,
            QStringLiteral("An object of class %1 uses the reserved key $class").arg(object->className()));
    mOpen.insert(object);
    uid = add(PlistValue());
    PlistDictionary entry;
    entry.insert(ClassKey, PlistValue::uid(classUid(object->className(), object->classes())));
    for (const auto& [key, element] : object->values()) {
        PlistValue form;
        if (!keyed(element, inner, form, childHeight))
            return false;
        height = std::max(height, childHeight + 1);
        entry.insert(key, std::move(form));
    }
    mObjects[uid] = std::move(entry);
    mOpen.erase(object);
    return true;
}

Result<QByteArray> Archiver::run(const ArchivedTop& top)
{
    PlistDictionary topEntries;
    for (const auto& [key, value] : top) {
        PlistValue form;
        int height = 0;
        if (!keyed(value, 0, form, height))
            return mError;
        topEntries.insert(key, std::move(form));
    }
    const PlistValue root(PlistDictionary{{VersionKey, ArchiveVersion},
                                          {ArchiverKey, ArchiverName},
                                          {TopKey, std::move(topEntries)},
                                          {ObjectsKey, std::move(mObjects)}});
    return BinaryPropertyList::write(root);
}

// Resolves UIDs recursively; the recursion is bounded by maxDepth. Each "$objects" entry is
// decoded once and its result shared by every later use.
class Unarchiver
{
public:
    Unarchiver(const PlistArray& objects, const KeyedArchive::Limits& limits)
        : mObjects(objects), mLimits(limits), mState(objects.size(), 0)
    {}

    Result<ArchivedTop> run(const PlistDictionary& top);

private:
    struct Decoded
    {
        ArchivedValue value;
        int height = 0;    // composites along the tallest path, this one included
        qint64 weight = 0; // values in the result
    };
    struct ClassInfo
    {
        QString name;
        QStringList classes;
    };

    bool fail(KeyedArchive::ErrorCode code, const QString& text)
    {
        if (mError.isNull())
            mError = archiveError(code, text);
        return false;
    }
    bool spend(qint64 values)
    {
        mUsed = mUsed > std::numeric_limits<qint64>::max() - values ? std::numeric_limits<qint64>::max()
                                                                    : mUsed + values;
        return mUsed <= mLimits.maxValues ||
               fail(KeyedArchive::LimitExceeded,
                    QStringLiteral("More than %1 values").arg(mLimits.maxValues));
    }

    // `depth` counts the composites open above the value.
    bool resolve(const PlistValue& stored, int depth, ArchivedValue& out, int& height);
    bool decode(const PlistValue& entry, int depth, ArchivedValue& out, int& height);
    bool decodeInstance(const PlistDictionary& entry, int depth, ArchivedValue& out, int& height);
    bool decodeElements(const PlistValue& list, const QString& className, int depth, ArchivedArray& out,
                        int& height);
    const ClassInfo* classOf(const PlistDictionary& entry);
    bool primitive(const PlistValue& value, ArchivedValue& out);

    const PlistArray& mObjects;
    KeyedArchive::Limits mLimits;
    std::vector<quint8> mState; // 0 unseen, 1 being decoded, 2 decoded
    std::unordered_map<quint64, Decoded> mDecoded;
    std::unordered_map<quint64, ClassInfo> mClassInfos;
    qint64 mUsed = 0;
    Error mError;
};

bool Unarchiver::primitive(const PlistValue& value, ArchivedValue& out)
{
    switch (value.type()) {
    case PlistValue::Type::Null:
        out = ArchivedValue();
        return true;
    case PlistValue::Type::Bool:
        out = ArchivedValue(value.toBool());
        return true;
    case PlistValue::Type::Integer:
        out = value.isLargeUnsigned() ? ArchivedValue(Value(value.toUnsigned()))
                                      : ArchivedValue(value.toInteger());
        return true;
    case PlistValue::Type::Real:
        out = ArchivedValue(value.toReal());
        return true;
    case PlistValue::Type::Data:
        out = ArchivedValue(value.toData());
        return true;
    case PlistValue::Type::String:
        // The "$null" entry stands for nil wherever it is referred to.
        out = value.toString() == NullEntry ? ArchivedValue() : ArchivedValue(value.toString());
        return true;
    case PlistValue::Type::Date: {
        const QDateTime date = value.toDateTime();
        if (!date.isValid())
            return fail(KeyedArchive::CorruptArchive, QStringLiteral("A date out of range"));
        out = ArchivedValue(date);
        return true;
    }
    default:
        return fail(
            KeyedArchive::CorruptArchive,
            QStringLiteral("A %1 where a value was expected").arg(PlistValue::typeName(value.type())));
    }
}

bool Unarchiver::resolve(const PlistValue& stored, int depth, ArchivedValue& out, int& height)
{
    if (!stored.isUid())
        return decode(stored, depth, out, height);
    const quint64 uid = stored.toUid();
    if (uid >= mObjects.size())
        return fail(KeyedArchive::CorruptArchive,
                    QStringLiteral("UID %1 is not below the object count %2").arg(uid).arg(mObjects.size()));
    if (uid == 0) {
        out = ArchivedValue();
        height = 0;
        return spend(1);
    }
    if (mState[uid] == 2) {
        const Decoded& decoded = mDecoded[uid];
        if (depth + decoded.height > mLimits.maxDepth)
            return fail(KeyedArchive::TooDeep,
                        QStringLiteral("Objects nest deeper than %1").arg(mLimits.maxDepth));
        out = decoded.value;
        height = decoded.height;
        return spend(decoded.weight);
    }
    if (mState[uid] == 1)
        return fail(KeyedArchive::CircularReference,
                    QStringLiteral("Object %1 is reached again from inside itself").arg(uid));
    mState[uid] = 1;
    const qint64 before = mUsed;
    if (!decode(mObjects[uid], depth, out, height))
        return false;
    mState[uid] = 2;
    mDecoded[uid] = Decoded{out, height, mUsed - before};
    return true;
}

bool Unarchiver::decode(const PlistValue& entry, int depth, ArchivedValue& out, int& height)
{
    height = 0;
    if (entry.isUid())
        return fail(KeyedArchive::CorruptArchive, QStringLiteral("A UID refers to another UID"));
    if (entry.isDictionary())
        return decodeInstance(entry.toDictionary(), depth, out, height);
    if (entry.isArray()) {
        // Not written by the platform's archiver, but a plain list of values is unambiguous.
        if (depth + 1 > mLimits.maxDepth)
            return fail(KeyedArchive::TooDeep,
                        QStringLiteral("Objects nest deeper than %1").arg(mLimits.maxDepth));
        if (!spend(1))
            return false;
        ArchivedArray elements;
        if (!decodeElements(entry, QStringLiteral("array"), depth + 1, elements, height))
            return false;
        height += 1;
        out = ArchivedValue(std::move(elements));
        return true;
    }
    if (entry.isDate()) {
        // Written back as an NSDate object, so it takes a level like one.
        if (depth + 1 > mLimits.maxDepth)
            return fail(KeyedArchive::TooDeep,
                        QStringLiteral("Objects nest deeper than %1").arg(mLimits.maxDepth));
        height = 1;
    }
    return spend(1) && primitive(entry, out);
}

const Unarchiver::ClassInfo* Unarchiver::classOf(const PlistDictionary& entry)
{
    const PlistValue* classRef = entry.find(ClassKey);
    if (!classRef) {
        fail(KeyedArchive::CorruptArchive, QStringLiteral("An object without $class"));
        return nullptr;
    }
    const quint64 uid = classRef->toUid(0);
    if (!classRef->isUid() || uid == 0 || uid >= mObjects.size()) {
        fail(KeyedArchive::CorruptArchive, QStringLiteral("A $class that is no valid UID"));
        return nullptr;
    }
    if (const auto found = mClassInfos.find(uid); found != mClassInfos.end())
        return &found->second;
    const PlistValue& description = mObjects[uid];
    const PlistValue& name = description.value(ClassNameKey);
    if (!name.isString() || name.toString().isEmpty()) {
        fail(KeyedArchive::CorruptArchive, QStringLiteral("Class description %1 has no $classname").arg(uid));
        return nullptr;
    }
    ClassInfo info;
    info.name = name.toString();
    if (const PlistValue* classes = description.toDictionary().find(ClassesKey)) {
        if (!classes->isArray()) {
            fail(KeyedArchive::CorruptArchive,
                 QStringLiteral("Class description %1 has a bad $classes").arg(uid));
            return nullptr;
        }
        for (const PlistValue& entryName : classes->toArray()) {
            if (!entryName.isString()) {
                fail(KeyedArchive::CorruptArchive,
                     QStringLiteral("Class description %1 has a bad $classes").arg(uid));
                return nullptr;
            }
            info.classes.append(entryName.toString());
        }
    }
    if (info.classes.isEmpty())
        info.classes.append(info.name);
    return &mClassInfos.emplace(uid, std::move(info)).first->second;
}

bool Unarchiver::decodeElements(const PlistValue& list, const QString& className, int depth,
                                ArchivedArray& out, int& height)
{
    if (!list.isArray())
        return fail(KeyedArchive::CorruptArchive,
                    QStringLiteral("%1 without a list of objects").arg(className));
    out.reserve(list.toArray().size());
    for (const PlistValue& element : list.toArray()) {
        ArchivedValue value;
        int childHeight = 0;
        if (!resolve(element, depth, value, childHeight))
            return false;
        height = std::max(height, childHeight);
        out.push_back(std::move(value));
    }
    return true;
}

bool Unarchiver::decodeInstance(const PlistDictionary& entry, int depth, ArchivedValue& out, int& height)
{
    const ClassInfo* info = classOf(entry);
    if (!info)
        return false;
    if (depth + 1 > mLimits.maxDepth)
        return fail(KeyedArchive::TooDeep,
                    QStringLiteral("Objects nest deeper than %1").arg(mLimits.maxDepth));
    if (!spend(1))
        return false;
    const QString& name = info->name;
    const int inner = depth + 1;
    int childHeight = 0;

    if (name == QLatin1String("NSArray") || name == QLatin1String("NSMutableArray") ||
        name == QLatin1String("NSSet") || name == QLatin1String("NSMutableSet") ||
        name == QLatin1String("NSOrderedSet") || name == QLatin1String("NSMutableOrderedSet")) {
        ArchivedArray elements;
        if (!decodeElements(entry.value(ObjectsField), name, inner, elements, childHeight))
            return false;
        height = childHeight + 1;
        out = ArchivedValue(std::move(elements));
        return true;
    }
    if (name == QLatin1String("NSDictionary") || name == QLatin1String("NSMutableDictionary")) {
        const PlistValue& keys = entry.value(KeysField);
        const PlistValue& objects = entry.value(ObjectsField);
        if (!keys.isArray() || !objects.isArray() || keys.size() != objects.size())
            return fail(KeyedArchive::CorruptArchive,
                        QStringLiteral("%1 with unmatched keys and objects").arg(name));
        ArchivedDictionary dictionary;
        for (qsizetype i = 0; i < keys.size(); ++i) {
            ArchivedValue key;
            ArchivedValue value;
            int keyHeight = 0;
            if (!resolve(keys.at(i), inner, key, keyHeight))
                return false;
            if (key.kind() != ArchivedValue::Kind::String)
                return fail(KeyedArchive::CorruptArchive,
                            QStringLiteral("%1 with a key that is no string").arg(name));
            if (!resolve(objects.at(i), inner, value, childHeight))
                return false;
            height = std::max(height, childHeight);
            dictionary.insert(key.toString(), std::move(value));
        }
        height += 1;
        out = ArchivedValue(std::move(dictionary));
        return true;
    }
    if (name == QLatin1String("NSDate")) {
        const PlistValue& time = entry.value(TimeField);
        const QDateTime date =
            time.isReal() || time.isInteger() ? PlistValue::dateTimeFromSeconds(time.toReal()) : QDateTime();
        if (!date.isValid())
            return fail(KeyedArchive::CorruptArchive, QStringLiteral("NSDate without a valid NS.time"));
        out = ArchivedValue(date);
        height = 1;
        return true;
    }
    if (name == QLatin1String("NSString") || name == QLatin1String("NSMutableString")) {
        ArchivedValue text;
        if (const PlistValue* stored = entry.find(StringField)) {
            if (!resolve(*stored, inner, text, childHeight))
                return false;
        } else if (const PlistValue* bytes = entry.find(BytesField)) {
            if (!resolve(*bytes, inner, text, childHeight))
                return false;
            if (text.kind() == ArchivedValue::Kind::Data)
                text = ArchivedValue(QString::fromUtf8(text.toData()));
        }
        if (text.kind() != ArchivedValue::Kind::String)
            return fail(KeyedArchive::CorruptArchive, QStringLiteral("%1 without text").arg(name));
        out = std::move(text);
        height = 1;
        return true;
    }
    if (name == QLatin1String("NSData") || name == QLatin1String("NSMutableData")) {
        ArchivedValue data;
        const PlistValue* stored = entry.find(DataField);
        if (!stored || !resolve(*stored, inner, data, childHeight))
            return mError.isNull()
                       ? fail(KeyedArchive::CorruptArchive, QStringLiteral("%1 without NS.data").arg(name))
                       : false;
        if (data.kind() != ArchivedValue::Kind::Data)
            return fail(KeyedArchive::CorruptArchive, QStringLiteral("%1 without data").arg(name));
        out = std::move(data);
        height = 1;
        return true;
    }
    if (name == QLatin1String("NSNumber")) {
        // The archiver writes numbers as plain entries; an object form must hold exactly one.
        const PlistValue* number = nullptr;
        for (const auto& [key, value] : entry) {
            if (key == ClassKey)
                continue;
            if (number || !(value.isInteger() || value.isReal() || value.isBool()))
                return fail(KeyedArchive::CorruptArchive,
                            QStringLiteral("NSNumber without exactly one number"));
            number = &value;
        }
        if (!number)
            return fail(KeyedArchive::CorruptArchive, QStringLiteral("NSNumber without exactly one number"));
        height = 1;
        return primitive(*number, out);
    }
    if (name == QLatin1String("NSNull")) {
        out = ArchivedValue();
        height = 1;
        return true;
    }

    auto object = ArchivedObject::create(name, info->classes);
    for (const auto& [key, stored] : entry) {
        if (key == ClassKey)
            continue;
        ArchivedValue value;
        if (!resolve(stored, inner, value, childHeight))
            return false;
        height = std::max(height, childHeight);
        object->set(key, std::move(value));
    }
    height += 1;
    out = ArchivedValue(std::move(object));
    return true;
}

Result<ArchivedTop> Unarchiver::run(const PlistDictionary& top)
{
    ArchivedTop result;
    for (const auto& [key, stored] : top) {
        ArchivedValue value;
        int height = 0;
        if (!resolve(stored, 0, value, height))
            return mError;
        result.insert(key, std::move(value));
    }
    return result;
}

} // namespace

Result<QByteArray> KeyedArchive::archive(const ArchivedTop& top, int maxDepth)
{
    return Archiver(maxDepth).run(top);
}

Result<ArchivedTop> KeyedArchive::unarchive(const QByteArray& data)
{
    return unarchive(data, Limits());
}

Result<ArchivedTop> KeyedArchive::unarchive(const QByteArray& data, const Limits& limits)
{
    Result<PlistValue> plist = BinaryPropertyList::read(data, limits.plist);
    if (!plist)
        return plist.error();
    return unarchive(*plist, limits);
}

Result<ArchivedTop> KeyedArchive::unarchive(const PlistValue& plist, const Limits& limits)
{
    auto notArchive = [](const QString& text) { return archiveError(NotKeyedArchive, text); };
    if (!plist.isDictionary())
        return notArchive(QStringLiteral("Not a keyed archive: the top object is no dictionary"));
    const PlistValue& archiver = plist.value(ArchiverKey);
    if (!archiver.isString())
        return notArchive(QStringLiteral("Not a keyed archive: no $archiver"));
    if (archiver.toString() != ArchiverName)
        return notArchive(QStringLiteral("Not a keyed archive: $archiver is %1").arg(archiver.toString()));
    const PlistValue& version = plist.value(VersionKey);
    if (!version.isInteger() || version.isLargeUnsigned())
        return notArchive(QStringLiteral("Not a keyed archive: $version is no integer"));
    if (version.toInteger() != ArchiveVersion)
        return notArchive(QStringLiteral("Unsupported keyed archive version %1").arg(version.toInteger()));
    const PlistValue& top = plist.value(TopKey);
    if (!top.isDictionary())
        return notArchive(QStringLiteral("Not a keyed archive: no $top"));
    const PlistValue& objects = plist.value(ObjectsKey);
    if (!objects.isArray() || objects.at(0).toString() != NullEntry)
        return notArchive(QStringLiteral("Not a keyed archive: no $objects starting with $null"));
    try {
        return Unarchiver(objects.toArray(), limits).run(top.toDictionary());
    } catch (const std::bad_alloc&) {
        return archiveError(LimitExceeded, QStringLiteral("Out of memory while reading a keyed archive"));
    }
}

} // namespace corvex
