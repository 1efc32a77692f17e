#pragma once

#include "platform/core/Error.h"

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <optional>

namespace corvex {

// The application resources of the web export: the viewer archive "web_include", the emoji
// pictures "web_twemoji" (both "zip"), the page template "web_index" and the instructions
// "web_howto" (both "html"). They are compiled in under ":/web/<name>.<type>"; the build
// makes the archives from plain files. Any thread.
class WebExportResources
{
public:
    WebExportResources() = delete;

    // Failures of unpacking an archive: domain "document", code 100.
    static const QString ErrorDomain;
    static constexpr int UnpackFailedCode = 100;

    // The resource's bytes; nullopt (logged) when there is none.
    static std::optional<QByteArray> resourceData(const QString& name, const QString& type);

    // The resource read as UTF-8 with every occurrence of each key replaced by its value,
    // key after key; nullopt (an assertion line) when the resource cannot be read.
    static std::optional<QString> processResourceTemplate(const QString& name, const QString& type,
                                                          const QList<QPair<QString, QString>>& params);
    // "web_index" with "{{title}}" as the title, HTML-escaped: a title is user text.
    static std::optional<QString> createDataIndexHtml(const QString& title);
    // "web_howto" unchanged.
    static std::optional<QString> createHowtoHtml();

    // Copies the archive resource into `scratchFolder` (zip extraction needs a real file)
    // and unpacks it into `destination`. A missing resource or a failed unzip answers the
    // error (domain "document", code 100).
    static Error unpackArchive(const QString& name, const QString& scratchFolder, const QString& destination);

    // Test seam: read resources as "<name>.<type>" from this folder instead of the compiled-in
    // ones; an empty path restores them. Set before an export starts.
    static void setResourceFolderForTesting(const QString& folder);
};

} // namespace corvex
