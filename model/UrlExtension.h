#pragma once

#include <QUrl>

namespace corvex {

// File-kind guesses from a URL's last path component, compared in lower case. Only the name
// is looked at, never the content.
class UrlExtension
{
public:
    // ".opml" or ".xml".
    static bool potentiallyOPMLDocument(const QUrl& url);
    // ".corvex".
    static bool potentiallyCorvexDocument(const QUrl& url);
    // ".bmp", ".png", ".jpg" or ".jpeg".
    static bool potentiallyImageDocument(const QUrl& url);

    // The last path component in lower case ("" when the path has none); trailing slashes
    // are ignored ("/a/B/" gives "b").
    static QString lowerCaseLastPathComponent(const QUrl& url);

    // A file URL's local path; empty for any other URL and for the empty one.
    static QString localPath(const QUrl& url);
};

} // namespace corvex
