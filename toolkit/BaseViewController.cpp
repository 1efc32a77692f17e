#include "toolkit/BaseViewController.h"

#include "model/Globals.h"
#include "model/Idea.h"
#include "model/MyResult.h"
#include "platform/core/Log.h"
#include "platform/ui/FilePanelRunner.h"
#include "platform/ui/Runners.h"
#include "platform/ui/View.h"
#include "storage/PersistenceController.h"
#include "toolkit/CustomAlertView.h"
#include "toolkit/FileOpeningMessages.h"

namespace corvex {

const QString BaseViewController::ShowingAlertOperation = QStringLiteral("ShowingAlert");

BaseViewController::BaseViewController() = default;

BaseViewController::~BaseViewController() = default;

std::shared_ptr<BaseViewController> BaseViewController::create()
{
    return std::make_shared<BaseViewController>();
}

ValueDictionary BaseViewController::createState()
{
    return ValueDictionary();
}

bool BaseViewController::restoreFromState(const ValueDictionary&)
{
    return true;
}

bool BaseViewController::validateUserInterfaceItem(const MenuItem&)
{
    return true;
}

bool BaseViewController::respondsToAction(const QString& actionId) const
{
    return mMenuActions.contains(actionId);
}

bool BaseViewController::validateAction(const QString&, const MenuItem& item)
{
    return validateUserInterfaceItem(item);
}

void BaseViewController::performAction(const QString& actionId, MenuItem&)
{
    const auto it = mMenuActions.constFind(actionId);
    if (it != mMenuActions.constEnd() && *it)
        (*it)();
}

void BaseViewController::addMenuAction(const QString& actionId, std::function<void()> perform)
{
    mMenuActions.insert(actionId, std::move(perform));
}

bool BaseViewController::startClosingCanCloseNow()
{
    return true;
}

std::optional<BaseViewController::UnsavedChanges> BaseViewController::unsavedChanges() const
{
    return std::nullopt;
}

void BaseViewController::becameTopLevelController() {}

void BaseViewController::reactToStateChange() {}

bool BaseViewController::canWeSafelyDeleteIdea(const QString&, const QString&)
{
    return true;
}

Window* BaseViewController::myWindow() const
{
    // Asking must not load the view: a view not loaded is in no window.
    const std::shared_ptr<View>& view = viewIfLoaded();
    return view ? view->window() : nullptr;
}

void BaseViewController::occupyScreen(const QString& operation)
{
    if (operation.isNull() || screenOccupied())
        return;
    mCurrentOccupyingOperation = operation;
    reactToStateChange();
}

void BaseViewController::liberateScreen(const QString& operation)
{
    if (!screenOccupied())
        Log::assertionFailure(QStringLiteral("ERROR: Screen is already liberated"));
    else if (operation.isNull())
        Log::assertionFailure(QStringLiteral("ERROR: operation==nil"));
    else if (operation != mCurrentOccupyingOperation)
        Log::assertionFailure(QStringLiteral("ERROR: operation!=mCurrentOccupyingOperation"));
    mCurrentOccupyingOperation = QString();
    reactToStateChange();
}

void BaseViewController::showCloseAlert(const QString& title, const QString& message,
                                        std::function<void()> closed)
{
    CustomAlertView alert(title, message);
    alert.addButton(Globals::normalLocalizedStringForKey(QStringLiteral("Choice.Close"), QString()),
                    CAVButton::NormalType, std::move(closed));
    alert.showFromWindow(myWindow());
}

void BaseViewController::showSimpleAlertViewWithTitle(const QString& title, const QString& message)
{
    if (screenOccupied())
        return;
    occupyScreen(ShowingAlertOperation);
    reactToStateChange();
    // The alert is modal: the block runs before this returns, while the caller still holds
    // this controller.
    showCloseAlert(title, message, [this] {
        liberateScreen(ShowingAlertOperation);
        reactToStateChange();
    });
}

void BaseViewController::showNonblockingAlertViewWithTitle(const QString& title, const QString& message)
{
    showCloseAlert(title, message, [this] { reactToStateChange(); });
}

void BaseViewController::startImportingLocalFileOnCompletion(ImportCompletion completion)
{
    FilePanelRunner::OpenPanel panel;
    panel.allowedFileTypes = QStringList{QStringLiteral("corvex"), QStringLiteral("opml")};
    panel.directory = FilePanelRunner::desktopDirectory();
    const std::shared_ptr<FilePanelRunner> runner = Runners::filePanelRunner();
    // Shared by the panel's answer and the import's: one of them answers it, or Cancel drops it.
    auto pending = std::make_shared<ImportCompletion>(std::move(completion));
    runner->beginOpenPanel(panel, myWindow(), [pending](int response, const QList<QUrl>& urls) {
        if (response != FilePanelRunner::OK) {
            // A cancelled panel imports nothing and owes its caller no answer.
            pending->drop();
            return;
        }
        const QUrl url = urls.isEmpty() ? QUrl() : urls.first();
        PersistenceController::singleton().importAndStoreDocument(
            url, [pending, url](const Result<PersistenceController::ImportedDocument>& imported) {
                if (!imported.ok()) {
                    CustomAlertView::showErrorResult(FileOpeningMessages::failedToOpen(imported.error()));
                    (*pending)(nullptr, QString());
                    return;
                }
                const PersistenceController::ImportedDocument& document = imported.value();
                (*pending)(document.idea, document.docIdentifier);
                if (!document.incompleteReading.isEmpty())
                    FileOpeningMessages::showPartlyRead(
                        url.fileName(), document.idea->calculateWholeTreeSize(), document.incompleteReading);
            });
    });
}

} // namespace corvex
