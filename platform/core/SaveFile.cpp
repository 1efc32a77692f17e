#include "platform/core/SaveFile.h"

#include "platform/core/Log.h"
#include "platform/core/NativeFileName.h"
#include "platform/core/SysCalls.h"

#include <QRandomGenerator>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <optional>
#include <sys/file.h> // flock
#include <sys/stat.h>
#include <unistd.h>

namespace corvex {
namespace {

// Small writes gather up to this size before they reach the kernel.
constexpr qsizetype kBufferSize = 64 * 1024;
constexpr int kNameAttempts = 100;
// The random part of a named temporary's name.
constexpr qsizetype kSuffixLength = 6;
constexpr mode_t kProgramFileMode = 0600;
// Narrowed by the umask (and a folder's default ACL) when the kernel creates the file.
constexpr mode_t kUserFileMode = 0666;

QByteArray randomSuffix()
{
    static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    QByteArray suffix(kSuffixLength, Qt::Uninitialized);
    for (char& c : suffix)
        c = kAlphabet[QRandomGenerator::global()->bounded(int(sizeof kAlphabet - 1))];
    return suffix;
}

QString decoded(const QByteArray& path)
{
    return NativeFileName::decode(path);
}

// Splits "/a/b/name" into "/a/b" and "name"; a bare name lives in ".".
void splitPath(const QByteArray& path, QByteArray& folder, QByteArray& name)
{
    const qsizetype slash = path.lastIndexOf('/');
    if (slash < 0) {
        folder = QByteArrayLiteral(".");
        name = path;
    } else {
        folder = slash == 0 ? QByteArrayLiteral("/") : path.left(slash);
        name = path.mid(slash + 1);
    }
}

// Unlinks the entries of `dir` whose names begin with `prefix`. The caller holds the
// folder's lock exclusively.
int removeTemporariesIn(DIR* dir, const QByteArray& folderPath, const QByteArray& prefix)
{
    QList<QByteArray> stale;
    ::rewinddir(dir);
    while (const dirent* entry = ::readdir(dir)) {
        const QByteArray name(entry->d_name);
        if (name.startsWith(prefix) && entry->d_type != DT_DIR)
            stale.append(folderPath + '/' + name);
    }
    int removed = 0;
    for (const QByteArray& path : stale) {
        if (SysCalls::unlink(path.constData()) == 0)
            ++removed;
    }
    return removed;
}

} // namespace

SaveFile::SaveFile(QString path, Kind kind) : mPath(std::move(path)), mKind(kind) {}

SaveFile::~SaveFile()
{
    if (mState == State::Open)
        discard();
    unlockFolder();
}

QString SaveFile::temporaryPrefix(const QString& fileName)
{
    return fileName + QStringLiteral(".corvex-tmp-");
}

bool SaveFile::isTemporaryName(const QByteArray& name)
{
    static const QByteArray marker = QByteArrayLiteral(".corvex-tmp-");
    const qsizetype at = name.size() - kSuffixLength - marker.size();
    if (at < 1 || name.mid(at, marker.size()) != marker)
        return false;
    for (const char c : name.right(kSuffixLength)) {
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')))
            return false;
    }
    return true;
}

Status SaveFile::open()
{
    if (mState == State::Open)
        return fail(Error::posix(EBUSY, QStringLiteral("The file is already open for saving"), mPath));
    mState = State::Idle;
    mError = Error();
    mTemporary.clear();
    mBuffer.clear();
    if (mPath.isEmpty())
        return fail(Error::posix(EINVAL, QStringLiteral("Cannot save a file without a name")));

    mTarget = NativeFileName::encode(mPath);
    const mode_t createMode = mKind == Kind::UserFile ? kUserFileMode : kProgramFileMode;
    // The mode set once the temporary exists: the old file's, or for a new program file 0600
    // whatever the umask; a new user file keeps what the kernel gave it.
    std::optional<mode_t> mode;
    if (mKind == Kind::ProgramFile)
        mode = kProgramFileMode;
    struct stat info;
    if (SysCalls::stat(mTarget.constData(), &info) == 0) {
        if (S_ISDIR(info.st_mode))
            return fail(Error::posix(EISDIR, QStringLiteral("Cannot save over a folder"), mPath));
        if (!S_ISREG(info.st_mode))
            return fail(
                Error::posix(EINVAL, QStringLiteral("Cannot save over something that is not a file"), mPath));
        mode = info.st_mode & 0777;
        struct stat linkInfo;
        if (SysCalls::lstat(mTarget.constData(), &linkInfo) != 0)
            return fail(Error::posix(errno, QStringLiteral("Cannot save the file"), mPath));
        if (S_ISLNK(linkInfo.st_mode)) {
            // The link stays and its target is replaced; renaming over the link itself would
            // turn it into a plain file.
            char* resolved = SysCalls::realpath(mTarget.constData());
            if (resolved == nullptr)
                return fail(Error::posix(errno, QStringLiteral("Cannot save the file"), mPath));
            mTarget = resolved;
            std::free(resolved);
        }
    } else if (const int error = errno; error != ENOENT) {
        return fail(Error::posix(error, QStringLiteral("Cannot save the file"), mPath));
    }
    splitPath(mTarget, mFolder, mFileName);
    if (mFileName.isEmpty())
        return fail(Error::posix(EISDIR, QStringLiteral("Cannot save over a folder"), mPath));

    struct stat folderInfo;
    if (SysCalls::stat(mFolder.constData(), &folderInfo) != 0) {
        const int error = errno;
        return fail(Error::posix(error,
                                 error == ENOENT ? QStringLiteral("Cannot save: the folder does not exist")
                                                 : QStringLiteral("Cannot save: the folder cannot be used"),
                                 decoded(mFolder)));
    }
    if (!S_ISDIR(folderInfo.st_mode))
        return fail(Error::posix(ENOTDIR, QStringLiteral("Cannot save: the folder is not a folder"),
                                 decoded(mFolder)));
    lockFolderAndRemoveStale();

    int fd = SysCalls::open(mFolder.constData(), O_TMPFILE | O_WRONLY | O_CLOEXEC, createMode);
    if (fd < 0) {
        const int error = errno;
        // Kernels and file systems without O_TMPFILE fail with one of these.
        if (error != EOPNOTSUPP && error != EISDIR && error != EINVAL)
            return fail(Error::posix(error, QStringLiteral("Cannot create a temporary file for saving"),
                                     decoded(mFolder)));
        fd = createNamedTemporary(mFolder, createMode, mTemporary);
        if (fd < 0) {
            const int namedError = errno;
            return fail(Error::posix(namedError, QStringLiteral("Cannot create a temporary file for saving"),
                                     decoded(mFolder)));
        }
    }
    mFd = fd;
    mState = State::Open;
    // Exactly the old file's permissions, whatever the umask.
    if (mode && SysCalls::fchmod(mFd, *mode) != 0)
        return fail(
            Error::posix(errno, QStringLiteral("Cannot set the permissions of the saved file"), mPath));
    return Status::success();
}

void SaveFile::lockFolderAndRemoveStale()
{
    unlockFolder();
    // A folder that cannot be listed or locked is saved into all the same, without cleaning:
    // nothing could tell a dead save's temporary from a live one's there.
    DIR* dir = SysCalls::opendir(mFolder.constData());
    if (dir == nullptr)
        return;
    const int fd = ::dirfd(dir);
    if (SysCalls::flock(fd, LOCK_EX | LOCK_NB) == 0)
        removeTemporariesIn(dir, mFolder, NativeFileName::encode(temporaryPrefix(decoded(mFileName))));
    // Waits only for another save's cleaning, which never holds the lock for long.
    if (SysCalls::flock(fd, LOCK_SH) != 0) {
        ::closedir(dir);
        return;
    }
    mFolderLock = dir;
}

void SaveFile::unlockFolder()
{
    // Closing the stream drops its lock.
    if (mFolderLock != nullptr) {
        ::closedir(mFolderLock);
        mFolderLock = nullptr;
    }
}

int SaveFile::createNamedTemporary(const QByteArray& folder, mode_t mode, QByteArray& nameOut)
{
    const QByteArray prefix = folder + '/' + NativeFileName::encode(temporaryPrefix(decoded(mFileName)));
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        const QByteArray name = prefix + randomSuffix();
        const int fd = SysCalls::open(name.constData(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, mode);
        if (fd >= 0) {
            nameOut = name;
            return fd;
        }
        if (errno != EEXIST)
            return -1;
    }
    errno = EEXIST;
    return -1;
}

qint64 SaveFile::write(const char* data, qint64 size)
{
    if (mState != State::Open) {
        if (mError.isNull())
            mError = Error::posix(EBADF, QStringLiteral("The file is not open for saving"), mPath);
        return -1;
    }
    if (size < 0)
        return -1;
    if (mBuffer.size() + size <= kBufferSize) {
        mBuffer.append(data, size);
        return size;
    }
    if (!flushBuffer())
        return -1;
    if (size < kBufferSize) {
        mBuffer.append(data, size);
        return size;
    }
    if (!SysCalls::writeAll(mFd, data, std::size_t(size))) {
        (void)fail(Error::posix(errno, QStringLiteral("Cannot write the file"), mPath));
        return -1;
    }
    return size;
}

Status SaveFile::flushBuffer()
{
    if (mBuffer.isEmpty())
        return Status::success();
    if (!SysCalls::writeAll(mFd, mBuffer.constData(), std::size_t(mBuffer.size())))
        return fail(Error::posix(errno, QStringLiteral("Cannot write the file"), mPath));
    mBuffer.clear();
    return Status::success();
}

Status SaveFile::commit()
{
    switch (mState) {
    case State::Open:
        break;
    case State::Failed:
        return mError;
    case State::Cancelled:
        mError = Error::posix(ECANCELED, QStringLiteral("Saving was cancelled"), mPath);
        return mError;
    case State::Idle:
    case State::Committed:
        mError = Error::posix(EBADF, QStringLiteral("The file is not open for saving"), mPath);
        return mError;
    }
    if (Status flushed = flushBuffer(); !flushed)
        return flushed;
    if (SysCalls::fsync(mFd) != 0)
        return fail(Error::posix(errno, QStringLiteral("Cannot write the file to the disk"), mPath));
    if (mTemporary.isEmpty()) {
        if (Status linked = linkUnnamedTemporary(); !linked)
            return linked;
    }
    const int fd = mFd;
    mFd = -1;
    // close can report a late write error (network file systems do).
    if (SysCalls::close(fd) != 0)
        return fail(Error::posix(errno, QStringLiteral("Cannot write the file"), mPath));
    if (SysCalls::rename(mTemporary.constData(), mTarget.constData()) != 0)
        return fail(Error::posix(errno, QStringLiteral("Cannot replace the file"), mPath));
    mTemporary.clear();
    mState = State::Committed;
    unlockFolder();
    syncFolder();
    return Status::success();
}

// rename() needs a name, so an unnamed temporary gets one just before it replaces the target.
Status SaveFile::linkUnnamedTemporary()
{
    const QByteArray prefix = mFolder + '/' + NativeFileName::encode(temporaryPrefix(decoded(mFileName)));
    const QByteArray procPath = QByteArrayLiteral("/proc/self/fd/") + QByteArray::number(mFd);
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        const QByteArray name = prefix + randomSuffix();
        int rc =
            SysCalls::linkat(AT_FDCWD, procPath.constData(), AT_FDCWD, name.constData(), AT_SYMLINK_FOLLOW);
        int error = errno;
        if (rc != 0 && error == ENOENT) {
            // Without /proc; AT_EMPTY_PATH needs CAP_DAC_READ_SEARCH, so it is only the fallback.
            rc = SysCalls::linkat(mFd, "", AT_FDCWD, name.constData(), AT_EMPTY_PATH);
            if (rc != 0 && errno != ENOENT)
                error = errno;
        }
        if (rc == 0) {
            mTemporary = name;
            return Status::success();
        }
        if (error != EEXIST)
            return fail(
                Error::posix(error, QStringLiteral("Cannot name the temporary file for saving"), mPath));
    }
    return fail(Error::posix(EEXIST, QStringLiteral("Cannot name the temporary file for saving"), mPath));
}

