#include "platform/ui/PromisedFileMimeData.h"

#include "platform/ui/BoundedWait.h"
#include "platform/ui/QtDragDestinationAdapter.h"

#include <QVariant>

namespace corvex {

PromisedFileMimeData::PromisedFileMimeData(Promise promise, double waitSeconds)
    : mPromise(std::move(promise)), mWaitSeconds(waitSeconds)
{}

QStringList PromisedFileMimeData::formats() const
{
    return {QtDragDestinationAdapter::UriListType};
}

bool PromisedFileMimeData::hasFormat(const QString& mimeType) const
{
    return mimeType == QtDragDestinationAdapter::UriListType;
}

QVariant PromisedFileMimeData::retrieveData(const QString& mimeType, QMetaType type) const
{
    if (mimeType != QtDragDestinationAdapter::UriListType || !mPromise.fulfil || !mPromise.settled ||
        !mPromise.urls)
        return QVariant();
    mPromise.fulfil();
    const std::function<bool()> settled = mPromise.settled;
    BoundedWait::until(settled, mWaitSeconds);
    const QList<QUrl> urls = settled() ? mPromise.urls() : QList<QUrl>();
    if (urls.isEmpty())
        return QVariant();
    if (type.id() == QMetaType::QByteArray) {
        QByteArray bytes;
        for (const QUrl& url : urls)
            bytes += url.toEncoded() + "\r\n";
        return bytes;
    }
    QVariantList list;
    for (const QUrl& url : urls)
        list.append(url);
    return list;
}

} // namespace corvex
