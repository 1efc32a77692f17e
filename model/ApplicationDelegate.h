#pragma once

#include <QString>
#include <QUrl>

namespace corvex {

// What the model and the screens ask of the application shell. The shell installs its own
// subclass with Globals::setApp(); until then Globals::app() answers this class, whose
// operations do nothing (it allows every deletion and knows of no open file), so that every
// layer below the shell runs and is tested without one.
//
// Called on the main thread.
class ApplicationDelegate
{
public:
    ApplicationDelegate() = default;
    virtual ~ApplicationDelegate();
    ApplicationDelegate(const ApplicationDelegate&) = delete;
    ApplicationDelegate& operator=(const ApplicationDelegate&) = delete;

    // Marks the stored window state as changed, for the next periodic save.
    virtual void markPersistentAppStateDirty();
    // Writes the stored window state at once.
    virtual void updatePersistentAppStateNow();
    // Puts the file first in the recent documents; nothing for a URL without a path.
    virtual void addNewRecentDocumentURL(const QUrl& fileUrl);
    // Whether no window's screen objects to the idea being deleted; a null identifier stands
    // for the whole document.
    virtual bool canWeSafelyDeleteIdea(const QString& ideaIdentifier, const QString& docIdentifier);
    // Opens the document again in a new window centred on the idea, when storage knows it.
    virtual void openDocumentInNewWindow(const QString& docIdentifier, const QString& ideaIdentifier);
    // A window's mind map now shows the document, however the user came to it: from a home
    // grid, in a new window, from a file, or restored at launch.
    virtual void documentShown(const QString& docIdentifier);
    // Whether some window shows the document of that file.
    virtual bool isFileCurrentlyOpen(const QUrl& fileUrl);
};

} // namespace corvex
