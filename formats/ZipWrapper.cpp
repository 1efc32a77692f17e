#include "formats/ZipWrapper.h"

#include "formats/ZipWrapperDelegate.h"
#include "model/Globals.h"
#include "platform/core/Log.h"
#include "platform/core/SaveFile.h"
#include "platform/core/SysCalls.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QUuid>
#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <minizip/unzip.h>
#include <minizip/zip.h>
#include <mutex>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace corvex {

const QString ZipWrapper::ErrorDomain = QStringLiteral("ZipWrapperErrorDomain");

namespace {

constexpr qint64 UnzipBufferSize = 4096;
constexpr qint64 ZipBufferSize = 16384;
constexpr uLong MadeByUnix = (3 << 8) | 20; // host 3 (Unix), so other tools honour the modes
constexpr uLong Utf8NameFlag = 0x800;

// ---- minizip's file access, through SysCalls: every result reaches minizip, and tests can
// make any of the calls fail.

// The first write error of an archive being written. minizip leaks its entry record when a
// write fails inside the opening of an entry, so a write that fails is recorded here and
// reported to minizip as done; every later write is skipped, and the writer checks this
// after each minizip call. The archive is thrown away all the same.
struct WriteState
{
    int error = 0;
};

struct IoStream
{
    int fd = -1;
    bool writing = false;
    int error = 0;
    WriteState* state = nullptr;
};

voidpf ioOpen(voidpf opaque, const void* filename, int mode)
{
    if (!filename)
        return nullptr;
    int flags = O_CLOEXEC;
    bool writing = false;
    if ((mode & ZLIB_FILEFUNC_MODE_READWRITEFILTER) == ZLIB_FILEFUNC_MODE_READ) {
        flags |= O_RDONLY;
    } else if (mode & ZLIB_FILEFUNC_MODE_CREATE) {
        // Only our own temporary files are created: never an existing file, never a link.
        flags |= O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW;
        writing = true;
    } else {
        flags |= O_RDWR;
        writing = true;
    }
    const int fd = SysCalls::open(static_cast<const char*>(filename), flags, 0666);
    if (fd < 0)
        return nullptr;
    return new IoStream{fd, writing, 0, writing ? static_cast<WriteState*>(opaque) : nullptr};
}

uLong ioRead(voidpf, voidpf stream, void* buffer, uLong size)
{
    auto* io = static_cast<IoStream*>(stream);
    uLong done = 0;
    while (done < size) {
        const ssize_t got = ::read(io->fd, static_cast<char*>(buffer) + done, size - done);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            io->error = errno;
            break;
        }
        if (got == 0)
            break;
        done += uLong(got);
    }
    return done;
}

uLong ioWrite(voidpf, voidpf stream, const void* buffer, uLong size)
{
    auto* io = static_cast<IoStream*>(stream);
    if (io->state && io->state->error != 0)
        return size;
    if (!SysCalls::writeAll(io->fd, buffer, size)) {
        io->error = errno ? errno : EIO;
        if (io->state) {
            io->state->error = io->error;
            return size;
        }
        return 0;
    }
    return size;
}

ZPOS64_T ioTell(voidpf, voidpf stream)
{
    auto* io = static_cast<IoStream*>(stream);
    const off_t position = ::lseek(io->fd, 0, SEEK_CUR);
    if (position < 0) {
        io->error = errno;
        return ZPOS64_T(-1);
    }
    return ZPOS64_T(position);
}

long ioSeek(voidpf, voidpf stream, ZPOS64_T offset, int origin)
{
    auto* io = static_cast<IoStream*>(stream);
    int whence = SEEK_SET;
    if (origin == ZLIB_FILEFUNC_SEEK_CUR)
        whence = SEEK_CUR;
    else if (origin == ZLIB_FILEFUNC_SEEK_END)
        whence = SEEK_END;
    else if (origin != ZLIB_FILEFUNC_SEEK_SET)
        return -1;
    if (offset > ZPOS64_T(std::numeric_limits<off_t>::max()))
        return -1;
    if (::lseek(io->fd, off_t(offset), whence) < 0) {
        io->error = errno;
        return -1;
    }
    return 0;
}

int ioClose(voidpf, voidpf stream)
{
    auto* io = static_cast<IoStream*>(stream);
    bool ok = io->error == 0 && (!io->state || io->state->error == 0);
    // A written archive is on the disk before it is renamed into place.
    if (ok && io->writing && SysCalls::fsync(io->fd) != 0)
        ok = false;
    if (SysCalls::close(io->fd) != 0)
        ok = false;
    delete io;
    return ok ? 0 : -1;
}

int ioError(voidpf, voidpf stream)
{
    return static_cast<IoStream*>(stream)->error;
}

// Reading passes no state: read errors reach minizip as short reads.
zlib_filefunc64_def fileFunctions(WriteState* state = nullptr)
{
    zlib_filefunc64_def functions{};
    functions.zopen64_file = ioOpen;
    functions.zread_file = ioRead;
    functions.zwrite_file = ioWrite;
    functions.ztell64_file = ioTell;
    functions.zseek64_file = ioSeek;
    functions.zclose_file = ioClose;
    functions.zerror_file = ioError;
    functions.opaque = state;
    return functions;
}

