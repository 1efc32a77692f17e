#include "platform/core/CrossProcessLock.h"

#include "platform/core/Log.h"
#include "platform/core/Paths.h"
#include "platform/core/Sha1.h"
#include "platform/core/SysCalls.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSysInfo>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <fcntl.h> // open, F_OFD_SETLK
#include <optional>
#include <sys/file.h> // flock
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace corvex {

const QString CrossProcessLock::ErrorDomain = QStringLiteral("com.tallowfen.corvex.lock");
const QString CrossProcessLock::HolderPidKey = QStringLiteral("LockHolderPid");
const QString CrossProcessLock::HolderHostKey = QStringLiteral("LockHolderHost");
const QString CrossProcessLock::HolderApplicationKey = QStringLiteral("LockHolderApplication");

namespace {

// Holder records: slot k is the RecordSize bytes at k * RecordSize. A holder locks a free
// slot (F_OFD_SETLK, released with its descriptor, also by a crash) and writes its record
// there with one pwrite; a reader trusts only slots that are locked. Records end with an
// "end" line, so a torn read is recognised.
constexpr qsizetype RecordSize = CrossProcessLock::RecordSize;
constexpr int SlotCount = CrossProcessLock::SlotCount;
const QByteArray RecordMagic = QByteArrayLiteral("corvex-lock 1");

struct flock slotRange(int slot, short type)
{
    struct flock range = {};
    range.l_type = type;
    range.l_whence = SEEK_SET;
    range.l_start = static_cast<off_t>(slot) * RecordSize;
    range.l_len = RecordSize;
    return range;
}

bool lockSlot(int fd, int slot)
{
    struct flock range = slotRange(slot, F_WRLCK);
    return ::fcntl(fd, F_OFD_SETLK, &range) == 0;
}

bool slotIsHeld(int fd, int slot)
{
    struct flock range = slotRange(slot, F_WRLCK);
    return ::fcntl(fd, F_OFD_GETLK, &range) == 0 && range.l_type != F_UNLCK;
}

std::optional<CrossProcessLock::Holder> parseRecord(const QByteArray& record)
{
    const QList<QByteArray> lines = record.split('\n');
    if (lines.isEmpty() || lines.first() != RecordMagic)
        return std::nullopt;
    CrossProcessLock::Holder holder;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray& line = lines[i];
        if (line == "end")
            return holder.pid > 0 ? std::optional<CrossProcessLock::Holder>(holder) : std::nullopt;
        const qsizetype space = line.indexOf(' ');
        if (space < 0)
            continue;
        const QByteArray key = line.left(space);
        const QString value = QString::fromUtf8(line.mid(space + 1));
        if (key == "pid")
            holder.pid = value.toLongLong();
        else if (key == "host")
            holder.hostName = value;
        else if (key == "boot")
            holder.bootId = value;
        else if (key == "app")
            holder.applicationName = value;
        else if (key == "mode")
            holder.mode = value == QLatin1String("shared") ? CrossProcessLock::Mode::Shared
                                                           : CrossProcessLock::Mode::Exclusive;
    }
    return std::nullopt; // torn or cut short
}

constexpr double FirstBackoff = 0.002;
constexpr double BackoffCap = 0.1;

const QString& bootId()
{
    static const QString id = [] {
        QFile file(QStringLiteral("/proc/sys/kernel/random/boot_id"));
        if (!file.open(QIODevice::ReadOnly))
            return QString();
        return QString::fromLatin1(file.readAll().trimmed());
    }();
    return id;
}

QString applicationName()
{
    QString name = QCoreApplication::instance() ? QCoreApplication::applicationName() : QString();
    if (name.isEmpty())
        name = QString::fromLocal8Bit(program_invocation_short_name);
    return name;
}

// Record values are single lines.
QByteArray oneLine(const QString& text, qsizetype maxBytes)
{
    QByteArray bytes = text.toUtf8();
    bytes.replace('\n', ' ').replace('\r', ' ');
    if (bytes.size() > maxBytes) {
        qsizetype cut = maxBytes;
        while (cut > 0 && (static_cast<unsigned char>(bytes[cut]) & 0xC0u) == 0x80u)
            --cut;
        bytes.truncate(cut);
    }
    return bytes;
}

bool sameFile(int fd, const QByteArray& path)
{
    struct stat opened;
    struct stat named;
    if (::fstat(fd, &opened) != 0 || ::lstat(path.constData(), &named) != 0)
        return false;
    return opened.st_dev == named.st_dev && opened.st_ino == named.st_ino;
}

int openLockFile(const QByteArray& path)
{
    return SysCalls::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
}

} // namespace

