#include "formats/ZipWrapper.h"

#include "formats/ZipCrypto.h"
#include "formats/ZipWrapperDelegate.h"
#include "model/Globals.h"
#include "platform/core/Log.h"
#include "platform/core/RegularFile.h"
#include "platform/core/SaveFile.h"
#include "platform/core/SysCalls.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QUuid>
#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <limits>
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
const QString ZipWrapper::EntryNameKey = QStringLiteral("ZipWrapperEntryName");

namespace {

constexpr qint64 UnzipBufferSize = 4096;
constexpr qint64 ZipBufferSize = 16384;
constexpr uLong MadeByUnix = (3 << 8) | 20; // host 3 (Unix), so other tools honour the modes
constexpr uLong Utf8NameFlag = 0x800;

// ---- minizip's file access, through SysCalls: every result reaches minizip, and tests can
// make any of the calls fail.

// An archive being written: the descriptor of its SaveFile's temporary file, and the first
// write error. minizip leaks its entry record when a write fails inside the opening of an
// entry, so a write that fails is recorded here and reported to minizip as done; every
// later write is skipped, and the writer checks this after each minizip call. The archive
// is thrown away all the same.
struct WriteState
{
    int fd = -1;
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
    if ((mode & ZLIB_FILEFUNC_MODE_READWRITEFILTER) != ZLIB_FILEFUNC_MODE_READ) {
        // Archives are only ever written into the temporary file their SaveFile made, which
        // stays open until the SaveFile commits it.
        auto* state = static_cast<WriteState*>(opaque);
        if (!state || state->fd < 0 || !(mode & ZLIB_FILEFUNC_MODE_CREATE))
            return nullptr;
        return new IoStream{state->fd, true, 0, state};
    }
    // An archive to read is opened only as a regular file: a named pipe would block here.
    Result<RegularFile> file = RegularFile::open(QFile::decodeName(static_cast<const char*>(filename)),
                                                 std::numeric_limits<qint64>::max());
    if (!file.ok())
        return nullptr;
    return new IoStream{file.value().release(), false, 0, nullptr};
}

uLong ioRead(voidpf, voidpf stream, void* buffer, uLong size)
{
    auto* io = static_cast<IoStream*>(stream);
    uLong done = 0;
    while (done < size) {
        const ssize_t got = SysCalls::read(io->fd, static_cast<char*>(buffer) + done, size - done);
        if (got < 0) {
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
    const off_t position = SysCalls::lseek(io->fd, 0, SEEK_CUR);
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
    if (SysCalls::lseek(io->fd, off_t(offset), whence) < 0) {
        io->error = errno;
        return -1;
    }
    return 0;
}

int ioClose(voidpf, voidpf stream)
{
    auto* io = static_cast<IoStream*>(stream);
    bool ok = io->error == 0 && (!io->state || io->state->error == 0);
    // The SaveFile of a written archive syncs and closes its file when it commits.
    if (!io->writing && SysCalls::close(io->fd) != 0)
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

class Unzipper;

// What one unzip has used, nested archives included. Once a bound is passed every level
// returns NO, and the outermost call reports the bound.
struct Budget
{
    ZipWrapper::Limits limits;
    qint64 bytes = 0;
    qint64 entries = 0;
    bool exceeded = false;
    Error error;                   // the bound that was passed
    std::vector<Unzipper*> levels; // the levels reading their archives now, outermost first
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

// The components of an entry name (backslashes already turned into slashes), or nothing,
// with the reason in `refusal`, when the name must not be written: absolute, a drive
// prefix, a ".." component or a NUL. Empty and "." components are dropped.
std::optional<QList<QByteArray>> safeComponents(const QByteArray& name, QString& refusal)
{
    if (name.contains('\0')) {
        refusal = QStringLiteral("its name holds a NUL byte");
        return std::nullopt;
    }
    if (name.startsWith('/')) {
        refusal = QStringLiteral("its name is absolute, so it leads outside the destination");
        return std::nullopt;
    }
    const QList<QByteArray> raw = name.split('/');
    if (!raw.isEmpty() && raw.first().size() == 2 && raw.first().at(1) == ':') {
        // "C:" and the like name another root elsewhere
        refusal = QStringLiteral("its name starts with a drive, so it leads outside the destination");
        return std::nullopt;
    }
    QList<QByteArray> components;
    for (const QByteArray& component : raw) {
        if (component.isEmpty() || component == ".")
            continue;
        if (component == "..") {
            refusal = QStringLiteral("its name holds \"..\", so it leads outside the destination");
            return std::nullopt;
        }
        components.append(component);
    }
    return components;
}

// Why the folders of an entry could not be opened.
struct FolderRefusal
{
    int code = ZipWrapper::FileSystemError;
    QString reason;
};

// Opens (making when asked) each folder of `components` below `base`, never following a
// symbolic link. The deepest folder's descriptor, or an invalid one with `refusal` filled.
FileDescriptor openFolders(int base, const QList<QByteArray>& components, qsizetype count,
                           FolderRefusal& refusal)
{
    FileDescriptor current(::fcntl(base, F_DUPFD_CLOEXEC, 0));
    for (qsizetype index = 0; index < count && current.valid(); ++index) {
        const QByteArray& component = components.at(index);
        const QString shown = printableName(components.mid(0, index + 1).join('/'));
        int next =
            ::openat(current.get(), component.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (next < 0 && errno == ENOENT) {
            if (::mkdirat(current.get(), component.constData(), 0777) != 0 && errno != EEXIST) {
                refusal = {ZipWrapper::FileSystemError,
                           QStringLiteral("cannot create the folder %1: %2").arg(shown, errnoText(errno))};
                return FileDescriptor();
            }
            next = ::openat(current.get(), component.constData(),
                            O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        }
        if (next < 0) {
            const int problem = errno;
            struct stat info;
            const bool link =
                ::fstatat(current.get(), component.constData(), &info, AT_SYMLINK_NOFOLLOW) == 0 &&
                S_ISLNK(info.st_mode);
            if (link)
                refusal = {ZipWrapper::TargetRefused,
                           QStringLiteral("the folder %1 on its way is a symbolic link; refused").arg(shown)};
            else
                refusal = {problem == ENOTDIR ? ZipWrapper::TargetRefused : ZipWrapper::FileSystemError,
                           QStringLiteral("%1 is not a usable folder: %2").arg(shown, errnoText(problem))};
            return FileDescriptor();
        }
        current.reset(next);
    }
    return current;
}

// The folder path of the first `count` components below `destination`.
QByteArray folderPathOf(const QByteArray& destination, const QList<QByteArray>& components, qsizetype count)
{
    return count == 0 ? destination : destination + '/' + components.mid(0, count).join('/');
}

// The fixed descriptions the first error codes have always had; empty for the others.
QString fixedDescription(int code)
{
    switch (code) {
    case ZipWrapper::FailedToOpenZipFile:
        return QStringLiteral("failed to open zip file");
    case ZipWrapper::FailedToOpenFirstFile:
        return QStringLiteral("failed to open first file in zip file");
    case ZipWrapper::CrcCheckFailed:
        return QStringLiteral("crc check failed for file");
    default:
        return QString();
    }
}

// An error about one entry of an archive: its name and the reason in the description (the
// fixed text for the first codes), the user information and the failure reason.
Error entryError(int code, const QString& archive, const QString& entry, const QString& reason)
{
    const QString located =
        QStringLiteral("\"%1\" in %2: %3").arg(entry, QFileInfo(archive).fileName(), reason);
    QVariantMap info{
        {Error::FilePathKey, archive}, {ZipWrapper::EntryNameKey, entry}, {Error::FailureReasonKey, located}};
    const QString fixed = fixedDescription(code);
    return Error(ZipWrapper::ErrorDomain, code, fixed.isEmpty() ? located : fixed, info);
}

// An error about the archive as a whole (no entry was reached).
Error archiveError(int code, const QString& archive, const QString& description, const QString& reason)
{
    return Error(ZipWrapper::ErrorDomain, code, description,
                 {{Error::FilePathKey, archive}, {Error::FailureReasonKey, reason}});
}

// Why minizip could not open the archive at all.
QString whyNoArchive(const QString& path)
{
    const Result<RegularFile> file = RegularFile::open(path, std::numeric_limits<qint64>::max());
    if (!file.ok()) {
        const QString reason = file.error().localizedFailureReason();
        return QStringLiteral("%1: %2").arg(path, reason.isEmpty() ? errnoText(file.error().code()) : reason);
    }
    return QStringLiteral("%1 is no zip archive, or a damaged one: its directory cannot be found").arg(path);
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

    bool run(Error* error, ZipWrapper::CompletionHandler completion);

    // Why the last run failed; a null Error after a success.
    const Error& error() const { return mError; }

private:
    enum class EntryOutcome
    {
        Done,
        Skipped,
        Failed,
        CrcFailed,
        Cancelled
    };

    // An entry extracted under a fresh name because its own name is taken by an archive
    // still being read: it takes that name once the archive is closed and unpacked.
    struct Deferred
    {
        QByteArray fresh;
        QByteArray target;
        QString shown;
    };

    // Why the archive cannot be unzipped, found before any entry is read.
    struct ArchiveFailure
    {
        int code = 0;
        QString description;
        QString reason;
        bool pathGiven = false; // whether the completion hears the archive's path
    };

    // Where an entry goes: the components of its safe name, the folder that receives it
    // (opened, and made on the way) and its date.
    struct EntryPlace
    {
        QList<QByteArray> components;
        QByteArray relative;
        qsizetype folderCount = 0;
        FileDescriptor folder;
        QDateTime date;
        bool isFolder = false;

        QByteArray folderPath(const QByteArray& destination) const
        {
            return folderPathOf(destination, components, folderCount);
        }
    };

    // How an entry's data is read: straight from minizip, or through the decryption.
    struct EntryReader
    {
        std::unique_ptr<ZipDecryptingReader> decrypting;
        std::function<int(char*, unsigned)> read;
        bool encrypted = false;
    };

    // The file an entry is written to: under its own name, or a fresh one beside it.
    struct EntryTarget
    {
        FileDescriptor file;
        QByteArray leaf;
    };

    // Opens the archive at its first entry and learns which file it is; false with `failure`
    // filled (and the archive closed again).
    bool openArchive(unz_global_info64& globalInfo, ArchiveFailure& failure);
    // Opens the destination folder, making it when missing; false with `failure` filled (and
    // the archive closed).
    bool openDestination(ArchiveFailure& failure);
    // Extracts entry after entry: true after the last one, false at a failure or when the
    // delegate cancelled (`cancelled`).
    bool extractEntries(qint64 total, bool& cancelled);
    // Tells the delegate and the progress handler of an entry that was extracted.
    void reportExtracted(const unz_file_info64& info, const QByteArray& storedName, qint64 index,
                         qint64 total, const QByteArray& targetPath);
    // Closes the archive, settles the deferred entries and gives the folders their dates;
    // `success`, or false when a deferred entry could not be put in place.
    bool closeArchive(bool success);

    // Extracts the current entry; `targetPath` receives where it went.
    EntryOutcome extractCurrent(const unz_file_info64& rawInfo, const QByteArray& storedName, qint64 index,
                                qint64 total, QByteArray& targetPath);
    // Asks the delegate about the entry and tells it and the progress event; false when the
    // delegate declined it.
    bool announceEntry(const unz_file_info64& info, const QByteArray& storedName, qint64 index, qint64 total);
    // Checks the entry's name and opens (making) its folders; false when the entry is refused.
    bool placeEntry(const unz_file_info64& info, const QByteArray& storedName, EntryPlace& place);
    // Opens the entry's data and, for an encrypted entry, checks its header; false (the entry
    // closed again) when it cannot be read.
    bool openEntryData(const unz_file_info64& info, const QByteArray& storedName, EntryReader& reader);
    // Creates the file the entry is written to: `leaf` itself, or a fresh name beside it
    // (`fresh`); false when there is none that is a plain file of its own.
    bool createTarget(const EntryPlace& place, const QByteArray& leaf, bool fresh,
                      const QByteArray& storedName, EntryTarget& target);
    // Closes and removes what was written to the target.
    void discardTarget(const EntryPlace& place, EntryTarget& target);
    // Closes the entry's data, where minizip checks its CRC.
    EntryOutcome closeEntryData(const unz_file_info64& info, const QByteArray& storedName,
                                const EntryReader& reader);
    // Gives the written file the entry's permission bits and date and closes it; false (the
    // file removed) when the close fails.
    bool finishTarget(const unz_file_info64& info, const QByteArray& storedName, const EntryPlace& place,
                      EntryTarget& target);
    // Unpacks a written inner archive, or keeps the file: its date for later, or its move
    // onto an archive still being read for when that archive is done.
    EntryOutcome keepWritten(const EntryPlace& place, const QByteArray& leaf, const QByteArray& writtenPath,
                             const QByteArray& targetPath, Unzipper* reading);
    bool writeEntryData(int fd, const unz_file_info64& info, const QByteArray& storedName,
                        const std::function<int(char*, unsigned)>& read, bool encrypted);
    // Unpacks an inner archive written at `innerPath` into `folderPath`; true when it was
    // unpacked and removed, false when it stays a file.
    bool unpackNested(const QByteArray& innerPath, const QByteArray& folderPath, const QString& shown);
    bool spendEntry(const QByteArray& storedName);
    // The level whose archive is the file `info` describes; nullptr for any other file.
    Unzipper* levelReading(const struct stat& info) const;
    // Puts every deferred entry in place (`replace`) or throws the copies away; false when
    // one could not be put in place.
    bool settleDeferred(bool replace);
    // Records a failure of the entry (the first one is this level's error) and logs it.
    void fail(int code, const QByteArray& storedName, const QString& reason);

    QString mPath;
    QString mDestination;
    bool mOverwrite;
    QByteArray mPassword;
    ZipWrapperDelegate* mDelegate;
    ZipWrapper::ProgressHandler mProgress;
    int mDepth;
    Budget& mBudget;

    unzFile mZip = nullptr;
    dev_t mArchiveDevice = 0;
    ino_t mArchiveInode = 0;
    FileDescriptor mDestinationFd;
    QByteArray mDestinationPath;
    std::vector<std::pair<QByteArray, QDateTime>> mDates;
    std::vector<Deferred> mDeferred;
    quint64 mPosition = 0;
    quint64 mFileSize = 0;
    Error mError;
};

void Unzipper::fail(int code, const QByteArray& storedName, const QString& reason)
{
    const QString name = printableName(storedName);
    Log::error(QStringLiteral("[ZipWrapper] Error: \"%1\" in %2: %3").arg(name, mPath, reason));
    if (mError.isNull())
        mError = entryError(code, mPath, name, reason);
}

bool Unzipper::spendEntry(const QByteArray& storedName)
{
    if (mBudget.exceeded) {
        if (mError.isNull())
            mError = mBudget.error;
        return false;
    }
    if (++mBudget.entries > mBudget.limits.maxEntries) {
        fail(ZipWrapper::LimitExceeded, storedName,
             QStringLiteral("more than %1 entries; the unzip stops").arg(mBudget.limits.maxEntries));
        mBudget.exceeded = true;
        mBudget.error = mError;
        return false;
    }
    return true;
}

Unzipper* Unzipper::levelReading(const struct stat& info) const
{
    for (Unzipper* level : mBudget.levels) {
        if (level->mArchiveInode == info.st_ino && level->mArchiveDevice == info.st_dev)
            return level;
    }
    return nullptr;
}

bool Unzipper::settleDeferred(bool replace)
{
    bool ok = true;
    for (const Deferred& deferred : std::exchange(mDeferred, {})) {
        if (!replace) {
            SysCalls::unlink(deferred.fresh.constData());
            continue;
        }
        if (SysCalls::rename(deferred.fresh.constData(), deferred.target.constData()) != 0) {
            const int problem = errno;
            fail(
                ZipWrapper::FileSystemError, QFile::encodeName(deferred.shown),
                QStringLiteral("cannot put it in place of the unpacked archive: %1").arg(errnoText(problem)));
            SysCalls::unlink(deferred.fresh.constData());
            ok = false;
        }
    }
    return ok;
}

bool Unzipper::run(Error* error, ZipWrapper::CompletionHandler completion)
{
    unz_global_info64 globalInfo{};
    ArchiveFailure failure;
    if (!openArchive(globalInfo, failure) || !openDestination(failure)) {
        // Failures before any entry: no archive path reaches the completion for the first two.
        Log::error(QStringLiteral("[ZipWrapper] Error: %1: %2").arg(failure.description, failure.reason));
        mError = archiveError(failure.code, mPath, failure.description, failure.reason);
        if (error)
            *error = mError;
        completion(failure.pathGiven ? mPath : QString(), false, mError);
        return false;
    }
    ZipWrapper::GlobalInfo global;
    global.numberOfEntries = globalInfo.number_entry;
    const qint64 total =
        qint64(std::min<quint64>(globalInfo.number_entry, quint64(std::numeric_limits<qint64>::max())));

    // The levels reading now, for entries that would land on one of their archives.
    mBudget.levels.push_back(this);
    const auto leaveLevels = qScopeGuard([this] { std::erase(mBudget.levels, this); });

    if (mDelegate && mDelegate->zipArchiveWillUnzipArchiveAtPath)
        mDelegate->zipArchiveWillUnzipArchiveAtPath(mPath, global);
    if (mDelegate && mDelegate->zipArchiveProgressEvent)
        mDelegate->zipArchiveProgressEvent(0, mFileSize);

    bool cancelled = false;
    const bool success = closeArchive(extractEntries(total, cancelled));

    if (success && mDelegate && mDelegate->zipArchiveDidUnzipArchiveAtPath)
        mDelegate->zipArchiveDidUnzipArchiveAtPath(mPath, global, mDestination);
    if (!cancelled && mDelegate && mDelegate->zipArchiveProgressEvent)
        mDelegate->zipArchiveProgressEvent(mFileSize, mFileSize);

    if (success)
        mError = Error();
    else if (mError.isNull())
        mError = archiveError(ZipWrapper::DamagedArchive, mPath, QStringLiteral("cannot unzip %1").arg(mPath),
                              QStringLiteral("the unzip stopped"));
    if (error)
        *error = mError;
    completion(mPath, success, mError);
    return success;
}

bool Unzipper::openArchive(unz_global_info64& globalInfo, ArchiveFailure& failure)
{
    zlib_filefunc64_def functions = fileFunctions();
    const QByteArray encodedPath = QFile::encodeName(mPath);
    mZip = unzOpen2_64(encodedPath.constData(), &functions);
    if (!mZip) {
        failure = {ZipWrapper::FailedToOpenZipFile, QStringLiteral("failed to open zip file"),
                   whyNoArchive(mPath), false};
        return false;
    }
    const int globalResult = unzGetGlobalInfo64(mZip, &globalInfo);
    if (globalResult != UNZ_OK) {
        unzClose(mZip);
        failure = {ZipWrapper::FailedToOpenZipFile, QStringLiteral("failed to open zip file"),
                   QStringLiteral("%1: its directory cannot be read (minizip error %2)")
                       .arg(mPath)
                       .arg(globalResult),
                   false};
        return false;
    }
    const int firstResult = unzGoToFirstFile(mZip);
    if (firstResult != UNZ_OK) {
        unzClose(mZip);
        failure = {ZipWrapper::FailedToOpenFirstFile, QStringLiteral("failed to open first file in zip file"),
                   firstResult == UNZ_END_OF_LIST_OF_FILE
                       ? QStringLiteral("%1 holds no entries").arg(mPath)
                       : QStringLiteral("%1: the record of its first entry cannot be read (minizip error %2)")
                             .arg(mPath)
                             .arg(firstResult),
                   false};
        return false;
    }
    // Who the archive is: an entry that would land on it must wait until it is read.
    struct stat archiveInfo;
    if (SysCalls::stat(encodedPath.constData(), &archiveInfo) != 0) {
        const int problem = errno;
        unzClose(mZip);
        failure = {ZipWrapper::FileSystemError, QStringLiteral("cannot read the zip file"),
                   QStringLiteral("%1: %2").arg(mPath, errnoText(problem)), true};
        return false;
    }
    mArchiveDevice = archiveInfo.st_dev;
    mArchiveInode = archiveInfo.st_ino;
    mFileSize = quint64(std::max<qint64>(0, archiveInfo.st_size));
    return true;
}

bool Unzipper::openDestination(ArchiveFailure& failure)
{
    // The destination itself must be a real folder: a link there would send every entry
    // elsewhere.
    mDestinationPath = QFile::encodeName(mDestination);
    mDestinationFd.reset(
        SysCalls::open(mDestinationPath.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!mDestinationFd.valid() && errno == ENOENT && QDir().mkpath(mDestination))
        mDestinationFd.reset(
            SysCalls::open(mDestinationPath.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (mDestinationFd.valid())
        return true;
    const int problem = errno;
    unzClose(mZip);
    struct stat destinationInfo;
    const bool link = SysCalls::lstat(mDestinationPath.constData(), &destinationInfo) == 0 &&
                      S_ISLNK(destinationInfo.st_mode);
    failure = {link ? ZipWrapper::TargetRefused : ZipWrapper::FileSystemError,
               QStringLiteral("cannot unzip into %1").arg(mDestination),
               link ? QStringLiteral("the destination %1 is a symbolic link; refused").arg(mDestination)
                    : QStringLiteral("the destination %1 is not a usable folder: %2")
                          .arg(mDestination, errnoText(problem)),
               true};
    return false;
}

bool Unzipper::extractEntries(qint64 total, bool& cancelled)
{
    qint64 index = 0;
    // The name field is 16 bits long: this buffer holds any name and its terminator.
    std::vector<char> nameBuffer(65536 + 1, '\0');
    // `position`: of the entry in the archive, for a record that cannot be read.
    for (qint64 position = 0;; ++position) {
        unz_file_info64 info{};
        const int described = unzGetCurrentFileInfo64(mZip, &info, nameBuffer.data(),
                                                      uLong(nameBuffer.size()), nullptr, 0, nullptr, 0);
        if (described != UNZ_OK) {
            // No name to tell: the entry is known by its place.
            const QString reason =
                QStringLiteral("%1: the record of entry %2 cannot be read (minizip error %3)")
                    .arg(mPath)
                    .arg(position + 1)
                    .arg(described);
            Log::error(QStringLiteral("[ZipWrapper] Error: ") + reason);
            mError = archiveError(ZipWrapper::DamagedArchive, mPath, reason, reason);
            return false;
        }
        const QByteArray storedName(nameBuffer.data(), qsizetype(std::min<uLong>(info.size_filename, 65536)));
        if (!spendEntry(storedName))
            return false;
        QByteArray targetPath;
        const EntryOutcome outcome = extractCurrent(info, storedName, index, total, targetPath);
        if (outcome == EntryOutcome::Cancelled) {
            cancelled = true;
            return false;
        }
        if (outcome == EntryOutcome::CrcFailed || outcome == EntryOutcome::Failed)
            return false;
        if (outcome == EntryOutcome::Done) {
            reportExtracted(info, storedName, index, total, targetPath);
            ++index;
        }
        const int next = unzGoToNextFile(mZip);
        if (next == UNZ_END_OF_LIST_OF_FILE)
            return true;
        if (next != UNZ_OK) {
            fail(ZipWrapper::DamagedArchive, storedName,
                 QStringLiteral("the archive's directory is damaged after this entry (minizip error %1)")
                     .arg(next));
            return false;
        }
    }
}

void Unzipper::reportExtracted(const unz_file_info64& info, const QByteArray& storedName, qint64 index,
                               qint64 total, const QByteArray& targetPath)
{
    if (mDelegate && mDelegate->zipArchiveDidUnzipFileAtIndex) {
        mDelegate->zipArchiveDidUnzipFileAtIndex(index, total, mPath, fileInfoFrom(info));
    } else if (mDelegate && mDelegate->zipArchiveDidUnzipFileAtIndexToPath) {
        mDelegate->zipArchiveDidUnzipFileAtIndexToPath(index, total, mPath, QFile::decodeName(targetPath));
    }
    if (mProgress) {
        QByteArray shown = storedName;
        if (shown.contains('/') || shown.contains('\\'))
            shown.replace('\\', '/');
        mProgress(QString::fromUtf8(shown), fileInfoFrom(info), index + 1, total);
    }
}

bool Unzipper::closeArchive(bool success)
{
    if (unzClose(mZip) != UNZ_OK)
        Log::warning(QStringLiteral("[ZipWrapper] Error: closing %1 failed").arg(mPath));
    mZip = nullptr;
    // The outermost archive is closed: entries that would have landed on it take its name.
    // (An inner level's are put in place by the level above, once it removed the archive.)
    if (mDepth == 0 && !settleDeferred(success))
        success = false;

    // Folders get their dates last, after their contents stopped changing them. An inner
    // archive unpacked and removed has no date to set.
    for (const auto& [path, date] : mDates) {
        if (date.isValid() && !setModificationDate(path, date) && errno != ENOENT)
            Log::warning(QStringLiteral("[ZipWrapper] Set attributes failed for directory: %1.")
                             .arg(QFile::decodeName(path)));
    }
    return success;
}

Unzipper::EntryOutcome Unzipper::extractCurrent(const unz_file_info64& info, const QByteArray& storedName,
                                                qint64 index, qint64 total, QByteArray& targetPath)
{
    if (!announceEntry(info, storedName, index, total))
        return EntryOutcome::Cancelled;
    EntryPlace place;
    if (!placeEntry(info, storedName, place))
        return EntryOutcome::Failed;
    targetPath = place.relative.isEmpty() ? mDestinationPath : mDestinationPath + '/' + place.relative;
    if (place.isFolder) {
        mDates.emplace_back(targetPath, place.date);
        return EntryOutcome::Done;
    }

    const QByteArray leaf = place.components.last();
    struct stat existing;
    const bool exists = ::fstatat(place.folder.get(), leaf.constData(), &existing, AT_SYMLINK_NOFOLLOW) == 0;
    // An archive of this unzip still being read lies where the entry goes (the entry names
    // an archive that holds it, or the outer archive itself): writing there would cut off
    // the rest of that archive.
    Unzipper* reading = exists && S_ISREG(existing.st_mode) ? levelReading(existing) : nullptr;
    if (exists && !mOverwrite && (!reading || reading->mDepth == 0))
        return EntryOutcome::Skipped; // the user's own file, kept

    EntryReader reader;
    if (!openEntryData(info, storedName, reader))
        return EntryOutcome::Failed;
    auto closeEntry = qScopeGuard([this] { unzCloseCurrentFile(mZip); });
    EntryTarget target;
    if (!createTarget(place, leaf, reading != nullptr, storedName, target))
        return EntryOutcome::Failed;
    const QByteArray writtenPath =
        reading ? place.folderPath(mDestinationPath) + '/' + target.leaf : targetPath;

    if (!writeEntryData(target.file.get(), info, storedName, reader.read, reader.encrypted)) {
        discardTarget(place, target);
        return EntryOutcome::Failed;
    }
    closeEntry.dismiss();
    const EntryOutcome closed = closeEntryData(info, storedName, reader);
    if (closed != EntryOutcome::Done) {
        discardTarget(place, target);
        return closed;
    }
    if (!finishTarget(info, storedName, place, target))
        return EntryOutcome::Failed;
    return keepWritten(place, leaf, writtenPath, targetPath, reading);
}

bool Unzipper::announceEntry(const unz_file_info64& info, const QByteArray& storedName, qint64 index,
                             qint64 total)
{
    const ZipWrapper::FileInfo publicInfo = fileInfoFrom(info);
    if (mDelegate && mDelegate->zipArchiveShouldUnzipFileAtIndex &&
        !mDelegate->zipArchiveShouldUnzipFileAtIndex(index, total, mPath, publicInfo)) {
        fail(ZipWrapper::Cancelled, storedName, QStringLiteral("the delegate declined it; the unzip stops"));
        return false;
    }
    if (mDelegate && mDelegate->zipArchiveWillUnzipFileAtIndex)
        mDelegate->zipArchiveWillUnzipFileAtIndex(index, total, mPath, publicInfo);
    mPosition += info.compressed_size;
    if (mDelegate && mDelegate->zipArchiveProgressEvent)
        mDelegate->zipArchiveProgressEvent(mPosition, mFileSize);
    return true;
}

bool Unzipper::placeEntry(const unz_file_info64& info, const QByteArray& storedName, EntryPlace& place)
{
    QByteArray name = storedName;
    place.isFolder = name.endsWith('/') || name.endsWith('\\');
    name.replace('\\', '/');
    QString refusal;
    const auto components = safeComponents(name, refusal);
    if (!components || (!place.isFolder && components->isEmpty())) {
        if (components)
            refusal = QStringLiteral("a file entry without a name");
        if (storedName.contains('\\'))
            refusal += QStringLiteral(" (backslashes count as slashes)");
        fail(ZipWrapper::UnsafeEntryName, storedName, QStringLiteral("refused: %1").arg(refusal));
        return false;
    }
    place.components = *components;
    place.relative = components->join('/');
    place.date = ZipWrapper::dateWithMSDOSFormat(quint32(info.dosDate));
    place.folderCount = place.isFolder ? components->size() : components->size() - 1;
    FolderRefusal folderRefusal;
    place.folder = openFolders(mDestinationFd.get(), place.components, place.folderCount, folderRefusal);
    if (!place.folder.valid()) {
        fail(folderRefusal.code, storedName, folderRefusal.reason);
        return false;
    }
    return true;
}

bool Unzipper::openEntryData(const unz_file_info64& info, const QByteArray& storedName, EntryReader& reader)
{
    const int method = int(info.compression_method);
    reader.encrypted = (info.flag & ZipCrypto::EncryptedFlag) != 0;
    if (method != 0 && method != Z_DEFLATED) {
        fail(ZipWrapper::UnsupportedEntry, storedName,
             QStringLiteral("it uses compression method %1, which cannot be read").arg(method));
        return false;
    }
    if (reader.encrypted && mPassword.isEmpty()) {
        fail(ZipWrapper::WrongPassword, storedName,
             QStringLiteral("it is encrypted and no password was given"));
        return false;
    }
    // Encrypted entries are read raw and decrypted here (see ZipCrypto.h).
    const int opened =
        reader.encrypted ? unzOpenCurrentFile3(mZip, nullptr, nullptr, 1, nullptr) : unzOpenCurrentFile(mZip);
    if (opened != UNZ_OK) {
        fail(ZipWrapper::DamagedArchive, storedName,
             QStringLiteral("its data cannot be found (minizip error %1)").arg(opened));
        return false;
    }
    reader.read = [this](char* buffer, unsigned size) { return unzReadCurrentFile(mZip, buffer, size); };
    if (!reader.encrypted)
        return true;
    reader.decrypting = std::make_unique<ZipDecryptingReader>(reader.read, mPassword, method);
    const auto header = reader.decrypting->readHeader(
        ZipCrypto::checkByte(quint32(info.flag), quint32(info.crc), quint32(info.dosDate)));
    if (header != ZipDecryptingReader::Header::Good) {
        fail(header == ZipDecryptingReader::Header::WrongPassword ? ZipWrapper::WrongPassword
                                                                  : ZipWrapper::DamagedEntry,
             storedName,
             header == ZipDecryptingReader::Header::WrongPassword
                 ? QStringLiteral("the password is wrong")
                 : QStringLiteral("its encryption header is cut short"));
        unzCloseCurrentFile(mZip);
        return false;
    }
    reader.read = [decrypting = reader.decrypting.get()](char* buffer, unsigned size) {
        return decrypting->read(buffer, size);
    };
    return true;
}

bool Unzipper::createTarget(const EntryPlace& place, const QByteArray& leaf, bool fresh,
                            const QByteArray& storedName, EntryTarget& target)
{
    target.leaf = leaf;
    if (fresh) {
        for (int attempt = 0; attempt < 8 && !target.file.valid(); ++attempt) {
            target.leaf = ".corvex-unzip-" + QUuid::createUuid().toString(QUuid::Id128).left(12).toLatin1();
            target.file.reset(::openat(place.folder.get(), target.leaf.constData(),
                                       O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
            if (!target.file.valid() && errno != EEXIST)
                break;
        }
    } else {
        // Without O_TRUNC: a target that turns out to be shared with another path (a hard
        // link) must not be emptied.
        target.file.reset(::openat(place.folder.get(), leaf.constData(),
                                   O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0666));
    }
    if (!target.file.valid()) {
        const int problem = errno;
        fail(problem == ELOOP ? ZipWrapper::TargetRefused : ZipWrapper::FileSystemError, storedName,
             QStringLiteral("cannot create %1: %2%3")
                 .arg(printableName(place.relative), errnoText(problem),
                      problem == ELOOP ? QStringLiteral(" (a symbolic link is in its place)") : QString()));
        return false;
    }
    struct stat created;
    if (SysCalls::fstat(target.file.get(), &created) != 0) {
        const int problem = errno;
        fail(ZipWrapper::FileSystemError, storedName,
             QStringLiteral("cannot examine %1: %2").arg(printableName(place.relative), errnoText(problem)));
        if (fresh)
            discardTarget(place, target); // only a fresh file of our own; never the user's file at the name
        return false;
    }
    if (!S_ISREG(created.st_mode) || created.st_nlink != 1 || ::ftruncate(target.file.get(), 0) != 0) {
        fail(ZipWrapper::TargetRefused, storedName,
             QStringLiteral("%1 exists and is not a plain file of its own; refused")
                 .arg(printableName(place.relative)));
        if (fresh)
            discardTarget(place, target);
        return false;
    }
    return true;
}

void Unzipper::discardTarget(const EntryPlace& place, EntryTarget& target)
{
    target.file.reset();
    ::unlinkat(place.folder.get(), target.leaf.constData(), 0);
}

Unzipper::EntryOutcome Unzipper::closeEntryData(const unz_file_info64& info, const QByteArray& storedName,
                                                const EntryReader& reader)
{
    const int closed = unzCloseCurrentFile(mZip);
    const bool crcFailed =
        closed == UNZ_CRCERROR || (reader.decrypting && reader.decrypting->crc() != quint32(info.crc));
    if (!crcFailed && closed == UNZ_OK)
        return EntryOutcome::Done;
    fail(crcFailed ? ZipWrapper::CrcCheckFailed : ZipWrapper::DamagedEntry, storedName,
         crcFailed ? QStringLiteral("its data fails its CRC check%1")
                         .arg(reader.encrypted ? QStringLiteral(" (or the password is wrong)") : QString())
                   : QStringLiteral("it cannot be finished (minizip error %1)").arg(closed));
    return crcFailed ? EntryOutcome::CrcFailed : EntryOutcome::Failed;
}

bool Unzipper::finishTarget(const unz_file_info64& info, const QByteArray& storedName,
                            const EntryPlace& place, EntryTarget& target)
{
    // Only permission bits: never set-user-ID, set-group-ID or sticky bits from an archive,
    // and never a mode that would lock the file away from its owner by accident.
    const mode_t mode = mode_t((info.external_fa >> 16) & 0777);
    if (mode != 0 && SysCalls::fchmod(target.file.get(), mode) != 0)
        Log::warning(QStringLiteral("[ZipWrapper] Failed to set attributes - whilst setting permissions"));
    if (info.dosDate != 0 && place.date.isValid()) {
        struct timespec times[2];
        times[0].tv_sec = 0;
        times[0].tv_nsec = UTIME_OMIT;
        times[1] = timespecOf(place.date);
        if (::futimens(target.file.get(), times) != 0)
            Log::warning(
                QStringLiteral("[ZipWrapper] Failed to set attributes - whilst setting modification date"));
    }
    // FileDescriptor closes quietly; this close goes through SysCalls and is checked.
    if (SysCalls::close(target.file.release()) != 0) {
        const int problem = errno;
        fail(ZipWrapper::FileSystemError, storedName,
             QStringLiteral("cannot close %1: %2").arg(printableName(place.relative), errnoText(problem)));
        discardTarget(place, target);
        return false;
    }
    return true;
}

Unzipper::EntryOutcome Unzipper::keepWritten(const EntryPlace& place, const QByteArray& leaf,
                                             const QByteArray& writtenPath, const QByteArray& targetPath,
                                             Unzipper* reading)
{
    bool unpacked = false;
    if (QString::fromUtf8(leaf).toLower().endsWith(QLatin1String(".zip"))) {
        unpacked =
            unpackNested(writtenPath, place.folderPath(mDestinationPath), printableName(place.relative));
        if (mBudget.exceeded) {
            if (mError.isNull())
                mError = mBudget.error;
            return EntryOutcome::Failed;
        }
    }
    if (!unpacked) {
        if (reading)
            reading->mDeferred.push_back({writtenPath, targetPath, printableName(place.relative)});
        else
            mDates.emplace_back(targetPath, place.date);
    }
    return EntryOutcome::Done;
}

bool Unzipper::writeEntryData(int fd, const unz_file_info64& info, const QByteArray& storedName,
                              const std::function<int(char*, unsigned)>& read, bool encrypted)
{
    const auto overBudget = [&](const QString& reason) {
        fail(ZipWrapper::LimitExceeded, storedName, reason);
        mBudget.exceeded = true;
        mBudget.error = mError;
        return false;
    };
    const qint64 remaining = mBudget.limits.maxTotalBytes - mBudget.bytes;
    if (info.uncompressed_size > quint64(std::max<qint64>(0, remaining)))
        return overBudget(QStringLiteral("it claims %1 bytes, more than the unzip may write (%2 in all)")
                              .arg(info.uncompressed_size)
                              .arg(mBudget.limits.maxTotalBytes));
    char buffer[UnzipBufferSize];
    quint64 written = 0;
    for (;;) {
        const int got = read(buffer, unsigned(sizeof buffer));
        if (got == 0)
            break;
        if (got == UNZ_ERRNO) {
            fail(ZipWrapper::DamagedArchive, storedName,
                 QStringLiteral("its data cannot be read from the archive (cut short, or a read error)"));
            return false;
        }
        if (got < 0) {
            fail(ZipWrapper::DamagedEntry, storedName,
                 QStringLiteral("its compressed data is damaged (error %1)%2")
                     .arg(got)
                     .arg(encrypted ? QStringLiteral(", or the password is wrong") : QString()));
            return false;
        }
        mBudget.bytes += got;
        written += quint64(got);
        if (mBudget.bytes > mBudget.limits.maxTotalBytes)
            return overBudget(QStringLiteral("it holds more than the unzip may write (%1 bytes in all)")
                                  .arg(mBudget.limits.maxTotalBytes));
        if (written > info.uncompressed_size) {
            fail(ZipWrapper::DamagedEntry, storedName,
                 QStringLiteral("it holds more than the %1 bytes it claims").arg(info.uncompressed_size));
            return false;
        }
        if (!SysCalls::writeAll(fd, buffer, std::size_t(got))) {
            const int problem = errno;
            fail(ZipWrapper::FileSystemError, storedName,
                 QStringLiteral("cannot write it: %1").arg(errnoText(problem)));
            return false;
        }
    }
    // minizip checks the CRC only of an entry read to its declared end: a stream that stops
    // early must be caught here.
    if (written != info.uncompressed_size) {
        fail(ZipWrapper::DamagedEntry, storedName,
             QStringLiteral("it ends after %1 of its %2 bytes").arg(written).arg(info.uncompressed_size));
        return false;
    }
    return true;
}

bool Unzipper::unpackNested(const QByteArray& innerPath, const QByteArray& folderPath, const QString& shown)
{
    const QString name = QFileInfo(shown).fileName();
    if (mDepth >= mBudget.limits.maxNestingDepth) {
        Log::warning(
            QStringLiteral("[ZipWrapper] Not unpacking nested .zip file %1: nested deeper than %2 levels")
                .arg(name)
                .arg(mBudget.limits.maxNestingDepth));
        return false;
    }
    Log::info(QStringLiteral("Unzipping nested .zip file:  %1").arg(name));
    Unzipper nested(QFile::decodeName(innerPath), QFile::decodeName(folderPath), mOverwrite, mPassword,
                    nullptr, {}, mDepth + 1, mBudget);
    if (!nested.run(nullptr, nullptr)) {
        // The archive stays as it was written, whole: whatever it held is still in it.
        (void)nested.settleDeferred(false);
        if (!mBudget.exceeded)
            Log::warning(QStringLiteral("[ZipWrapper] The nested .zip file %1 of %2 stays packed: %3")
                             .arg(shown, mPath, nested.error().localizedFailureReason()));
        return false;
    }
    if (SysCalls::unlink(innerPath.constData()) != 0 && errno != ENOENT)
        Log::warning(QStringLiteral("[ZipWrapper] Error: cannot remove the unpacked %1").arg(shown));
    if (!nested.settleDeferred(true))
        Log::warning(
            QStringLiteral("[ZipWrapper] The nested .zip file %1 of %2 was unpacked only in part: %3")
                .arg(shown, mPath, nested.error().localizedFailureReason()));
    return true;
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

// What an entry's external attributes say: a file readable by everyone (0644) and a folder
// everyone may enter (0755), whatever the staged file's own mode; the archive is made for
// the user to hand on, and unzip gives each unpacked file these permissions.
enum class EntryKind
{
    File,
    Folder,
};

zip_fileinfo zipInfoFor(const QDateTime& date, EntryKind kind)
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
    constexpr uLong MsDosFolder = 0x10;
    info.external_fa =
        kind == EntryKind::File ? uLong(S_IFREG | 0644) << 16 : (uLong(S_IFDIR | 0755) << 16) | MsDosFolder;
    return info;
}

// The CRC-32 of an open file read to its end, which is then read again from its start;
// false with errno when it cannot be read.
bool crcOfFile(int fd, quint32& crc)
{
    std::vector<char> buffer(ZipBufferSize);
    crc = 0;
    for (;;) {
        const ssize_t got = SysCalls::read(fd, buffer.data(), buffer.size());
        if (got < 0)
            return false;
        if (got == 0)
            break;
        crc = quint32(::crc32(crc, reinterpret_cast<const Bytef*>(buffer.data()), uInt(got)));
    }
    return SysCalls::lseek(fd, 0, SEEK_SET) == 0;
}

} // namespace

// ---- The archive being written

struct ZipWrapper::Archive
{
    // Every archive is made for the user (the web export is its one writer).
    explicit Archive(const QString& path) : file(path, SaveFile::Kind::UserFile) {}

    zipFile zip = nullptr;
    SaveFile file;
    WriteState io;
    bool failed = false;
    // The entry being written encrypted (it has a password; see ZipCrypto.h): its bytes
    // reach minizip raw, with its size and CRC given at the end.
    std::unique_ptr<ZipEncryptingWriter> encrypting;
    quint64 plainSize = 0;
    quint32 plainCrc = 0;
    quint32 expectedCrc = 0;

    // Whether minizip's result and the writes behind it both went well; marks the archive
    // failed when not.
    bool check(int result)
    {
        if (result != ZIP_OK || io.error != 0)
            failed = true;
        return !failed;
    }

    // Opens an entry; marks the archive failed when minizip refuses. With a password the
    // entry is encrypted, and `crc` must be the CRC-32 of all its data (the encryption
    // header carries a byte of it).
    bool openEntry(const QString& name, const zip_fileinfo& info, int level, const QString& password,
                   bool zip64, quint32 crc = 0)
    {
        const QByteArray encoded = encodedName(name);
        const QByteArray secret = password.toUtf8();
        const bool encrypted = !secret.isEmpty();
        const uLong flags =
            (isAscii(encoded) ? 0 : Utf8NameFlag) | (encrypted ? ZipCrypto::EncryptedFlag : 0);
        const int result =
            zipOpenNewFileInZip4_64(zip, encoded.constData(), &info, nullptr, 0, nullptr, 0, nullptr,
                                    Z_DEFLATED, level, encrypted ? 1 : 0, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY,
                                    nullptr, 0, MadeByUnix, flags, zip64 ? 1 : 0);
        if (!check(result)) {
            Log::error(QStringLiteral("[ZipWrapper] Error: cannot start the entry %1 (%2, %3)")
                           .arg(name)
                           .arg(result)
                           .arg(errnoText(io.error)));
            return false;
        }
        encrypting.reset();
        plainSize = 0;
        plainCrc = 0;
        expectedCrc = crc;
        if (encrypted) {
            encrypting = std::make_unique<ZipEncryptingWriter>(
                secret, level, crc, [this](const char* data, qsizetype size) {
                    return check(zipWriteInFileInZip(zip, data, unsigned(size)));
                });
            QByteArray random(ZipCrypto::HeaderSize, '\0');
            QRandomGenerator::system()->generate(random.begin(), random.end());
            if (!encrypting->start(random)) {
                Log::error(
                    QStringLiteral("[ZipWrapper] Error: cannot start the encrypted entry %1").arg(name));
                failed = true;
                abandonEntry();
                return false;
            }
        }
        return true;
    }

    bool write(const char* data, qint64 size)
    {
        if (!encrypting)
            return check(zipWriteInFileInZip(zip, data, unsigned(size)));
        plainSize += quint64(size);
        plainCrc = quint32(::crc32(plainCrc, reinterpret_cast<const Bytef*>(data), uInt(size)));
        if (!encrypting->write(data, size))
            failed = true;
        return !failed;
    }

    bool closeEntry()
    {
        if (!encrypting)
            return check(zipCloseFileInZip(zip));
        // The data read now must be the data whose CRC the header promised.
        if (!encrypting->finish() || plainCrc != expectedCrc) {
            if (plainCrc != expectedCrc)
                Log::error(QStringLiteral("[ZipWrapper] Error: a file changed while it was packed"));
            failed = true;
            abandonEntry();
            return false;
        }
        encrypting.reset();
        return check(zipCloseFileInZipRaw64(zip, plainSize, plainCrc));
    }

    // The archive has failed already: closing the entry only frees minizip's record of it.
    void abandonEntry()
    {
        encrypting.reset();
        (void)zipCloseFileInZip(zip);
    }

    // Nothing of the archive stays: the old file at the path is kept as it was.
    void abandon()
    {
        if (zip) {
            zipClose(zip, nullptr);
            zip = nullptr;
        }
        file.cancelWriting();
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
    auto archive = std::make_unique<Archive>(QFileInfo(mPath).absoluteFilePath());
    if (const Status opened = archive->file.open(); !opened) {
        Log::error(QStringLiteral("[ZipWrapper] Error: cannot create %1: %2")
                       .arg(mPath, opened.error().localizedDescription()));
        mError = opened.error();
        return false;
    }
    archive->io.fd = archive->file.handle();
    zlib_filefunc64_def functions = fileFunctions(&archive->io);
    const QByteArray name = QFile::encodeName(mPath);
    archive->zip = zipOpen2_64(name.constData(), APPEND_STATUS_CREATE, nullptr, &functions);
    if (!archive->zip) {
        Log::error(QStringLiteral("[ZipWrapper] Error: cannot create %1").arg(mPath));
        archive->abandon();
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
    if (!ok) {
        if (archive->io.error != 0)
            mError = Error::posix(archive->io.error, QStringLiteral("Cannot write the file"), mPath);
        archive->abandon();
        return false;
    }
    if (const Status committed = archive->file.commit(); !committed) {
        Log::error(QStringLiteral("[ZipWrapper] Error: cannot put %1 in place: %2")
                       .arg(mPath, committed.error().localizedDescription()));
        mError = committed.error();
        return false;
    }
    return true;
}

Error ZipWrapper::error() const
{
    if (!mError.isNull())
        return mError;
    if (mArchive && mArchive->io.error != 0)
        return Error::posix(mArchive->io.error, QStringLiteral("Cannot write the file"), mPath);
    return Error(ErrorDomain, FileSystemError,
                 QStringLiteral("The archive %1 could not be written.").arg(mPath),
                 {{Error::FilePathKey, mPath}});
}

bool ZipWrapper::writeFile(const QString& path, const QString& password)
{
    return writeFileAtPath(path, QString(), password);
}

bool ZipWrapper::writeFileAtPath(const QString& path, const QString& fileName, const QString& password)
{
    if (!mArchive)
        return false;
    // Packed only as a regular file, opened without blocking on a named pipe.
    Result<RegularFile> opened =
        RegularFile::open(path, std::numeric_limits<qint64>::max(), QStringLiteral("Cannot read"),
                          QStringLiteral("Cannot read"));
    FileDescriptor input(opened.ok() ? opened.value().release() : -1);
    struct stat info;
    if (!opened.ok() || SysCalls::fstat(input.get(), &info) != 0) {
        Log::error(QStringLiteral("[ZipWrapper] Error: cannot read %1").arg(path));
        mError = opened.ok() ? Error::posix(errno, QStringLiteral("Cannot read"), path) : opened.error();
        mArchive->failed = true;
        return false;
    }
    const QString name = fileName.isEmpty() ? QFileInfo(path).fileName() : fileName;
    const QDateTime modified =
        QDateTime::fromMSecsSinceEpoch(qint64(info.st_mtim.tv_sec) * 1000 + info.st_mtim.tv_nsec / 1000000);
    const bool zip64 = quint64(info.st_size) >= 0xFFFFFFFFull;
    quint32 crc = 0;
    if (!password.isEmpty() && !crcOfFile(input.get(), crc)) {
        Log::error(QStringLiteral("[ZipWrapper] Error: cannot read %1: %2").arg(path, errnoText(errno)));
        mArchive->failed = true;
        return false;
    }
    if (!mArchive->openEntry(name, zipInfoFor(modified, EntryKind::File), Z_DEFAULT_COMPRESSION, password,
                             zip64, crc))
        return false;
    std::vector<char> buffer(ZipBufferSize);
    for (;;) {
        const ssize_t got = SysCalls::read(input.get(), buffer.data(), buffer.size());
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
    QDateTime modified;
    if (SysCalls::stat(QFile::encodeName(path).constData(), &info) == 0)
        modified = QDateTime::fromMSecsSinceEpoch(qint64(info.st_mtim.tv_sec) * 1000 +
                                                  info.st_mtim.tv_nsec / 1000000);
    if (!mArchive->openEntry(folderName + QLatin1Char('/'), zipInfoFor(modified, EntryKind::Folder), 0,
                             password, false))
        return false;
    return mArchive->closeEntry();
}

bool ZipWrapper::writeData(const QByteArray& data, const QString& fileName, const QString& password)
{
    if (!mArchive || data.isNull())
        return false;
    const bool zip64 = quint64(data.size()) >= 0xFFFFFFFFull;
    quint32 crc = 0;
    for (qint64 done = 0; !password.isEmpty() && done < data.size(); done += ZipBufferSize)
        crc = quint32(::crc32(crc, reinterpret_cast<const Bytef*>(data.constData() + done),
                              uInt(std::min<qint64>(ZipBufferSize, data.size() - done))));
    if (!mArchive->openEntry(fileName, zipInfoFor(QDateTime(), EntryKind::File), Z_DEFAULT_COMPRESSION,
                             password, zip64, crc))
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
                                                            bool keepParentDirectory, const QString& password,
                                                            Error* error)
{
    ZipWrapper zip(path);
    const auto failed = [&zip, error] {
        if (error)
            *error = zip.error();
        return false;
    };
    if (!zip.open())
        return failed();
    const QDir folder(directory);
    const QString parentName = QFileInfo(folder.absolutePath()).fileName();
    // The archive being written may lie inside the folder: never pack it, nor a temporary
    // file of it, into itself.
    const QFileInfo target(path);
    const QString ownTarget = target.absoluteFilePath();
    const QString ownFolder = target.absolutePath();
    const QString ownTemporaries = SaveFile::temporaryPrefix(target.fileName());

    QStringList items;
    QDirIterator it(folder.absolutePath(),
                    QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString item = it.next();
        const QFileInfo found = it.fileInfo();
        if (item == ownTarget ||
            (found.absolutePath() == ownFolder && found.fileName().startsWith(ownTemporaries)))
            continue;
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
                return failed();
            continue;
        }
        if (info.isDir()) {
            Log::warning(QStringLiteral("[ZipWrapper] Skipping the linked folder %1").arg(item));
            continue;
        }
        if (!zip.writeFileAtPath(item, entry, password))
            return failed();
    }
    return zip.close() || failed();
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
    // The same bytes as packing uses (and Info-ZIP in a UTF-8 locale): the text's UTF-8.
    Unzipper unzipper(path, destination, overwrite, password.toUtf8(), delegate, std::move(progressHandler),
                      0, budget);
    return unzipper.run(error, std::move(completionHandler));
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
