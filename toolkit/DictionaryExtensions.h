#pragma once

#include "platform/core/Value.h"
#include "platform/gfx/Rect.h"

#include <QString>

namespace corvex {

// Rectangles kept in dictionaries as their text form "{{x, y}, {w, h}}" (the window state
// stores window frames this way).
class DictionaryExtensions
{
public:
    DictionaryExtensions() = delete;

    static bool hasKey(const ValueDictionary& dictionary, const QString& key);
    // The rectangle read from the text under the key; the zero rectangle when the key is
    // absent (or the text unreadable).
    static Rect rectForKey(const ValueDictionary& dictionary, const QString& key);
    static void setRect(ValueDictionary& dictionary, const Rect& rect, const QString& key);
};

} // namespace corvex
