#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <functional>

namespace corvex {

class Window;

// Runs open panels: the user picks files, the caller hears back later. The application
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

    // Called with the response and, for OK, the chosen files (empty for Cancel).
    using Completion = std::function<void(int response, const QList<QUrl>& urls)>;

    virtual ~FilePanelRunner();

    // Begins the panel, modal to the window (to the application without one) and returns at
    // once. The completion runs exactly once, on the main thread and never inside this call,
    // when the panel has ended (closing the window ends it with Cancel). An empty directory
    // is filled in with the desktop folder before the runner sees the panel.
    void beginOpenPanel(OpenPanel panel, Window* window, Completion completion);

    // QStandardPaths' desktop folder.
    static QString desktopDirectory();

protected:
    // Shows the panel; `completion` must be called once, later, on the main thread. The
    // panel's directory is set.
    virtual void present(const OpenPanel& panel, Window* window, Completion completion) = 0;
};

} // namespace corvex
