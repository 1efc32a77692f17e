#include "toolkit/DictionaryExtensions.h"

namespace corvex {

bool DictionaryExtensions::hasKey(const ValueDictionary& dictionary, const QString& key)
{
    return dictionary.contains(key);
}

Rect DictionaryExtensions::rectForKey(const ValueDictionary& dictionary, const QString& key)
{
    const Value* value = dictionary.find(key);
    return value ? rectFromString(value->toString()) : Rect();
}

void DictionaryExtensions::setRect(ValueDictionary& dictionary, const Rect& rect, const QString& key)
{
    dictionary.insert(key, toString(rect));
}

} // namespace corvex
