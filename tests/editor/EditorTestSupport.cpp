#include "tests/editor/EditorTestSupport.h"

#include "editor/IconImageCollection.h"
#include "editor/IdeaTextEditTabView.h"
#include "mindmap/SolarSystem.h"
#include "platform/ui/EmbeddedWidgetView.h"
#include "platform/ui/Popover.h"
#include "platform/ui/View.h"
#include "platform/ui/Window.h"
#include "tests/support/TestEnvironment.h"
#include "toolkit/BaseView.h"
#include "toolkit/CustomInnerTextField.h"
#include "toolkit/CustomTextField.h"
#include "toolkit/EditableTextView.h"
#include "toolkit/ViewExtensions.h"

#include <QCoreApplication>
#include <QDir>
#include <QLineEdit>
#include <QTextEdit>

namespace corvex::test {

std::shared_ptr<IdeaEditor> RecordingIdeaEditorFactory::makeIdeaEditor()
{
    last = std::dynamic_pointer_cast<EditIdeaViewController>(IdeaEditorFactory::makeIdeaEditor());
    return last;
}

EditorScreen::EditorScreen(const QString& outline)
{
    EditorFactory::setCurrent(factory);
    document = rig.createDocument(treeFromOutline(outline), token);
    screen = rig.showDocument(document, token);
    rig.finishAnimations();
}

EditorScreen::~EditorScreen()
{
    if (factory->last && factory->last->popover())
        factory->last->popover()->performClose();
    IconImageCollection::setInstanceOverride(nullptr);
    // The catalogue's preload draws with fonts the test's application takes away at exit.
    IconImageCollection::stopPreloading();
}

void EditorScreen::pump(double seconds)
{
    QCoreApplication::processEvents();
    rig.time.runDue();
    if (seconds > 0)
        rig.time.advance(seconds);
    QCoreApplication::processEvents();
    rig.time.runDue();
}

std::shared_ptr<EditIdeaViewController> EditorScreen::openEditorOnPlanet(std::int64_t index)
{
    const Point p = planetInWindow(*screen, index);
    clickAt(*rig.window, p);
    rig.time.advance(0.1);
    clickAt(*rig.window, p, nullptr, 2);
    pump(0.01);
    return factory->last;
}

std::shared_ptr<EditIdeaViewController> EditorScreen::openEditorOnCentre()
{
    const auto& solar = screen->solarSystemView();
    // A click on the centre edits it at once.
    clickAt(*rig.window, solar->convertPointToView(solar->orbitVisualCenter(), nullptr));
    pump(0.01);
    return factory->last;
}

WindowEditor::WindowEditor(const QByteArray& catalogue)
    : window(Window::create(Size(600, 700))), host(BaseView::create())
{
    useCatalogue(catalogue);
    window->setContentView(host);
    window->makeKeyAndOrderFront();
    auto popover = Popover::create(true);
    popover->setBehavior(Popover::Behavior::SemiTransient);
    editor = EditIdeaViewController::initForPopover(popover);
    editor->setDelegate(delegate);
}

WindowEditor::~WindowEditor()
{
    editor->popover()->performClose();
    window->close();
    IconImageCollection::setInstanceOverride(nullptr);
}

void WindowEditor::show()
{
    editor->showRelativeToRect(Rect(200, 40, 70, 70), *host);
    time.runDue();
}

void WindowEditor::selectTab(qint64 tab)
{
    editor->editViewTabBarUserSelectedItem(*editor->tabBar(), tab);
}

double WindowEditor::height() const
{
    return editor->popover()->contentSize().height;
}

Point centreOf(const View& view)
{
    const Rect frame = view.frame();
    const Point centre(frame.midX(), frame.midY());
    return view.superview() ? view.superview()->convertPointToView(centre, nullptr) : centre;
}

void clickAt(Window& window, Point point, ScopedVirtualTime* time, int clicks)
{
    window.sendEvent(Event::mouseDown(point, clicks));
    window.sendEvent(Event::mouseUp(point, clicks));
    if (time) {
        time->advance(0.15);
        QCoreApplication::processEvents();
    }
}

void clickView(const View& view, ScopedVirtualTime* time)
{
    if (Window* window = view.window())
        clickAt(*window, centreOf(view), time);
}

Window* popoverWindow(const EditIdeaViewController& editor)
{
    return editor.popover() && editor.popover()->isShown() ? editor.popover()->window() : nullptr;
}

QLineEdit* titleEdit(const EditIdeaViewController& editor)
{
    const auto& tab = editor.textTabView();
    return tab ? tab->titleTextField()->field()->lineEdit() : nullptr;
}

QTextEdit* noteEdit(const EditIdeaViewController& editor)
{
    const auto& tab = editor.textTabView();
    return tab && tab->noteView() ? tab->noteView()->textEdit() : nullptr;
}

QImage renderPopover(const EditIdeaViewController& editor, const QString& name)
{
    Window* window = editor.popover() ? editor.popover()->window() : nullptr;
    if (!window)
        return QImage();
    const QImage image = window->renderToImage(1.0);
    QDir().mkpath(testOutputDir() + QStringLiteral("/editor"));
    image.save(testOutputDir() + QStringLiteral("/editor/") + name + QStringLiteral(".png"));
    return image;
}

void useCatalogue(const QByteArray& text)
{
    IconImageCollection::setInstanceOverride(IconImageCollection::fromText(text));
}

} // namespace corvex::test