// ---- Limits

std::mutex gLimitsMutex;
ZipWrapper::Limits gLimits;

// What one unzip has used, nested archives included. Once a bound is passed every level
// returns NO.
struct Budget
{
    ZipWrapper::Limits limits;
    qint64 bytes = 0;
    qint64 entries = 0;
    bool exceeded = false;
};

// ---- Small helpers

class FileDescriptor
{
public:
    explicit FileDescriptor(int fd = -1) : mFd(fd) {}
    ~FileDescriptor() { reset(); }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    FileDescriptor(FileDescriptor&& other) noexcept : mFd(std::exchange(other.mFd, -1)) {}
    FileDescriptor& operator=(FileDescriptor&& other) noexcept
    {
        if (this != &other) {
            reset();
            mFd = std::exchange(other.mFd, -1);
        }
        return *this;
    }

    int get() const { return mFd; }
    int release() { return std::exchange(mFd, -1); }
    bool valid() const { return mFd >= 0; }
    void reset(int fd = -1)
    {
        if (mFd >= 0)
            ::close(mFd);
        mFd = fd;
    }

private:
    int mFd;
};

QString errnoText(int error)
{
    return QString::fromLocal8Bit(::strerror(error));
}

// The name for a log line: control bytes (NUL among them) as "\xNN".
QString printableName(const QByteArray& name)
{
    QByteArray shown;
    for (const char c : name) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7f)
            shown += "\\x" + QByteArray::number(u, 16).rightJustified(2, '0');
        else
            shown += c;
    }
    return QString::fromUtf8(shown);
}

// The components of an entry name (backslashes already turned into slashes), or nothing
// when the name must not be written: absolute, a drive prefix, a ".." component or a NUL.
// Empty and "." components are dropped.
std::optional<QList<QByteArray>> safeComponents(const QByteArray& name)
{
    if (name.contains('\0') || name.startsWith('/'))
        return std::nullopt;
    const QList<QByteArray> raw = name.split('/');
    if (!raw.isEmpty() && raw.first().size() == 2 && raw.first().at(1) == ':')
        return std::nullopt; // "C:" and the like name another root elsewhere
    QList<QByteArray> components;
    for (const QByteArray& component : raw) {
        if (component.isEmpty() || component == ".")
            continue;
        if (component == "..")
            return std::nullopt;
        components.append(component);
    }
    return components;
}

