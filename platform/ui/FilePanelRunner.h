#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <functional>
#include <memory>

namespace corvex {

class Window;

// Runs open and save panels: the user picks files (or names one to write), the caller hears
// back later. The application
// uses QtFilePanelRunner; tests install a ScriptedFilePanelRunner through Runners. Main
// thread only.
class FilePanelRunner
{
public:
    // The panel's answers, with fixed numbers.
    enum Response : int
    {
        Cancel = 0,
        OK = 1,
    };

    struct OpenPanel
    {
        // File name extensions (without the dot) that can be chosen; empty for any file.
        QStringList allowedFileTypes{QStringLiteral("corvex"), QStringLiteral("opml")};
        // The folder shown first; empty for the user's desktop folder.
        QString directory;
        bool canChooseFiles = true;
        bool canChooseDirectories = false;
        bool allowsMultipleSelection = false;
        // The panel's title and its OK button's text; empty for the defaults.
        QString message;
        QString prompt;

        // The file dialog's name filter for the allowed types: "*.corvex *.opml"; empty
        // when any file may be chosen.
        QString nameFilter() const;
    };

    struct SavePanel
    {
        // File name extensions (without the dot) the file may have; the first is added to a
        // chosen name that has none of them. Empty for any name.
        QStringList allowedFileTypes{QStringLiteral("corvex")};
        // The folder shown first; empty for the user's desktop folder.
        QString directory;
        // The name proposed in the name field.
        QString nameFieldStringValue;
        // The panel's title and its OK button's text; empty for the defaults.
        QString message;
        QString prompt;

        // "*.corvex" for the allowed types; empty for any name.
        QString nameFilter() const;
        // The file with the first allowed extension added when it has none of them.
        QUrl withAllowedExtension(const QUrl& url) const;
    };

    // Called with the response and, for OK, the chosen files (empty for Cancel).
    using Completion = std::function<void(int response, const QList<QUrl>& urls)>;
    // Called with the response and, for OK, the file to write (empty for Cancel).
    using SaveCompletion = std::function<void(int response, const QUrl& url)>;

    virtual ~FilePanelRunner();

    // Begins the panel, modal to the window (to the application without one) and returns at
    // once. The completion runs exactly once, on the main thread and never inside this call,
    // when the panel has ended (closing the window ends it with Cancel). An empty directory
    // is filled in with the desktop folder before the runner sees the panel.
    void beginOpenPanel(OpenPanel panel, Window* window, Completion completion);

    // Begins a save panel the same way: modal to the window, returns at once, the completion
    // runs once, later, on the main thread. An OK with a name lacking the allowed extension
    // gets it added; an OK without a file answers Cancel. Replacing an existing file is
    // confirmed by the panel itself.
    void beginSavePanel(SavePanel panel, Window* window, SaveCompletion completion);

    // QStandardPaths' desktop folder where it exists, else the home folder.
    static QString desktopDirectory();

protected:
    // Shows the panel; `completion` must be called once, later, on the main thread. The
    // panel's directory is set.
    virtual void present(const OpenPanel& panel, Window* window, Completion completion) = 0;
    // The same for a save panel: `completion` gets the response and the chosen files (the
    // first one is taken).
    virtual void presentSave(const SavePanel& panel, Window* window, Completion completion) = 0;

private:
    // Whether the call that presents a panel is still under way; shared with its answer.
    struct PresentCall
    {
        bool running = true;
    };
    // Wraps the completion so that it runs once and never inside the call that presents.
    static Completion answeredOnce(Completion completion, const char* panelKind,
                                   std::shared_ptr<PresentCall> inCall);
};

} // namespace corvex
