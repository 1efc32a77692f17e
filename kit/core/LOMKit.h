#pragma once

#include <QString>
#include <QStringList>
#include <optional>

namespace corvex {

// An older kit's shared object, started with start().
class LOMLegacyKit
{
public:
    virtual ~LOMLegacyKit();
    // Whether the object answers start, bundleIdentifier and version; one that does not is
    // no kit at all.
    virtual bool answersKitMessages() const { return true; }
    virtual void start() {}
    virtual QString bundleIdentifier() const = 0;
    virtual QString version() const = 0;
};

// A kit type as the registry sees it: the stand-in of a class looked up by name at run
// time. A kit conforms to the kit contract (bundle identifier, display version, optionally
// a build version and a one-time initialisation), or is an older kit reached through a
// shared object, or is no kit at all.
class LOMKitClass
{
public:
    virtual ~LOMKitClass();
    virtual QString className() const = 0;

    // The kit contract.
    virtual bool conformsToLOMKit() const { return true; }
    virtual QString bundleIdentifier() const { return QString(); }
    virtual QString kitDisplayVersion() const { return QString(); }
    virtual std::optional<QString> kitBuildVersion() const { return std::nullopt; }
    virtual bool answersInitializeIfNeeded() const { return false; }
    virtual void initializeIfNeeded() {}

    // An older kit's shared object; nullptr when the class has none.
    virtual LOMLegacyKit* sharedInstance() { return nullptr; }
};

// A kit object handed to the registry: it stands for its class.
class LOMKitObject
{
public:
    virtual ~LOMKitObject();
    virtual LOMKitClass& kitClass() const = 0;
};

// The kit types present in this program, by class name: "Blackbox" and "Tally" register
// themselves; tests register stand-ins ("Phoneauth", "Screenlens", "AdsMobileSDK", "AdsKit")
// to exercise the list rules. Registered objects outlive their registration.
class LOMKitClassRegistry
{
public:
    static void registerClass(LOMKitClass* kitClass);
    static void unregisterClass(const QString& className);
    static LOMKitClass* classNamed(const QString& className);
    static QStringList registeredNames();
};

} // namespace corvex
