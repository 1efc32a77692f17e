#include "platform/core/Value.h"

#include <QMetaType>
#include <algorithm>
#include <cmath>

namespace corvex {
namespace {

const ValueArray& emptyArray()
{
    static const ValueArray array;
    return array;
}

const ValueDictionary& emptyDictionary()
{
    static const ValueDictionary dictionary;
    return dictionary;
}

// The bounds of qint64 as doubles: [-2^63, 2^63).
constexpr double kInt64Low = -9223372036854775808.0;
constexpr double kInt64High = 9223372036854775808.0;

} // namespace

// --- Value ---------------------------------------------------------------------------

const Value& Value::null()
{
    static const Value value;
    return value;
}

QString Value::typeName(Type type)
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
    case Type::String:
        return QStringLiteral("string");
    case Type::Data:
        return QStringLiteral("data");
    case Type::Date:
        return QStringLiteral("date");
    case Type::Array:
        return QStringLiteral("array");
    case Type::Dictionary:
        return QStringLiteral("dictionary");
    }
    return QString();
}

bool Value::toBool(bool defaultValue) const
{
    switch (type()) {
    case Type::Bool:
        return std::get<bool>(mData);
    case Type::Integer:
        return std::get<qint64>(mData) != 0;
    case Type::Real:
        return std::get<double>(mData) != 0.0;
    default:
        return defaultValue;
    }
}

qint64 Value::toInteger(qint64 defaultValue) const
{
    switch (type()) {
    case Type::Bool:
        return std::get<bool>(mData) ? 1 : 0;
    case Type::Integer:
        return std::get<qint64>(mData);
    case Type::Real: {
        const double real = std::get<double>(mData);
        // Outside the range (or NaN) the conversion would be undefined.
        if (real >= kInt64Low && real < kInt64High)
            return qint64(real);
        return defaultValue;
    }
    default:
        return defaultValue;
    }
}

double Value::toReal(double defaultValue) const
{
    switch (type()) {
    case Type::Bool:
        return std::get<bool>(mData) ? 1.0 : 0.0;
    case Type::Integer:
        return double(std::get<qint64>(mData));
    case Type::Real:
        return std::get<double>(mData);
    default:
        return defaultValue;
    }
}

QString Value::toString() const
{
    if (const auto* text = std::get_if<QString>(&mData))
        return *text;
    return QString();
}

QByteArray Value::toData() const
{
    if (const auto* data = std::get_if<QByteArray>(&mData))
        return *data;
    return QByteArray();
}

QDateTime Value::toDate() const
{
    if (const auto* date = std::get_if<QDateTime>(&mData))
        return *date;
    return QDateTime();
}

const ValueArray& Value::toArray() const
{
    if (const auto* array = std::get_if<std::shared_ptr<ValueArray>>(&mData))
        return **array;
    return emptyArray();
}

const ValueDictionary& Value::toDictionary() const
{
    if (const auto* dictionary = std::get_if<std::shared_ptr<ValueDictionary>>(&mData))
        return **dictionary;
    return emptyDictionary();
}

const Value& Value::value(const QString& key) const
{
    return toDictionary().value(key);
}

const Value& Value::at(qsizetype index) const
{
    const ValueArray& array = toArray();
    if (index < 0 || index >= qsizetype(array.size()))
        return null();
    return array[std::size_t(index)];
}

qsizetype Value::size() const
{
    if (isArray())
        return qsizetype(toArray().size());
    if (isDictionary())
        return toDictionary().size();
    return 0;
}

ValueArray* Value::editArray()
{
    auto* array = std::get_if<std::shared_ptr<ValueArray>>(&mData);
    if (array == nullptr)
        return nullptr;
    if (array->use_count() > 1)
        *array = std::make_shared<ValueArray>(**array);
    return array->get();
}

ValueDictionary* Value::editDictionary()
{
    auto* dictionary = std::get_if<std::shared_ptr<ValueDictionary>>(&mData);
    if (dictionary == nullptr)
        return nullptr;
    if (dictionary->use_count() > 1)
        *dictionary = std::make_shared<ValueDictionary>(**dictionary);
    return dictionary->get();
}

bool Value::isUniqueContainer() const
{
    if (const auto* array = std::get_if<std::shared_ptr<ValueArray>>(&mData))
        return array->use_count() == 1;
    if (const auto* dictionary = std::get_if<std::shared_ptr<ValueDictionary>>(&mData))
        return dictionary->use_count() == 1;
    return false;
}

template <class Visitor> void Value::forEachChild(Visitor&& visitor)
{
    if (auto* array = std::get_if<std::shared_ptr<ValueArray>>(&mData)) {
        for (Value& child : **array)
            visitor(child);
    } else if (auto* dictionary = std::get_if<std::shared_ptr<ValueDictionary>>(&mData)) {
        for (auto& entry : (*dictionary)->mEntries)
            visitor(entry.second);
    }
}

