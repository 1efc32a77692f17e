#include "platform/core/StaleTemporarySweep.h"

#include "platform/core/Log.h"
#include "platform/core/Paths.h"
#include "platform/core/SaveFile.h"
#include "platform/core/SysCalls.h"

#include <QDir>
#include <QFile>
#include <dirent.h>
#include <sys/file.h> // flock
#include <sys/stat.h>

namespace corvex {
namespace {

struct Sweep
{
    QList<QByteArray> skipped;
    int removed = 0;

    void folder(const QByteArray& path, int depth)
    {
        if (skipped.contains(path))
            return;
        DIR* dir = SysCalls::opendir(path.constData());
        if (dir == nullptr)
            return;
        QList<QByteArray> folders;
        bool anyTemporary = false;
        while (const dirent* entry = ::readdir(dir)) {
            const QByteArray name(entry->d_name);
            if (name == "." || name == "..")
                continue;
            if (SaveFile::isTemporaryName(name)) {
                anyTemporary = true;
                continue;
            }
            const QByteArray child = path + '/' + name;
            struct stat info;
            if (SysCalls::lstat(child.constData(), &info) == 0 && S_ISDIR(info.st_mode))
                folders.append(child);
        }
        // Listed again under the lock: whatever is named so then belongs to no live save.
        if (anyTemporary && SysCalls::flock(::dirfd(dir), LOCK_EX | LOCK_NB) == 0) {
            ::rewinddir(dir);
            while (const dirent* entry = ::readdir(dir)) {
                const QByteArray name(entry->d_name);
                const QByteArray child = path + '/' + name;
                struct stat info;
                if (!SaveFile::isTemporaryName(name) || SysCalls::lstat(child.constData(), &info) != 0 ||
                    !S_ISREG(info.st_mode) || SysCalls::unlink(child.constData()) != 0)
                    continue;
                ++removed;
                Log::info(QStringLiteral("Removed %1, left by a save that did not finish")
                              .arg(QFile::decodeName(child)));
            }
        }
        ::closedir(dir);
        if (depth >= StaleTemporarySweep::MaximumDepth)
            return;
        for (const QByteArray& child : folders)
            folder(child, depth + 1);
    }
};

QByteArray cleanPath(const QString& path)
{
    return QFile::encodeName(QDir::cleanPath(QDir(path).absolutePath()));
}

} // namespace

QStringList StaleTemporarySweep::ownFolders()
{
    QStringList folders;
    for (const QString& base : {Paths::applicationSupport(), Paths::config(), Paths::caches()}) {
        if (!base.isEmpty())
            folders.append(base + QLatin1Char('/') + Paths::appFolderName());
    }
    return folders;
}

int StaleTemporarySweep::run(const QStringList& roots, const QStringList& skipped)
{
    Sweep sweep;
    for (const QString& folder : skipped) {
        if (!folder.isEmpty())
            sweep.skipped.append(cleanPath(folder));
    }
    for (const QString& root : roots) {
        if (!root.isEmpty())
            sweep.folder(cleanPath(root), 0);
    }
    return sweep.removed;
}

} // namespace corvex
