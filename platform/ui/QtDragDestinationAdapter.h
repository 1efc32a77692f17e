#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <optional>

class QDropEvent;
class QMimeData;

namespace corvex {

class DragDestination;
enum class DragOperation : quint64;
class Window;

// Translates the Qt drag events of a window's host widget into DragDestination calls.
// Only two kinds of drag reach the window: drags of this application whose data carries
// "text/uri-list" or "application/x-corvex-filetype" (their file list is never read: it
// would make a promised file), and drags from outside carrying at least one local file:
// URL in "text/uri-list" (other URLs are left out; a drag without a local file is refused
// before the window hears of it). Qt's copy counts as copy and generic, move as move, link
// as link. Installed as an event filter on the host; owned by it. Main thread only.
class QtDragDestinationAdapter final : public QObject
{
public:
    static inline const QString OwnFileType = QStringLiteral("application/x-corvex-filetype");
    static inline const QString UriListType = QStringLiteral("text/uri-list");

    // Accepts drops on `host` and reports them to `destination`, a window of `window`.
    // Both must outlive the adapter, or call detach first.
    QtDragDestinationAdapter(QWidget& host, Window& window, DragDestination& destination);
    void detach() { mDestination = nullptr; }

    // The operation bits of Qt's actions.
    static DragOperation operationMaskFromQt(Qt::DropActions actions);
    // The one action among `possible` that an answer of the destination names: copy before
    // move before link; Qt's ignore for none.
    static Qt::DropAction actionFromOperation(DragOperation operation, Qt::DropActions possible);
    // What the source of a drag of files from another program hears instead of `action`: a
    // copy or an ignore, never a move, with which the source would delete the user's file
    // (Qt can only answer an offered action, so a source offering only a move hears an ignore).
    static Qt::DropAction forFilesFromOutside(Qt::DropAction action);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Fills the drag of the event; false when the drag must not reach the window.
    bool describe(QDropEvent& event, bool entering);
    // The source hears the action named, or ignore.
    void answer(QDropEvent& event, Qt::DropAction action);

    Window* mWindow;
    DragDestination* mDestination;
    qint64 mSequenceNumber = 0;
    bool mServing = false;
    bool mFromApplication = false;
    // What the last hover answered: what a taken drop performs.
    Qt::DropAction mHoverAction = Qt::IgnoreAction;
    std::optional<QStringList> mFileNames;
};

} // namespace corvex
