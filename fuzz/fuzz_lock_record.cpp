// The holder records of CrossProcessLock's lock files on arbitrary bytes. Lock files lie in
// a folder every process of the user can write, so their records are outside bytes: the
// input becomes a lock file whose every slot is held (open-file-description locks on a
// descriptor of this process count as another holder's), and currentHolders reads it. What
// it answers must be plausible holders of the input, exclusive ones first.

#include "platform/core/CrossProcessLock.h"
#include "platform/core/Log.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h> // F_OFD_SETLK
#include <unistd.h>

namespace {

using corvex::CrossProcessLock;

[[noreturn]] void fail(const char* what)
{
    std::fprintf(stderr, "fuzz_lock_record: %s\n", what);
    std::abort();
}

QByteArray gFolder;   // made once, removed at exit
QByteArray gLockFile; // inside it

void removeFolder()
{
    if (!gLockFile.isEmpty())
        ::unlink(gLockFile.constData());
    if (!gFolder.isEmpty())
        ::rmdir(gFolder.constData());
}

// Writes the bytes as the lock file and holds every slot through the answered descriptor.
int holdAllSlots(const QByteArray& bytes)
{
    const int fd = ::open(gLockFile.constData(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        fail("cannot write the lock file");
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t wrote = ::write(fd, bytes.constData() + done, std::size_t(bytes.size() - done));
        if (wrote < 0 && errno == EINTR)
            continue;
        if (wrote <= 0)
            fail("cannot write the lock file");
        done += wrote;
    }
    struct flock range = {};
    range.l_type = F_WRLCK;
    range.l_whence = SEEK_SET;
    range.l_start = 0;
    range.l_len = off_t(CrossProcessLock::RecordSize) * CrossProcessLock::SlotCount;
    if (::fcntl(fd, F_OFD_SETLK, &range) != 0)
        fail("cannot hold the slots");
    return fd;
}

bool isSingleLine(const QString& text)
{
    return !text.contains(QLatin1Char('\n'));
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    corvex::Log::setSink([](corvex::LogLevel, const QString&) {});
    QByteArray pattern = QFile::encodeName(QDir::tempPath()) + "/fuzz_lock_record-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr)
        fail("cannot make a folder");
    gFolder = pattern;
    gLockFile = gFolder + "/input.lock";
    std::atexit(removeFolder);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray input(reinterpret_cast<const char*>(data), qsizetype(size));
    const int holder = holdAllSlots(input);
    const auto holders = CrossProcessLock::currentHolders(QFile::decodeName(gLockFile));
    ::close(holder);

    if (qsizetype(holders.size()) > CrossProcessLock::SlotCount)
        fail("more holders than slots");
    const qsizetype slotsInInput =
        (input.size() + CrossProcessLock::RecordSize - 1) / CrossProcessLock::RecordSize;
    if (qsizetype(holders.size()) > slotsInInput)
        fail("more holders than slots in the input");
    if (!holders.empty() && !input.contains("corvex-lock 1\n"))
        fail("a holder without a record in the input");
    bool sharedSeen = false;
    for (const CrossProcessLock::Holder& h : holders) {
        if (h.pid <= 0)
            fail("a holder without a process");
        if (!isSingleLine(h.hostName) || !isSingleLine(h.bootId) || !isSingleLine(h.applicationName))
            fail("a record value over several lines");
        if (h.mode == CrossProcessLock::Mode::Shared)
            sharedSeen = true;
        else if (sharedSeen)
            fail("an exclusive holder after a shared one");
    }
    return 0;
}
