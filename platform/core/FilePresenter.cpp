#include "platform/core/FilePresenter.h"

#include "platform/core/FileCoordinator.h"

namespace corvex {

FilePresenter::~FilePresenter()
{
    // Weak references to this object have expired by now; removing the registration at
    // once stops its folder from being watched for nobody.
    FileCoordinator::removeFilePresenter(this);
}

SerialQueue* FilePresenter::presentedItemQueue()
{
    return nullptr;
}

void FilePresenter::relinquishPresentedItemToReader(RelinquishBlock block)
{
    block(Reacquirer());
}

void FilePresenter::relinquishPresentedItemToWriter(RelinquishBlock block)
{
    block(Reacquirer());
}

void FilePresenter::presentedItemDidChange() {}

void FilePresenter::presentedItemDidGainVersion(const QVariant&) {}

void FilePresenter::presentedItemDidLoseVersion(const QVariant&) {}

void FilePresenter::presentedItemDidResolveConflictVersion(const QVariant&) {}

void FilePresenter::presentedSubitemDidGainVersion(const QString&, const QVariant&) {}

void FilePresenter::presentedSubitemDidLoseVersion(const QString&, const QVariant&) {}

void FilePresenter::presentedSubitemDidResolveConflictVersion(const QString&, const QVariant&) {}

} // namespace corvex
