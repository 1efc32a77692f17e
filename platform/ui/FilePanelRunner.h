#pragma once

#include "platform/core/Completion.h"
#include "platform/core/UniqueFunction.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>
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

    // Answered with the response and, for OK, the chosen files (empty for Cancel).
    using Completion = corvex::Completion<int, const QList<QUrl>&>;
    // Answered with the response and, for OK, the file to write (empty for Cancel).
    using SaveCompletion = corvex::Completion<int, const QUrl&>;

    // How a runner ends its panel: with the response and the chosen files. Copies share one
    // answer, so that a dialog's several endings can each hold it; the first call answers the
    // caller, a later one is a fault of the runner's, logged and ignored.
    class Reply
    {
    public:
        void operator()(int response, const QList<QUrl>& urls) const;

    private:
        friend class FilePanelRunner;
        struct State;
        explicit Reply(std::shared_ptr<State> state) : mState(std::move(state)) {}
        std::shared_ptr<State> mState;
    };

    virtual ~FilePanelRunner();

    // Begins the panel, modal to the window (to the application without one) and returns at
    // once. The completion is answered exactly once, on its queue and never inside this call,
    // when the panel has ended (closing the window ends it with Cancel). An empty directory
    // is filled in with the desktop folder before the runner sees the panel.
    void beginOpenPanel(OpenPanel panel, Window* window, Completion completion);

    // Begins a save panel the same way: modal to the window, returns at once, the completion
    // is answered once, later, on its queue. An OK with a name lacking the allowed extension
    // gets it added; an OK without a file answers Cancel. Replacing an existing file is
    // confirmed by the panel itself.
    void beginSavePanel(SavePanel panel, Window* window, SaveCompletion completion);

    // QStandardPaths' desktop folder where it exists, else the home folder.
    static QString desktopDirectory();

protected:
    // Shows the panel; `reply` must be called once, on the main thread, when it ends. The
    // panel's directory is set.
    virtual void present(const OpenPanel& panel, Window* window, Reply reply) = 0;
    // The same for a save panel: `reply` gets the response and the chosen files (the first
    // one is taken).
    virtual void presentSave(const SavePanel& panel, Window* window, Reply reply) = 0;

private:
    // The reply whose first call runs `answer` (which answers the caller's completion).
    static Reply replyFor(UniqueFunction<void(int response, const QList<QUrl>& urls)> answer,
                          const char* panelKind);
};

} // namespace corvex
