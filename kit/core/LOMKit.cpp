#include "kit/core/LOMKit.h"

#include <map>
#include <mutex>

namespace corvex {

LOMLegacyKit::~LOMLegacyKit() = default;
LOMKitClass::~LOMKitClass() = default;
LOMKitObject::~LOMKitObject() = default;

namespace {

struct KitClassTable
{
    std::mutex mutex;
    std::map<QString, LOMKitClass*> classes;
};

KitClassTable& kitClassTable()
{
    static KitClassTable table;
    return table;
}

} // namespace

void LOMKitClassRegistry::registerClass(LOMKitClass* kitClass)
{
    if (kitClass == nullptr)
        return;
    KitClassTable& table = kitClassTable();
    std::lock_guard lock(table.mutex);
    table.classes[kitClass->className()] = kitClass;
}

void LOMKitClassRegistry::unregisterClass(const QString& className)
{
    KitClassTable& table = kitClassTable();
    std::lock_guard lock(table.mutex);
    table.classes.erase(className);
}

LOMKitClass* LOMKitClassRegistry::classNamed(const QString& className)
{
    KitClassTable& table = kitClassTable();
    std::lock_guard lock(table.mutex);
    const auto found = table.classes.find(className);
    return found != table.classes.end() ? found->second : nullptr;
}

QStringList LOMKitClassRegistry::registeredNames()
{
    KitClassTable& table = kitClassTable();
    std::lock_guard lock(table.mutex);
    QStringList names;
    for (const auto& entry : table.classes)
        names.append(entry.first);
    return names;
}

} // namespace corvex
