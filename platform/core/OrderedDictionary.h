#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

#include <initializer_list>
#include <utility>
#include <vector>

namespace corvex {

// An immutable-once-shared, insertion-ordered dictionary with string keys, the common part of
// the property-list and keyed-archive dictionaries. Small dictionaries are searched in order;
// above IndexThreshold entries a hash index makes lookups constant time. V must be
// default-constructible: a default V is the value of a missing key.
template <class V> class OrderedDictionary
{
public:
    using Entry = std::pair<QString, V>;
    using const_iterator = typename std::vector<Entry>::const_iterator;

    OrderedDictionary() = default;
    // Repeated keys keep the first position and the last value.
    OrderedDictionary(std::initializer_list<Entry> entries)
    {
        mEntries.reserve(entries.size());
        for (const Entry& entry : entries)
            insert(entry.first, entry.second);
    }

    qsizetype size() const { return qsizetype(mEntries.size()); }
    bool isEmpty() const { return mEntries.empty(); }
    bool contains(const QString& key) const { return indexOf(key) >= 0; }
    // The shared default value when absent.
    const V& value(const QString& key) const
    {
        static const V absent;
        const V* found = find(key);
        return found ? *found : absent;
    }
    const V* find(const QString& key) const
    {
        const qsizetype index = indexOf(key);
        return index >= 0 ? &mEntries[std::size_t(index)].second : nullptr;
    }
    // A new key goes last; an existing key keeps its position and takes the new value.
    void insert(const QString& key, V value)
    {
        const qsizetype index = indexOf(key);
        if (index >= 0) {
            mEntries[std::size_t(index)].second = std::move(value);
            return;
        }
        mEntries.emplace_back(key, std::move(value));
        if (mEntries.size() > IndexThreshold) {
            if (mIndex.isEmpty()) {
                for (std::size_t i = 0; i < mEntries.size(); ++i)
                    mIndex.insert(mEntries[i].first, qsizetype(i));
            } else {
                mIndex.insert(key, qsizetype(mEntries.size() - 1));
            }
        }
    }
    void reserve(qsizetype count) { mEntries.reserve(std::size_t(count)); }

    QStringList keys() const
    {
        QStringList result;
        result.reserve(qsizetype(mEntries.size()));
        for (const Entry& entry : mEntries)
            result.append(entry.first);
        return result;
    }
    const Entry& entryAt(qsizetype index) const { return mEntries[std::size_t(index)]; }
    const_iterator begin() const { return mEntries.begin(); }
    const_iterator end() const { return mEntries.end(); }

    // The same keys with equal values, in any order.
    friend bool operator==(const OrderedDictionary& a, const OrderedDictionary& b)
    {
        if (a.size() != b.size())
            return false;
        for (const auto& [key, value] : a) {
            const V* other = b.find(key);
            if (!other || !(*other == value))
                return false;
        }
        return true;
    }
    friend bool operator!=(const OrderedDictionary& a, const OrderedDictionary& b) { return !(a == b); }

protected:
    std::vector<Entry> mEntries;

private:
    static constexpr std::size_t IndexThreshold = 16;

    qsizetype indexOf(const QString& key) const
    {
        if (mEntries.size() > IndexThreshold)
            return mIndex.value(key, -1);
        for (std::size_t i = 0; i < mEntries.size(); ++i) {
            if (mEntries[i].first == key)
                return qsizetype(i);
        }
        return -1;
    }

    QHash<QString, qsizetype> mIndex; // filled only above IndexThreshold entries
};

} // namespace corvex
