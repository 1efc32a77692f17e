#pragma once

#include "platform/core/Value.h"
#include "platform/gfx/Rect.h"
#include "toolkit/BaseViewController.h"

#include <QString>
#include <QVariantMap>
#include <memory>
#include <optional>

namespace corvex {

class IdeaDocument;
class Idea;
class MyWindow;

// Drives one main window: prepares its geometry, starts it in one of three ways (restoration,
// a location's home screen, a document), saves and restores it, and takes it out of the
// application's window list when it closes. Main thread only.
class MainWindowController : public std::enable_shared_from_this<MainWindowController>
{
    struct Private
    {};

public:
    // What a document window does once its screen is shown.
    enum InitialAction : int
    {
        InitialActionNone = 0,
        InitialActionEditIdea = 1,
        InitialActionWelcome = 2,
    };
    static inline const QString HomeScreenClass = QStringLiteral("HomeViewController");
    static inline const QString MindMapScreenClass = QStringLiteral("SolarSystemViewController");
    static inline const QString ControllerClassKey = QStringLiteral("controllerClass");
    static inline const QString ControllerStateKey = QStringLiteral("controllerState");
    static inline const QString WindowFrameKey = QStringLiteral("windowFrame");

    explicit MainWindowController(Private);
    ~MainWindowController();

    // A new window centred on the main screen's visible frame (see WindowGeometry).
    static std::shared_ptr<MyWindow> prepareWindow();

    // A prepared window without a screen, for restoreFromState.
    static std::shared_ptr<MainWindowController> initForRestoration();
    // A prepared window showing the home screen of location 2 or 3.
    static std::shared_ptr<MainWindowController> initWithCloudWindow(unsigned location);
    // A prepared window showing the open document (idea identifier may be null).
    static std::shared_ptr<MainWindowController>
    initWithDocumentWindow(const std::shared_ptr<IdeaDocument>& document, qint64 token,
                           const QString& ideaIdentifier, int initialAction);

    void showCloudHome(unsigned location);
    void showDocument(const std::shared_ptr<IdeaDocument>& document, qint64 token,
                      const QString& ideaIdentifier, int initialAction);
    void showWelcomeScreen();

    // {"controllerClass", "controllerState", "windowFrame"}, or empty when the window has no
    // screen or its screen gives no state. A screen still to be made (it is made on the next
    // turn of the main queue) gives the state it will have, so that a quit meanwhile keeps the
    // window.
    QVariantMap createState() const;
    // Sets the saved frame (the prepared one when the saved one is empty or on no screen)
    // and makes the named screen; false for an unknown or missing class (the window stays
    // empty).
    bool restoreFromState(const QVariantMap& state);

    bool canWeSafelyDeleteIdea(const QString& ideaIdentifier, const QString& docIdentifier) const;
    std::optional<BaseViewController::UnsavedChanges> unsavedChanges() const;
    const std::shared_ptr<MyWindow>& myWindow() const { return mWindow; }

    // The window's frame in screen coordinates (bottom-left origin).
    Rect windowFrame() const;
    void setWindowFrame(const Rect& frame);

private:
    void attachWindow(std::shared_ptr<MyWindow> window);
    void setPendingScreen(const QString& className, const ValueDictionary& state);

    std::shared_ptr<MyWindow> mWindow;
    // The screen the window is about to show, and its state, until it shows one.
    QString mPendingScreenClass;
    ValueDictionary mPendingScreenState;
};

} // namespace corvex
