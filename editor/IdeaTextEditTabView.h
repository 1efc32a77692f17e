#pragma once

#include "editor/EditIdeaViewSubordinate.h"
#include "toolkit/BaseView.h"
#include "toolkit/ButtonViewDelegate.h"

#include <QString>
#include <memory>

namespace corvex {

class ButtonView;
class CustomTextField;
class EditableTextView;
class IdeaTextEditTabViewDelegate;
class NoteScrollView;
class NoteSpellChecker;

// The editor's text tab: the title in a one-line field and, in extended mode, the note in a
// multi-line view below it (compact mode shows an add-note button beside the title instead).
// Return in the title closes the editor; Tab opens the note with the caret at its start.
// Construction in two phases: use create(). Main thread only.
class IdeaTextEditTabView : public BaseView, public ButtonViewDelegate, public EditIdeaViewSubordinate
{
public:
    static constexpr double CompactHeight = 62.0;
    static constexpr double ExtendedHeight = 320.0;

    IdeaTextEditTabView();
    ~IdeaTextEditTabView() override;
    static std::shared_ptr<IdeaTextEditTabView> create();
    QString className() const override;

    void setDelegate(const std::shared_ptr<IdeaTextEditTabViewDelegate>& delegate) { mDelegate = delegate; }

    QString selectedTitleText() const;
    // Null in compact mode.
    QString selectedNoteText() const;
    bool isExtended() const { return mNoteView != nullptr; }
    const std::shared_ptr<CustomTextField>& titleTextField() const { return mTitleTextField; }
    const std::shared_ptr<EditableTextView>& noteView() const { return mNoteView; }
    const std::shared_ptr<ButtonView>& noteButton() const { return mNoteButton; }
    NoteSpellChecker* spellChecker() const { return mSpellChecker.get(); }
    // The note view's height for its text (extended mode), as last measured.
    double noteViewUsedHeight() const { return mNoteUsedHeight; }

    // EditIdeaViewSubordinate
    void reloadFrom(EditIdeaViewController& controller, bool isInitialLoad) override;
    void storeValues(IdeaValues& values) const override;
    void activate() override;
    void deactivate() override {}
    double currentPreferredHeight() const override { return isExtended() ? ExtendedHeight : CompactHeight; }

    void buttonPressed(ButtonView& button) override;
    void applyLayout() override;

    // The title field's editing commands: Return closes, Tab moves to the note.
    bool titleCommand(const QString& command);
    void switchToExtendedMode();
    void switchFromTitleFieldToNote();

private:
    void prepareTextTab();
    void ensureExtendedPortion();
    void dropExtendedPortion();
    void ensureNoteViewSize();
    void checkSpelling();

    std::shared_ptr<CustomTextField> mTitleTextField;
    std::shared_ptr<NoteScrollView> mNoteScrollView;
    std::shared_ptr<EditableTextView> mNoteView;
    std::shared_ptr<ButtonView> mNoteButton;
    std::weak_ptr<IdeaTextEditTabViewDelegate> mDelegate;
    std::unique_ptr<NoteSpellChecker> mSpellChecker;
    double mNoteUsedHeight = 0;
};

} // namespace corvex
