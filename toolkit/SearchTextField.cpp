#include "toolkit/SearchTextField.h"

#include "model/Globals.h"
#include "platform/gfx/PlatformFont.h"
#include "platform/ui/Event.h"
#include "platform/ui/Menu.h"
#include "platform/ui/Window.h"
#include "toolkit/CustomTextField.h"
#include "toolkit/TextFieldEditMenu.h"

#include <QEvent>
#include <QLineEdit>
#include <QObject>
#include <QPalette>

namespace corvex {

// Tells the field of the line edit's focus changes, edits and Return key.
class SearchTextField::Watcher final : public QObject
{
public:
    Watcher(SearchTextField& field, QLineEdit& edit) : mField(field)
    {
        edit.installEventFilter(this);
        connect(&edit, &QLineEdit::textChanged, this, [this] { mField.updateCell(); });
        connect(&edit, &QLineEdit::textEdited, this, [this] { mField.sendTextDidChange(); });
        connect(&edit, &QLineEdit::returnPressed, this, [this] { mField.sendAction(); });
    }

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut)
            mField.updateCell();
        return false;
    }

private:
    SearchTextField& mField; // owns this object
};

SearchTextField::SearchTextField(quint64 style)
    : EmbeddedWidgetView(std::make_unique<QLineEdit>(), Rect(0, 0, DefaultWidth, DefaultHeight))
{
    mCell.setStyle(style);
    mCell.setControlView(this);
    QLineEdit* edit = lineEdit();
    edit->setFrame(false);
    // No focus ring: the cell's outline shows the focus.
    edit->setAttribute(Qt::WA_MacShowFocusRect, false);
    edit->setFont(PlatformFont::systemFont(13.0).qfont());
    QPalette palette = edit->palette();
    palette.setColor(QPalette::Text, Globals::colorBlack().toQColor());
    palette.setColor(QPalette::Base, Globals::colorWhite().toQColor());
    edit->setPalette(palette);
    mWatcher = std::make_unique<Watcher>(*this, *edit);
    TextFieldEditMenu::attach(*this);
    setWidgetRect(MyCell::searchTextRectForBounds(bounds()));
    setNeedsDisplay(true);
}

SearchTextField::~SearchTextField()
{
    mWatcher.reset();
}

std::shared_ptr<SearchTextField> SearchTextField::createWithStyle(quint64 style)
{
    return std::make_shared<SearchTextField>(style);
}

QString SearchTextField::className() const
{
    return QStringLiteral("SearchTextField");
}

QString SearchTextField::text() const
{
    return lineEdit() ? lineEdit()->text() : QString();
}

void SearchTextField::setText(const QString& text)
{
    if (lineEdit())
        lineEdit()->setText(text);
    updateCell();
}

QString SearchTextField::placeholderString() const
{
    return lineEdit() ? lineEdit()->placeholderText() : QString();
}

void SearchTextField::setPlaceholderString(const QString& placeholder)
{
    if (lineEdit())
        lineEdit()->setPlaceholderText(placeholder);
}

std::shared_ptr<Menu> SearchTextField::textViewMenu(const std::shared_ptr<Menu>& menu, const Event&,
                                                    qsizetype)
{
    return CustomTextField::createTextFieldMenuFrom(menu);
}

std::shared_ptr<Menu> SearchTextField::menuForEvent(const Event& event)
{
    QLineEdit* edit = lineEdit();
    if (!edit)
        return nullptr;
    return textViewMenu(TextFieldEditMenu::standardMenu(*edit), event,
                        TextFieldEditMenu::characterIndexAt(*this, event));
}

void SearchTextField::setFrame(const Rect& frame)
{
    const bool resized = !(frame.size == View::frame().size);
    EmbeddedWidgetView::setFrame(frame);
    if (resized) {
        setWidgetRect(MyCell::searchTextRectForBounds(bounds()));
        setNeedsDisplay(true);
    }
}

void SearchTextField::drawRect(const Rect&, GraphicsContext& context)
{
    mCell.drawWithFrame(bounds(), context, this);
}

void SearchTextField::updateCell()
{
    const QString value = text();
    const bool focused = hasKeyboardFocus();
    if (value == mCell.stringValue() && focused == mCell.showsFirstResponder())
        return;
    mCell.setStringValue(value);
    mCell.setShowsFirstResponder(focused);
    setNeedsDisplay(true);
}

void SearchTextField::mouseDown(const Event& event)
{
    const Point local = convertPointFromView(event.locationInWindow(), nullptr);
    const Rect area = bounds();
    if (!text().isEmpty() && mouseInRect(local, MyCell::cancelButtonRectForBounds(area))) {
        clear();
        return;
    }
    if (mouseInRect(local, MyCell::searchButtonRectForBounds(area))) {
        if (Window* win = window())
            win->makeFirstResponder(this);
        sendAction();
        return;
    }
    EmbeddedWidgetView::mouseDown(event);
}

void SearchTextField::clear()
{
    setText(QString());
    if (Window* win = window())
        win->makeFirstResponder(this);
    sendAction();
    sendTextDidChange();
}

bool SearchTextField::becomeFirstResponder()
{
    const bool became = EmbeddedWidgetView::becomeFirstResponder();
    updateCell();
    return became;
}

bool SearchTextField::resignFirstResponder()
{
    const bool resigned = EmbeddedWidgetView::resignFirstResponder();
    updateCell();
    return resigned;
}

void SearchTextField::sendAction()
{
    // A copy: the handler may replace itself.
    if (Handler action = mAction)
        action(*this);
}

void SearchTextField::sendTextDidChange()
{
    if (Handler handler = mTextDidChange)
        handler(*this);
}

} // namespace corvex
