#pragma once

#include "cloud/dropbox/DropboxSyncNotices.h"
#include "platform/core/NotificationCenter.h"

#include <QString>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <variant>

namespace corvex {

class Window;

// What the Dropbox location tells the user (DropboxSyncNotices) as alerts on a window of that
// location: a lost access with the way back, a document that cannot be synced with where its
// copy is. The location posts each cause once; the board shows each notice once, in the order
// posted, one alert at a time. A notice posted while no window shows the location waits for
// one (dropboxWindowShown); a lost access is not told once Dropbox is no longer chosen. The
// title bar's short notification is too brief to read a way
// back, hence an alert. A stuck document is told once per document and cause, also across
// launches (DropboxNoticeMemory); it is told again after a new sign-in, or when the user opens
// it while it is still stuck. Once it syncs again it is no longer stuck: a notice of it still
// waiting goes, and a later stop is told again, even for a cause told before. Main thread only.
class DropboxNoticeBoard
{
public:
    // A shown window of the Dropbox location, or null.
    using WindowFinder = std::function<Window*()>;

    explicit DropboxNoticeBoard(WindowFinder finder);
    ~DropboxNoticeBoard();
    DropboxNoticeBoard(const DropboxNoticeBoard&) = delete;
    DropboxNoticeBoard& operator=(const DropboxNoticeBoard&) = delete;

    // A window shows the Dropbox location now: a waiting notice goes to it.
    void dropboxWindowShown();
    // The user opens a document: when it is stuck, its notice is told again.
    void documentOpened(const QString& identifier);
    // Notices posted and not shown yet.
    std::size_t waitingCount() const { return mWaiting.size(); }

    static const QString AccessLostTitle;
    // How a notice names a document: the title the location lists it under (its root idea's
    // text), else its file name unless that is one the location made up.
    static QString documentTitle(const QString& identifier);

private:
    struct AccessLost
    {};
    using Notice = std::variant<AccessLost, DropboxSyncNotices::DocumentNotSynced>;

    void add(Notice notice);
    void addStuck(const DropboxSyncNotices::DocumentNotSynced& notice);
    void signedIn();
    void synced(const QString& document);
    void showLater();
    void showNext();
    static bool sameStuck(const Notice& notice, const DropboxSyncNotices::DocumentNotSynced& stuck);
    static QString titleOf(const Notice& notice);
    static QString messageOf(const Notice& notice);

    WindowFinder mFinder;
    std::deque<Notice> mWaiting;
    // This session's stuck documents, by identifier, each with its last notice.
    std::map<QString, DropboxSyncNotices::DocumentNotSynced> mStuck;
    bool mShowing = false;
    bool mShowPosted = false;
    // Blocks posted to the main queue find the board through it, or find it gone.
    std::shared_ptr<DropboxNoticeBoard*> mSelf;
    std::vector<NotificationCenter::ObserverToken> mObservers;
};

} // namespace corvex
