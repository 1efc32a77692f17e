#pragma once

#include "export/ShareTypeViewDelegate.h"
#include "mindmap/ExportAndPrintSeams.h"
#include "toolkit/ButtonViewDelegate.h"
#include "toolkit/Layouter.h"
#include "toolkit/ScreenProtectorViewDelegate.h"

#include <QDateTime>
#include <limits>
#include <memory>
#include <vector>

namespace corvex {

class ColoredView;
class ShareTypeView;
class TabItem;

// The export dialog: a grey strip of seven tabs over one pane per form of export (own
// format, PDF, presentation, text, image, web, OPML, in this order from the left). A tab
// shows its pane; the PDF pane is shown unless another share type is selected. Escape, a
// click outside the dialog and every pane's "Cancel" ask the delegate to dismiss it, once.
// The mind-map screen presents it through the ExportScreen seam (registerExportScreen).
// Main thread only.
class SharingViewController final : public ExportScreen,
                                    public ShareTypeViewDelegate,
                                    public ButtonViewDelegate,
                                    public Layouter,
                                    public ScreenProtectorViewDelegate
{
public:
    static constexpr double TopAreaHeight = 112;
    static constexpr double TabWidth = 180;
    // The index of a share type without a tab.
    static constexpr qint64 NotFound = std::numeric_limits<qint64>::max();

    static std::shared_ptr<SharingViewController> initWithIdea(const IdeaPtr& idea, StorageLocation location,
                                                               const QDateTime& lastModified);
    SharingViewController(IdeaPtr idea, StorageLocation location, QDateTime lastModified);
    ~SharingViewController() override;

    // ---- ExportScreen
    // Loads the view first, so a type chosen before the presentation wins over PDF.
    void selectShareType(quint64 shareType) override;
    void setDelegate(std::weak_ptr<ExportScreenDelegate> delegate) override;
    void screenProtectorWasClicked() override;

    // ---- ShareTypeViewDelegate
    void pleaseClose() override;
    IdeaPtr idea() const override { return mIdea; }
    StorageLocation location() const override { return mLocation; }
    QDateTime lastModified() const override { return mLastModified; }
    void showExportAlert(const QString& title, const QString& message) override;

    // A tab selects its share type.
    void buttonPressed(ButtonView& button) override;
    void applyLayout() override;
    void cancelOperation();
    void keyDown(const Event& event) override;
    bool acceptsFirstResponder() const override { return true; }
    void viewDidAppear() override;

    // The index of the first tab of the share type, or NotFound.
    qint64 indexOfShareType(quint64 shareType) const;
    qint64 currentShareTypeIndex() const { return mCurrentShareTypeIdx; }
    const std::vector<std::shared_ptr<TabItem>>& tabButtons() const { return mTabButtons; }
    const std::vector<std::shared_ptr<ShareTypeView>>& shareTypes() const { return mShareTypes; }
    // The pane of the share type; null when it has none.
    std::shared_ptr<ShareTypeView> shareTypeView(quint64 shareType) const;

protected:
    void loadView() override;

private:
    void addShareType(const std::shared_ptr<ShareTypeView>& pane);
    void handleDismissal();

    std::shared_ptr<ColoredView> mTopAreaView;
    std::vector<std::shared_ptr<TabItem>> mTabButtons;
    std::vector<std::shared_ptr<ShareTypeView>> mShareTypes;
    qint64 mCurrentShareTypeIdx = NotFound;
    IdeaPtr mIdea;
    StorageLocation mLocation = 0;
    QDateTime mLastModified;
    std::weak_ptr<ExportScreenDelegate> mDelegate;
    bool mDismissalAsked = false;
};

// Fills the mind-map screen's export seam with the export dialog. Called once at start-up
// (tests call it themselves).
void registerExportScreen();

} // namespace corvex
