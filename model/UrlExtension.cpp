#include "model/UrlExtension.h"

#include <QStringList>
#include <initializer_list>

namespace corvex {

namespace {

bool endsWithAny(const QUrl& url, std::initializer_list<QLatin1String> suffixes)
{
    const QString name = UrlExtension::lowerCaseLastPathComponent(url);
    for (const QLatin1String suffix : suffixes) {
        if (name.endsWith(suffix))
            return true;
    }
    return false;
}

} // namespace

QString UrlExtension::localPath(const QUrl& url)
{
    return url.isLocalFile() ? url.toLocalFile() : QString();
}

QString UrlExtension::lowerCaseLastPathComponent(const QUrl& url)
{
    QString path = url.path(QUrl::FullyDecoded);
    while (path.size() > 1 && path.endsWith(QLatin1Char('/')))
        path.chop(1);
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    return path.mid(slash + 1).toLower();
}

bool UrlExtension::potentiallyOPMLDocument(const QUrl& url)
{
    return endsWithAny(url, {QLatin1String(".opml"), QLatin1String(".xml")});
}

bool UrlExtension::potentiallyCorvexDocument(const QUrl& url)
{
    return endsWithAny(url, {QLatin1String(".corvex")});
}

bool UrlExtension::potentiallyImageDocument(const QUrl& url)
{
    return endsWithAny(
        url, {QLatin1String(".bmp"), QLatin1String(".png"), QLatin1String(".jpg"), QLatin1String(".jpeg")});
}

} // namespace corvex
