#pragma once

#include "platform/core/Value.h"

#include <QDateTime>
#include <QString>
#include <memory>
#include <optional>

namespace corvex {

// Caller-supplied attributes, validated, cut and converted: keys strings of at most 100
// UTF-16 code units, values such strings or finite numbers; at most 21 entries.
class TLYAttributeDictionary
{
public:
    static constexpr int MaximumEntries = 21;
    static constexpr int MaximumLength = 100;

    TLYAttributeDictionary() = default;
    // Adds every entry of a dictionary in its order; anything else adds nothing.
    explicit TLYAttributeDictionary(const Value& dictionary);

    // A null value or key adds nothing; a converted value that is null removes the key.
    void addAttribute(const Value& value, const Value& key);
    void addBooleanAttribute(const Value& value, const QString& key);
    void addPriceAttribute(const Value& value, const QString& key);

    const ValueDictionary& rawDictionary() const { return mRaw; }
    Value dictionaryRepresentation() const { return Value(mRaw); }
    QString description() const;

    static bool validAttributeValue(const Value& value);
    static Value serializeAttributeValue(const Value& value);
    // The first 100 code units, one fewer when the cut would split a surrogate pair.
    static QString truncateString(const QString& string);
    static Value serializeSuccess(const Value& value);
    static Value serializePriceToMicros(const Value& value);
    // Null for null and every number that is not finite.
    static Value serializeNumber(const Value& value);

private:
    ValueDictionary mRaw;
};

// One analytics record: a type name, a timestamp, a unique identifier and a payload.
class TLYEvent
{
public:
    TLYEvent();
    virtual ~TLYEvent();

    virtual QString name() const;
    virtual Value dictionaryRepresentation() const;
    virtual bool triggersFlush() const { return false; }
    virtual QDateTime timestamp() const { return mTimestamp; }
    const QString& identifier() const { return mIdentifier; }
    virtual QString description() const;

private:
    QDateTime mTimestamp;
    QString mIdentifier;
};

class TLYPredefinedEvent : public TLYEvent
{
public:
    TLYPredefinedEvent(QString predefinedEventName, const Value& customAttributes);

    QString name() const override { return QStringLiteral("predefined"); }
    Value dictionaryRepresentation() const override;
    QString description() const override;

    const QString& predefinedEventName() const { return mType; }
    TLYAttributeDictionary& predefinedAttributes() { return mPredefined; }
    const TLYAttributeDictionary& customAttributes() const { return mCustom; }

    // The factories; every argument is a value (null for nil).
    static std::shared_ptr<TLYPredefinedEvent> signUpEvent(const Value& method, const Value& success,
                                                           const Value& customAttributes);
    static std::shared_ptr<TLYPredefinedEvent> loginEvent(const Value& method, const Value& success,
                                                          const Value& customAttributes);
    static std::shared_ptr<TLYPredefinedEvent> shareEvent(const Value& method, const Value& contentName,
                                                          const Value& contentType, const Value& contentId,
                                                          const Value& customAttributes);
    static std::shared_ptr<TLYPredefinedEvent> inviteEvent(const Value& method,
                                                           const Value& customAttributes);
    static std::shared_ptr<TLYPredefinedEvent> purchaseEvent(const Value& price, const Value& currency,
                                                             const Value& success, const Value& itemName,
                                                             const Value& itemType, const Value& itemId,
                                                             const Value& customAttributes);
    static std::shared_ptr<TLYPredefinedEvent> levelStartEvent(const Value& levelName,
                                                               const Value& customAttributes);
    static std::shared_ptr<TLYPredefinedEvent> levelEndEvent(const Value& levelName, const Value& score,
                                                             const Value& success,
                                                             const Value& customAttributes);
    static std::shared_ptr<TLYPredefinedEvent> addToCartEvent(const Value& price, const Value& currency,
                                                              const Value& itemName, const Value& itemType,
                                                              const Value& itemId,
                                                              const Value& customAttributes);
    static std::shared_ptr<TLYPredefinedEvent> startCheckoutEvent(const Value& price, const Value& currency,
                                                                  const Value& itemCount,
                                                                  const Value& customAttributes);
    static std::shared_ptr<TLYPredefinedEvent> ratingEvent(const Value& rating, const Value& contentName,
                                                           const Value& contentType, const Value& contentId,
                                                           const Value& customAttributes);
    static std::shared_ptr<TLYPredefinedEvent> contentViewEvent(const Value& contentName,
                                                                const Value& contentType,
                                                                const Value& contentId,
                                                                const Value& customAttributes);
    static std::shared_ptr<TLYPredefinedEvent> searchEvent(const Value& query, const Value& customAttributes);

private:
    QString mType;
    TLYAttributeDictionary mCustom;
    TLYAttributeDictionary mPredefined;
};

class TLYCustomEvent : public TLYEvent
{
public:
    // The name is kept as given; nullopt is a nil name (refused when logged).
    TLYCustomEvent(std::optional<QString> customEventName, const Value& customAttributes);

    QString name() const override { return QStringLiteral("custom"); }
    Value dictionaryRepresentation() const override;
    QString description() const override;
    const std::optional<QString>& customEventName() const { return mName; }

private:
    std::optional<QString> mName;
    TLYAttributeDictionary mCustom;
};

class TLYCrashEvent : public TLYEvent
{
public:
    TLYCrashEvent(QDateTime crashTimestamp, quint64 crashState);

    QString name() const override { return QStringLiteral("app_crashed"); }
    Value dictionaryRepresentation() const override;
    QDateTime timestamp() const override { return mCrashTimestamp; }
    static QString payloadStringForCrashState(quint64 state);

private:
    QDateTime mCrashTimestamp;
    quint64 mCrashState;
};

class TLYLifecycleEvent : public TLYEvent
{
public:
    explicit TLYLifecycleEvent(QString name) : mName(std::move(name)) {}

    static std::shared_ptr<TLYLifecycleEvent> eventWithNotification(const QString& notificationName);
    static std::shared_ptr<TLYLifecycleEvent> installEvent();
    static std::shared_ptr<TLYLifecycleEvent> appLaunchedEvent();
    static QString nameFromNotification(const QString& notificationName);

    QString name() const override { return mName; }
    Value dictionaryRepresentation() const override;
    bool triggersFlush() const override;

private:
    QString mName;
};

// Samples lifecycle and crash events per installation.
class TLYEventFilter
{
public:
    bool shouldDiscardEvent(const TLYEvent* event, const std::optional<QString>& betaToken,
                            const std::optional<QString>& installationID, qint64 factor) const;
    static bool samplingEnabledForEventType(const QString& name);
    static bool shouldDiscardEventWithInstallationID(const std::optional<QString>& installationID,
                                                     qint64 factor);
    static qint32 javaHashCodeForString(const QString& string);
};

} // namespace corvex
