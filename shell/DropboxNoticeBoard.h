#pragma once

#include "cloud/dropbox/DropboxSyncNotices.h"
#include "platform/core/NotificationCenter.h"

#include <QString>
#include <deque>
#include <functional>
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
// back, hence an alert. Main thread only.
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
    // Notices posted and not shown yet.
    std::size_t waitingCount() const { return mWaiting.size(); }

    static const QString AccessLostTitle;

private:
    struct AccessLost
    {};
    using Notice = std::variant<AccessLost, DropboxSyncNotices::DocumentNotSynced>;

    void add(Notice notice);
    void showLater();
    void showNext();
    static QString titleOf(const Notice& notice);
    static QString messageOf(const Notice& notice);

    WindowFinder mFinder;
    std::deque<Notice> mWaiting;
    bool mShowing = false;
    bool mShowPosted = false;
    // Blocks posted to the main queue find the board through it, or find it gone.
    std::shared_ptr<DropboxNoticeBoard*> mSelf;
    std::vector<NotificationCenter::ObserverToken> mObservers;
};

} // namespace corvex
