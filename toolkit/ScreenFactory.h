#pragma once

#include "platform/core/Value.h"

#include <QString>
#include <functional>
#include <memory>

namespace corvex {

class BaseViewController;

// Makes screens by class name, so that a screen can make another it cannot link against
// (the mind map makes the home screen, the home screen the mind map) and the shell can make
// the screen a restored window names. Each screen's part registers its maker at start-up;
// asking for a name nobody registered logs and answers null. The arguments are the maker's
// own (for example "location" and "searchText" for the home screen); an empty dictionary asks
// for a screen that waits for restoreFromState. Main thread only.
class ScreenFactory
{
public:
    using Maker = std::function<std::shared_ptr<BaseViewController>(const ValueDictionary& arguments)>;

    // Replaces the maker of the class name; an empty maker removes it.
    static void registerScreen(const QString& className, Maker maker);
    static bool hasScreen(const QString& className);
    // A new screen of the class; null (logged) when no maker is registered or it made none.
    static std::shared_ptr<BaseViewController> create(const QString& className,
                                                      const ValueDictionary& arguments = ValueDictionary());
};

} // namespace corvex
