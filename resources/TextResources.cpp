#include "resources/TextResources.h"

#include <QtCore/qglobal.h>
#include <mutex>

// Q_INIT_RESOURCE must be used at global scope.
static void registerTexts()
{
    Q_INIT_RESOURCE(texts);
}

namespace corvex {

void initTextResources()
{
    static std::once_flag once;
    std::call_once(once, registerTexts);
}

} // namespace corvex
