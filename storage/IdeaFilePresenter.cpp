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
#include "platform/core/SysCalls.h"
#include "platform/core/Zlib.h"
#include "storage/IdeaDocument.h"
#include "storage/ParallelDeflate.h"
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

// The whole file, through SysCalls so that tests can count and fail the opens. Larger files
// than any document the decoder would inflate are refused before they are read.
bool readWholeFile(const QString& path, QByteArray& data, Error* error)
{
    const QByteArray encoded = QFile::encodeName(path);
    const int fd = SysCalls::open(encoded.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (error)
            *error = Error::posix(errno, QStringLiteral("Cannot open the document"), path);
        return false;
    }
    struct stat info;
    bool ok = ::fstat(fd, &info) == 0;
    int failure = ok ? 0 : errno;
    if (ok && (!S_ISREG(info.st_mode) || info.st_size > Zlib::DefaultInflateLimit)) {
        ok = false;
        failure = S_ISREG(info.st_mode) ? EFBIG : EINVAL;
    }
    if (ok) {
        data.resize(qsizetype(info.st_size));
        qsizetype filled = 0;
        for (;;) {
            if (filled == data.size())
                data.resize(filled + 64 * 1024); // the file grew since fstat
            const ssize_t got = ::read(fd, data.data() + filled, std::size_t(data.size() - filled));
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0) {
                ok = false;
                failure = errno;
                break;
            }
            if (got == 0)
                break;
            filled += got;
            if (filled > Zlib::DefaultInflateLimit) {
                ok = false;
                failure = EFBIG;
                break;
            }
        }
        data.resize(ok ? filled : 0);
    }
    SysCalls::close(fd);
    if (!ok && error)
        *error = Error::posix(failure, QStringLiteral("Cannot read the document"), path);
    return ok;
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
        [weak, completion = std::move(completion)](const std::shared_ptr<IdeaDocumentDataObject>& payload) {
            if (!payload) {
                completion(false);
                return;
            }
            if (auto self = weak.lock()) {
                if (auto owner = self->mOwner.lock())
                    owner->applyDataObject(payload);
            }
            completion(true);
        });
}

void IdeaFilePresenter::readPayloadWithCompletionHandler(PayloadCompletion completion)
{
    const QUrl url = presentedItemURL();
    if (UrlExtension::localPath(url).isEmpty()) {
        Globals::raiseCorvexURLError(QStringLiteral("IdeaDocument:readWithCompletionHandler"));
        completion(nullptr);
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
                        QByteArray data;
                        if (readWholeFile(path, data, &error)) {
                            payload = IdeaDocumentDataObject::readFromUnknownData(data, url);
                            if (!payload)
                                error = Error::posix(EINVAL, QStringLiteral("The document cannot be decoded"),
                                                     path);
                        }
                        // A save killed half-way may have left its named temporary; no save of
                        // the file can run while it is held for reading.
                        const QFileInfo info(path);
                        SaveFile::removeStaleTemporaries(info.path(), info.fileName());
                    },
                    &error);
        if (!coordinated || !payload)
            Log::warning(
                QStringLiteral("IdeaFilePresenter: cannot read %1: %2").arg(self->mPath, error.toString()));
        MainQueue::post(
            [completion = std::move(completion), payload = std::move(payload)] { completion(payload); });
    });
}

// ---- Writing

bool IdeaFilePresenter::writesPlainJSON(const QUrl& url, unsigned location)
{
    return location == IdeaDocument::ICloudLocation &&
           UrlExtension::lowerCaseLastPathComponent(url).endsWith(QLatin1String(".crvx"));
}

Result<QByteArray> IdeaFilePresenter::storedForm(const QByteArray& json, bool plainJSON)
{
    if (json.isEmpty())
        return Error::posix(EINVAL, QStringLiteral("The document has nothing to save"));
    if (plainJSON)
        return json;
    // The save's longest step, spread over the cores while the main thread goes on.
    return ParallelDeflate::compress(json);
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

void IdeaFilePresenter::createWithCompletionHandler(BoolCompletion completion)
{
    write(WriteMode::CreateNew, std::move(completion));
}

void IdeaFilePresenter::updateWithCompletionHandler(BoolCompletion completion)
{
    write(WriteMode::Replace, std::move(completion));
}

void IdeaFilePresenter::write(WriteMode mode, BoolCompletion completion)
{
    // The tree belongs to the main thread: its text is made here, and only bytes travel on.
    QByteArray json;
    bool plainJSON = false;
    if (auto owner = mOwner.lock()) {
        auto encoded = owner->exportAsPureJSONData();
        if (encoded.ok())
            json = std::move(encoded).value();
        plainJSON = writesPlainJSON(mFileURL, owner->location());
    }
    auto self = shared_from_this();
    // Failures go through the queue too, so that completions keep the order of the saves.
    StorageQueues::persistenceQueue().async([self, mode, plainJSON, json = std::move(json),
                                             completion = std::move(completion)]() mutable {
        bool written = false;
        Error error;
        // Deflated before the file is locked: readers wait only for the write itself.
        auto stored = storedForm(json, plainJSON);
        json = QByteArray(); // a large payload is not kept until the lambda goes
        if (!stored.ok()) {
            error = stored.error();
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
        if (!written)
            Log::warning(
                QStringLiteral("IdeaFilePresenter: cannot save %1: %2").arg(self->mPath, error.toString()));
        MainQueue::post([completion = std::move(completion), written] { completion(written); });
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
    readPayloadWithCompletionHandler([weak](const std::shared_ptr<IdeaDocumentDataObject>& payload) {
        if (auto self = weak.lock())
            self->changeNoticeReadFinished(payload);
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
