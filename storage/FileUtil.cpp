#include "storage/FileUtil.h"

#include "model/Globals.h"
#include "platform/core/GlobalQueue.h"
#include "platform/core/Log.h"
#include "platform/core/MainQueue.h"
#include "platform/core/Paths.h"
#include "platform/core/SysCalls.h"
#include "storage/AttachmentNames.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QStringList>
#include <QUuid>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace corvex {

const QString FileUtil::RunLockFileName = QStringLiteral("run.lock");
const QString FileUtil::ProgramFolderName = QStringLiteral("corvex_temp");

namespace {

// Folders nested deeper than this inside a stale run are left alone (and logged): removal
// keeps one descriptor open per level.
constexpr int MaxRemovalDepth = 128;
// A run folder that vanishes while this run takes it (a cleaner of another instance that
// found it unlocked a moment before) is made again; this many times at most.
constexpr int MaxRunFolderAttempts = 5;

QString newUuidString()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
}

QString errnoText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

bool sameFile(int fd, const QByteArray& path)
{
    struct stat opened;
    struct stat named;
    if (::fstat(fd, &opened) != 0 || ::lstat(path.constData(), &named) != 0)
        return false;
    return opened.st_dev == named.st_dev && opened.st_ino == named.st_ino;
}

// This run's folder and the descriptor that holds its lock for the life of the process.
struct RunState
{
    std::mutex mutex;
    QString path;
    QByteArray lockPath;
    int fd = -1;
};

RunState& runState()
{
    // Never destroyed: the lock must outlive every static destructor that might still use
    // a scratch file; the kernel drops it when the process ends.
    static RunState* state = new RunState;
    return *state;
}

// Removal of a stale run, relative to open folders so that no symbolic link is ever
// followed: each step names an entry of a folder already opened without following links.
class Remover
{
public:
    QStringList failures;

