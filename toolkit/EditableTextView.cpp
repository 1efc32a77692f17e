#include "toolkit/EditableTextView.h"

#include "platform/ui/Menu.h"
#include "toolkit/CustomTextField.h"
#include "toolkit/TextFieldEditMenu.h"

#include <QAbstractTextDocumentLayout>
#include <QScopedValueRollback>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>
#include <QTextFrame>
#include <algorithm>

namespace corvex {

EditableTextView::EditableTextView() : EmbeddedWidgetView(std::make_unique<QTextEdit>())
{
    QTextEdit* edit = textEdit();
    edit->setAcceptRichText(false);
    edit->setUndoRedoEnabled(true);
    edit->setFrameStyle(0);
    edit->setLineWrapMode(QTextEdit::WidgetWidth);
    edit->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    edit->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    edit->setTabChangesFocus(false);
    QObject::connect(edit, &QTextEdit::cursorPositionChanged, edit, [this] {
        if (mSelectionChanged)
            mSelectionChanged();
    });
    QObject::connect(edit->document(), &QTextDocument::contentsChange, edit,
                     [this](int position, int, int added) { cutPastMaximum(position, added); });
    TextFieldEditMenu::attach(*this);
}

void EditableTextView::cutPastMaximum(int position, int added)
{
    QTextEdit* edit = textEdit();
    if (mMaximumLength <= 0 || added <= 0 || mCutting || !edit)
        return;
    QTextDocument* document = edit->document();
    // The document counts one more than the text: the paragraph separator after the last line.
    const qsizetype excess = qsizetype(document->characterCount() - 1) - mMaximumLength;
    if (excess <= 0)
        return;
    int end = position + added;
    int start = int(std::max<qsizetype>(position, end - excess));
    // Half a surrogate pair is no character: the cut takes the whole pair.
    if (start > position && document->characterAt(start).isLowSurrogate())
        --start;
    const QScopedValueRollback cutting(mCutting, true);
    QTextCursor cursor(document);
    cursor.joinPreviousEditBlock();
    cursor.setPosition(start);
    cursor.setPosition(end, QTextCursor::KeepAnchor);
    cursor.removeSelectedText();
    cursor.endEditBlock();
}

EditableTextView::~EditableTextView() = default;

std::shared_ptr<EditableTextView> EditableTextView::create()
{
    return std::make_shared<EditableTextView>();
}

QString EditableTextView::className() const
{
    return QStringLiteral("EditableTextView");
}

QTextEdit* EditableTextView::textEdit() const
{
    return qobject_cast<QTextEdit*>(widget());
}

QString EditableTextView::text() const
{
    // toPlainText turns non-breaking spaces into plain ones: the document's raw text keeps
    // what was typed, with its paragraph separators made line feeds again.
    const QTextEdit* edit = textEdit();
    if (!edit)
        return QString();
    QString raw = edit->document()->toRawText();
    raw.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
    return raw;
}

void EditableTextView::setText(const QString& text)
{
    if (QTextEdit* edit = textEdit()) {
        edit->setPlainText(text);
        applyInset();
    }
}

void EditableTextView::applyInset()
{
    QTextEdit* edit = textEdit();
    if (!edit)
        return;
    QTextFrame* root = edit->document()->rootFrame();
    QTextFrameFormat format = root->frameFormat();
    format.setMargin(0);
    format.setLeftMargin(mInset.width);
    format.setRightMargin(mInset.width);
    format.setTopMargin(mInset.height);
    format.setBottomMargin(mInset.height);
    root->setFrameFormat(format);
}

void EditableTextView::setTextContainerInset(Size inset)
{
    mInset = inset;
    applyInset();
}

double EditableTextView::usedHeight() const
{
    const QTextEdit* edit = textEdit();
    if (!edit)
        return 0;
    // The layout the widget keeps: measuring costs nothing however long the text is.
    const double height = edit->document()->documentLayout()->documentSize().height();
    return std::max(0.0, height - 2 * mInset.height);
}

void EditableTextView::moveToBeginningOfDocument()
{
    if (QTextEdit* edit = textEdit())
        edit->moveCursor(QTextCursor::Start);
}

std::shared_ptr<Menu> EditableTextView::menuForEvent(const Event&)
{
    QTextEdit* edit = textEdit();
    if (!edit)
        return nullptr;
    return CustomTextField::createTextFieldMenuFrom(TextFieldEditMenu::standardMenu(*edit));
}

} // namespace corvex
