#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <dirent.h> // DIR
#include <mutex>
#include <string>
#include <sys/types.h>
#include <utility>
#include <vector>

struct stat;

namespace corvex::test {

// Injects failures into the calls made through SysCalls, for the lifetime of the object.
// Calls are counted per operation from installation (1-based); a rule makes chosen calls
// fail with an errno without reaching the kernel (a failing close still closes, as Linux
// does; a failing realpath or opendir answers null). One shim at a time; install it while
// no other thread is saving.
class FaultShim
{
public:
    enum class Op
    {
        Open,
        Write,
        Fsync,
        Rename,
        Close,
        Unlink,
        Mkdir,
        Link,
        Stat,
        Lstat,
        Fstat,
        Realpath,
        Fchmod,
        Opendir,
        Read,
        Lseek,
        Flock,
    };
    static constexpr std::size_t OpCount = 17;

    FaultShim();
    ~FaultShim();
    FaultShim(const FaultShim&) = delete;
    FaultShim& operator=(const FaultShim&) = delete;

    // The k-th call of `op` fails with `errnoValue`.
    void failAt(Op op, int k, int errnoValue);
    // Every call of `op` from the k-th on fails with `errnoValue`.
    void failFrom(Op op, int k, int errnoValue);
    // Every open whose flags include all of `flags` fails with `errnoValue` (still counted);
    // failOpensWith(O_TMPFILE, EOPNOTSUPP) stands in for a file system without O_TMPFILE.
    void failOpensWith(int flags, int errnoValue);
    // Every write to a file opened for writing under the folder (its path, or for O_TMPFILE
    // the folder itself) fails with `errnoValue`: a full disk under that folder only.
    void failWritesUnder(std::string folder, int errnoValue);
    // Every write to a file opened for writing under the folder waits, before it reaches the
    // kernel, until releaseWrites(): a write under way for as long as the test wants. The held
    // thread is never the one that releases.
    void holdWritesUnder(std::string folder);
    // Waits, at most `seconds` of real time, until a write is held; true once one is.
    bool waitForHeldWrite(double seconds);
    // The held writes go on, and so does every later one.
    void releaseWrites();
    // The same for reads: every read of a file opened for reading only at exactly `path` waits
    // until releaseReads(), as a slow disk or a hung network file system makes it wait.
    void holdReadsOf(std::string path);
    bool waitForHeldRead(double seconds);
    void releaseReads();
    // Every rename onto `path` fails with `errnoValue`: the file there stays as it was, as if
    // each replacement were cut off before it landed.
    void failRenamesOnto(std::string path, int errnoValue);
    // Each write moves at most `bytes` (0: no limit), so callers see short writes.
    void limitWriteSize(std::size_t bytes);

    int callCount(Op op) const;

private:
    struct Rule
    {
        int first;
        int last;
        int errnoValue;
    };

    // The errno the n-th call of `op` must fail with, or 0.
    int faultFor(Op op, int n) const;
    int nextCall(Op op);

    static int hookOpen(const char* path, int flags, mode_t mode);
    static ssize_t hookWrite(int fd, const void* data, std::size_t size);
    static int hookFsync(int fd);
    static int hookRename(const char* from, const char* to);
    static int hookClose(int fd);
    static int hookUnlink(const char* path);
    static int hookMkdir(const char* path, mode_t mode);
    static int hookLinkat(int fromDirFd, const char* from, int toDirFd, const char* to, int flags);
    static int hookStat(const char* path, struct stat* info);
    static int hookLstat(const char* path, struct stat* info);
    static int hookFstat(int fd, struct stat* info);
    static char* hookRealpath(const char* path);
    static int hookFchmod(int fd, mode_t mode);
    static DIR* hookOpendir(const char* path);
    static ssize_t hookRead(int fd, void* buffer, std::size_t size);
    static off_t hookLseek(int fd, off_t offset, int whence);
    static int hookFlock(int fd, int operation);
    static FaultShim& active();

    mutable std::mutex mMutex;
    std::array<std::vector<Rule>, OpCount> mRules;
    std::array<std::atomic<int>, OpCount> mCounts{};
    std::atomic<std::size_t> mWriteLimit{0};
    std::vector<std::pair<int, int>> mOpenFlagFaults; // flags, errno; guarded by mMutex
    std::string mFullFolder;                          // guarded by mMutex
    int mFullErrno = 0;                               // guarded by mMutex
    std::vector<int> mFullDescriptors;                // opened under mFullFolder; guarded by mMutex
    std::vector<std::pair<std::string, int>> mRenameTargetFaults; // path, errno; guarded by mMutex
    // Calls on chosen files kept waiting until released; all guarded by mMutex.
    struct Hold
    {
        std::string where;            // a folder (writes) or a file (reads)
        std::vector<int> descriptors; // opened there
        bool holding = false;
        int waiting = 0; // calls waiting now
    };
    Hold mWriteHold;
    Hold mReadHold;
    std::condition_variable mHoldChanged;
    // Needs mMutex held by `lock`: a call on `fd` waits while the hold lasts.
    void waitIfHeld(Hold& hold, int fd, std::unique_lock<std::mutex>& lock);
    bool waitForHeld(const Hold& hold, double seconds);
    void release(Hold& hold);
};

} // namespace corvex::test
