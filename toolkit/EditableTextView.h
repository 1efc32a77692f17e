#pragma once

#include "platform/ui/EmbeddedWidgetView.h"

#include <QString>
#include <functional>
#include <memory>

class QTextEdit;

namespace corvex {

class Menu;

// An editable multi-line text view over a live QTextEdit (EmbeddedWidgetView): plain text,
// undo and redo, a text inset, lines wrapped at the view's width and never scrolled
// sideways, and the reduced edit menu of the text fields (CustomTextField's) on a right
// click. It reports selection changes (the caret moving while the user types) to its
// handler. Main thread only.
class EditableTextView : public EmbeddedWidgetView
{
public:
    EditableTextView();
    ~EditableTextView() override;
    static std::shared_ptr<EditableTextView> create();
    QString className() const override;

    QTextEdit* textEdit() const;
    // The text exactly as typed (line feeds for line breaks).
    QString text() const;
    void setText(const QString& text);
    // Horizontal and vertical inset of the text inside the view.
    Size textContainerInset() const { return mInset; }
    void setTextContainerInset(Size inset);
    // The height the text takes as laid out at the view's width, insets excluded.
    double usedHeight() const;
    // The most UTF-16 units the text takes: what typing, pasting, dropping or setText would add
    // past it is cut off where it was put (never inside a surrogate pair), in the same undo
    // step. 0 (the default) for no bound.
    void setMaximumLength(qsizetype length) { mMaximumLength = length; }
    qsizetype maximumLength() const { return mMaximumLength; }
    // Moves the caret to the start of the text.
    void moveToBeginningOfDocument();
    void setSelectionChangedHandler(std::function<void()> handler) { mSelectionChanged = std::move(handler); }

    std::shared_ptr<Menu> menuForEvent(const Event& event) override;

private:
    void applyInset();
    void cutPastMaximum(int position, int added);

    Size mInset;
    qsizetype mMaximumLength = 0;
    bool mCutting = false;
    std::function<void()> mSelectionChanged;
};

} // namespace corvex
