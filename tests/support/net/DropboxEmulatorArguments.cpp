#include "tests/support/net/DropboxEmulatorArguments.h"

#include <QJsonArray>
#include <QRegularExpression>
#include <vector>

namespace corvex::test {

namespace {

// The service's path and revision forms.
constexpr const char* PathROrId = R"((/(.|[\r\n])*)?|id:.*|(ns:[0-9]+(/.*)?))";
constexpr const char* WritePath = R"((/(.|[\r\n])*)|(ns:[0-9]+(/.*)?))";
constexpr const char* WritePathOrId = R"((/(.|[\r\n])*)|(ns:[0-9]+(/.*)?)|(id:.*))";
constexpr const char* ReadPath = R"((/(.|[\r\n])*|id:.*)|(rev:[0-9a-f]{9,})|(ns:[0-9]+(/.*)?))";
constexpr const char* RevPattern = "[0-9a-f]+";
constexpr int RevMinLength = 9;

enum class Kind
{
    Text,
    Flag,
    Count,
    Object,
    List,
    Mode,
    Timestamp,
};

struct Field
{
    const char* name;
    Kind kind;
    bool required = false;
    bool nullable = false;
    const char* pattern = nullptr;
    int minLength = 0;
    qint64 maxValue = 0;
};

struct RouteFields
{
    const char* route;
    std::vector<Field> fields;
};

const std::vector<RouteFields>& routeFields()
{
    static const std::vector<RouteFields> routes = {
        {"files/list_folder",
         {{"path", Kind::Text, true, false, PathROrId},
          {"recursive", Kind::Flag},
          {"include_media_info", Kind::Flag},
          {"include_deleted", Kind::Flag},
          {"include_has_explicit_shared_members", Kind::Flag},
          {"include_mounted_folders", Kind::Flag},
          {"include_non_downloadable_files", Kind::Flag},
          {"limit", Kind::Count, false, true, nullptr, 0, 2000},
          {"shared_link", Kind::Object, false, true},
          {"include_property_groups", Kind::Object, false, true}}},
        {"files/list_folder/continue", {{"cursor", Kind::Text, true, false, nullptr, 1}}},
        {"files/create_folder_v2",
         {{"path", Kind::Text, true, false, WritePath}, {"autorename", Kind::Flag}}},
        {"files/get_metadata",
         {{"path", Kind::Text, true, false, ReadPath},
          {"include_media_info", Kind::Flag},
          {"include_deleted", Kind::Flag},
          {"include_has_explicit_shared_members", Kind::Flag},
          {"include_property_groups", Kind::Object, false, true}}},
        {"files/delete_v2",
         {{"path", Kind::Text, true, false, WritePathOrId},
          {"parent_rev", Kind::Text, false, true, RevPattern, RevMinLength}}},
        {"files/upload",
         {{"path", Kind::Text, true, false, WritePathOrId},
          {"mode", Kind::Mode},
          {"autorename", Kind::Flag},
          {"client_modified", Kind::Timestamp, false, true},
          {"mute", Kind::Flag},
          {"property_groups", Kind::List, false, true},
          {"strict_conflict", Kind::Flag},
          {"content_hash", Kind::Text, false, true, "[0-9a-f]{64}", 64}}},
        {"files/download",
         {{"path", Kind::Text, true, false, ReadPath},
          {"rev", Kind::Text, false, true, RevPattern, RevMinLength}}},
    };
    return routes;
}

QString typeName(const QJsonValue& value)
{
    switch (value.type()) {
    case QJsonValue::Null:
        return QStringLiteral("null");
    case QJsonValue::Bool:
        return QStringLiteral("boolean");
    case QJsonValue::Double:
        return QStringLiteral("number");
    case QJsonValue::String:
        return QStringLiteral("string");
    case QJsonValue::Array:
        return QStringLiteral("list");
    case QJsonValue::Object:
        return QStringLiteral("object");
    default:
        return QStringLiteral("nothing");
    }
}

QString expected(const QString& name, const char* type, const QJsonValue& value)
{
    return QStringLiteral("%1: expected %2, got %3").arg(name, QLatin1String(type), typeName(value));
}

std::optional<QString> textProblem(const QString& name, const QString& text, const char* pattern,
                                   int minLength)
{
    if (text.size() < minLength)
        return QStringLiteral("%1: '%2' must be at least %3 characters, got %4")
            .arg(name, text)
            .arg(minLength)
            .arg(text.size());
    if (pattern != nullptr &&
        !QRegularExpression(QRegularExpression::anchoredPattern(QString::fromLatin1(pattern)))
             .match(text)
             .hasMatch())
        return QStringLiteral("%1: '%2' did not match pattern '%3'")
            .arg(name, text, QString::fromLatin1(pattern));
    return std::nullopt;
}

// WriteMode: "add", "overwrite", or {".tag": "add" | "overwrite" | "update", "update": rev}.
std::optional<QString> modeProblem(const QJsonValue& value)
{
    QString tag;
    if (value.isString()) {
        tag = value.toString();
        if (tag == QLatin1String("update"))
            return QStringLiteral("mode: tag 'update' has a value and cannot be given by its name alone");
    } else if (value.isObject()) {
        const QJsonObject object = value.toObject();
        if (!object.value(QStringLiteral(".tag")).isString())
            return QStringLiteral("mode: missing '.tag' key");
        tag = object.value(QStringLiteral(".tag")).toString();
        if (tag == QLatin1String("update")) {
            const QJsonValue rev = object.value(QStringLiteral("update"));
            if (!rev.isString())
                return expected(QStringLiteral("mode.update"), "string", rev);
            return textProblem(QStringLiteral("mode.update"), rev.toString(), RevPattern, RevMinLength);
        }
    } else {
        return expected(QStringLiteral("mode"), "string or object", value);
    }
    if (tag != QLatin1String("add") && tag != QLatin1String("overwrite"))
        return QStringLiteral("mode: unknown tag '%1'").arg(tag);
    return std::nullopt;
}

std::optional<QString> fieldProblem(const Field& field, const QJsonValue& value)
{
    const QString name = QString::fromLatin1(field.name);
    if (value.isNull() && field.nullable)
        return std::nullopt;
    switch (field.kind) {
    case Kind::Text:
        if (!value.isString())
            return expected(name, "string", value);
        return textProblem(name, value.toString(), field.pattern, field.minLength);
    case Kind::Flag:
        return value.isBool() ? std::nullopt : std::optional<QString>(expected(name, "boolean", value));
    case Kind::Count: {
        const double number = value.toDouble(-1);
        if (!value.isDouble() || number != double(qint64(number)) || number < 1 ||
            number > double(field.maxValue))
            return QStringLiteral("%1: expected an integer from 1 to %2").arg(name).arg(field.maxValue);
        return std::nullopt;
    }
    case Kind::Object:
        return value.isObject() ? std::nullopt : std::optional<QString>(expected(name, "object", value));
    case Kind::List:
        return value.isArray() ? std::nullopt : std::optional<QString>(expected(name, "list", value));
    case Kind::Mode:
        return modeProblem(value);
    case Kind::Timestamp:
        if (!value.isString() || !DropboxEmulatorArguments::isTimestamp(value.toString()))
            return QStringLiteral("%1: expected a timestamp of the form %Y-%m-%dT%H:%M:%SZ").arg(name);
        return std::nullopt;
    }
    return std::nullopt;
}

} // namespace

std::optional<QString> DropboxEmulatorArguments::problem(const QByteArray& route, const QJsonObject& argument)
{
    const RouteFields* rules = nullptr;
    for (const RouteFields& each : routeFields())
        if (route == each.route)
            rules = &each;
    if (rules == nullptr)
        return std::nullopt;
    for (auto it = argument.begin(); it != argument.end(); ++it) {
        bool known = false;
        for (const Field& field : rules->fields)
            known = known || it.key() == QLatin1String(field.name);
        if (!known)
            return QStringLiteral("unknown field '%1'").arg(it.key());
    }
    const QJsonValue path = argument.value(QStringLiteral("path"));
    if (route == "files/list_folder" && path == QJsonValue(QStringLiteral("/")))
        return QStringLiteral("path: Specify the root folder as an empty string rather than as \"/\".");
    if (route == "files/get_metadata" && path == QJsonValue(QString()))
        return QStringLiteral("path: The root folder is unsupported.");
    for (const Field& field : rules->fields) {
        const QJsonValue value = argument.value(QLatin1String(field.name));
        if (value.isUndefined()) {
            if (field.required)
                return QStringLiteral("missing required field '%1'").arg(QLatin1String(field.name));
            continue;
        }
        if (auto problem = fieldProblem(field, value))
            return problem;
    }
    return std::nullopt;
}

bool DropboxEmulatorArguments::isMalformedPath(const QString& path)
{
    if (!path.startsWith(QLatin1Char('/')))
        return false;
    if (path.endsWith(QLatin1Char('/')) || path.back().isSpace())
        return true;
    const QStringList components = path.mid(1).split(QLatin1Char('/'));
    for (const QString& component : components)
        if (component.isEmpty() || component == QLatin1String(".") || component == QLatin1String(".."))
            return true;
    return false;
}

bool DropboxEmulatorArguments::isDisallowedName(const QString& name)
{
    static const QStringList names = {QStringLiteral("desktop.ini"), QStringLiteral("thumbs.db"),
                                      QStringLiteral(".ds_store"),   QStringLiteral("icon\r"),
                                      QStringLiteral(".dropbox"),    QStringLiteral(".dropbox.attr")};
    return names.contains(name.toLower());
}

bool DropboxEmulatorArguments::isTimestamp(const QString& text)
{
    static const QRegularExpression form(QRegularExpression::anchoredPattern(
        QStringLiteral("[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}Z")));
    return form.match(text).hasMatch();
}

} // namespace corvex::test
