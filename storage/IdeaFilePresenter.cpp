#include "storage/IdeaFilePresenter.h"

#include "model/Globals.h"
#include "model/IdeaDocumentDataObject.h"
#include "model/UrlExtension.h"
#include "platform/core/FileCoordinator.h"
#include "platform/core/GlobalQueue.h"
#include "platform/core/Log.h"
#include "platform/core/MainQueue.h"
#include "platform/core/NotificationCenter.h"
#include "platform/core/SaveFile.h"
#include "platform/core/SerialQueue.h"
#include "platform/core/WholeFileReader.h"
#include "platform/core/Zlib.h"
#include "storage/IdeaDocument.h"
#include "storage/StorageQueues.h"

#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace corvex {
namespace {

// The line the change notice's main-thread check has always logged.
constexpr int kChangeNoticeThreadLine = 214;
constexpr const char* kChangeNoticeMethod = "-[IdeaFilePresenter presentedItemDidChange]";

Error nothingToSave()
{
    return Error::posix(EINVAL, QStringLiteral("The document has nothing to save"));
}

} // namespace

std::shared_ptr<IdeaFilePresenter>
IdeaFilePresenter::initWithFileURL(const QUrl& url, const std::weak_ptr<IdeaDocument>& owner)
{
    auto presenter = std::make_shared<IdeaFilePresenter>(Private(), url, owner);
    if (!presenter->mPath.isEmpty())
        FileCoordinator::addFilePresenter(presenter);
    return presenter;
}

IdeaFilePresenter::IdeaFilePresenter(Private, const QUrl& url, const std::weak_ptr<IdeaDocument>& owner)
    : mFileURL(url), mPath(UrlExtension::localPath(url)),
      mPresentedItemQueue(
          std::make_unique<SerialQueue>(QStringLiteral("com.tallowfen.corvex.ideafilepresenter"))),
      mOwner(owner)
{}

IdeaFilePresenter::~IdeaFilePresenter()
{
    // Before the queue goes: nothing may be queued for this presenter once it is gone.
    FileCoordinator::removeFilePresenter(this);
}

void IdeaFilePresenter::close()
{
    if (mClosed.exchange(true))
        return;
    FileCoordinator::removeFilePresenter(this);
    mOwner.reset();
}

QUrl IdeaFilePresenter::presentedItemURL() const
{
    return mClosed.load() ? QUrl() : mFileURL;
}

std::shared_ptr<IdeaDocument> IdeaFilePresenter::owner() const
{
    return mOwner.lock();
}

QString IdeaFilePresenter::presentedItemPath() const
{
    return mPath;
}

SerialQueue* IdeaFilePresenter::presentedItemQueue()
{
    return mPresentedItemQueue.get();
}

FilePresenter::Reacquirer IdeaFilePresenter::blockedUntilReacquired()
{
    mFileIsBlocked.store(true);
    std::weak_ptr<IdeaFilePresenter> weak = weak_from_this();
    return [weak] {
        if (auto self = weak.lock())
            self->mFileIsBlocked.store(false);
    };
}

void IdeaFilePresenter::relinquishPresentedItemToReader(RelinquishBlock block)
{
    block(blockedUntilReacquired());
}

void IdeaFilePresenter::relinquishPresentedItemToWriter(RelinquishBlock block)
{
    block(blockedUntilReacquired());
}

// ---- Reading

void IdeaFilePresenter::readWithCompletionHandler(BoolCompletion completion)
{
    std::weak_ptr<IdeaFilePresenter> weak = weak_from_this();
    readPayloadWithCompletionHandler(
        [weak, completion = std::move(completion)](const PayloadResult& read) mutable {
            if (!read.ok()) {
                completion(false);
                return;
            }
            if (auto self = weak.lock()) {
                if (auto owner = self->mOwner.lock())
                    owner->applyDataObject(read.value());
            }
            completion(true);
        });
}

void IdeaFilePresenter::readPayloadWithCompletionHandler(PayloadCompletion completion)
{
    const QUrl url = presentedItemURL();
    if (UrlExtension::localPath(url).isEmpty()) {
        Globals::raiseCorvexURLError(QStringLiteral("IdeaDocument:readWithCompletionHandler"));
        const PayloadResult failed(Globals::newCorvexError(
            QStringLiteral("Null URL in operation IdeaDocument:readWithCompletionHandler"),
            Globals::NullURLErrorCode));
        completion(failed);
        return;
    }
    auto self = shared_from_this();
    GlobalQueue::async([self, url, completion = std::move(completion)]() mutable {
        std::shared_ptr<IdeaDocumentDataObject> payload;
        Error error;
        const bool coordinated =
            FileCoordinator(self.get())
                .coordinateReading(
                    self->mPath, FileCoordinator::ReadingWithoutChanges,
                    [&](const QString& path) {
                        // Larger files than any document the decoder would inflate are
                        // refused before they are read.
                        const auto data = WholeFileReader::read(path, Zlib::DefaultInflateLimit,
                                                                QStringLiteral("Cannot open the document"),
                                                                QStringLiteral("Cannot read the document"));
                        if (!data.ok()) {
                            error = data.error();
                        } else {
                            // The decoder's own reason goes to the log line and the result.
                            auto read = IdeaDocumentDataObject::decodeUnknownData(data.value(), url);
                            if (read.ok())
                                payload = read.value();
                            else
                                error = read.error();
                        }
                        // A save killed half-way may have left its named temporary; no save of
                        // the file can run while it is held for reading.
                        const QFileInfo info(path);
                        SaveFile::removeStaleTemporaries(info.path(), info.fileName());
                    },
                    &error);
        PayloadResult read = payload;
        if (!coordinated || !payload) {
            Log::warning(
                QStringLiteral("IdeaFilePresenter: cannot read %1: %2").arg(self->mPath, error.toString()));
            read = PayloadResult(error);
        }
        completion(read);
    });
}