// A container this value alone owns dies with it, and its children with it: their nested
// containers are moved out to a work list first, so that each container is destroyed with
// no nested container left inside (a constant stack depth whatever the tree's depth).
void Value::releaseContainer() noexcept
{
    if (!isUniqueContainer())
        return;
    std::vector<Value> pending;
    try {
        const auto collect = [&pending](Value& child) {
            if (child.mData.index() >= std::size_t(Type::Array) && child.isUniqueContainer())
                pending.push_back(std::move(child));
        };
        forEachChild(collect);
        while (!pending.empty()) {
            Value next = std::move(pending.back());
            pending.pop_back();
            next.forEachChild(collect);
        }
    } catch (...) {
        // Out of memory for the work list: the rest is released recursively.
    }
}

bool operator==(const Value& a, const Value& b)
{
    using Type = Value::Type;
    std::vector<std::pair<const Value*, const Value*>> pending;
    const Value* x = &a;
    const Value* y = &b;
    for (;;) {
        if (x->mData.index() != y->mData.index())
            return false;
        switch (x->type()) {
        case Type::Null:
            break;
        case Type::Bool:
            if (std::get<bool>(x->mData) != std::get<bool>(y->mData))
                return false;
            break;
        case Type::Integer:
            if (std::get<qint64>(x->mData) != std::get<qint64>(y->mData))
                return false;
            break;
        case Type::Real:
            if (!(std::get<double>(x->mData) == std::get<double>(y->mData)))
                return false;
            break;
        case Type::String:
            if (std::get<QString>(x->mData) != std::get<QString>(y->mData))
                return false;
            break;
        case Type::Data:
            if (std::get<QByteArray>(x->mData) != std::get<QByteArray>(y->mData))
                return false;
            break;
        case Type::Date:
            if (std::get<QDateTime>(x->mData) != std::get<QDateTime>(y->mData))
                return false;
            break;
        case Type::Array: {
            const auto& left = std::get<std::shared_ptr<ValueArray>>(x->mData);
            const auto& right = std::get<std::shared_ptr<ValueArray>>(y->mData);
            if (left == right)
                break;
            if (left->size() != right->size())
                return false;
            for (std::size_t i = 0; i < left->size(); ++i)
                pending.emplace_back(&(*left)[i], &(*right)[i]);
            break;
        }
        case Type::Dictionary: {
            const auto& left = std::get<std::shared_ptr<ValueDictionary>>(x->mData);
            const auto& right = std::get<std::shared_ptr<ValueDictionary>>(y->mData);
            if (left == right)
                break;
            if (left->size() != right->size())
                return false;
            for (const auto& entry : *left) {
                const Value* other = right->find(entry.first);
                if (other == nullptr)
                    return false;
                pending.emplace_back(&entry.second, other);
            }
            break;
        }
        }
        if (pending.empty())
            return true;
        std::tie(x, y) = pending.back();
        pending.pop_back();
    }
}

QVariant Value::toVariant() const
{
    switch (type()) {
    case Type::Null:
        return QVariant();
    case Type::Bool:
        return QVariant(std::get<bool>(mData));
    case Type::Integer:
        return QVariant(qlonglong(std::get<qint64>(mData)));
    case Type::Real:
        return QVariant(std::get<double>(mData));
    case Type::String:
        return QVariant(std::get<QString>(mData));
    case Type::Data:
        return QVariant(std::get<QByteArray>(mData));
    case Type::Date:
        return QVariant(std::get<QDateTime>(mData));
    case Type::Array: {
        QVariantList list;
        const ValueArray& array = toArray();
        list.reserve(qsizetype(array.size()));
        for (const Value& element : array)
            list.append(element.toVariant());
        return list;
    }
    case Type::Dictionary: {
        QVariantMap map;
        for (const auto& [key, element] : toDictionary())
            map.insert(key, element.toVariant());
        return map;
    }
    }
    return QVariant();
}

