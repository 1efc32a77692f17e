#pragma once

#include "platform/core/Completion.h"
#include "platform/core/Result.h"
#include "toolkit/BaseView.h"
#include "toolkit/ButtonViewDelegate.h"
#include "toolkit/UserInteractionProtocol.h"

#include <QByteArray>
#include <QString>
#include <QUrl>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

namespace corvex {

class ButtonView;
class Idea;
class RoundedTextButton;
class ShareTypeViewDelegate;
class TabItem;
class TextView;

// One pane of the export dialog: a description, options as checkboxes, and three buttons:
// "Export ..." writes the file to a place chosen in a save panel, "Send via email ..." writes
// it into the temporary location's folder and hands it to the mail program (EmailOpener),
// "Cancel" closes the dialog. Subclasses describe their form (Form) and write the file of the
// root of the delegate's idea.
//
// While a write runs the buttons do nothing. A write that fails logs the assertion line and
// its error, leaves the dialog open with working buttons and tells the user in an alert that
// names the file and why; every writer goes through SaveFile, so an existing file stays as it
// was. A written
// export the mail program does not take is named in an alert too.
//
// Construction is in two phases: makePane() constructs, prepares the view and then runs
// initWithDelegate, which adds the views. Main thread only.
class ShareTypeView : public BaseView, public UserInteractionProtocol, public ButtonViewDelegate
{
public:
    // Success, or an ExportProblems error naming the file and why it was not written.
    using Completion = corvex::Completion<const Status&>;

    static constexpr double ButtonWidth = 150;
    static constexpr double ContentLeft = 80;
    static constexpr double DescriptionTop = 36;
    static constexpr double DescriptionWidth = 440;
    static constexpr double ExplanationWidth = 300;
    static constexpr double CheckboxSide = 28;

    // What tells the forms apart: the tab, the description, the suffix and the options
    // (checkbox labels with their initial states), each option in a row of its own.
    struct Form
    {
        quint64 shareType = 0;
        QString tabImage;
        QString tabTitle;
        QString description;
        QString suffix;
        std::vector<std::pair<QString, bool>> options = {};
        // The option labels shrink to their text rather than keep the explanation width.
        bool shrinkOptionLabels = false;
    };

    // Unprepared: use makePane.
    ShareTypeView(std::weak_ptr<ShareTypeViewDelegate> delegate, Form form);
    ~ShareTypeView() override;

    template <class T> static std::shared_ptr<T> makePane(std::weak_ptr<ShareTypeViewDelegate> delegate)
    {
        auto pane = BaseView::make<T>(std::move(delegate));
        static_cast<ShareTypeView&>(*pane).initWithDelegate();
        return pane;
    }

    // ---- What each pane answers
    // The form's tab.
    std::shared_ptr<TabItem> createTabItem();
    // The form's suffix.
    virtual QString fileTypeSuffix() const;
    // Writes the export to the local file at `url`; the completion runs once, later, on the
    // main queue. The base fails: there is nothing to export.
    virtual void saveToFileAtURL(const QUrl& url, Completion completion);

    // ---- Actions
    // The save panel, then the pane's write.
    void saveToFile();
    // The write into the temporary location's folder, then the mail program.
    void shareViaEmail();
    // Writes the bytes to the URL's local file atomically; the completion runs later, on the
    // main queue, with the outcome.
    static void saveData(const QByteArray& data, const QUrl& url, Completion completion);
    // A save panel on the pane's window for files of the suffix, starting in the desktop
    // folder with the name proposed; the completion gets the chosen file, or an empty URL.
    void presentSaveDestinationChooserWithProposedName(const QString& name, const QString& suffix,
                                                       corvex::Completion<const QUrl&> completion);
    // The root's export file name for the suffix, with what makes a name odd taken out: the
    // characters that reorder text (a reversed "fdp.exe" would pass for "exe.pdf") and leading
    // points (a hidden file).
    static QString proposedFileName(const std::shared_ptr<Idea>& root, const QString& suffix);

    // ---- Buttons
    void roundedTextButtonPressed(RoundedTextButton& button);
    // A checkbox flips.
    void buttonPressed(ButtonView& button) override;
    bool userInteractionEnabled() const override { return mUserInteractionEnabled; }
    void setUserInteractionEnabled(bool enabled) override { mUserInteractionEnabled = enabled; }

    std::shared_ptr<ShareTypeViewDelegate> delegate() const { return mDelegate.lock(); }
    const std::shared_ptr<RoundedTextButton>& exportButton() const { return mExportButton; }
    const std::shared_ptr<RoundedTextButton>& shareButton() const { return mShareButton; }
    const std::shared_ptr<RoundedTextButton>& cancelButton() const { return mCancelButton; }
    // The description; null before initWithDelegate.
    const std::shared_ptr<TextView>& descriptionView() const { return mDescriptionView; }
    // The option's checkbox and label, in the form's order; null for an index out of range.
    std::shared_ptr<ButtonView> optionButton(std::size_t index) const;
    std::shared_ptr<TextView> optionLabel(std::size_t index) const;

    // Places the description, each option row below the one before it, and the buttons:
    // "Cancel" 10 points above the bottom, the other two 10 points above it, side by side.
    void applyLayout() override;

protected:
    // The buttons, the description and the options.
    void initWithDelegate();

    // The root of the delegate's idea; null (logged) without one.
    std::shared_ptr<Idea> exportedRoot() const;
    // Hands the outcome to the completion, which answers on its queue, never inside the
    // caller's call.
    static void deliver(Completion completion, const Status& written);

private:
    // The building blocks of initWithDelegate.
    std::shared_ptr<RoundedTextButton> addButtonWithTitle(const QString& title, bool isCancel);
    std::shared_ptr<TextView> addDescriptionView(const QString& text);
    std::shared_ptr<ButtonView> addCheckbox();
    std::shared_ptr<TextView> addCheckboxExplanation(const QString& text);
    // The description's top-left corner at (80, 36).
    void placeDescription();
    // A checkbox row below `above`: the label's top-left corner 24 points below its bottom
    // edge at x 120, the checkbox's middle-left point at (80, the label's middle).
    static void placeCheckboxRow(View& checkbox, View& label, const View& above);
    // The end of a write started by a button: success closes the dialog (export) or hands
    // the file to the mail program (e-mail); failure is logged and shown.
    void writeEnded(const Status& written, const QUrl& url, bool forMail);
    void showAlert(const QString& title, const QString& message) const;

    struct Option
    {
        std::shared_ptr<ButtonView> checkbox;
        std::shared_ptr<TextView> label;
    };

    std::weak_ptr<ShareTypeViewDelegate> mDelegate;
    Form mForm;
    std::vector<Option> mOptions;
    std::shared_ptr<RoundedTextButton> mExportButton;
    std::shared_ptr<RoundedTextButton> mShareButton;
    std::shared_ptr<RoundedTextButton> mCancelButton;
    std::shared_ptr<TextView> mDescriptionView;
    bool mUserInteractionEnabled = false;
};

} // namespace corvex