CrossProcessLock::CrossProcessLock(QString lockFilePath, QString subject)
    : mPath(std::move(lockFilePath)), mSubject(std::move(subject))
{
    if (mSubject.isEmpty())
        mSubject = mPath;
}

CrossProcessLock::~CrossProcessLock()
{
    unlock();
}

bool CrossProcessLock::fail(Error error)
{
    mError = std::move(error);
    return false;
}

bool CrossProcessLock::lock(Mode mode, double timeoutSeconds)
{
    mError = Error();
    // flock converts a held lock by dropping it first anyway; doing that openly keeps the
    // contract simple (a failed conversion leaves the lock released).
    unlock();
    if (mPath.isEmpty())
        return fail(
            Error(ErrorDomain, NotAvailable, QStringLiteral("No lock file was given for %1.").arg(mSubject)));

    const QString folder = QFileInfo(mPath).path();
    if (Status made = Paths::makePath(folder, 0700); !made)
        return fail(made.error());

    const QByteArray encoded = QFile::encodeName(mPath);
    const int operation = mode == Mode::Exclusive ? LOCK_EX : LOCK_SH;
    const double timeout = std::isfinite(timeoutSeconds) && timeoutSeconds > 0 ? timeoutSeconds : 0;
    // Real time on purpose: the wait is for another process, and a virtual clock installed
    // by a test would never move while this thread blocks.
    const QDeadlineTimer deadline(static_cast<qint64>(timeout * 1000.0), Qt::PreciseTimer);
    double backoff = FirstBackoff;
    int fd = -1;
    while (true) {
        if (fd < 0) {
            fd = openLockFile(encoded);
            if (fd < 0)
                return fail(Error::posix(errno, QStringLiteral("Cannot open the lock file"), mPath));
        }
        if (::flock(fd, operation | LOCK_NB) == 0) {
            // A cleaner may have removed the file between our open and our lock: then the
            // lock is on an orphan, and the file at the path is the one to lock.
            if (!sameFile(fd, encoded)) {
                SysCalls::close(fd);
                fd = -1;
                continue;
            }
            mFd = fd;
            mMode = mode;
            writeRecord();
            return true;
        }
        const int error = errno;
        if (error == EINTR)
            continue;
        if (error != EWOULDBLOCK) {
            SysCalls::close(fd);
            return fail(Error::posix(error, QStringLiteral("Cannot lock the lock file"), mPath));
        }
        const qint64 remaining = deadline.remainingTime();
        if (remaining <= 0) {
            SysCalls::close(fd);
            return fail(timeoutError());
        }
        const double pause = std::min(backoff, remaining / 1000.0);
        std::this_thread::sleep_for(std::chrono::duration<double>(pause));
        backoff = std::min(backoff * 2, BackoffCap);
    }
}

void CrossProcessLock::unlock()
{
    if (mFd < 0)
        return;
    // Closing the descriptor drops the lock and the lock of our record slot; the file stays
    // for the next holder (removing it here would race with processes that have it open).
    SysCalls::close(mFd);
    mFd = -1;
}

