#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <optional>

namespace corvex::test {

// What the Dropbox service checks of a route's argument before the route runs, each a 400
// with a plain-text body: the fields each route takes with their JSON types, patterns and
// ranges (paths, revisions, timestamps, the write mode), required fields, and fields the
// route does not know. And the path shapes and names it refuses later, as route errors.
class DropboxEmulatorArguments
{
public:
    DropboxEmulatorArguments() = delete;

    // Why the service refuses the argument, as the text after "<where>: "; nothing when it is
    // well formed. `where` is "request body" or "HTTP header \"Dropbox-API-Arg\"".
    static std::optional<QString> problem(const QByteArray& route, const QJsonObject& argument);

    // A path of the slash form that the service calls malformed (409 malformed_path): one
    // ending in "/" or a blank, or with an empty, "." or ".." component.
    static bool isMalformedPath(const QString& path);
    // A name the service will not store (409 disallowed_name): desktop metadata files.
    static bool isDisallowedName(const QString& name);
    // "YYYY-MM-DDTHH:MM:SSZ".
    static bool isTimestamp(const QString& text);
};

} // namespace corvex::test