Value Value::fromVariant(const QVariant& variant)
{
    if (!variant.isValid())
        return Value();
    switch (variant.typeId()) {
    case QMetaType::Nullptr:
        return Value();
    case QMetaType::Bool:
        return Value(variant.toBool());
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Long:
    case QMetaType::LongLong:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Char:
    case QMetaType::SChar:
    case QMetaType::UChar:
        return Value(qint64(variant.toLongLong()));
    case QMetaType::ULong:
    case QMetaType::ULongLong:
        return Value(quint64(variant.toULongLong()));
    case QMetaType::Double:
    case QMetaType::Float:
        return Value(variant.toDouble());
    case QMetaType::QString:
        return Value(variant.toString());
    case QMetaType::QByteArray:
        return Value(variant.toByteArray());
    case QMetaType::QDateTime:
        return Value(variant.toDateTime());
    case QMetaType::QVariantList:
    case QMetaType::QStringList: {
        const QVariantList list = variant.toList();
        ValueArray array;
        array.reserve(std::size_t(list.size()));
        for (const QVariant& element : list)
            array.push_back(fromVariant(element));
        return Value(std::move(array));
    }
    case QMetaType::QVariantMap: {
        const QVariantMap map = variant.toMap();
        ValueDictionary dictionary;
        dictionary.reserve(map.size());
        for (auto it = map.cbegin(); it != map.cend(); ++it)
            dictionary.insert(it.key(), fromVariant(it.value()));
        return Value(std::move(dictionary));
    }
    case QMetaType::QVariantHash: {
        const QVariantHash hash = variant.toHash();
        QStringList keys = hash.keys();
        keys.sort();
        ValueDictionary dictionary;
        dictionary.reserve(keys.size());
        for (const QString& key : keys)
            dictionary.insert(key, fromVariant(hash.value(key)));
        return Value(std::move(dictionary));
    }
    default:
        if (variant.canConvert<QString>())
            return Value(variant.toString());
        return Value();
    }
}

// --- ValueDictionary -----------------------------------------------------------------

ValueDictionary::ValueDictionary(std::initializer_list<Entry> entries)
{
    mEntries.reserve(entries.size());
    for (const Entry& entry : entries)
        insert(entry.first, entry.second);
}

qsizetype ValueDictionary::indexOf(const QString& key) const
{
    if (!mIndex.isEmpty())
        return mIndex.value(key, -1);
    for (std::size_t i = 0; i < mEntries.size(); ++i) {
        if (mEntries[i].first == key)
            return qsizetype(i);
    }
    return -1;
}

void ValueDictionary::rebuildIndex()
{
    mIndex.clear();
    if (mEntries.size() <= IndexThreshold)
        return;
    mIndex.reserve(qsizetype(mEntries.size()));
    for (std::size_t i = 0; i < mEntries.size(); ++i)
        mIndex.insert(mEntries[i].first, qsizetype(i));
}

const Value& ValueDictionary::value(const QString& key) const
{
    const Value* found = find(key);
    return found != nullptr ? *found : Value::null();
}

const Value* ValueDictionary::find(const QString& key) const
{
    const qsizetype index = indexOf(key);
    return index >= 0 ? &mEntries[std::size_t(index)].second : nullptr;
}

Value* ValueDictionary::find(const QString& key)
{
    const qsizetype index = indexOf(key);
    return index >= 0 ? &mEntries[std::size_t(index)].second : nullptr;
}

void ValueDictionary::insert(const QString& key, Value value)
{
    const qsizetype index = indexOf(key);
    if (index >= 0) {
        mEntries[std::size_t(index)].second = std::move(value);
        return;
    }
    mEntries.emplace_back(key, std::move(value));
    if (!mIndex.isEmpty())
        mIndex.insert(key, qsizetype(mEntries.size() - 1));
    else if (mEntries.size() > IndexThreshold)
        rebuildIndex();
}

bool ValueDictionary::remove(const QString& key)
{
    const qsizetype index = indexOf(key);
    if (index < 0)
        return false;
    mEntries.erase(mEntries.begin() + index);
    if (!mIndex.isEmpty())
        rebuildIndex();
    return true;
}

Value ValueDictionary::take(const QString& key)
{
    Value* found = find(key);
    if (found == nullptr)
        return Value();
    Value taken = std::move(*found);
    remove(key);
    return taken;
}

void ValueDictionary::clear()
{
    mEntries.clear();
    mIndex.clear();
}

QStringList ValueDictionary::keys() const
{
    QStringList list;
    list.reserve(size());
    for (const auto& entry : mEntries)
        list.append(entry.first);
    return list;
}

QString ValueDictionary::firstKey() const
{
    return mEntries.empty() ? QString() : mEntries.front().first;
}

bool operator==(const ValueDictionary& a, const ValueDictionary& b)
{
    if (a.size() != b.size())
        return false;
    // Compare as values so that the walk stays iterative.
    ValueArray left;
    ValueArray right;
    left.reserve(a.mEntries.size());
    right.reserve(a.mEntries.size());
    for (const auto& entry : a.mEntries) {
        const Value* other = b.find(entry.first);
        if (other == nullptr)
            return false;
        left.push_back(entry.second);
        right.push_back(*other);
    }
    return Value(std::move(left)) == Value(std::move(right));
}

} // namespace corvex
