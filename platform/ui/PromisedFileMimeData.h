#pragma once

#include <QList>
#include <QMimeData>
#include <QUrl>
#include <functional>

namespace corvex {

// The data of a drag the application starts, standing in for a file promise: it offers
// "text/uri-list" and makes the file only when a destination asks for the list. Asking
// starts the promise (`fulfil`) and waits at most `waitSeconds` on the current scheduler
// for it to settle; an unsettled or failed promise gives an empty list, so no URL is
// handed out before its file is written. Main thread only.
class PromisedFileMimeData final : public QMimeData
{
public:
    struct Promise
    {
        // Starts making the file (once; later calls do nothing).
        std::function<void()> fulfil;
        // True once the file is written or has failed.
        std::function<bool()> settled;
        // The file's URL once written; empty otherwise.
        std::function<QList<QUrl>()> urls;
    };

    explicit PromisedFileMimeData(Promise promise, double waitSeconds);

    QStringList formats() const override;
    bool hasFormat(const QString& mimeType) const override;

protected:
    QVariant retrieveData(const QString& mimeType, QMetaType type) const override;

private:
    Promise mPromise;
    double mWaitSeconds;
};

} // namespace corvex
