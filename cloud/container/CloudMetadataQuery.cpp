#include "cloud/container/CloudMetadataQuery.h"

#include "cloud/container/SyncFileNames.h"
#include "platform/core/GlobalQueue.h"
#include "platform/core/Log.h"
#include "platform/core/MainQueue.h"
#include "platform/core/SysCalls.h"

#include <QFile>
#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <sys/stat.h>

namespace corvex {

CloudMetadataQuery::~CloudMetadataQuery() = default;

bool CloudMetadataQuery::nameIsLike(const QString& name, const QString& pattern)
{
    // Iterative wildcard match with one backtrack point: linear in practice, never
    // exponential whatever the pattern.
    qsizetype n = 0, p = 0, star = -1, mark = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern.at(p) == QLatin1Char('*')) {
            star = p++;
            mark = n;
        } else if (p < pattern.size() && (pattern.at(p) == QLatin1Char('?') || pattern.at(p) == name.at(n))) {
            ++n;
            ++p;
        } else if (star >= 0) {
            p = star + 1;
            n = ++mark;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern.at(p) == QLatin1Char('*'))
        ++p;
    return p == pattern.size();
}

FolderMetadataQuery::FolderMetadataQuery() : mStopped(std::make_shared<std::atomic<bool>>(false)) {}

FolderMetadataQuery::~FolderMetadataQuery()
{
    stop();
}

std::vector<CloudMetadataQuery::Item> FolderMetadataQuery::list(const QString& folder, const QString& pattern)
{
    std::vector<Item> items;
    const QByteArray encoded = QFile::encodeName(folder);
    DIR* dir = SysCalls::opendir(encoded.constData());
    if (!dir) {
        Log::warning(QStringLiteral("CloudMode: cannot list %1: %2")
                         .arg(folder, QString::fromLocal8Bit(strerror(errno))));
        return items;
    }
    errno = 0;
    while (const dirent* entry = ::readdir(dir)) {
        const QString name = QFile::decodeName(entry->d_name);
        if (!SyncFileNames::isListable(name) || !nameIsLike(name, pattern))
            continue;
        const QString path = folder + QLatin1Char('/') + name;
        bool regular = entry->d_type == DT_REG;
        if (entry->d_type == DT_UNKNOWN) {
            struct stat info;
            regular =
                SysCalls::lstat(QFile::encodeName(path).constData(), &info) == 0 && S_ISREG(info.st_mode);
        }
        if (regular)
            items.push_back(Item{name, path});
        errno = 0;
    }
    if (errno != 0)
        Log::warning(QStringLiteral("CloudMode: the listing of %1 stopped early: %2")
                         .arg(folder, QString::fromLocal8Bit(strerror(errno))));
    ::closedir(dir);
    std::sort(items.begin(), items.end(), [](const Item& a, const Item& b) { return a.name < b.name; });
    return items;
}

bool FolderMetadataQuery::start(const QString& folder, const QString& pattern, Gathered gathered)
{
    struct stat info;
    if (folder.isEmpty() || SysCalls::stat(QFile::encodeName(folder).constData(), &info) != 0 ||
        !S_ISDIR(info.st_mode)) {
        gathered.drop();
        return false;
    }
    stop();
    mStopped = std::make_shared<std::atomic<bool>>(false);
    GlobalQueue::async([stopped = mStopped, folder, pattern, gathered = std::move(gathered)]() mutable {
        if (stopped->load())
            return gathered.drop();
        std::vector<Item> items = list(folder, pattern);
        // Checked again on the main thread, where stop() is called.
        MainQueue::post([stopped, items = std::move(items), gathered = std::move(gathered)]() mutable {
            if (stopped->load())
                return gathered.drop();
            gathered(items);
        });
    });
    return true;
}

void FolderMetadataQuery::stop()
{
    if (mStopped)
        mStopped->store(true);
}

} // namespace corvex