void CrossProcessLock::writeRecord()
{
    QByteArray record = RecordMagic + '\n';
    record += "pid " + QByteArray::number(static_cast<qint64>(::getpid())) + '\n';
    record += "host " + oneLine(QSysInfo::machineHostName(), 128) + '\n';
    record += "boot " + oneLine(bootId(), 64) + '\n';
    record += "app " + oneLine(applicationName(), 200) + '\n';
    record += QByteArray("mode ") + (mMode == Mode::Exclusive ? "exclusive" : "shared") + '\n';
    record += "end\n";
    record = record.leftJustified(RecordSize, '\n', true);
    for (int slot = 0; slot < SlotCount; ++slot) {
        if (!lockSlot(mFd, slot))
            continue;
        const off_t offset = static_cast<off_t>(slot) * RecordSize;
        if (::pwrite(mFd, record.constData(), static_cast<std::size_t>(record.size()), offset) !=
            record.size())
            Log::debug(QStringLiteral("Cannot write the holder record of %1").arg(mPath));
        return;
    }
    Log::debug(QStringLiteral("No free holder record slot in %1").arg(mPath));
}

std::vector<CrossProcessLock::Holder> CrossProcessLock::currentHolders(const QString& lockFilePath)
{
    std::vector<Holder> holders;
    const QByteArray encoded = QFile::encodeName(lockFilePath);
    const int fd = SysCalls::open(encoded.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return holders;
    QByteArray record(RecordSize, '\0');
    for (int slot = 0; slot < SlotCount; ++slot) {
        if (!slotIsHeld(fd, slot))
            continue;
        const ssize_t got = ::pread(fd, record.data(), static_cast<std::size_t>(RecordSize),
                                    static_cast<off_t>(slot) * RecordSize);
        if (got <= 0)
            continue;
        if (std::optional<Holder> holder = parseRecord(record.left(got)))
            holders.push_back(std::move(*holder));
    }
    SysCalls::close(fd);
    std::stable_sort(holders.begin(), holders.end(), [](const Holder& a, const Holder& b) {
        return a.mode == Mode::Exclusive && b.mode != Mode::Exclusive;
    });
    return holders;
}

Error CrossProcessLock::timeoutError() const
{
    const std::vector<Holder> holders = currentHolders(mPath);
    QVariantMap info{{Error::FilePathKey, mSubject}};
    QString text;
    if (!holders.empty()) {
        const Holder& holder = holders.front();
        const QString application =
            holder.applicationName.isEmpty() ? QStringLiteral("another application") : holder.applicationName;
        const QString host = holder.hostName.isEmpty() ? QStringLiteral("an unknown host") : holder.hostName;
        text = QStringLiteral("%1 is locked by %2 (pid %3) on %4.")
                   .arg(mSubject, application, QString::number(holder.pid), host);
        info.insert(HolderPidKey, holder.pid);
        info.insert(HolderHostKey, holder.hostName);
        info.insert(HolderApplicationKey, holder.applicationName);
    } else {
        text = QStringLiteral("%1 is locked by another process.").arg(mSubject);
    }
    return Error(ErrorDomain, TimedOut, text, info);
}

QString CrossProcessLock::lockFolder()
{
    const QString runtime = Paths::runtime();
    if (runtime.isEmpty())
        return QString();
    return runtime + QLatin1Char('/') + Paths::appFolderName() + QStringLiteral("/locks");
}

QString CrossProcessLock::lockFilePathFor(const QString& path)
{
    const QString folder = lockFolder();
    if (folder.isEmpty())
        return QString();
    return folder + QLatin1Char('/') + Sha1::hex(QFile::encodeName(path)) + QStringLiteral(".lock");
}

int CrossProcessLock::removeUnusedLockFiles()
{
    const QString folder = lockFolder();
    if (folder.isEmpty())
        return 0;
    int removed = 0;
    const QStringList names = QDir(folder).entryList({QStringLiteral("*.lock")}, QDir::Files | QDir::Hidden);
    for (const QString& name : names) {
        const QByteArray path = QFile::encodeName(folder + QLatin1Char('/') + name);
        const int fd = SysCalls::open(path.constData(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
        if (fd < 0)
            continue;
        // Removed only while we hold it exclusively: nobody holds it, and anyone who opened
        // it meanwhile finds after locking that it is no longer the file at the path.
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0 && sameFile(fd, path) &&
            SysCalls::unlink(path.constData()) == 0)
            ++removed;
        SysCalls::close(fd);
    }
    return removed;
}

} // namespace corvex
