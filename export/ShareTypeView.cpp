#include "export/ShareTypeView.h"

#include "export/EmailOpener.h"
#include "export/ShareTypeViewDelegate.h"
#include "export/TabItem.h"
#include "formats/ExportProblems.h"
#include "model/Globals.h"
#include "model/Idea.h"
#include "platform/core/Log.h"
#include "platform/core/SaveFile.h"
#include "platform/ui/FilePanelRunner.h"
#include "platform/ui/Runners.h"
#include "storage/IdeaDocument.h"
#include "storage/PersistenceController.h"
#include "toolkit/ButtonView.h"
#include "toolkit/RoundedTextButton.h"
#include "toolkit/RoundedTextButtonDelegate.h"
#include "toolkit/TextView.h"
#include "toolkit/ViewExtensions.h"

namespace corvex {

namespace {

constexpr double kButtonGap = 10;
constexpr double kCheckboxLabelLeft = 120;
constexpr double kCheckboxRowGap = 24;
constexpr double kTextHeightStep = 12;

// Rounded text buttons hold their delegate strongly: this forwards to the pane weakly.
class ShareButtonForwarder final : public RoundedTextButtonDelegate
{
public:
    explicit ShareButtonForwarder(std::weak_ptr<View> pane) : mPane(std::move(pane)) {}
    void roundedTextButtonPressed(RoundedTextButton& button) override
    {
        if (auto pane = std::static_pointer_cast<ShareTypeView>(mPane.lock()))
            pane->roundedTextButtonPressed(button);
    }

private:
    std::weak_ptr<View> mPane;
};

// Characters that change the order in which text shows: embeddings, overrides, isolates and
// the direction marks.
bool reordersText(QChar c)
{
    const char16_t u = c.unicode();
    return u == 0x061C || u == 0x200E || u == 0x200F || (u >= 0x202A && u <= 0x202E) ||
           (u >= 0x2066 && u <= 0x2069);
}

// The reason alone: the alert names the file itself.
QString failureReason(const Error& error)
{
    const QString reason = error.localizedFailureReason();
    return reason.isEmpty() ? error.localizedDescription() : reason;
}

QString failedWriteTitle()
{
    return Globals::normalLocalizedStringForKey(QStringLiteral("mac:Error:FailedToWriteFile"),
                                                QStringLiteral("Failed to save file"));
}

} // namespace

ShareTypeView::ShareTypeView(std::weak_ptr<ShareTypeViewDelegate> delegate, Form form)
    : mDelegate(std::move(delegate)), mForm(std::move(form))
{}

ShareTypeView::~ShareTypeView() = default;

void ShareTypeView::initWithDelegate()
{
    mUserInteractionEnabled = true;
    mExportButton = addButtonWithTitle(
        Globals::normalUppercaseStringForKey(QString(), QStringLiteral("Export ...")), false);
    mShareButton = addButtonWithTitle(
        Globals::normalUppercaseStringForKey(QString(), QStringLiteral("Send via email ...")), false);
    mCancelButton =
        addButtonWithTitle(Globals::normalUppercaseStringForKey(QString(), QStringLiteral("Cancel")), true);
    addDescriptionView(mForm.description);
    for (const auto& [label, on] : mForm.options) {
        Option option{addCheckbox(), addCheckboxExplanation(label)};
        option.checkbox->setToggled(on);
        if (mForm.shrinkOptionLabels)
            option.label->sizeToFit();
        mOptions.push_back(std::move(option));
    }
}

std::shared_ptr<TabItem> ShareTypeView::createTabItem()
{
    return TabItem::initWithImage(mForm.tabImage, mForm.tabTitle, mForm.shareType);
}

QString ShareTypeView::fileTypeSuffix() const
{
    return mForm.suffix;
}

std::shared_ptr<ButtonView> ShareTypeView::optionButton(std::size_t index) const
{
    return index < mOptions.size() ? mOptions[index].checkbox : nullptr;
}

std::shared_ptr<TextView> ShareTypeView::optionLabel(std::size_t index) const
{
    return index < mOptions.size() ? mOptions[index].label : nullptr;
}

void ShareTypeView::saveToFileAtURL(const QUrl& url, Completion completion)
{
    deliver(std::move(completion), ExportProblems::make(ExportProblems::NothingToExport, url.toLocalFile(),
                                                        QStringLiteral("there is nothing to export.")));
}

void ShareTypeView::deliver(Completion completion, const Status& written)
{
    completion(written);
}

// ---- Building blocks

std::shared_ptr<RoundedTextButton> ShareTypeView::addButtonWithTitle(const QString& title, bool isCancel)
{
    auto button = RoundedTextButton::createWithDelegate(
        std::make_shared<ShareButtonForwarder>(weak_from_this()), isCancel ? 1 : 0);
    button->setButtonTitle(title);
    button->setFrame(Rect(0, 0, ButtonWidth, button->preferredHeight()));
    addSubview(button);
    return button;
}

std::shared_ptr<TextView> ShareTypeView::addDescriptionView(const QString& text)
{
    auto view = TextView::create();
    view->setTextColor(Globals::colorBlack());
    view->setLineSpacing(0);
    view->setLineHeightMultiple(1.0);
    view->setFont(Globals::fontAvenirBook(16));
    view->setKern(0.6);
    view->setText(text);
    view->sizeToFitWidth(DescriptionWidth);
    addSubview(view);
    ViewExtensions::ensureFrameHeightAsMultipleOf(*view, kTextHeightStep);
    mDescriptionView = view;
    return view;
}

std::shared_ptr<ButtonView> ShareTypeView::addCheckbox()
{
    auto checkbox = ButtonView::create();
    checkbox->addImage(PlatformImage::imageNamed(QStringLiteral("checkbox")), ButtonPart::ShownWhenNormal);
    checkbox->addImage(PlatformImage::imageNamed(QStringLiteral("checkbox_x")), ButtonPart::ShownWhenActive);
    checkbox->setFrame(Rect(0, 0, CheckboxSide, CheckboxSide));
    checkbox->setIsToggleButton(true);
    checkbox->setDelegate(std::dynamic_pointer_cast<ButtonViewDelegate>(shared_from_this()));
    addSubview(checkbox);
    return checkbox;
}

std::shared_ptr<TextView> ShareTypeView::addCheckboxExplanation(const QString& text)
{
    auto view = TextView::create();
    view->setFont(Globals::fontAvenirBook(16));
    view->setKern(-0.1);
    view->setText(text);
    view->sizeToFitWidth(ExplanationWidth);
    addSubview(view);
    ViewExtensions::ensureFrameHeightAsMultipleOf(*view, kTextHeightStep);
    return view;
}

void ShareTypeView::placeDescription()
{
    if (mDescriptionView)
        ViewExtensions::setTopLeftCorner(*mDescriptionView, Point(ContentLeft, DescriptionTop));
}

void ShareTypeView::placeCheckboxRow(View& checkbox, View& label, const View& above)
{
    ViewExtensions::setTopLeftCorner(
        label, Point(kCheckboxLabelLeft, ViewExtensions::bottomFrameLine(above) + kCheckboxRowGap));
    ViewExtensions::setMiddleLeftPosition(checkbox, Point(ContentLeft, label.frame().midY()));
}

void ShareTypeView::applyLayout()
{
    BaseView::applyLayout();
    if (!mCancelButton || !mDescriptionView)
        return;
    placeDescription();
    const View* above = mDescriptionView.get();
    for (const Option& option : mOptions) {
        placeCheckboxRow(*option.checkbox, *option.label, *above);
        above = option.label.get();
    }
    const double height = bounds().size.height;
    ViewExtensions::setBottomLeftCorner(*mCancelButton, Point(ContentLeft, height - kButtonGap));
    const double rowBottom = mCancelButton->frame().minY() - kButtonGap;
    ViewExtensions::setBottomLeftCorner(*mShareButton, Point(ContentLeft, rowBottom));
    ViewExtensions::setBottomLeftCorner(
        *mExportButton, Point(ViewExtensions::rightFrameLine(*mShareButton) + kButtonGap, rowBottom));
}

// ---- Buttons

void ShareTypeView::roundedTextButtonPressed(RoundedTextButton& button)
{
    if (!mUserInteractionEnabled)
        return;
    if (&button == mCancelButton.get()) {
        if (auto owner = delegate())
            owner->pleaseClose();
    } else if (&button == mShareButton.get()) {
        shareViaEmail();
    } else if (&button == mExportButton.get()) {
        saveToFile();
    }
}

void ShareTypeView::buttonPressed(ButtonView& button)
{
    button.setToggled(!button.toggled());
}

// ---- Export and e-mail

std::shared_ptr<Idea> ShareTypeView::exportedRoot() const
{
    const auto owner = delegate();
    const IdeaPtr idea = owner ? owner->idea() : nullptr;
    if (!idea)
        Log::assertionFailure(QStringLiteral("ShareTypeView: no idea to export"));
    return idea ? idea->root() : nullptr;
}

QString ShareTypeView::proposedFileName(const std::shared_ptr<Idea>& root, const QString& suffix)
{
    const QString exportName = root ? root->exportFileNameForType(suffix) : QString();
    const QString extension = QLatin1Char('.') + suffix;
    QString base = exportName.endsWith(extension) ? exportName.chopped(extension.size()) : exportName;
    base.removeIf(reordersText);
    while (base.startsWith(QLatin1Char('.')))
        base.remove(0, 1);
    if (base.isEmpty())
        base = QStringLiteral("document");
    return base + extension;
}

void ShareTypeView::presentSaveDestinationChooserWithProposedName(const QString& name, const QString& suffix,
                                                                  corvex::Completion<const QUrl&> completion)
{
    FilePanelRunner::SavePanel panel;
    panel.allowedFileTypes = QStringList{suffix};
    panel.directory = FilePanelRunner::desktopDirectory();
    panel.nameFieldStringValue = name;
    Runners::filePanelRunner()->beginSavePanel(
        panel, window(), [completion = std::move(completion)](int response, const QUrl& url) mutable {
            completion(response == FilePanelRunner::OK ? url : QUrl());
        });
}

void ShareTypeView::saveToFile()
{
    const QString suffix = fileTypeSuffix();
    const IdeaPtr root = exportedRoot();
    if (!root || suffix.isEmpty())
        return;
    setUserInteractionEnabled(false);
    std::weak_ptr<View> weak = weak_from_this();
    presentSaveDestinationChooserWithProposedName(
        proposedFileName(root, suffix), suffix, [weak](const QUrl& url) {
            auto self = std::static_pointer_cast<ShareTypeView>(weak.lock());
            if (!self)
                return;
            self->setUserInteractionEnabled(true);
            if (url.isEmpty())
                return;
            self->setUserInteractionEnabled(false);
            self->saveToFileAtURL(url, [weak, url](const Status& written) {
                if (auto pane = std::static_pointer_cast<ShareTypeView>(weak.lock()))
                    pane->writeEnded(written, url, false);
            });
        });
}

void ShareTypeView::shareViaEmail()
{
    const QString suffix = fileTypeSuffix();
    const IdeaPtr root = exportedRoot();
    if (!root || suffix.isEmpty())
        return;
    const auto carrier = IdeaDocument::initWithFileName(proposedFileName(root, suffix), 0);
    const QUrl url =
        PersistenceController::singleton().urlForLocalOrTempFileWithDocIdentifer(carrier->docIdentifier());
    if (url.isEmpty()) {
        Globals::raiseCorvexURLError(QStringLiteral("shareViaEmail"));
        return;
    }
    setUserInteractionEnabled(false);
    std::weak_ptr<View> weak = weak_from_this();
    saveToFileAtURL(url, [weak, url](const Status& written) {
        if (auto pane = std::static_pointer_cast<ShareTypeView>(weak.lock()))
            pane->writeEnded(written, url, true);
    });
}

void ShareTypeView::writeEnded(const Status& written, const QUrl& url, bool forMail)
{
    const QString path = url.toLocalFile();
    // The buttons work again after every write, also when the dialog stays (it may have been
    // dismissed already, and is then not asked again).
    setUserInteractionEnabled(true);
    if (!written) {
        Log::assertionFailure(__LINE__, forMail ? "-[ShareTypeView shareViaEmail]_block_invoke"
                                                : "-[ShareTypeView saveToFile]_block_invoke_2");
        Log::warning(QStringLiteral("ShareTypeView: %1").arg(written.error().toString()));
        showAlert(failedWriteTitle(), QStringLiteral("The export could not be written to \"%1\".\n\n%2")
                                          .arg(path, failureReason(written.error())));
        return;
    }
    if (!forMail) {
        if (auto owner = delegate())
            owner->pleaseClose();
        return;
    }
    std::weak_ptr<View> weak = weak_from_this();
    EmailOpener::current()->openFileInMail(path, [weak, path](bool opened) {
        auto self = std::static_pointer_cast<ShareTypeView>(weak.lock());
        if (opened || !self)
            return;
        self->showAlert(
            QStringLiteral("Could not open the mail program"),
            QStringLiteral("The export was written to \"%1\". Attach it to a message yourself.").arg(path));
    });
}

void ShareTypeView::showAlert(const QString& title, const QString& message) const
{
    if (auto owner = delegate())
        owner->showExportAlert(title, message);
    else
        Log::warning(title + QStringLiteral(": ") + message);
}

void ShareTypeView::saveData(const QByteArray& data, const QUrl& url, Completion completion)
{
    if (!url.isLocalFile()) {
        deliver(std::move(completion), ExportProblems::notALocalFile(url));
        return;
    }
    const QString path = url.toLocalFile();
    const Status written = SaveFile::writeAtomically(path, data, SaveFile::Kind::UserFile);
    deliver(std::move(completion),
            written ? written : Status(ExportProblems::notWritten(path, written.error())));
}

} // namespace corvex