    void removeEntry(int folderFd, const QByteArray& name, const QString& shownPath, int depth)
    {
        struct stat info;
        if (::fstatat(folderFd, name.constData(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno != ENOENT)
                fail(shownPath, errno);
            return;
        }
        if (S_ISDIR(info.st_mode)) {
            if (depth >= MaxRemovalDepth) {
                failures.append(QStringLiteral("%1: folders nested too deep; left in place").arg(shownPath));
                return;
            }
            const int fd =
                ::openat(folderFd, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (fd < 0) {
                fail(shownPath, errno);
                return;
            }
            removeContents(fd, shownPath, depth + 1, QByteArray());
            ::close(fd);
            if (::unlinkat(folderFd, name.constData(), AT_REMOVEDIR) != 0 && errno != ENOENT)
                fail(shownPath, errno);
            return;
        }
        if (::unlinkat(folderFd, name.constData(), 0) != 0 && errno != ENOENT)
            fail(shownPath, errno);
    }

    // Every entry of the open folder except `keep` (empty: none).
    void removeContents(int folderFd, const QString& shownPath, int depth, const QByteArray& keep)
    {
        for (const QByteArray& name : entries(folderFd, shownPath)) {
            if (!keep.isEmpty() && name == keep)
                continue;
            removeEntry(folderFd, name, shownPath + QLatin1Char('/') + QFile::decodeName(name), depth);
        }
    }

private:
    void fail(const QString& path, int error)
    {
        failures.append(QStringLiteral("%1: %2").arg(path, errnoText(error)));
    }

    QList<QByteArray> entries(int folderFd, const QString& shownPath)
    {
        QList<QByteArray> names;
        const int listFd = ::dup(folderFd);
        DIR* dir = listFd >= 0 ? ::fdopendir(listFd) : nullptr;
        if (dir == nullptr) {
            fail(shownPath, errno);
            if (listFd >= 0)
                ::close(listFd);
            return names;
        }
        ::rewinddir(dir);
        while (const dirent* entry = ::readdir(dir)) {
            if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0)
                continue;
            names.append(QByteArray(entry->d_name));
        }
        ::closedir(dir);
        return names;
    }
};

// Removes one listed item of the program folder, unless it is a run folder whose run is
// still alive.
void removeStaleItem(int programFd, const QString& programPath, const QString& item, QStringList& failures)
{
    const QByteArray name = QFile::encodeName(item);
    const QString shownPath = programPath + QLatin1Char('/') + item;
    Remover remover;
    struct stat info;
    if (::fstatat(programFd, name.constData(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno != ENOENT)
            failures.append(QStringLiteral("%1: %2").arg(shownPath, errnoText(errno)));
        return;
    }
    if (!S_ISDIR(info.st_mode)) {
        remover.removeEntry(programFd, name, shownPath, 0);
        failures += remover.failures;
        return;
    }

    const int runFd = ::openat(programFd, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (runFd < 0) {
        failures.append(QStringLiteral("%1: %2").arg(shownPath, errnoText(errno)));
        return;
    }
    // Take the run's lock ourselves (made if missing) and keep it while removing: a run that
    // starts to use the folder meanwhile waits for it, then finds its lock file gone and
    // makes the folder anew.
    const QByteArray lockName = QFile::encodeName(FileUtil::RunLockFileName);
    const int lockFd = ::openat(runFd, lockName.constData(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (lockFd >= 0) {
        int locked;
        do {
            locked = ::flock(lockFd, LOCK_EX | LOCK_NB);
        } while (locked != 0 && errno == EINTR);
        if (locked != 0) {
            const int error = errno;
            ::close(lockFd);
            ::close(runFd);
            if (error != EWOULDBLOCK)
                failures.append(QStringLiteral("%1: %2").arg(shownPath, errnoText(error)));
            return; // a live run: kept
        }
    } else if (errno != ELOOP && errno != EISDIR) {
        // A lock file that is a link or a folder can be held by no run: the folder is stale.
        failures.append(QStringLiteral("%1: %2").arg(shownPath, errnoText(errno)));
        ::close(runFd);
        return;
    }
    // The lock file goes last, so that no run can lock a new one in the folder while its
    // other entries are being removed.
    remover.removeContents(runFd, shownPath, 1, lockName);
    remover.removeEntry(runFd, lockName, shownPath + QLatin1Char('/') + FileUtil::RunLockFileName, 1);
    if (::unlinkat(programFd, name.constData(), AT_REMOVEDIR) != 0 && errno != ENOENT)
        remover.failures.append(QStringLiteral("%1: %2").arg(shownPath, errnoText(errno)));
    if (lockFd >= 0)
        ::close(lockFd);
    ::close(runFd);
    failures += remover.failures;
}

} // namespace

QString FileUtil::uniqueCorvexSession()
{
    static const QString session = newUuidString();
    return session;
}

QUrl FileUtil::temporaryDirectoryForCorvex()
{
    const Result<QString> base = Paths::privateTemporaryDirectory();
    if (!base.ok()) {
        Log::error(QStringLiteral("No temporary folder for the program: %1").arg(base.error().toString()));
        return QUrl();
    }
    return QUrl::fromLocalFile(*base + QLatin1Char('/') + ProgramFolderName);
}

QUrl FileUtil::runDirectory()
{
    RunState& state = runState();
    std::lock_guard lock(state.mutex);
    if (state.fd >= 0) {
        if (sameFile(state.fd, state.lockPath))
            return QUrl::fromLocalFile(state.path);
        // Someone removed the folder under us; make it again.
        Log::warning(QStringLiteral("The run folder %1 was removed; it is made again").arg(state.path));
        SysCalls::close(state.fd);
        state.fd = -1;
    }
    const QString base = temporaryDirectoryForCorvex().toLocalFile();
    if (base.isEmpty())
        return QUrl();
    const QString run = base + QLatin1Char('/') + uniqueCorvexSession();
    const QByteArray lockPath = QFile::encodeName(run + QLatin1Char('/') + RunLockFileName);
    for (int attempt = 0; attempt < MaxRunFolderAttempts; ++attempt) {
        if (Status made = Paths::makePath(run, 0700); !made) {
            Log::error(QStringLiteral("Cannot make the run folder: %1").arg(made.error().toString()));
            return QUrl();
        }
        const int fd = SysCalls::open(lockPath.constData(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0) {
            if (errno == ENOENT)
                continue; // removed between the two steps
            Log::error(QStringLiteral("Cannot open the run lock %1: %2")
                           .arg(QFile::decodeName(lockPath), errnoText(errno)));
            return QUrl();
        }
        // Blocks only while a cleaner of another instance holds it, removing the folder.
        int locked;
        do {
            locked = ::flock(fd, LOCK_EX);
        } while (locked != 0 && errno == EINTR);
        if (locked != 0) {
            Log::error(QStringLiteral("Cannot lock the run lock %1: %2")
                           .arg(QFile::decodeName(lockPath), errnoText(errno)));
            SysCalls::close(fd);
            return QUrl();
        }
        if (!sameFile(fd, lockPath)) {
            SysCalls::close(fd);
            continue;
        }
        state.fd = fd;
        state.path = run;
        state.lockPath = lockPath;
        return QUrl::fromLocalFile(run);
    }
    Log::error(QStringLiteral("Cannot keep the run folder %1: it is removed again and again").arg(run));
    return QUrl();
}

QUrl FileUtil::createDirectory(const QString& name, const QUrl& folder)
{
    const QString parent = folder.toLocalFile();
    if (parent.isEmpty()) {
        Globals::raiseCorvexURLError(QStringLiteral("FileUtil:createDirectory"));
        return QUrl();
    }
    if (!AttachmentNames::isSafeFileName(name)) {
        Log::warning(
            QStringLiteral("FileUtil: refused the folder name \"%1\"").arg(AttachmentNames::printable(name)));
        return QUrl();
    }
    const QString path = parent + QLatin1Char('/') + name;
    if (Status made = Paths::makePath(path, 0700); !made) {
        Log::error(QStringLiteral("Cannot make the folder: %1").arg(made.error().toString()));
        return QUrl();
    }
    return QUrl::fromLocalFile(path);
}

QUrl FileUtil::temporaryDirectoryForFile()
{
    const QUrl run = runDirectory();
    if (run.isEmpty())
        return QUrl();
    return createDirectory(newUuidString(), run);
}

QUrl FileUtil::temporaryURLForFileName(const QString& fileName)
{
    if (!AttachmentNames::isSafeFileName(fileName)) {
        Log::warning(QStringLiteral("FileUtil: refused the file name \"%1\"")
                         .arg(AttachmentNames::printable(fileName)));
        return QUrl();
    }
    const QUrl folder = temporaryDirectoryForFile();
    if (folder.isEmpty())
        return QUrl();
    return QUrl::fromLocalFile(folder.toLocalFile() + QLatin1Char('/') + fileName);
}

void FileUtil::cleanTemporaryFilesDuringStartup(Completion<> whenDone)
{
    auto finish = [whenDone = std::move(whenDone)]() mutable { whenDone(); };
    const QString program = temporaryDirectoryForCorvex().toLocalFile();
    if (program.isEmpty()) {
        finish();
        return;
    }
    struct stat info;
    if (::lstat(QFile::encodeName(program).constData(), &info) != 0) {
        finish(); // nothing was ever made
        return;
    }
    if (!S_ISDIR(info.st_mode)) {
        Log::error(QStringLiteral("The program's temporary folder %1 is not a folder; it is not cleaned")
                       .arg(program));
        finish();
        return;
    }
    // Listed here, removed on the global queue.
    const QStringList items =
        QDir(program).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    const QString session = uniqueCorvexSession();
    GlobalQueue::async(
        [program, items, session, finish = std::move(finish)]() mutable {
            const int programFd = ::open(QFile::encodeName(program).constData(),
                                         O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (programFd < 0) {
                Log::error(QStringLiteral("%1: %2").arg(program, errnoText(errno)));
                finish();
                return;
            }
            for (const QString& item : items) {
                if (item == session)
                    continue;
                QStringList failures;
                removeStaleItem(programFd, program, item, failures);
                for (const QString& reason : failures)
                    Log::error(reason);
            }
            ::close(programFd);
            finish();
        },
        GlobalQueue::Priority::Default);
}

QString FileUtil::fileNameWithTimeStampAndExtension(const QString& baseName, const QString& extension)
{
    const qint64 milliseconds = qint64(std::floor(Globals::secondsSince1970() * 1000.0));
    const QString stamp =
        QDateTime::fromMSecsSinceEpoch(milliseconds, Qt::LocalTime).toString(QStringLiteral("yyyyMMdd_HHmm"));
    return QStringLiteral("%1_%2.%3").arg(baseName, stamp, extension);
}

} // namespace corvex
