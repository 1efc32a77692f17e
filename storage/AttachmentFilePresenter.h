#pragma once

#include "platform/core/FilePresenter.h"

#include <QString>
#include <QUrl>
#include <atomic>
#include <memory>
#include <mutex>

namespace corvex {

class AttachmentFilePresenterDelegate;
class SerialQueue;

// The presenter of one attachment file in the file-coordination scheme. Attachments never
// change once written (their name is the digest of their bytes), so change notices have no
// effect: the first one only marks the presenter as waiting for a read (unless updates are
// ignored), and nothing follows. The version callbacks do nothing.
//
// Made with initWithFileURL, which registers it with the file coordinator; close() (or
// destruction) unregisters it. The delegate is kept weakly. The presenter's serial queue is
// kept until destruction, because the coordinator may ask for it until then.
//
// Any thread: the URL and the delegate are guarded; the flags are atomic.
class AttachmentFilePresenter final : public FilePresenter
{
public:
    static std::shared_ptr<AttachmentFilePresenter>
    initWithFileURL(const QUrl& url, const std::weak_ptr<AttachmentFilePresenterDelegate>& delegate);
    ~AttachmentFilePresenter() override;

    // Unregisters and drops the delegate and the URL.
    void close();
    bool isClosed() const { return mClosed.load(); }

    // The presented file; empty once closed.
    QUrl presentedItemURL() const;
    std::shared_ptr<AttachmentFilePresenterDelegate> delegate() const;

    // The storage location of the attachment (0 temporary, 1 local, 2 iCloud, 3 Dropbox);
    // kept for the back ends, unused here.
    unsigned location() const { return mLocation.load(); }
    void setLocation(unsigned location) { mLocation.store(location); }
    bool isWaitingRead() const { return mIsWaitingRead.load(); }
    bool ignoresUpdates() const { return mIgnoreUpdates.load(); }
    void setIgnoreUpdates(bool ignore) { mIgnoreUpdates.store(ignore); }

    // FilePresenter
    QString presentedItemPath() const override;
    SerialQueue* presentedItemQueue() override;
    void presentedItemDidChange() override;

private:
    struct Private
    {
        explicit Private() = default;
    };

public:
    // Use initWithFileURL; public only for std::make_shared.
    AttachmentFilePresenter(Private, const QUrl& url,
                            const std::weak_ptr<AttachmentFilePresenterDelegate>& delegate);

private:
    mutable std::mutex mMutex;
    QUrl mFileURL; // guarded by mMutex
    std::unique_ptr<SerialQueue> mPresentedItemOperationQueue;
    std::atomic<unsigned> mLocation{0};
    std::weak_ptr<AttachmentFilePresenterDelegate> mDelegate; // guarded by mMutex
    std::atomic<bool> mIsWaitingRead{false};
    std::atomic<bool> mIgnoreUpdates{false};
    std::atomic<bool> mClosed{false};
};

} // namespace corvex
