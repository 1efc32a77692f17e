#pragma once

#include <QString>
#include <cstddef>
#include <memory>
#include <type_traits>

namespace corvex {

// Decides whether diagnostic trace lines are wanted for an object: code that would write a
// trace line about an object asks canLog first, which is true only for objects registered
// as traceable. Nothing is registered by default (registering is a debugging aid), so in
// normal use no trace line is written.
//
// Objects are identified by the address of the whole object (a pointer to a base subobject
// counts as the object), without being kept alive. A registration outlives its object until
// a sweep, which runs when the set grows past the largest size it had after the last sweep;
// until then an object later made at the same address counts as registered.
//
// Thread-safe: one lock guards the set.
class Logger
{
public:
    Logger() = delete;

    // True when the object was added, false when it was registered already (or is null).
    template <class T> static bool addTraceableObject(const std::shared_ptr<T>& object)
    {
        return addTraceableIdentity(identity(object.get()), std::shared_ptr<const void>(object));
    }
    // True when the object was registered.
    template <class T> static bool removeTraceableObject(const T* object)
    {
        return removeTraceableIdentity(identity(object));
    }
    // False for null.
    template <class T> static bool canLog(const T* object) { return canLogIdentity(identity(object)); }
    static bool canLog(std::nullptr_t) { return false; }
    // True when either object is registered.
    template <class T, class U> static bool canLog(const T* object, const U* other)
    {
        return canLogIdentity(identity(object)) || canLogIdentity(identity(other));
    }

    // The trace line "%.3i %s %@": the number, the method's name and the text.
    static QString traceLine(int number, const char* method, const QString& text);
    // Writes the trace line when the object is registered.
    template <class T> static void trace(const T* object, int number, const char* method, const QString& text)
    {
        if (canLog(object))
            writeTrace(number, method, text);
    }
    static void writeTrace(int number, const char* method, const QString& text);

    // For tests: the number of holders in the set (lost ones included until a sweep) and
    // the sweep threshold.
    static int holderCount();
    static int highWaterMark();
    // Forgets every registration and the threshold.
    static void reset();

private:
    template <class T> static const void* identity(const T* object)
    {
        if (!object)
            return nullptr;
        if constexpr (std::is_polymorphic_v<T>)
            return dynamic_cast<const void*>(object);
        else
            return static_cast<const void*>(object);
    }

    static bool addTraceableIdentity(const void* identity, std::shared_ptr<const void> object);
    static bool removeTraceableIdentity(const void* identity);
    static bool canLogIdentity(const void* identity);
};

// Guards in front of diagnostic lines: free-function forms of Logger::canLog.
template <class T> bool LoggerCanLog(const T* object)
{
    return Logger::canLog(object);
}
template <class T, class U> bool LoggerCanLogOr(const T* object, const U* other)
{
    return Logger::canLog(object, other);
}

} // namespace corvex
