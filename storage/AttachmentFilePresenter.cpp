#include "storage/AttachmentFilePresenter.h"

#include "platform/core/FileCoordinator.h"
#include "platform/core/SerialQueue.h"

namespace corvex {

std::shared_ptr<AttachmentFilePresenter>
AttachmentFilePresenter::initWithFileURL(const QUrl& url,
                                         const std::weak_ptr<AttachmentFilePresenterDelegate>& delegate)
{
    auto presenter = std::make_shared<AttachmentFilePresenter>(Private(), url, delegate);
    FileCoordinator::addFilePresenter(presenter);
    return presenter;
}

AttachmentFilePresenter::AttachmentFilePresenter(
    Private, const QUrl& url, const std::weak_ptr<AttachmentFilePresenterDelegate>& delegate)
    : mFileURL(url),
      mPresentedItemOperationQueue(std::make_unique<SerialQueue>("com.tallowfen.corvex.attachmentpresenter")),
      mDelegate(delegate)
{}

AttachmentFilePresenter::~AttachmentFilePresenter()
{
    FileCoordinator::removeFilePresenter(this);
}

void AttachmentFilePresenter::close()
{
    if (mClosed.exchange(true))
        return;
    FileCoordinator::removeFilePresenter(this);
    std::lock_guard lock(mMutex);
    mDelegate.reset();
    mFileURL = QUrl();
}

QUrl AttachmentFilePresenter::presentedItemURL() const
{
    std::lock_guard lock(mMutex);
    return mFileURL;
}

std::shared_ptr<AttachmentFilePresenterDelegate> AttachmentFilePresenter::delegate() const
{
    std::lock_guard lock(mMutex);
    return mDelegate.lock();
}

QString AttachmentFilePresenter::presentedItemPath() const
{
    return presentedItemURL().toLocalFile();
}

SerialQueue* AttachmentFilePresenter::presentedItemQueue()
{
    return mPresentedItemOperationQueue.get();
}

void AttachmentFilePresenter::presentedItemDidChange()
{
    // An attachment's bytes are fixed by its name, so a change asks for no action.
    if (!mIgnoreUpdates.load())
        mIsWaitingRead.store(true);
}

} // namespace corvex
