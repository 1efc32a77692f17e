#include "platform/core/FileState.h"

#include "platform/core/NativeFileName.h"
#include <sys/stat.h>

namespace corvex {

FileState FileState::of(const QString& path)
{
    FileState state;
    struct stat info;
    if (path.isEmpty() || ::stat(NativeFileName::encode(path).constData(), &info) != 0)
        return state;
    state.exists = true;
    state.device = static_cast<std::uint64_t>(info.st_dev);
    state.inode = static_cast<std::uint64_t>(info.st_ino);
    state.size = static_cast<qint64>(info.st_size);
    state.modifiedNs = static_cast<qint64>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
    state.changedNs = static_cast<qint64>(info.st_ctim.tv_sec) * 1000000000 + info.st_ctim.tv_nsec;
    return state;
}

QString FileState::toString() const
{
    if (!exists)
        return QStringLiteral("(missing)");
    return QStringLiteral("dev %1 ino %2 size %3 mtime %4 ctime %5")
        .arg(device)
        .arg(inode)
        .arg(size)
        .arg(modifiedNs)
        .arg(changedNs);
}

} // namespace corvex