void SaveFile::syncFolder()
{
    const int fd = SysCalls::open(mFolder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0 || SysCalls::fsync(fd) != 0) {
        const int error = errno;
        Log::warning(QStringLiteral("Saved %1, but its folder could not be flushed to the disk: %2")
                         .arg(mPath, QString::fromLocal8Bit(std::strerror(error))));
    }
    if (fd >= 0)
        SysCalls::close(fd);
}

void SaveFile::cancelWriting()
{
    if (mState == State::Open)
        discard();
    unlockFolder();
    mState = State::Cancelled;
}

Status SaveFile::fail(Error error)
{
    mError = std::move(error);
    if (mState == State::Open)
        discard();
    unlockFolder();
    mState = State::Failed;
    return mError;
}

void SaveFile::discard()
{
    if (mFd >= 0) {
        SysCalls::close(mFd);
        mFd = -1;
    }
    if (!mTemporary.isEmpty()) {
        SysCalls::unlink(mTemporary.constData());
        mTemporary.clear();
    }
    mBuffer.clear();
}

Status SaveFile::writeAtomically(const QString& path, const QByteArray& data, Kind kind)
{
    SaveFile file(path, kind);
    if (!file.open())
        return file.error();
    if (file.write(data) < 0)
        return file.error();
    if (!file.commit())
        return file.error();
    return Status::success();
}

int SaveFile::removeStaleTemporaries(const QString& folder, const QString& fileName)
{
    const QByteArray folderPath = NativeFileName::encode(folder);
    DIR* dir = SysCalls::opendir(folderPath.constData());
    if (dir == nullptr)
        return 0;
    int removed = 0;
    if (SysCalls::flock(::dirfd(dir), LOCK_EX | LOCK_NB) == 0)
        removed = removeTemporariesIn(dir, folderPath, NativeFileName::encode(temporaryPrefix(fileName)));
    ::closedir(dir);
    return removed;
}

} // namespace corvex
