#include "editor/IdeaTextEditTabView.h"

#include "editor/EditIdeaTabDelegate.h"
#include "editor/EditIdeaViewController.h"
#include "editor/NoteScrollView.h"
#include "editor/NoteSpellChecker.h"
#include "model/Globals.h"
#include "model/IdeaDocumentDataObject.h"
#include "model/IdeaValues.h"
#include "platform/core/MainQueue.h"
#include "platform/gfx/PlatformFont.h"
#include "platform/gfx/PlatformImage.h"
#include "platform/ui/Window.h"
#include "toolkit/ButtonView.h"
#include "toolkit/CustomInnerTextField.h"
#include "toolkit/CustomTextField.h"
#include "toolkit/EditableTextView.h"
#include "toolkit/TextCommandHook.h"
#include "toolkit/ViewExtensions.h"

#include <QLineEdit>
#include <QTextEdit>

namespace corvex {

namespace {

PlatformFont textTabFont()
{
    return PlatformFont::fontWithName(QStringLiteral("Helvetica"), 14);
}

} // namespace

IdeaTextEditTabView::IdeaTextEditTabView() = default;
IdeaTextEditTabView::~IdeaTextEditTabView() = default;

std::shared_ptr<IdeaTextEditTabView> IdeaTextEditTabView::create()
{
    auto tab = BaseView::make<IdeaTextEditTabView>();
    tab->prepareTextTab();
    return tab;
}

QString IdeaTextEditTabView::className() const
{
    return QStringLiteral("IdeaTextEditTabView");
}

void IdeaTextEditTabView::prepareTextTab()
{
    mTitleTextField = CustomTextField::create();
    if (QLineEdit* edit = mTitleTextField->field()->lineEdit()) {
        edit->setPlaceholderText(
            Globals::normalLocalizedStringForKey(QStringLiteral("TitleEditField:Placeholder"), QString()));
        edit->setFont(textTabFont().qfont());
    }
    std::weak_ptr<IdeaTextEditTabView> weak = sharedAs<IdeaTextEditTabView>();
    mTitleTextField->field()->setCommandHandler([weak](const QString& command) {
        const auto self = weak.lock();
        return self && self->titleCommand(command);
    });
    mNoteButton =
        ButtonView::createWithImage(PlatformImage::imageNamed(QStringLiteral("add_note_icon")),
                                    PlatformImage::imageNamed(QStringLiteral("add_note_icon_active")));
    mNoteButton->setDelegate(std::static_pointer_cast<ButtonViewDelegate>(sharedAs<IdeaTextEditTabView>()));
    mNoteButton->setDebugTag(QStringLiteral("mNoteButton"));
    addSubview(mTitleTextField);
    addSubview(mNoteButton);
    forceDirtyLayout();
}

QString IdeaTextEditTabView::selectedTitleText() const
{
    return mTitleTextField->text();
}

QString IdeaTextEditTabView::selectedNoteText() const
{
    return mNoteView ? mNoteView->text() : QString();
}

void IdeaTextEditTabView::reloadFrom(EditIdeaViewController& controller, bool)
{
    const IdeaValues& values = controller.values();
    const QString note = values.text(IdeaMember::Note);
    if (!note.isEmpty()) {
        ensureExtendedPortion();
        mNoteView->setText(note);
        checkSpelling();
        ensureNoteViewSize();
    } else {
        dropExtendedPortion();
    }
    const QString title = values.text(IdeaMember::Text);
    mTitleTextField->setText(title.isNull() ? QStringLiteral("") : title);
}

void IdeaTextEditTabView::storeValues(IdeaValues& values) const
{
    values.set(IdeaMember::Text, selectedTitleText());
    values.set(IdeaMember::Note, selectedNoteText());
}

void IdeaTextEditTabView::activate()
{
    Window* window = this->window();
    if (window)
        window->makeFirstResponder(mTitleTextField->field().get());
    if (QLineEdit* edit = mTitleTextField->field()->lineEdit()) {
        edit->selectAll();
        edit->end(false);
    }
}

void IdeaTextEditTabView::buttonPressed(ButtonView& button)
{
    if (&button == mNoteButton.get())
        switchToExtendedMode();
}

bool IdeaTextEditTabView::titleCommand(const QString& command)
{
    if (command == TextCommandHook::InsertNewline) {
        if (const auto delegate = mDelegate.lock())
            delegate->pleaseCloseEditView();
        return true;
    }
    if (command == TextCommandHook::InsertTab) {
        // Queued, so that the field's key handling ends before the focus moves.
        std::weak_ptr<IdeaTextEditTabView> weak = sharedAs<IdeaTextEditTabView>();
        MainQueue::post([weak] {
            if (const auto self = weak.lock())
                self->switchFromTitleFieldToNote();
        });
        return true;
    }
    return false;
}

void IdeaTextEditTabView::ensureExtendedPortion()
{
    if (mNoteView)
        return;
    mNoteButton->setHidden(true);
    mNoteScrollView = NoteScrollView::create();
    addSubview(mNoteScrollView);
    mNoteView = EditableTextView::create();
    mNoteView->setTextContainerInset(Size(5, 3));
    // A note past the bound would make a document no reader opens.
    mNoteView->setMaximumLength(IdeaDocumentDataObject::MaxNoteLength);
    if (QTextEdit* edit = mNoteView->textEdit()) {
        edit->setFont(textTabFont().qfont());
        mSpellChecker = std::make_unique<NoteSpellChecker>(nullptr);
    }
    std::weak_ptr<IdeaTextEditTabView> weak = sharedAs<IdeaTextEditTabView>();
    mNoteView->setSelectionChangedHandler([weak] {
        if (const auto self = weak.lock())
            self->ensureNoteViewSize();
    });
    mNoteScrollView->setDocumentView(mNoteView);
    forceDirtyLayout();
}

void IdeaTextEditTabView::dropExtendedPortion()
{
    mNoteButton->setHidden(false);
    if (mNoteScrollView)
        mNoteScrollView->removeFromSuperview();
    mNoteScrollView.reset();
    mSpellChecker.reset();
    mNoteView.reset();
    forceDirtyLayout();
}

void IdeaTextEditTabView::checkSpelling()
{
    QTextEdit* edit = mNoteView ? mNoteView->textEdit() : nullptr;
    if (!mSpellChecker || !edit)
        return;
    // Attached once the text is in (the checker checks it then), so a loaded note is
    // checked once; later reloads check it again.
    if (mSpellChecker->document() != edit->document())
        mSpellChecker->setDocument(edit->document());
    else
        mSpellChecker->checkTextInDocument();
}

void IdeaTextEditTabView::switchToExtendedMode()
{
    ensureExtendedPortion();
    checkSpelling();
    if (Window* window = this->window())
        window->makeFirstResponder(mNoteView.get());
    if (const auto delegate = mDelegate.lock())
        delegate->pleaseUpdateIdeaTextEditTabViewHeight();
}

void IdeaTextEditTabView::switchFromTitleFieldToNote()
{
    switchToExtendedMode();
    if (Window* window = this->window())
        window->makeFirstResponder(mNoteView.get());
    mNoteView->moveToBeginningOfDocument();
}

void IdeaTextEditTabView::ensureNoteViewSize()
{
    if (!mNoteView || !mNoteScrollView)
        return;
    // The note view scrolls its own text: it fills the area, and its used height tells how
    // tall the text is.
    mNoteUsedHeight = mNoteView->usedHeight() + 2 * mNoteView->textContainerInset().height;
}

void IdeaTextEditTabView::applyLayout()
{
    BaseView::applyLayout();
    const double width = bounds().size.width;
    if (!mNoteView) {
        mTitleTextField->setFrame(Rect(10, 20, width - 54, 26));
        const Rect title = mTitleTextField->frame();
        mNoteButton->setFrame(Rect(Point(), mNoteButton->frame().size));
        ViewExtensions::setCenter(*mNoteButton, Point(width - 22, title.midY() - 1));
        mNoteButton->setFrame(mNoteButton->frame().integral());
        return;
    }
    mTitleTextField->setFrame(Rect(10, 20, width - 20, 26));
    const double b = ViewExtensions::bottomFrameLine(*mTitleTextField);
    mNoteScrollView->setFrame(Rect(10, b + 10, width - 20, currentPreferredHeight() - (b + 20)));
    ensureNoteViewSize();
}

} // namespace corvex