// ---- Writing

bool IdeaFilePresenter::writesPlainJSON(const QUrl& url, unsigned location)
{
    return location == IdeaDocument::ICloudLocation &&
           UrlExtension::lowerCaseLastPathComponent(url).endsWith(QLatin1String(".crvx"));
}

bool IdeaFilePresenter::doWriteToURL(const QUrl& url, const QByteArray& data, WriteMode mode, Error* error)
{
    const QString path = UrlExtension::localPath(url);
    auto failed = [error](Error why) {
        if (error)
            *error = std::move(why);
        return false;
    };
    if (path.isEmpty())
        return failed(Error::posix(EINVAL, QStringLiteral("Cannot save a document without a file")));
    if (mode == WriteMode::CreateNew) {
        // Checked while the coordinated write holds the file: every instance of the program
        // creates under the same cross-process lock, so nobody can slip in before the rename.
        struct stat info;
        if (::lstat(QFile::encodeName(path).constData(), &info) == 0)
            return failed(
                Error::posix(EEXIST, QStringLiteral("A document with this name exists already"), path));
    }
    SaveFile file(path);
    if (!file.open() || file.write(data) < 0 || !file.commit())
        return failed(file.error());
    return true;
}

void IdeaFilePresenter::createWithBytes(BytesJob bytes, BoolCompletion completion)
{
    write(WriteMode::CreateNew, std::move(bytes), std::move(completion));
}

void IdeaFilePresenter::updateWithBytes(BytesJob bytes, BoolCompletion completion)
{
    write(WriteMode::Replace, std::move(bytes), std::move(completion));
}

void IdeaFilePresenter::write(WriteMode mode, BytesJob bytes, BoolCompletion completion)
{
    auto self = shared_from_this();
    // Failures go through the queue too, so that completions keep the order of the saves.
    StorageQueues::persistenceQueue().async([self, mode, bytes = std::move(bytes),
                                             completion = std::move(completion)]() mutable {
        bool written = false;
        Error error;
        // Made before the file is locked: readers wait only for the write itself.
        auto stored = bytes ? bytes() : Result<QByteArray>(nothingToSave());
        bytes = nullptr; // the job's text is not kept until the lambda goes
        if (!stored.ok()) {
            error = stored.error();
        } else if (self->mCreateFailed) {
            error = Error::posix(ENOENT, QStringLiteral("The document's file could not be made"));
        } else if (self->mPath.isEmpty()) {
            error = Error::posix(EINVAL, QStringLiteral("Cannot save a document without a file"));
        } else {
            const int options = mode == WriteMode::CreateNew ? FileCoordinator::WritingForReplacing
                                                             : FileCoordinator::WritingForMerging;
            const bool coordinated =
                FileCoordinator(self.get())
                    .coordinateWriting(
                        self->mPath, options,
                        [&](const QString& path) {
                            written = doWriteToURL(QUrl::fromLocalFile(path), stored.value(), mode, &error);
                        },
                        &error);
            written = written && coordinated;
        }
        if (mode == WriteMode::CreateNew && !written)
            self->mCreateFailed = true;
        if (!written)
            Log::warning(
                QStringLiteral("IdeaFilePresenter: cannot save %1: %2").arg(self->mPath, error.toString()));
        MainQueue::post([self, completion = std::move(completion), written,
                         reason = written ? QString() : error.localizedDescription()]() mutable {
            self->mLastWriteError = reason;
            completion(written);
        });
    });
}

// ---- Change notices

void IdeaFilePresenter::presentedItemDidChange()
{
    std::weak_ptr<IdeaFilePresenter> weak = weak_from_this();
    MainQueue::post([weak] {
        if (auto self = weak.lock())
            self->changeNoticed();
    });
}

void IdeaFilePresenter::changeNoticed()
{
    if (isClosed() || mOwner.expired())
        return;
    std::weak_ptr<IdeaFilePresenter> weak = weak_from_this();
    readPayloadWithCompletionHandler([weak](const PayloadResult& read) {
        if (auto self = weak.lock())
            self->changeNoticeReadFinished(read.valueOr(nullptr));
    });
}

void IdeaFilePresenter::changeNoticeReadFinished(const std::shared_ptr<IdeaDocumentDataObject>& payload)
{
    if (!MainQueue::isMainThread()) {
        Log::assertionFailure(kChangeNoticeThreadLine, kChangeNoticeMethod);
        // The owner's tree may only be touched on the main thread.
        MainQueue::post([self = shared_from_this(), payload] { self->changeNoticeReadFinished(payload); });
        return;
    }
    if (!payload || isClosed())
        return;
    auto owner = mOwner.lock();
    if (!owner)
        return;
    // Our own write, seen again (a second handle of this instance, a sync tool copying our
    // file back): the open tree is at least as new as the file.
    if (payload->appInstance() == Globals::appInstance())
        return;
    owner->applyDataObject(payload);
    NotificationCenter::defaultCenter().post(IdeaDocument::ChangedNotification, owner.get());
}

} // namespace corvex
