#include "tallykit/TLYEvent.h"

#include "kit/sys/HostFunctions.h"
#include "platform/core/CalendarClock.h"
#include "platform/core/JsonText.h"
#include "platform/core/Log.h"

#include <cmath>
#include <limits>

namespace corvex {

namespace {

// A value as the attribute messages show it.
QString attributeText(const Value& value)
{
    if (value.isString())
        return value.toString();
    if (value.isNull())
        return QStringLiteral("(null)");
    return QString::fromUtf8(JsonText::serialize(value));
}

// The platform's boolean reading of a string: leading "Y", "y", "T", "t", or a non-zero
// leading number.
bool stringBoolValue(const QString& text)
{
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return false;
    const QChar first = trimmed.front();
    if (first == u'Y' || first == u'y' || first == u'T' || first == u't')
        return true;
    qsizetype end = 0;
    if (end < trimmed.size() && (trimmed[end] == u'+' || trimmed[end] == u'-'))
        ++end;
    while (end < trimmed.size() && trimmed[end] == u'0')
        ++end;
    return end < trimmed.size() && trimmed[end].isDigit();
}

// The largest price whose micro-units a decimal number still holds.
constexpr double MaximumPrice = 3.402823669209384634633746074317682114e165 / 1000000.0;

} // namespace

TLYAttributeDictionary::TLYAttributeDictionary(const Value& dictionary)
{
    for (const auto& entry : dictionary.toDictionary())
        addAttribute(entry.second, Value(entry.first));
}

void TLYAttributeDictionary::addAttribute(const Value& value, const Value& key)
{
    if (value.isNull() || key.isNull())
        return;
    if (mRaw.size() >= MaximumEntries) {
        Log::warning(
            QStringLiteral("[Tally] Maximum number of Event attributes exceeded. Ignoring entry %1:%2")
                .arg(attributeText(key), attributeText(value)));
        return;
    }
    if (!key.isString()) {
        Log::warning(
            QStringLiteral("[Tally] Event attribute keys must be of type NSString. Ignoring entry %1:%2")
                .arg(attributeText(key), attributeText(value)));
        return;
    }
    if (!validAttributeValue(value)) {
        Log::warning(QStringLiteral("[Tally] Event attribute values must be of type NSString or NSNumber. "
                                    "Ignoring entry %1:%2")
                         .arg(attributeText(key), attributeText(value)));
        return;
    }
    const QString cutKey = truncateString(key.toString());
    Value converted = serializeAttributeValue(value);
    if (converted.isNull())
        mRaw.remove(cutKey);
    else
        mRaw.insert(cutKey, std::move(converted));
}

void TLYAttributeDictionary::addBooleanAttribute(const Value& value, const QString& key)
{
    addAttribute(serializeSuccess(value), Value(truncateString(key)));
}

void TLYAttributeDictionary::addPriceAttribute(const Value& value, const QString& key)
{
    addAttribute(serializePriceToMicros(value), Value(truncateString(key)));
}

QString TLYAttributeDictionary::description() const
{
    return QString::fromUtf8(JsonText::serializePretty(Value(mRaw)));
}

bool TLYAttributeDictionary::validAttributeValue(const Value& value)
{
    return value.isString() || value.isNumber() || value.isBool();
}

Value TLYAttributeDictionary::serializeAttributeValue(const Value& value)
{
    if (value.isString())
        return Value(truncateString(value.toString()));
    if (value.isNumber() || value.isBool())
        return serializeNumber(value);
    return Value();
}

QString TLYAttributeDictionary::truncateString(const QString& string)
{
    if (string.size() <= MaximumLength)
        return string;
    Log::warning(QStringLiteral("[Tally] Maximum length for an Event attributes exceeded. Truncating to %1 "
                                "characters.")
                     .arg(MaximumLength));
    qsizetype cut = MaximumLength;
    // Never leave half a surrogate pair: it is no character and no JSON writer can keep it.
    if (string.at(cut - 1).isHighSurrogate() && string.at(cut).isLowSurrogate())
        --cut;
    return string.left(cut);
}

Value TLYAttributeDictionary::serializeSuccess(const Value& value)
{
    if (value.isNull())
        return Value();
    bool truth = false;
    if (value.isString())
        truth = stringBoolValue(value.toString());
    else
        truth = value.toBool();
    return Value(truth ? QStringLiteral("true") : QStringLiteral("false"));
}

Value TLYAttributeDictionary::serializePriceToMicros(const Value& value)
{
    if (value.isNull())
        return Value();
    const double price = value.isString() ? value.toString().toDouble() : value.toReal();
    if (!std::isfinite(price) || price > MaximumPrice) {
        Log::warning(QStringLiteral("[Tally] Maximum value for a price attribute exceeded. Ignoring price "
                                    "attribute with value: %1")
                         .arg(attributeText(value)));
        return Value();
    }
    const double micros = price * 1000000.0;
    // Exact micro-units where an integer holds them (9.99 is 9990000, not 9990000.000000001).
    if (std::fabs(micros) < 9.0e15)
        return Value(qint64(std::llround(micros)));
    return Value(micros);
}

Value TLYAttributeDictionary::serializeNumber(const Value& value)
{
    if (value.isNull())
        return Value();
    if (value.isReal() && !std::isfinite(value.toReal()))
        return Value();
    return value;
}

TLYEvent::TLYEvent() : mTimestamp(CalendarClock::now()), mIdentifier(LOMCreateUUIDString()) {}

TLYEvent::~TLYEvent() = default;

QString TLYEvent::name() const
{
    return QStringLiteral("unknown");
}

Value TLYEvent::dictionaryRepresentation() const
{
    return Value(ValueDictionary());
}

QString TLYEvent::description() const
{
    return QStringLiteral("<%1: %2>").arg(name(), mIdentifier);
}

TLYPredefinedEvent::TLYPredefinedEvent(QString predefinedEventName, const Value& customAttributes)
    : mType(std::move(predefinedEventName)), mCustom(customAttributes)
{}

Value TLYPredefinedEvent::dictionaryRepresentation() const
{
    ValueDictionary dictionary;
    dictionary.insert(QStringLiteral("eventId"), Value(identifier()));
    dictionary.insert(QStringLiteral("predefined_type"), Value(mType));
    dictionary.insert(QStringLiteral("custom_attributes"), mCustom.dictionaryRepresentation());
    dictionary.insert(QStringLiteral("predefined_attributes"), mPredefined.dictionaryRepresentation());
    return Value(std::move(dictionary));
}

QString TLYPredefinedEvent::description() const
{
    return QStringLiteral("<TLYPredefinedEvent: %1\n%2\n%3>")
        .arg(mType, mPredefined.description(), mCustom.description());
}

namespace {

enum class TLYAttributeKind
{
    Plain,
    Boolean,
    Price
};

struct TLYPredefinedAttribute
{
    const char* key;
    const Value& value;
    TLYAttributeKind kind = TLYAttributeKind::Plain;
};

std::shared_ptr<TLYPredefinedEvent> makePredefined(const char* type, const Value& custom,
                                                   std::initializer_list<TLYPredefinedAttribute> attributes)
{
    auto event = std::make_shared<TLYPredefinedEvent>(QString::fromLatin1(type), custom);
    for (const TLYPredefinedAttribute& attribute : attributes) {
        const QString key = QString::fromLatin1(attribute.key);
        switch (attribute.kind) {
        case TLYAttributeKind::Plain:
            event->predefinedAttributes().addAttribute(attribute.value, Value(key));
            break;
        case TLYAttributeKind::Boolean:
            event->predefinedAttributes().addBooleanAttribute(attribute.value, key);
            break;
        case TLYAttributeKind::Price:
            event->predefinedAttributes().addPriceAttribute(attribute.value, key);
            break;
        }
    }
    return event;
}

constexpr auto Boolean = TLYAttributeKind::Boolean;
constexpr auto Price = TLYAttributeKind::Price;

} // namespace

std::shared_ptr<TLYPredefinedEvent> TLYPredefinedEvent::signUpEvent(const Value& method, const Value& success,
                                                                    const Value& custom)
{
    return makePredefined("sign_up", custom, {{"method", method}, {"success", success, Boolean}});
}

std::shared_ptr<TLYPredefinedEvent> TLYPredefinedEvent::loginEvent(const Value& method, const Value& success,
                                                                   const Value& custom)
{
    return makePredefined("login", custom, {{"method", method}, {"success", success, Boolean}});
}

std::shared_ptr<TLYPredefinedEvent>
TLYPredefinedEvent::shareEvent(const Value& method, const Value& contentName, const Value& contentType,
                               const Value& contentId, const Value& custom)
{
    return makePredefined("share", custom,
                          {{"method", method},
                           {"content_name", contentName},
                           {"content_type", contentType},
                           {"content_id", contentId}});
}

std::shared_ptr<TLYPredefinedEvent> TLYPredefinedEvent::inviteEvent(const Value& method, const Value& custom)
{
    return makePredefined("invite", custom, {{"method", method}});
}

std::shared_ptr<TLYPredefinedEvent>
TLYPredefinedEvent::purchaseEvent(const Value& price, const Value& currency, const Value& success,
                                  const Value& itemName, const Value& itemType, const Value& itemId,
                                  const Value& custom)
{
    return makePredefined("purchase", custom,
                          {{"item_price", price, Price},
                           {"currency", currency},
                           {"success", success, Boolean},
                           {"item_name", itemName},
                           {"item_type", itemType},
                           {"item_id", itemId}});
}

std::shared_ptr<TLYPredefinedEvent> TLYPredefinedEvent::levelStartEvent(const Value& levelName,
                                                                        const Value& custom)
{
    return makePredefined("level_start", custom, {{"level_name", levelName}});
}

std::shared_ptr<TLYPredefinedEvent> TLYPredefinedEvent::levelEndEvent(const Value& levelName,
                                                                      const Value& score,
                                                                      const Value& success,
                                                                      const Value& custom)
{
    return makePredefined("level_end", custom,
                          {{"level_name", levelName}, {"score", score}, {"success", success, Boolean}});
}

std::shared_ptr<TLYPredefinedEvent>
TLYPredefinedEvent::addToCartEvent(const Value& price, const Value& currency, const Value& itemName,
                                   const Value& itemType, const Value& itemId, const Value& custom)
{
    return makePredefined("add_to_cart", custom,
                          {{"item_price", price, Price},
                           {"currency", currency},
                           {"item_name", itemName},
                           {"item_type", itemType},
                           {"item_id", itemId}});
}

std::shared_ptr<TLYPredefinedEvent> TLYPredefinedEvent::startCheckoutEvent(const Value& price,
                                                                           const Value& currency,
                                                                           const Value& itemCount,
                                                                           const Value& custom)
{
    return makePredefined("start_checkout", custom,
                          {{"total_price", price, Price}, {"currency", currency}, {"item_count", itemCount}});
}

std::shared_ptr<TLYPredefinedEvent>
TLYPredefinedEvent::ratingEvent(const Value& rating, const Value& contentName, const Value& contentType,
                                const Value& contentId, const Value& custom)
{
    return makePredefined("rating", custom,
                          {{"rating", rating},
                           {"content_name", contentName},
                           {"content_type", contentType},
                           {"content_id", contentId}});
}

std::shared_ptr<TLYPredefinedEvent> TLYPredefinedEvent::contentViewEvent(const Value& contentName,
                                                                         const Value& contentType,
                                                                         const Value& contentId,
                                                                         const Value& custom)
{
    return makePredefined(
        "content_view", custom,
        {{"content_name", contentName}, {"content_type", contentType}, {"content_id", contentId}});
}

std::shared_ptr<TLYPredefinedEvent> TLYPredefinedEvent::searchEvent(const Value& query, const Value& custom)
{
    return makePredefined("search", custom, {{"query", query}});
}

TLYCustomEvent::TLYCustomEvent(std::optional<QString> customEventName, const Value& customAttributes)
    : mName(std::move(customEventName)), mCustom(customAttributes)
{}

Value TLYCustomEvent::dictionaryRepresentation() const
{
    ValueDictionary dictionary;
    dictionary.insert(QStringLiteral("eventId"), Value(identifier()));
    dictionary.insert(QStringLiteral("custom_type"), Value(mName.value_or(QString())));
    dictionary.insert(QStringLiteral("custom_attributes"), mCustom.dictionaryRepresentation());
    return Value(std::move(dictionary));
}

QString TLYCustomEvent::description() const
{
    return QStringLiteral("<TLYCustomEvent: %1\n%2>")
        .arg(mName.value_or(QStringLiteral("(null)")), mCustom.description());
}

TLYCrashEvent::TLYCrashEvent(QDateTime crashTimestamp, quint64 crashState)
    : mCrashTimestamp(std::move(crashTimestamp)), mCrashState(crashState)
{}

QString TLYCrashEvent::payloadStringForCrashState(quint64 state)
{
    if (state == 1)
        return QStringLiteral("foreground");
    if (state == 2)
        return QStringLiteral("background");
    return QStringLiteral("unknown");
}

Value TLYCrashEvent::dictionaryRepresentation() const
{
    ValueDictionary dictionary;
    dictionary.insert(QStringLiteral("eventId"), Value(identifier()));
    dictionary.insert(QStringLiteral("crash_state"), Value(payloadStringForCrashState(mCrashState)));
    return Value(std::move(dictionary));
}

QString TLYLifecycleEvent::nameFromNotification(const QString& notificationName)
{
    if (notificationName == QLatin1String("NSApplicationWillTerminateNotification"))
        return QStringLiteral("app_terminated");
    if (notificationName == QLatin1String("NSApplicationWillResignActiveNotification"))
        return QStringLiteral("app_became_inactive");
    if (notificationName == QLatin1String("NSApplicationDidBecomeActiveNotification"))
        return QStringLiteral("app_became_active");
    return QStringLiteral("unknown-notification");
}

std::shared_ptr<TLYLifecycleEvent> TLYLifecycleEvent::eventWithNotification(const QString& notificationName)
{
    return std::make_shared<TLYLifecycleEvent>(nameFromNotification(notificationName));
}

std::shared_ptr<TLYLifecycleEvent> TLYLifecycleEvent::installEvent()
{
    return std::make_shared<TLYLifecycleEvent>(QStringLiteral("app_installed"));
}

std::shared_ptr<TLYLifecycleEvent> TLYLifecycleEvent::appLaunchedEvent()
{
    return std::make_shared<TLYLifecycleEvent>(QStringLiteral("app_launched"));
}

Value TLYLifecycleEvent::dictionaryRepresentation() const
{
    ValueDictionary dictionary;
    dictionary.insert(QStringLiteral("eventId"), Value(identifier()));
    return Value(std::move(dictionary));
}

bool TLYLifecycleEvent::triggersFlush() const
{
    return mName == QLatin1String("app_became_inactive") || mName == QLatin1String("app_became_active") ||
           mName == QLatin1String("app_installed");
}

bool TLYEventFilter::shouldDiscardEvent(const TLYEvent* event, const std::optional<QString>& betaToken,
                                        const std::optional<QString>& installationID, qint64 factor) const
{
    if (event == nullptr)
        return true;
    if (betaToken.has_value())
        return false;
    if (!samplingEnabledForEventType(event->name()))
        return false;
    return shouldDiscardEventWithInstallationID(installationID, factor);
}

bool TLYEventFilter::samplingEnabledForEventType(const QString& name)
{
    static const QStringList sampled = {
        QStringLiteral("app_launched"),
        QStringLiteral("app_terminated"),
        QStringLiteral("app_crashed"),
        QStringLiteral("app_memory_warning"),
        QStringLiteral("app_entered_background"),
        QStringLiteral("app_entered_foreground"),
        QStringLiteral("app_became_inactive"),
        QStringLiteral("app_became_active"),
    };
    return sampled.contains(name);
}

bool TLYEventFilter::shouldDiscardEventWithInstallationID(const std::optional<QString>& installationID,
                                                          qint64 factor)
{
    if (!installationID.has_value() || factor < 2)
        return false;
    const qint64 hash = qint64(javaHashCodeForString(*installationID));
    return hash % factor != 0;
}

qint32 TLYEventFilter::javaHashCodeForString(const QString& string)
{
    quint32 hash = 0; // unsigned arithmetic wraps as the signed 32-bit hash does
    for (QChar unit : string)
        hash = hash * 31u + unit.unicode();
    return qint32(hash);
}

} // namespace corvex
