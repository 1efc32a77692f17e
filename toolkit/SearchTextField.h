#pragma once

#include "platform/ui/EmbeddedWidgetView.h"
#include "toolkit/MyCell.h"

#include <QString>
#include <QtGlobal>
#include <functional>
#include <memory>
#include <utility>

namespace corvex {

class Event;
class Menu;

// The rounded search field (the home screen's, style 0, and the web-link editor's, style 1):
// an embedded line edit in the cell's text rectangle, with the cell (MyCell) drawing the
// face, the magnifier, the clear button and the outline around it.
//
// Clicks on the view (outside the live line edit): in the cancel button rectangle while
// there is text, the field is emptied, becomes first responder and sends its action and its
// text-change handler; in the search button rectangle it becomes first responder and sends
// its action; elsewhere they go to the line edit. Return in the line edit sends the action;
// every edit by the user calls the text-change handler. The right-click menu is the reduced
// edit menu (CustomTextField::createTextFieldMenuFrom).
//
// The cell's string value and first-responder status follow the line edit's text and the
// keyboard focus, and the view redraws when either changes. Main thread only.
class SearchTextField : public EmbeddedWidgetView
{
public:
    using Handler = std::function<void(SearchTextField& field)>;

    static constexpr double DefaultWidth = 326.0;
    static constexpr double DefaultHeight = 22.0;

    explicit SearchTextField(quint64 style = 0);
    ~SearchTextField() override;
    // Frame (0, 0, 326, 22), the cell's style set, no focus ring.
    static std::shared_ptr<SearchTextField> createWithStyle(quint64 style);

    QString className() const override;

    MyCell& cell() { return mCell; }
    const MyCell& cell() const { return mCell; }

    QString text() const;
    void setText(const QString& text);
    QString placeholderString() const;
    void setPlaceholderString(const QString& placeholder);

    void setAction(Handler action) { mAction = std::move(action); }
    void setTextDidChangeHandler(Handler handler) { mTextDidChange = std::move(handler); }

    // The reduced edit menu of `menu`.
    virtual std::shared_ptr<Menu> textViewMenu(const std::shared_ptr<Menu>& menu, const Event& event,
                                               qsizetype index);
    std::shared_ptr<Menu> menuForEvent(const Event& event) override;

    // The line edit takes the cell's text rectangle, and the face is redrawn.
    void setFrame(const Rect& frame) override;
    void drawRect(const Rect& dirtyRect, GraphicsContext& context) override;
    void mouseDown(const Event& event) override;
    bool becomeFirstResponder() override;
    bool resignFirstResponder() override;

    // Brings the cell's string value and first-responder status up to date (and redraws when
    // they changed).
    void updateCell();

private:
    class Watcher;

    void clear();
    void sendAction();
    void sendTextDidChange();

    MyCell mCell;
    std::unique_ptr<Watcher> mWatcher;
    Handler mAction;
    Handler mTextDidChange;
};

} // namespace corvex
