// The one assembly: after it and the start-up, every seam the screens reach the rest of the
// application through has something registered. A seam the assembly forgets is a feature no
// user can reach, however well its own tests pass.

#include "editor/WebPageView.h"
#include "export/WebExportPreview.h"
#include "mindmap/ExportAndPrintSeams.h"
#include "mindmap/MindMapScreenSeams.h"
#include "mindmap/NoteHoverUtility.h"
#include "model/Idea.h"
#include "platform/core/AlertPresenter.h"
#include "platform/core/LaunchSeams.h"
#include "platform/ui/Runners.h"
#include "platform/ui/View.h"
#include "tests/app/AppJourney.h"
#include "toolkit/ScreenFactory.h"

#include <QDateTime>

namespace corvex::test {

namespace {

class Assembly : public AppJourney
{};

// A delegate of nothing, for asking the editor factory for its editors.
class NoDelegate final : public PictureViewerDelegate, public WebLinkEditorDelegate
{
public:
    void pleaseDismissPictureView(ViewController&) override {}
    void pleaseDismissHTMLPageView(ViewController&) override {}
};

} // namespace

TEST_F(Assembly, FillsEverySeamTheScreensUse)
{
    ASSERT_TRUE(launch());

    // Presenters and runners.
    EXPECT_TRUE(View::hasContextMenuPresenter()) << "no context menu presenter: no right-click menu anywhere";
    EXPECT_NE(AlertPresenter::registered(), nullptr) << "no alert presenter";
    EXPECT_NE(Runners::alertRunner(), nullptr);
    EXPECT_NE(Runners::filePanelRunner(), nullptr);
    EXPECT_NE(Runners::menuRunner(), nullptr);
    EXPECT_NE(DropboxSignInService::registered(), nullptr) << "no Dropbox sign-in service";
    EXPECT_TRUE(ReportingKitLaunch::hasHook()) << "no reporting kit";

    // The screens and what they make through their seams.
    EXPECT_TRUE(ScreenFactory::hasScreen(QStringLiteral("HomeViewController")));
    EXPECT_TRUE(ScreenFactory::hasScreen(QStringLiteral("SolarSystemViewController")));
    EXPECT_NE(TopBarServices::create(), nullptr) << "no top bar";
    const std::shared_ptr<EditorFactory> editors = EditorFactory::current();
    ASSERT_NE(editors, nullptr) << "no editor factory";
    auto nobody = std::make_shared<NoDelegate>();
    EXPECT_NE(editors->makeIdeaEditor(), nullptr) << "no idea editor";
    EXPECT_NE(editors->makePictureViewer(nobody, {}), nullptr) << "no picture viewer";
    EXPECT_NE(editors->makeWebLinkEditor(nobody, QString()), nullptr) << "no web-link editor";
    EXPECT_TRUE(WebPageView::hasFactory()) << "no web page view";
    EXPECT_TRUE(NoteHoverUtility::hasFactory()) << "no note hover";
    EXPECT_NE(OverviewGraph::create(), nullptr) << "no overview graph";
    const IdeaPtr root = Idea::initWithText(QStringLiteral("Root"));
    EXPECT_NE(MapPrinter::create(root, QDateTime::currentDateTimeUtc()), nullptr) << "no map printer";
    EXPECT_NE(ExportScreen::create(root, 0, QDateTime::currentDateTimeUtc()), nullptr) << "no export screen";
    EXPECT_TRUE(static_cast<bool>(WebExportPreview::renderer())) << "no web export preview";
}

} // namespace corvex::test