// Opens (making when asked) each folder of `components` below `base`, never following a
// symbolic link. The deepest folder's descriptor, or an invalid one.
FileDescriptor openFolders(int base, const QList<QByteArray>& components, qsizetype count,
                           const QByteArray& shownPath)
{
    FileDescriptor current(::fcntl(base, F_DUPFD_CLOEXEC, 0));
    for (qsizetype index = 0; index < count && current.valid(); ++index) {
        const QByteArray& component = components.at(index);
        int next =
            ::openat(current.get(), component.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (next < 0 && errno == ENOENT) {
            if (::mkdirat(current.get(), component.constData(), 0777) != 0 && errno != EEXIST) {
                Log::error(QStringLiteral("[ZipWrapper] Error: cannot create the folder %1: %2")
                               .arg(printableName(shownPath), errnoText(errno)));
                return FileDescriptor();
            }
            next = ::openat(current.get(), component.constData(),
                            O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        }
        if (next < 0) {
            struct stat info;
            const bool link =
                ::fstatat(current.get(), component.constData(), &info, AT_SYMLINK_NOFOLLOW) == 0 &&
                S_ISLNK(info.st_mode);
            Log::error(QStringLiteral("[ZipWrapper] Error: %1 of %2 %3")
                           .arg(QString::fromUtf8(component), printableName(shownPath),
                                link ? QStringLiteral("is a symbolic link; refused")
                                     : QStringLiteral("is not a usable folder: ") + errnoText(errno)));
            return FileDescriptor();
        }
        current.reset(next);
    }
    return current;
}

ZipWrapper::FileInfo fileInfoFrom(const unz_file_info64& info)
{
    ZipWrapper::FileInfo out;
    out.versionMadeBy = quint32(info.version);
    out.flag = quint32(info.flag);
    out.compressionMethod = quint32(info.compression_method);
    out.dosDate = quint32(info.dosDate);
    out.crc = quint32(info.crc);
    out.compressedSize = info.compressed_size;
    out.uncompressedSize = info.uncompressed_size;
    out.nameLength = quint32(info.size_filename);
    out.internalAttributes = quint32(info.internal_fa);
    out.externalAttributes = quint32(info.external_fa);
    return out;
}

struct timespec timespecOf(const QDateTime& date)
{
    const qint64 ms = date.toMSecsSinceEpoch();
    struct timespec out;
    out.tv_sec = time_t(ms / 1000);
    out.tv_nsec = long((ms % 1000) * 1000000);
    return out;
}

// Sets the modification date of the path itself (a symbolic link is never followed).
bool setModificationDate(const QByteArray& path, const QDateTime& date)
{
    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    times[1] = timespecOf(date);
    return ::utimensat(AT_FDCWD, path.constData(), times, AT_SYMLINK_NOFOLLOW) == 0;
}

// One unzip level. `error` and `completion` belong to the outermost call only.
class Unzipper
{
public:
    Unzipper(QString path, QString destination, bool overwrite, QByteArray password,
             ZipWrapperDelegate* delegate, ZipWrapper::ProgressHandler progress, int depth, Budget& budget)
        : mPath(std::move(path)), mDestination(std::move(destination)), mOverwrite(overwrite),
          mPassword(std::move(password)), mDelegate(delegate), mProgress(std::move(progress)), mDepth(depth),
          mBudget(budget)
    {}

    bool run(Error* error, const ZipWrapper::CompletionHandler& completion);

private:
    enum class EntryOutcome
    {
        Done,
        Skipped,
        Failed,
        CrcFailed,
        Cancelled
    };

    // Extracts the open entry; `targetPath` receives where it went.
    EntryOutcome extractCurrent(const unz_file_info64& rawInfo, const QByteArray& storedName, qint64 index,
                                qint64 total, QByteArray& targetPath);
    bool writeEntryData(int fd, const unz_file_info64& info, const QByteArray& shownPath);
    void unpackNested(const QByteArray& innerPath, const QByteArray& folderPath);
    bool spendEntry();

    QString mPath;
    QString mDestination;
    bool mOverwrite;
    QByteArray mPassword;
    ZipWrapperDelegate* mDelegate;
    ZipWrapper::ProgressHandler mProgress;
    int mDepth;
    Budget& mBudget;

    unzFile mZip = nullptr;
    FileDescriptor mDestinationFd;
    QByteArray mDestinationPath;
    std::vector<std::pair<QByteArray, QDateTime>> mDates;
    quint64 mPosition = 0;
    quint64 mFileSize = 0;
};

bool Unzipper::spendEntry()
{
    if (mBudget.exceeded)
        return false;
    if (++mBudget.entries > mBudget.limits.maxEntries) {
        Log::error(QStringLiteral("[ZipWrapper] Error: more than %1 entries; the unzip stops")
                       .arg(mBudget.limits.maxEntries));
        mBudget.exceeded = true;
        return false;
    }
    return true;
}

bool Unzipper::run(Error* error, const ZipWrapper::CompletionHandler& completion)
{
    const auto failWith = [&](int code, const QString& description) {
        const Error failure(ZipWrapper::ErrorDomain, code, description);
        if (error)
            *error = failure;
        if (completion)
            completion(QString(), false, failure);
        return false;
    };

    zlib_filefunc64_def functions = fileFunctions();
    const QByteArray encodedPath = QFile::encodeName(mPath);
    mZip = unzOpen2_64(encodedPath.constData(), &functions);
    if (!mZip)
        return failWith(ZipWrapper::FailedToOpenZipFile, QStringLiteral("failed to open zip file"));

    unz_global_info64 globalInfo{};
    if (unzGetGlobalInfo64(mZip, &globalInfo) != UNZ_OK) {
        unzClose(mZip);
        return failWith(ZipWrapper::FailedToOpenZipFile, QStringLiteral("failed to open zip file"));
    }
    if (unzGoToFirstFile(mZip) != UNZ_OK) {
        unzClose(mZip);
        return failWith(ZipWrapper::FailedToOpenFirstFile,
                        QStringLiteral("failed to open first file in zip file"));
    }
    mFileSize = quint64(std::max<qint64>(0, QFileInfo(mPath).size()));
    ZipWrapper::GlobalInfo global;
    global.numberOfEntries = globalInfo.number_entry;
    const qint64 total =
        qint64(std::min<quint64>(globalInfo.number_entry, quint64(std::numeric_limits<qint64>::max())));

    // The destination itself must be a real folder: a link there would send every entry
    // elsewhere.
    mDestinationPath = QFile::encodeName(mDestination);
    mDestinationFd.reset(
        ::open(mDestinationPath.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!mDestinationFd.valid() && errno == ENOENT && QDir().mkpath(mDestination))
        mDestinationFd.reset(
            ::open(mDestinationPath.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!mDestinationFd.valid()) {
        Log::error(
            QStringLiteral("[ZipWrapper] Error: the destination %1 is not a folder (or is a symbolic link)")
                .arg(mDestination));
        unzClose(mZip);
        if (completion)
            completion(mPath, false, Error());
        return false;
    }

    if (mDelegate && mDelegate->zipArchiveWillUnzipArchiveAtPath)
        mDelegate->zipArchiveWillUnzipArchiveAtPath(mPath, global);
    if (mDelegate && mDelegate->zipArchiveProgressEvent)
        mDelegate->zipArchiveProgressEvent(0, mFileSize);

    bool success = true;
    bool cancelled = false;
    bool crcFailed = false;
    qint64 index = 0;
    // The name field is 16 bits long: this buffer holds any name and its terminator.
    std::vector<char> nameBuffer(65536 + 1, '\0');
    for (;;) {
        if (!spendEntry()) {
            success = false;
            break;
        }
        const int opened = mPassword.isEmpty() ? unzOpenCurrentFile(mZip)
                                               : unzOpenCurrentFilePassword(mZip, mPassword.constData());
        if (opened != UNZ_OK) {
            Log::error(QStringLiteral("[ZipWrapper] Error: cannot open entry %1 of %2 (%3)")
                           .arg(index)
                           .arg(mPath)
                           .arg(opened));
            success = false;
            break;
        }
        unz_file_info64 info{};
        if (unzGetCurrentFileInfo64(mZip, &info, nameBuffer.data(), uLong(nameBuffer.size()), nullptr, 0,
                                    nullptr, 0) != UNZ_OK) {
            unzCloseCurrentFile(mZip);
            success = false;
            break;
        }
        const QByteArray storedName(nameBuffer.data(), qsizetype(std::min<uLong>(info.size_filename, 65536)));
        QByteArray targetPath;
        const EntryOutcome outcome = extractCurrent(info, storedName, index, total, targetPath);
        if (outcome == EntryOutcome::Cancelled) {
            cancelled = true;
            success = false;
            break;
        }
        if (outcome == EntryOutcome::CrcFailed) {
            crcFailed = true;
            success = false;
            break;
        }
        if (outcome == EntryOutcome::Failed) {
            success = false;
            break;
        }
        if (outcome == EntryOutcome::Done) {
            if (mDelegate && mDelegate->zipArchiveDidUnzipFileAtIndex) {
                mDelegate->zipArchiveDidUnzipFileAtIndex(index, total, mPath, fileInfoFrom(info));
            } else if (mDelegate && mDelegate->zipArchiveDidUnzipFileAtIndexToPath) {
                mDelegate->zipArchiveDidUnzipFileAtIndexToPath(index, total, mPath,
                                                               QFile::decodeName(targetPath));
            }
            ++index;
            if (mProgress) {
                QByteArray shown = storedName;
                if (shown.contains('/') || shown.contains('\\'))
                    shown.replace('\\', '/');
                mProgress(QString::fromUtf8(shown), fileInfoFrom(info), index, total);
            }
        }
        const int next = unzGoToNextFile(mZip);
        if (next == UNZ_END_OF_LIST_OF_FILE)
            break;
        if (next != UNZ_OK) {
            Log::error(QStringLiteral("[ZipWrapper] Error: the directory of %1 is damaged (%2)")
                           .arg(mPath)
                           .arg(next));
            success = false;
            break;
        }
    }
    if (unzClose(mZip) != UNZ_OK)
        Log::warning(QStringLiteral("[ZipWrapper] Error: closing %1 failed").arg(mPath));
    mZip = nullptr;

    // Folders get their dates last, after their contents stopped changing them. An inner
    // archive unpacked and removed has no date to set.
    for (const auto& [path, date] : mDates) {
        if (date.isValid() && !setModificationDate(path, date) && errno != ENOENT)
            Log::warning(QStringLiteral("[ZipWrapper] Set attributes failed for directory: %1.")
                             .arg(QFile::decodeName(path)));
    }

    if (success && mDelegate && mDelegate->zipArchiveDidUnzipArchiveAtPath)
        mDelegate->zipArchiveDidUnzipArchiveAtPath(mPath, global, mDestination);
    if (!cancelled && mDelegate && mDelegate->zipArchiveProgressEvent)
        mDelegate->zipArchiveProgressEvent(mFileSize, mFileSize);

    const Error failure = crcFailed ? Error(ZipWrapper::ErrorDomain, ZipWrapper::CrcCheckFailed,
                                            QStringLiteral("crc check failed for file"))
                                    : Error();
    if (error)
        *error = failure;
    if (completion)
        completion(mPath, success, failure);
    return success;
}

Unzipper::EntryOutcome Unzipper::extractCurrent(const unz_file_info64& info, const QByteArray& storedName,
                                                qint64 index, qint64 total, QByteArray& targetPath)
{
    const ZipWrapper::FileInfo publicInfo = fileInfoFrom(info);
    if (mDelegate && mDelegate->zipArchiveShouldUnzipFileAtIndex &&
        !mDelegate->zipArchiveShouldUnzipFileAtIndex(index, total, mPath, publicInfo)) {
        unzCloseCurrentFile(mZip);
        return EntryOutcome::Cancelled;
    }
    if (mDelegate && mDelegate->zipArchiveWillUnzipFileAtIndex)
        mDelegate->zipArchiveWillUnzipFileAtIndex(index, total, mPath, publicInfo);
    mPosition += info.compressed_size;
    if (mDelegate && mDelegate->zipArchiveProgressEvent)
        mDelegate->zipArchiveProgressEvent(mPosition, mFileSize);

    QByteArray name = storedName;
    const bool isFolder = name.endsWith('/') || name.endsWith('\\');
    name.replace('\\', '/');
    const auto components = safeComponents(name);
    if (!components || (!isFolder && components->isEmpty())) {
        Log::error(
            QStringLiteral("[ZipWrapper] Error: refused the entry name \"%1\" of %2: it leads outside the "
                           "destination")
                .arg(printableName(storedName), mPath));
        unzCloseCurrentFile(mZip);
        return EntryOutcome::Failed;
    }
    const QByteArray relative = components->join('/');
    targetPath = relative.isEmpty() ? mDestinationPath : mDestinationPath + '/' + relative;
    const QDateTime date = ZipWrapper::dateWithMSDOSFormat(quint32(info.dosDate));

    const qsizetype folderCount = isFolder ? components->size() : components->size() - 1;
    FileDescriptor folder = openFolders(mDestinationFd.get(), *components, folderCount, relative);
    if (!folder.valid()) {
        unzCloseCurrentFile(mZip);
        return EntryOutcome::Failed;
    }
    if (isFolder) {
        if (unzCloseCurrentFile(mZip) == UNZ_CRCERROR)
            return EntryOutcome::CrcFailed;
        mDates.emplace_back(targetPath, date);
        return EntryOutcome::Done;
    }

    const QByteArray leaf = components->last();
    struct stat existing;
    if (!mOverwrite && ::fstatat(folder.get(), leaf.constData(), &existing, AT_SYMLINK_NOFOLLOW) == 0) {
        unzCloseCurrentFile(mZip);
        return EntryOutcome::Skipped;
    }

    // Without O_TRUNC: a target that turns out to be shared with another path (a hard link)
    // must not be emptied.
    FileDescriptor file(
        ::openat(folder.get(), leaf.constData(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0666));
    if (!file.valid()) {
        Log::error(QStringLiteral("[ZipWrapper] Error: cannot create %1: %2")
                       .arg(printableName(relative), errnoText(errno)));
        unzCloseCurrentFile(mZip);
        return EntryOutcome::Failed;
    }
    struct stat opened;
    if (::fstat(file.get(), &opened) != 0 || !S_ISREG(opened.st_mode) || opened.st_nlink != 1 ||
        ::ftruncate(file.get(), 0) != 0) {
        Log::error(QStringLiteral("[ZipWrapper] Error: %1 exists and is not a plain file of its own; refused")
                       .arg(printableName(relative)));
        unzCloseCurrentFile(mZip);
        return EntryOutcome::Failed;
    }

    const auto discard = [&] {
        file.reset();
        ::unlinkat(folder.get(), leaf.constData(), 0);
    };
    if (!writeEntryData(file.get(), info, relative)) {
        unzCloseCurrentFile(mZip);
        discard();
        return EntryOutcome::Failed;
    }
    const int closed = unzCloseCurrentFile(mZip);
    if (closed != UNZ_OK) {
        Log::error(QStringLiteral("[ZipWrapper] Error: %1 of %2 %3")
                       .arg(printableName(relative), mPath,
                            closed == UNZ_CRCERROR ? QStringLiteral("fails its CRC check")
                                                   : QStringLiteral("cannot be finished")));
        discard();
        return closed == UNZ_CRCERROR ? EntryOutcome::CrcFailed : EntryOutcome::Failed;
    }

    // Only permission bits: never set-user-ID, set-group-ID or sticky bits from an archive,
    // and never a mode that would lock the file away from its owner by accident.
    const mode_t mode = mode_t((info.external_fa >> 16) & 0777);
    if (mode != 0 && ::fchmod(file.get(), mode) != 0)
        Log::warning(QStringLiteral("[ZipWrapper] Failed to set attributes - whilst setting permissions"));
    if (info.dosDate != 0 && date.isValid()) {
        struct timespec times[2];
        times[0].tv_sec = 0;
        times[0].tv_nsec = UTIME_OMIT;
        times[1] = timespecOf(date);
        if (::futimens(file.get(), times) != 0)
            Log::warning(
                QStringLiteral("[ZipWrapper] Failed to set attributes - whilst setting modification date"));
    }
    // FileDescriptor closes quietly; this close goes through SysCalls and is checked.
    if (SysCalls::close(file.release()) != 0) {
        Log::error(QStringLiteral("[ZipWrapper] Error: cannot close %1: %2")
                       .arg(printableName(relative), errnoText(errno)));
        ::unlinkat(folder.get(), leaf.constData(), 0);
        return EntryOutcome::Failed;
    }

    mDates.emplace_back(targetPath, date);
    if (QString::fromUtf8(leaf).toLower().endsWith(QLatin1String(".zip"))) {
        const QByteArray folderPath =
            folderCount == 0 ? mDestinationPath
                             : mDestinationPath + '/' + components->mid(0, folderCount).join('/');
        unpackNested(targetPath, folderPath);
        if (mBudget.exceeded)
            return EntryOutcome::Failed;
    }
    return EntryOutcome::Done;
}

bool Unzipper::writeEntryData(int fd, const unz_file_info64& info, const QByteArray& shownPath)
{
    const qint64 remaining = mBudget.limits.maxTotalBytes - mBudget.bytes;
    if (info.uncompressed_size > quint64(std::max<qint64>(0, remaining))) {
        Log::error(QStringLiteral("[ZipWrapper] Error: %1 claims %2 bytes, more than the unzip may write")
                       .arg(printableName(shownPath))
                       .arg(info.uncompressed_size));
        mBudget.exceeded = true;
        return false;
    }
    char buffer[UnzipBufferSize];
    quint64 written = 0;
    for (;;) {
        const int got = unzReadCurrentFile(mZip, buffer, unsigned(sizeof buffer));
        if (got == 0)
            break;
        if (got < 0) {
            Log::error(QStringLiteral("[ZipWrapper] Error: %1 is damaged (%2)")
                           .arg(printableName(shownPath))
                           .arg(got));
            return false;
        }
        mBudget.bytes += got;
        written += quint64(got);
        if (mBudget.bytes > mBudget.limits.maxTotalBytes || written > info.uncompressed_size) {
            Log::error(
                QStringLiteral("[ZipWrapper] Error: %1 holds more than it claims or than the unzip may write")
                    .arg(printableName(shownPath)));
            mBudget.exceeded = mBudget.bytes > mBudget.limits.maxTotalBytes;
            return false;
        }
        if (!SysCalls::writeAll(fd, buffer, std::size_t(got))) {
            Log::error(QStringLiteral("[ZipWrapper] Error: cannot write %1: %2")
                           .arg(printableName(shownPath), errnoText(errno)));
            return false;
        }
    }
    // minizip checks the CRC only of an entry read to its declared end: a stream that stops
    // early must be caught here.
    if (written != info.uncompressed_size) {
        Log::error(QStringLiteral("[ZipWrapper] Error: %1 ends after %2 of its %3 bytes")
                       .arg(printableName(shownPath))
                       .arg(written)
                       .arg(info.uncompressed_size));
        return false;
    }
    return true;
}

void Unzipper::unpackNested(const QByteArray& innerPath, const QByteArray& folderPath)
{
    const QString inner = QFile::decodeName(innerPath);
    if (mDepth >= mBudget.limits.maxNestingDepth) {
        Log::warning(
            QStringLiteral("[ZipWrapper] Not unpacking nested .zip file %1: nested deeper than %2 levels")
                .arg(QFileInfo(inner).fileName())
                .arg(mBudget.limits.maxNestingDepth));
        return;
    }
    Log::info(QStringLiteral("Unzipping nested .zip file:  %1").arg(QFileInfo(inner).fileName()));
    Unzipper nested(inner, QFile::decodeName(folderPath), mOverwrite, mPassword, nullptr, {}, mDepth + 1,
                    mBudget);
    if (nested.run(nullptr, {}) && ::unlink(innerPath.constData()) != 0)
        Log::warning(QStringLiteral("[ZipWrapper] Error: cannot remove the unpacked %1").arg(inner));
}

QByteArray encodedName(const QString& name)
{
    return name.toUtf8();
}

bool isAscii(const QByteArray& bytes)
{
    return std::all_of(bytes.begin(), bytes.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

zip_fileinfo zipInfoFor(const QDateTime& date, std::optional<mode_t> permissions)
{
    zip_fileinfo info{};
    const QDateTime local =
        (date.isValid() ? date : QDateTime::fromMSecsSinceEpoch(qint64(Globals::secondsSince1970() * 1000)))
            .toLocalTime();
    info.tmz_date.tm_sec = uInt(local.time().second());
    info.tmz_date.tm_min = uInt(local.time().minute());
    info.tmz_date.tm_hour = uInt(local.time().hour());
    info.tmz_date.tm_mday = uInt(local.date().day());
    info.tmz_date.tm_mon = uInt(local.date().month() - 1);
    info.tmz_date.tm_year = uInt(local.date().year());
    info.dosDate = 0;
    info.internal_fa = 0;
    if (permissions)
        info.external_fa = uLong(0x8000 + qint16(*permissions & 07777)) << 16;
    return info;
}

} // namespace

// ---- The archive being written

struct ZipWrapper::Archive
{
    zipFile zip = nullptr;
    QByteArray temporary;
    QByteArray target;
    WriteState io;
    bool failed = false;

    // Whether minizip's result and the writes behind it both went well; marks the archive
    // failed when not.
    bool check(int result)
    {
        if (result != ZIP_OK || io.error != 0)
            failed = true;
        return !failed;
    }

    // Opens an entry; marks the archive failed when minizip refuses.
    bool openEntry(const QString& name, const zip_fileinfo& info, int level, const QString& password,
                   bool zip64)
    {
        const QByteArray encoded = encodedName(name);
        const QByteArray secret = password.toUtf8();
        const int result = zipOpenNewFileInZip4_64(
            zip, encoded.constData(), &info, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED, level, 0,
            -MAX_WBITS, 8, Z_DEFAULT_STRATEGY, secret.isEmpty() ? nullptr : secret.constData(), 0, MadeByUnix,
            isAscii(encoded) ? 0 : Utf8NameFlag, zip64 ? 1 : 0);
        if (!check(result)) {
            Log::error(QStringLiteral("[ZipWrapper] Error: cannot start the entry %1 (%2, %3)")
                           .arg(name)
                           .arg(result)
                           .arg(errnoText(io.error)));
            return false;
        }
        return true;
    }

    bool write(const char* data, qint64 size)
    {
        return check(zipWriteInFileInZip(zip, data, unsigned(size)));
    }

    bool closeEntry() { return check(zipCloseFileInZip(zip)); }

    // The archive has failed already: closing the entry only frees minizip's record of it.
    void abandonEntry() { (void)zipCloseFileInZip(zip); }

    void abandon()
    {
        if (zip) {
            zipClose(zip, nullptr);
            zip = nullptr;
        }
        if (!temporary.isEmpty())
            SysCalls::unlink(temporary.constData());
        temporary.clear();
    }
};

ZipWrapper::ZipWrapper(const QString& path) : mPath(path) {}

ZipWrapper::~ZipWrapper()
{
    if (mArchive)
        mArchive->abandon();
}

bool ZipWrapper::open()
{
    if (mArchive || mPath.isEmpty())
        return false;
    const QFileInfo target(mPath);
    auto archive = std::make_unique<Archive>();
    archive->target = QFile::encodeName(target.absoluteFilePath());
    const QString temporaryName =
        SaveFile::temporaryPrefix(target.fileName()) + QUuid::createUuid().toString(QUuid::Id128).left(12);
    archive->temporary = QFile::encodeName(target.absoluteDir().filePath(temporaryName));
    zlib_filefunc64_def functions = fileFunctions(&archive->io);
    archive->zip = zipOpen2_64(archive->temporary.constData(), APPEND_STATUS_CREATE, nullptr, &functions);
    if (!archive->zip) {
        Log::error(QStringLiteral("[ZipWrapper] Error: cannot create %1").arg(mPath));
        archive->temporary.clear(); // nothing was made (O_EXCL), nothing to remove
        return false;
    }
    mArchive = std::move(archive);
    return true;
}

bool ZipWrapper::close()
{
    if (!mArchive)
        return false;
    std::unique_ptr<Archive> archive = std::move(mArchive);
    bool ok = !archive->failed;
    const int closed = zipClose(archive->zip, nullptr);
    archive->zip = nullptr;
    if (closed != ZIP_OK) {
        Log::error(QStringLiteral("[ZipWrapper] Error: cannot finish %1 (%2)").arg(mPath).arg(closed));
        ok = false;
    }
    if (ok && SysCalls::rename(archive->temporary.constData(), archive->target.constData()) != 0) {
        Log::error(
            QStringLiteral("[ZipWrapper] Error: cannot put %1 in place: %2").arg(mPath, errnoText(errno)));
        ok = false;
    }
    if (!ok) {
        archive->abandon();
        return false;
    }
    archive->temporary.clear();
    // The rename is durable once the folder is flushed; the archive is in place already.
    const QByteArray folder = QFile::encodeName(QFileInfo(mPath).absolutePath());
    const int folderFd = SysCalls::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderFd >= 0) {
        if (SysCalls::fsync(folderFd) != 0)
            Log::warning(QStringLiteral("[ZipWrapper] cannot flush the folder of %1").arg(mPath));
        SysCalls::close(folderFd);
    }
    return true;
}

bool ZipWrapper::writeFile(const QString& path, const QString& password)
{
    return writeFileAtPath(path, QString(), password);
}

bool ZipWrapper::writeFileAtPath(const QString& path, const QString& fileName, const QString& password)
{
    if (!mArchive)
        return false;
    const QByteArray source = QFile::encodeName(path);
    FileDescriptor input(SysCalls::open(source.constData(), O_RDONLY | O_CLOEXEC));
    struct stat info;
    if (!input.valid() || ::fstat(input.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
        Log::error(QStringLiteral("[ZipWrapper] Error: cannot read %1").arg(path));
        mArchive->failed = true;
        return false;
    }
    const QString name = fileName.isEmpty() ? QFileInfo(path).fileName() : fileName;
    const QDateTime modified =
        QDateTime::fromMSecsSinceEpoch(qint64(info.st_mtim.tv_sec) * 1000 + info.st_mtim.tv_nsec / 1000000);
    const bool zip64 = quint64(info.st_size) >= 0xFFFFFFFFull;
    if (!mArchive->openEntry(name, zipInfoFor(modified, info.st_mode), Z_DEFAULT_COMPRESSION, password,
                             zip64))
        return false;
    std::vector<char> buffer(ZipBufferSize);
    for (;;) {
        const ssize_t got = ::read(input.get(), buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            Log::error(QStringLiteral("[ZipWrapper] Error: cannot read %1: %2").arg(path, errnoText(errno)));
            mArchive->failed = true;
            mArchive->abandonEntry();
            return false;
        }
        if (got == 0)
            break;
        if (!mArchive->write(buffer.data(), got)) {
            Log::error(QStringLiteral("[ZipWrapper] Error: cannot write %1 into %2").arg(name, mPath));
            mArchive->abandonEntry();
            return false;
        }
    }
    return mArchive->closeEntry();
}

bool ZipWrapper::writeFolderAtPath(const QString& path, const QString& folderName, const QString& password)
{
    if (!mArchive)
        return false;
    struct stat info;
    std::optional<mode_t> permissions;
    QDateTime modified;
    if (::stat(QFile::encodeName(path).constData(), &info) == 0) {
        permissions = info.st_mode;
        modified = QDateTime::fromMSecsSinceEpoch(qint64(info.st_mtim.tv_sec) * 1000 +
                                                  info.st_mtim.tv_nsec / 1000000);
    }
    if (!mArchive->openEntry(folderName + QLatin1Char('/'), zipInfoFor(modified, permissions), 0, password,
                             false))
        return false;
    return mArchive->closeEntry();
}

bool ZipWrapper::writeData(const QByteArray& data, const QString& fileName, const QString& password)
{
    if (!mArchive || data.isNull())
        return false;
    const bool zip64 = quint64(data.size()) >= 0xFFFFFFFFull;
    if (!mArchive->openEntry(fileName, zipInfoFor(QDateTime(), std::nullopt), Z_DEFAULT_COMPRESSION, password,
                             zip64))
        return false;
    for (qint64 done = 0; done < data.size(); done += ZipBufferSize) {
        if (!mArchive->write(data.constData() + done, std::min<qint64>(ZipBufferSize, data.size() - done))) {
            mArchive->abandonEntry();
            return false;
        }
    }
    return mArchive->closeEntry();
}

// ---- Packing

bool ZipWrapper::createZipFileAtPathWithFilesAtPaths(const QString& path, const QStringList& paths,
                                                     const QString& password)
{
    ZipWrapper zip(path);
    if (!zip.open())
        return false;
    for (const QString& file : paths) {
        if (!zip.writeFile(file, password))
            return false; // the destructor removes the half-written archive
    }
    return zip.close();
}

bool ZipWrapper::createZipFileAtPathWithContentsOfDirectory(const QString& path, const QString& directory,
                                                            bool keepParentDirectory, const QString& password)
{
    ZipWrapper zip(path);
    if (!zip.open())
        return false;
    const QDir folder(directory);
    const QString parentName = QFileInfo(folder.absolutePath()).fileName();
    // The archive being written may lie inside the folder: never pack it into itself.
    const QString ownTemporary = QFile::decodeName(zip.mArchive->temporary);
    const QString ownTarget = QFileInfo(path).absoluteFilePath();

    QStringList items;
    QDirIterator it(folder.absolutePath(),
                    QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString item = it.next();
        if (item != ownTemporary && item != ownTarget)
            items.append(item);
    }
    items.sort();
    for (const QString& item : items) {
        const QFileInfo info(item);
        QString entry = folder.relativeFilePath(item);
        if (keepParentDirectory)
            entry = parentName + QLatin1Char('/') + entry;
        if (info.isDir() && !info.isSymLink()) {
            const bool empty =
                QDir(item)
                    .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System)
                    .isEmpty();
            if (empty && !zip.writeData(QByteArray(""), entry + QStringLiteral("/.DS_Store"), password))
                return false;
            continue;
        }
        if (info.isDir()) {
            Log::warning(QStringLiteral("[ZipWrapper] Skipping the linked folder %1").arg(item));
            continue;
        }
        if (!zip.writeFileAtPath(item, entry, password))
            return false;
    }
    return zip.close();
}

// ---- Unpacking

ZipWrapper::Limits ZipWrapper::limits()
{
    std::lock_guard lock(gLimitsMutex);
    return gLimits;
}

void ZipWrapper::setLimits(const Limits& limits)
{
    std::lock_guard lock(gLimitsMutex);
    gLimits = limits;
}

bool ZipWrapper::unzipFileAtPath(const QString& path, const QString& destination)
{
    return unzipFileAtPath(path, destination, true, QString(), nullptr, nullptr, {}, {});
}

bool ZipWrapper::unzipFileAtPath(const QString& path, const QString& destination,
                                 ZipWrapperDelegate* delegate)
{
    return unzipFileAtPath(path, destination, true, QString(), nullptr, delegate, {}, {});
}

bool ZipWrapper::unzipFileAtPath(const QString& path, const QString& destination, bool overwrite,
                                 const QString& password, Error* error, ZipWrapperDelegate* delegate)
{
    return unzipFileAtPath(path, destination, overwrite, password, error, delegate, {}, {});
}

bool ZipWrapper::unzipFileAtPath(const QString& path, const QString& destination,
                                 ProgressHandler progressHandler, CompletionHandler completionHandler)
{
    return unzipFileAtPath(path, destination, true, QString(), nullptr, nullptr, std::move(progressHandler),
                           std::move(completionHandler));
}

bool ZipWrapper::unzipFileAtPath(const QString& path, const QString& destination, bool overwrite,
                                 const QString& password, ProgressHandler progressHandler,
                                 CompletionHandler completionHandler)
{
    return unzipFileAtPath(path, destination, overwrite, password, nullptr, nullptr,
                           std::move(progressHandler), std::move(completionHandler));
}

bool ZipWrapper::unzipFileAtPath(const QString& path, const QString& destination, bool overwrite,
                                 const QString& password, Error* error, ZipWrapperDelegate* delegate,
                                 ProgressHandler progressHandler, CompletionHandler completionHandler)
{
    Budget budget;
    budget.limits = limits();
    // minizip takes the reading password as plain bytes.
    Unzipper unzipper(path, destination, overwrite, password.toLatin1(), delegate, std::move(progressHandler),
                      0, budget);
    return unzipper.run(error, completionHandler);
}

QDateTime ZipWrapper::dateWithMSDOSFormat(quint32 dosDate)
{
    const int year = int(dosDate >> 25) + 1980;
    const int month = int((dosDate >> 21) & 15);
    const int day = int((dosDate >> 16) & 31);
    const int hour = int((dosDate >> 11) & 31);
    const int minute = int((dosDate >> 5) & 63);
    const int second = int((dosDate * 2) & 62);
    const QDate date(year, month, day);
    const QTime time(hour, minute, second);
    if (!date.isValid() || !time.isValid())
        return QDateTime();
    return QDateTime(date, time, Qt::LocalTime);
}

} // namespace corvex
