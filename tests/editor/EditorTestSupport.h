#pragma once

// Shared helpers of the editor's tests: the mind-map screen rig with the real editor
// registered (a factory that remembers the editors it made), clicks through the windows'
// event dispatch, and looks into the popover.

#include "editor/EditIdeaViewController.h"
#include "editor/IdeaEditorFactory.h"
#include "tests/mindmap/MindMapScreenRig.h"

#include <QImage>
#include <QString>
#include <memory>

class QLineEdit;
class QTextEdit;

namespace corvex {
class BaseView;
class ButtonView;
class View;
class Window;
} // namespace corvex

namespace corvex::test {

// The real factory, remembering the last editor it made.
class RecordingIdeaEditorFactory : public IdeaEditorFactory
{
public:
    std::shared_ptr<IdeaEditor> makeIdeaEditor() override;
    std::shared_ptr<EditIdeaViewController> last;
};

// A document open on the mind-map screen with the real editor in the editor seam.
struct EditorScreen
{
    explicit EditorScreen(const QString& outline = QStringLiteral("root(a b(b1 b2 b3) c)"));
    ~EditorScreen();

    QString path() const { return storedPath(*document); }
    // Double-clicks the planet with that index (through the window) and lets the popover's
    // first tab come; returns the editor shown.
    std::shared_ptr<EditIdeaViewController> openEditorOnPlanet(std::int64_t index);
    // The same on the centre planet (the root idea).
    std::shared_ptr<EditIdeaViewController> openEditorOnCentre();
    // Runs the main queue and lets timed work that is due run.
    void pump(double seconds = 0.0);

    MindMapScreenRig rig;
    std::shared_ptr<RecordingIdeaEditorFactory> factory = std::make_shared<RecordingIdeaEditorFactory>();
    qint64 token = 0;
    std::shared_ptr<IdeaDocument> document;
    std::shared_ptr<SolarSystemViewController> screen;
};

// Records the editor's closing.
class RecordingEditorDelegate : public IdeaEditorDelegate
{
public:
    void editIdeaViewDidClose() override { ++closes; }
    int closes = 0;
};

// An editor in a semi-transient popover shown from a plain window, as a screen shows it, on
// virtual time, over a catalogue of our own (`catalogue`).
struct WindowEditor
{
    explicit WindowEditor(const QByteArray& catalogue);
    ~WindowEditor();
    WindowEditor(const WindowEditor&) = delete;
    WindowEditor& operator=(const WindowEditor&) = delete;

    // Shows the popover and lets its first tab come.
    void show();
    void selectTab(qint64 tab);
    double height() const;

    ScopedVirtualTime time;
    std::shared_ptr<Window> window;
    std::shared_ptr<BaseView> host;
    std::shared_ptr<RecordingEditorDelegate> delegate = std::make_shared<RecordingEditorDelegate>();
    std::shared_ptr<EditIdeaViewController> editor;
};

// The centre of a view in its window's base coordinates.
Point centreOf(const View& view);
// A click (press and release) at a point of the window; a plain button reports 100 ms later,
// so virtual time moves on by 0.15 s through `time` when given.
void clickAt(Window& window, Point point, ScopedVirtualTime* time = nullptr, int clicks = 1);
void clickView(const View& view, ScopedVirtualTime* time = nullptr);
// The popover's window of an editor (null when not shown).
Window* popoverWindow(const EditIdeaViewController& editor);
QLineEdit* titleEdit(const EditIdeaViewController& editor);
QTextEdit* noteEdit(const EditIdeaViewController& editor);
// The popover's pixels (at scale 1), written under test-output/editor/<name>.png.
QImage renderPopover(const EditIdeaViewController& editor, const QString& name);
// A plain catalogue for the icon tab from text lines.
void useCatalogue(const QByteArray& text);

} // namespace corvex::test
