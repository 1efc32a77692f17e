#include "platform/core/FileChangeWatcher.h"

#include "platform/core/Debouncer.h"
#include "platform/core/FilePresenter.h"
#include "platform/core/FilePresenterRegistry_p.h"
#include "platform/core/FileState.h"
#include "platform/core/Log.h"
#include "platform/core/MainQueue.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QSet>
#include <map>

namespace corvex {
namespace {

using detail::FilePresenterRegistry;
using detail::LivePresenter;

QString folderOf(const QString& path)
{
    return QFileInfo(path).path();
}

// The folder itself when it exists, else its nearest existing ancestor.
QString nearestExistingFolder(QString folder)
{
    while (!QFileInfo(folder).isDir()) {
        const QString parent = folderOf(folder);
        if (parent == folder)
            break;
        folder = parent;
    }
    return folder;
}

bool isAtOrBelow(const QString& path, const QString& folder)
{
    if (folder == QLatin1String("/"))
        return true;
    return path == folder || (path.startsWith(folder) && path.at(folder.size()) == QLatin1Char('/'));
}

} // namespace

struct FileChangeWatcher::Private
{
    QFileSystemWatcher* watcher = nullptr; // main thread; never destroyed, like the watcher
    std::map<QString, std::unique_ptr<Debouncer>> debouncers; // by watched folder
    int busy = 0; // inside refresh or a look: registry changes are handled later

    struct Busy
    {
        Private& d;
        explicit Busy(Private& owner) : d(owner) { ++d.busy; }
        ~Busy() { --d.busy; }
    };

    void folderEvent(const QString& folder)
    {
        std::unique_ptr<Debouncer>& debouncer = debouncers[folder];
        if (!debouncer)
            debouncer = std::make_unique<Debouncer>(DebounceSeconds, [this, folder] { checkFolder(folder); });
        debouncer->trigger();
    }

    // Makes the watched folders and files follow the presented paths; answers the folders
    // that are watched now and were not before.
    QStringList syncWatches()
    {
        const QStringList paths = FilePresenterRegistry::instance().presentedPaths();
        QSet<QString> folders;
        QSet<QString> files;
        for (const QString& path : paths) {
            const QString folder = folderOf(path);
            const QString target = nearestExistingFolder(folder);
            folders.insert(target);
            if (target == folder && QFileInfo::exists(path))
                files.insert(path);
        }

        // Qt drops a watch whose folder or file was deleted, so its lists are the truth.
        const QStringList watchedDirectories = watcher->directories();
        const QStringList watchedFiles = watcher->files();
        for (const QString& folder : watchedDirectories) {
            if (!folders.contains(folder))
                watcher->removePath(folder);
        }
        for (const QString& file : watchedFiles) {
            if (!files.contains(file))
                watcher->removePath(file);
        }
        QStringList added;
        for (const QString& folder : std::as_const(folders)) {
            if (watchedDirectories.contains(folder))
                continue;
            if (watcher->addPath(folder))
                added.push_back(folder);
            else
                Log::warning(QStringLiteral(
                                 "Changes in %1 by other programs will not be noticed: it cannot be watched")
                                 .arg(folder));
        }
        for (const QString& file : std::as_const(files)) {
            if (!watchedFiles.contains(file))
                watcher->addPath(file);
        }
        // Debouncers of folders no longer watched go too (a pending look is cancelled).
        for (auto it = debouncers.begin(); it != debouncers.end();)
            it = folders.contains(it->first) ? std::next(it) : debouncers.erase(it);
        return added;
    }

    void refresh()
    {
        if (!watcher)
            return;
        Busy busyScope(*this);
        // A folder watched only now may have changed before: look at its files at once.
        const QStringList added = syncWatches();
        for (const QString& folder : added)
            lookAtFolder(folder);
    }

    void checkFolder(const QString& folder)
    {
        if (!watcher)
            return;
        Busy busyScope(*this);
        const QStringList added = syncWatches(); // folders may have appeared or gone
        lookAtFolder(folder);
        for (const QString& other : added) {
            if (!isAtOrBelow(other, folder))
                lookAtFolder(other);
        }
    }

    void lookAtFolder(const QString& folder)
    {
        const QStringList paths = FilePresenterRegistry::instance().presentedPaths();
        for (const QString& path : paths) {
            if (!isAtOrBelow(folderOf(path), folder))
                continue;
            lookAt(path);
            // A watch on a file that was replaced by a rename watches the old inode: re-arm.
            watcher->removePath(path);
            if (QFileInfo::exists(path) && watcher->directories().contains(folderOf(path)))
                watcher->addPath(path);
        }
    }

    void lookAt(const QString& path)
    {
        auto& registry = FilePresenterRegistry::instance();
        switch (registry.takeChange(path, FileState::of(path))) {
        case FilePresenterRegistry::Check::Unchanged:
            return;
        case FilePresenterRegistry::Check::Busy:
            folderEvent(nearestExistingFolder(folderOf(path))); // again once our own write is over
            return;
        case FilePresenterRegistry::Check::Changed:
            break;
        }
        Log::debug(QStringLiteral("%1 was changed by another program").arg(path));
        for (const LivePresenter& presenter : registry.presentersOf(path, nullptr))
            FilePresenterRegistry::deliver(presenter, FilePresenterRegistry::When::Later, false,
                                           [](FilePresenter& target) { target.presentedItemDidChange(); });
    }
};

FileChangeWatcher::FileChangeWatcher() : d(std::make_unique<Private>())
{
    if (QCoreApplication::instance() == nullptr) {
        Log::warning(
            QStringLiteral("No application object: changes to open files by other programs go unnoticed"));
        return;
    }
    d->watcher = new QFileSystemWatcher;
    Private* p = d.get();
    QObject::connect(d->watcher, &QFileSystemWatcher::directoryChanged, d->watcher,
                     [p](const QString& folder) { p->folderEvent(folder); });
    QObject::connect(d->watcher, &QFileSystemWatcher::fileChanged, d->watcher,
                     [p](const QString& file) { p->folderEvent(folderOf(file)); });
}

FileChangeWatcher::~FileChangeWatcher() = default;

FileChangeWatcher& FileChangeWatcher::instance()
{
    static FileChangeWatcher* watcher = new FileChangeWatcher;
    return *watcher;
}

void FileChangeWatcher::presentersChanged()
{
    if (QCoreApplication::instance() == nullptr)
        return;
    if (MainQueue::isMainThread() && instance().d->busy == 0) {
        instance().d->refresh();
        return;
    }
    MainQueue::post([] { instance().d->refresh(); });
}

void FileChangeWatcher::checkAll()
{
    if (!d->watcher)
        return;
    Private::Busy busyScope(*d);
    d->syncWatches();
    d->lookAtFolder(QStringLiteral("/"));
}

QStringList FileChangeWatcher::watchedFolders() const
{
    if (!d->watcher)
        return {};
    QStringList folders = d->watcher->directories();
    folders.sort();
    return folders;
}

bool FileChangeWatcher::hasPendingChecks() const
{
    for (const auto& [folder, debouncer] : d->debouncers) {
        if (debouncer->isPending())
            return true;
    }
    return false;
}

} // namespace corvex
