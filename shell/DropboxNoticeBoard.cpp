#include "shell/DropboxNoticeBoard.h"

#include "model/Globals.h"
#include "platform/core/LaunchSeams.h"
#include "platform/core/MainQueue.h"
#include "platform/ui/Window.h"
#include "shell/DropboxNoticeMemory.h"
#include "storage/IdeaDocument.h"
#include "storage/IdeaProxy.h"
#include "storage/PersistenceController.h"
#include "toolkit/CustomAlertView.h"

#include <QRegularExpression>

namespace corvex {

const QString DropboxNoticeBoard::AccessLostTitle = QStringLiteral("Dropbox access was lost");

namespace {

QString whereTheCopyIs(const DropboxSyncNotices::DocumentNotSynced& notice)
{
    if (notice.copyFile.isEmpty())
        return QStringLiteral("There is no copy of it on this computer yet.");
    if (notice.copyDocument != notice.document) {
        const QString title = DropboxNoticeBoard::documentTitle(notice.copyDocument);
        return QStringLiteral("Your changes were kept as a new document%1 in the Dropbox location "
                              "(%2 in Dropbox). On this computer its copy is:\n%3")
            .arg(title.isEmpty() ? QString() : QStringLiteral(", \"%1\",").arg(title),
                 IdeaProxy::fileNameFromURLLikeString(notice.copyDocument), notice.copyFile);
    }
    return QStringLiteral("The document stays in the Dropbox location as it was on this computer, in:\n%1")
        .arg(notice.copyFile);
}

} // namespace

DropboxNoticeBoard::DropboxNoticeBoard(WindowFinder finder)
    : mFinder(std::move(finder)), mSelf(std::make_shared<DropboxNoticeBoard*>(this))
{
    NotificationCenter& center = NotificationCenter::defaultCenter();
    mObservers.push_back(
        center.addObserver(DropboxSyncNotices::AccessLostNotification, nullptr,
                           [this](const NotificationCenter::Notification&) { add(AccessLost{}); }));
    mObservers.push_back(center.addObserver(DropboxSyncNotices::DocumentNotSyncedNotification, nullptr,
                                            [this](const NotificationCenter::Notification& note) {
                                                if (auto notice = DropboxSyncNotices::documentNotSynced(note))
                                                    addStuck(*notice);
                                            }));
    mObservers.push_back(center.addObserver(DropboxSyncNotices::DocumentSyncedNotification, nullptr,
                                            [this](const NotificationCenter::Notification& note) {
                                                if (auto document = DropboxSyncNotices::documentSynced(note))
                                                    synced(*document);
                                            }));
    mObservers.push_back(center.addObserver(DropboxNotifications::SignedIn, nullptr,
                                            [this](const NotificationCenter::Notification&) { signedIn(); }));
}

DropboxNoticeBoard::~DropboxNoticeBoard()
{
    *mSelf = nullptr;
    for (const auto token : mObservers)
        NotificationCenter::defaultCenter().removeObserver(token);
}

void DropboxNoticeBoard::dropboxWindowShown()
{
    if (!mWaiting.empty())
        showLater();
}

QString DropboxNoticeBoard::documentTitle(const QString& identifier)
{
    // (Notices come from the location's back end: the controller exists already.)
    const auto proxies =
        PersistenceController::singleton().proxyListForLocation(IdeaDocument::DropboxLocation);
    if (proxies) {
        const IdeaProxyPtr proxy = IdeaProxy::findProxyInArray(*proxies, identifier);
        if (proxy && !proxy->text().trimmed().isEmpty())
            return proxy->text().trimmed();
    }
    // The names the location makes for its files ("id…_n.crvx", "file…_n.crvx") say nothing
    // to the user.
    static const QRegularExpression made(QStringLiteral("^(id|file)\\d+_\\d+\\.crvx$"),
                                         QRegularExpression::CaseInsensitiveOption);
    const QString name = IdeaProxy::fileNameFromURLLikeString(identifier);
    return made.match(name).hasMatch() ? QString() : name;
}

void DropboxNoticeBoard::documentOpened(const QString& identifier)
{
    const auto stuck = mStuck.find(identifier);
    if (stuck != mStuck.end())
        add(stuck->second);
}

void DropboxNoticeBoard::addStuck(const DropboxSyncNotices::DocumentNotSynced& notice)
{
    mStuck[notice.document] = notice;
    if (!DropboxNoticeMemory::wasTold(notice.document, notice.reason))
        add(notice);
}

void DropboxNoticeBoard::signedIn()
{
    // Perhaps another account, perhaps the same one after a long while: what still stands in
    // the way is worth saying again.
    DropboxNoticeMemory::forgetAll();
    for (const auto& stuck : mStuck)
        add(stuck.second);
}

void DropboxNoticeBoard::synced(const QString& document)
{
    mStuck.erase(document);
    DropboxNoticeMemory::forget(document);
    std::erase_if(mWaiting, [&](const Notice& notice) {
        const auto* stuck = std::get_if<DropboxSyncNotices::DocumentNotSynced>(&notice);
        return stuck && stuck->document == document;
    });
}

bool DropboxNoticeBoard::sameStuck(const Notice& notice, const DropboxSyncNotices::DocumentNotSynced& stuck)
{
    const auto* other = std::get_if<DropboxSyncNotices::DocumentNotSynced>(&notice);
    return other && other->document == stuck.document && other->reason == stuck.reason;
}

void DropboxNoticeBoard::add(Notice notice)
{
    if (const auto* stuck = std::get_if<DropboxSyncNotices::DocumentNotSynced>(&notice)) {
        for (const Notice& waiting : mWaiting)
            if (sameStuck(waiting, *stuck))
                return;
    }
    mWaiting.push_back(std::move(notice));
    showLater();
}

void DropboxNoticeBoard::showLater()
{
    // Never inside the poster's call: the alert runs a modal loop, and the Dropbox loop that
    // posted is in the middle of its turn.
    if (mShowPosted || mShowing)
        return;
    mShowPosted = true;
    MainQueue::post([self = mSelf] {
        if (DropboxNoticeBoard* board = *self) {
            board->mShowPosted = false;
            board->showNext();
        }
    });
}

void DropboxNoticeBoard::showNext()
{
    if (mShowing || mWaiting.empty())
        return;
    Window* window = mFinder ? mFinder() : nullptr;
    if (!window)
        return;
    const Notice notice = mWaiting.front();
    mWaiting.pop_front();
    // Its way back (Deactivate, then Connect) is for a location still chosen: after an opt-out
    // (a failed sign-in has its own alert) there is nothing to come back to.
    if (std::holds_alternative<AccessLost>(notice) && !Globals::userHasOptedForDropbox()) {
        showLater();
        return;
    }
    mShowing = true;
    if (const auto* stuck = std::get_if<DropboxSyncNotices::DocumentNotSynced>(&notice))
        DropboxNoticeMemory::remember(stuck->document, stuck->reason);
    // The alert comes up over the window it is about.
    window->makeKeyAndOrderFront();
    auto alert = CustomAlertView::create(titleOf(notice), messageOf(notice));
    alert->addButton(Globals::normalLocalizedStringForKey(QStringLiteral("Choice.Close"), QString()), 1, {});
    const auto self = mSelf;
    alert->showFromWindow(window);
    if (DropboxNoticeBoard* board = *self) {
        board->mShowing = false;
        if (!board->mWaiting.empty())
            board->showLater();
    }
}

QString DropboxNoticeBoard::titleOf(const Notice& notice)
{
    if (std::holds_alternative<AccessLost>(notice))
        return AccessLostTitle;
    const QString title = documentTitle(std::get<DropboxSyncNotices::DocumentNotSynced>(notice).document);
    if (title.isEmpty())
        return QStringLiteral("A document without a title cannot be synced with Dropbox");
    return QStringLiteral("\"%1\" cannot be synced with Dropbox").arg(title);
}

QString DropboxNoticeBoard::messageOf(const Notice& notice)
{
    if (std::holds_alternative<AccessLost>(notice))
        return QStringLiteral(
            "Dropbox no longer accepts Corvex's access to your account (it may have been taken away on "
            "the Dropbox website), so documents in the Dropbox location are not synced. Your changes stay "
            "on this computer.\n\nTo connect again, open Preferences and press \"Deactivate\", then "
            "\"Connect\", and sign in to Dropbox.");
    const auto& document = std::get<DropboxSyncNotices::DocumentNotSynced>(notice);
    const QString why =
        document.reason == DropboxSyncNotices::DocumentNotSynced::Reason::FolderAtPath
            ? QStringLiteral("A folder now stands where this document was kept in Dropbox (%1).")
            : QStringLiteral(
                  "Dropbox sends this document (%1) with content that does not match Dropbox's own "
                  "check of it, so Corvex does not take it; it tries again from time to time.");
    return why.arg(document.remotePath) + QStringLiteral("\n\n") + whereTheCopyIs(document);
}

} // namespace corvex
