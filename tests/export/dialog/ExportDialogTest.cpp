// The export dialog itself: which pane shows, the tab strip's layout, closing it, the clicks
// its tabs, checkboxes and buttons take, buttons that wait while a write runs, the dialog
// lowered over a screen, and the renderings of every pane under test-output/export-dialog/.

#include "export/ShareTypeView.h"
#include "export/TabItem.h"
#include "export/TextShareTypeView.h"
#include "model/Globals.h"
#include "platform/ui/Event.h"
#include "platform/ui/Window.h"
#include "tests/doubles/ui/ScriptedFilePanelRunner.h"
#include "tests/export/dialog/ExportDialogRig.h"
#include "tests/support/RunUntil.h"
#include "tests/support/TestEnvironment.h"
#include "tests/support/VirtualScheduler.h"
#include "toolkit/BaseImageView.h"
#include "toolkit/BaseViewController.h"
#include "toolkit/ButtonView.h"
#include "toolkit/ColoredView.h"
#include "toolkit/PartialViewTransitionAnimation.h"
#include "toolkit/RoundedTextButton.h"
#include "toolkit/ScreenProtectorView.h"
#include "toolkit/TextLabel.h"
#include "toolkit/TextView.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

namespace corvex::test {
namespace {

IdeaPtr smallTree()
{
    IdeaPtr root = Idea::initWithText(QStringLiteral("Garden"));
    (void)root->addIdea(Idea::initWithText(QStringLiteral("Beds")));
    return root;
}

// The tab's and the pane's visibility, one character per share type in tab order:
// "T" toggled tab over a shown pane, "-" neither, "?" when they disagree.
QString shownState(const SharingViewController& dialog)
{
    QString state;
    for (std::size_t i = 0; i < dialog.tabButtons().size(); ++i) {
        const bool toggled = dialog.tabButtons()[i]->toggled();
        const bool shown = !dialog.shareTypes()[i]->isHidden();
        state +=
            toggled && shown ? QLatin1Char('T') : (!toggled && !shown ? QLatin1Char('-') : QLatin1Char('?'));
    }
    return state;
}

Point centreInWindow(const View& view)
{
    const Rect frame = view.frame();
    return view.superview()->convertPointToView(Point(frame.midX(), frame.midY()), nullptr);
}

void click(Window& window, Point point)
{
    window.sendEvent(Event::mouseDown(point));
    window.sendEvent(Event::mouseUp(point));
}

TEST(ExportDialog, ShowsThePdfPaneUnlessAnotherTypeIsChosenAndNothingForATypeWithoutATab)
{
    DialogRig rig(smallTree());
    std::vector<quint64> order;
    QStringList titles;
    for (const auto& tab : rig.dialog->tabButtons()) {
        order.push_back(tab->shareType());
        titles.append(tab->titleLabel()->text());
    }
    EXPECT_EQ(order, (std::vector<quint64>{0, 1, 2, 3, 5, 6, 4}));
    EXPECT_EQ(titles, (QStringList{"Corvex", "PDF", "Presen-\ntation", "Text", "Image", "Web", "OPML"}));
    EXPECT_EQ(shownState(*rig.dialog), QStringLiteral("-T-----"));
    EXPECT_EQ(rig.dialog->shareTypes()[1]->exportButton()->label()->text(), QStringLiteral("EXPORT ..."));

    rig.dialog->selectShareType(ExportScreen::OPML);
    EXPECT_EQ(shownState(*rig.dialog), QStringLiteral("------T"));
    rig.dialog->selectShareType(9);
    EXPECT_EQ(rig.dialog->currentShareTypeIndex(), SharingViewController::NotFound);
    EXPECT_EQ(shownState(*rig.dialog), QStringLiteral("-------"));

    // Made through the mind-map screen's seam and given a type before the view exists: the
    // type wins over the PDF default.
    registerExportScreen();
    const IdeaPtr tree = smallTree();
    const auto made = std::dynamic_pointer_cast<SharingViewController>(
        ExportScreen::create(tree, 2, QDateTime(QDate(2025, 1, 2), QTime(3, 4), Qt::UTC)));
    ExportScreen::setFactory({});
    ASSERT_TRUE(made);
    EXPECT_FALSE(made->isViewLoaded());
    EXPECT_EQ(made->idea(), tree);
    EXPECT_EQ(made->location(), 2u);
    EXPECT_EQ(made->lastModified(), QDateTime(QDate(2025, 1, 2), QTime(3, 4), Qt::UTC));
    made->selectShareType(ExportScreen::OwnFormat);
    EXPECT_EQ(shownState(*made), QStringLiteral("T------"));
}

TEST(ExportDialog, TabsShareANarrowWindowEvenlyAndStand180WideFlushLeftInAWideOne)
{
    {
        DialogRig rig(smallTree(), 0, 1000);
        const double w = 1000.0 / 7;
        for (std::size_t i = 0; i < 7; ++i) {
            const auto& tab = rig.dialog->tabButtons()[i];
            EXPECT_NEAR(tab->frame().origin.x, double(i) * w, 1e-9);
            EXPECT_NEAR(tab->frame().size.width, w, 1e-9);
            EXPECT_EQ(tab->frame().size.height, SharingViewController::TopAreaHeight);
            // Under 162 points: the image alone, centred.
            EXPECT_EQ(tab->titleLabel()->alphaValue(), 0.0);
            EXPECT_NEAR(tab->imageView()->frame().midX(), w / 2, 1e-9);
        }
        EXPECT_EQ(rig.dialog->shareTypes()[0]->frame(), Rect(0, 112, 1000, 258));
        rig.render(QStringLiteral("narrow-pdf"));
    }
    DialogRig rig(smallTree(), 0, 1400);
    for (std::size_t i = 0; i < 7; ++i) {
        const auto& tab = rig.dialog->tabButtons()[i];
        EXPECT_EQ(tab->frame(), Rect(double(i) * 180, 0, 180, 112));
        EXPECT_EQ(tab->titleLabel()->alphaValue(), 1.0);
        EXPECT_EQ(tab->imageView()->frame().origin.x, TabItem::ImageInset);
        EXPECT_NEAR(tab->titleLabel()->frame().minX(), tab->imageView()->frame().maxX() + 10, 1e-9);
    }
    // The pane's buttons: "Cancel" 10 above the bottom, the other two 10 above it.
    const auto& pane = rig.dialog->shareTypes()[1];
    EXPECT_EQ(pane->cancelButton()->frame(), Rect(80, 258 - 10 - 28, 150, 28));
    EXPECT_EQ(pane->shareButton()->frame(), Rect(80, 258 - 10 - 28 - 10 - 28, 150, 28));
    EXPECT_EQ(pane->exportButton()->frame(), Rect(240, 258 - 10 - 28 - 10 - 28, 150, 28));
    EXPECT_EQ(pane->descriptionView()->frame().origin, Point(80, 36));
}

TEST(ExportDialog, EscapeAClickOutsideAndCancelCloseItOnceWithoutWriting)
{
    const std::function<void(DialogRig&)> closers[] = {
        [](DialogRig& rig) {
            rig.window->sendEvent(Event::keyDown(QStringLiteral("\x1b"), Event::KeyCodeEscape));
        },
        [](DialogRig& rig) { rig.dialog->screenProtectorWasClicked(); },
        [](DialogRig& rig) {
            const auto pane = rig.select(ExportScreen::Text);
            pane->roundedTextButtonPressed(*pane->cancelButton());
        },
    };
    for (const auto& close : closers) {
        DialogRig rig(smallTree());
        close(rig);
        close(rig);
        EXPECT_EQ(rig.dismissal->requests, 1);
        EXPECT_TRUE(rig.panels->presentedSaves().empty());
        EXPECT_TRUE(rig.mail->paths.isEmpty());
    }
}

TEST(ExportDialog, ClicksFlipCheckboxesAndSelectTabsASelectedTabStaysSelected)
{
    DialogRig rig(smallTree(), 0, 1260);
    const auto text =
        std::static_pointer_cast<TextShareTypeView>(rig.dialog->shareTypeView(ExportScreen::Text));
    click(*rig.window, centreInWindow(*rig.dialog->tabButtons()[3]));
    EXPECT_EQ(shownState(*rig.dialog), QStringLiteral("---T---"));
    click(*rig.window, centreInWindow(*rig.dialog->tabButtons()[3]));
    EXPECT_EQ(shownState(*rig.dialog), QStringLiteral("---T---"));

    EXPECT_TRUE(text->notesButton()->toggled());
    EXPECT_FALSE(text->htmlFormatButton()->toggled());
    EXPECT_EQ(text->fileTypeSuffix(), QStringLiteral("txt"));
    click(*rig.window, centreInWindow(*text->htmlFormatButton()));
    click(*rig.window, centreInWindow(*text->notesButton()));
    EXPECT_TRUE(text->htmlFormatButton()->toggled());
    EXPECT_FALSE(text->notesButton()->toggled());
    EXPECT_EQ(text->fileTypeSuffix(), QStringLiteral("html"));
    rig.render(QStringLiteral("text-options-flipped"));

    // A click on "Cancel" reports after its release delay.
    click(*rig.window, centreInWindow(*text->cancelButton()));
    EXPECT_TRUE(runUntil([&] { return rig.dismissal->requests == 1; }, 5));
}

TEST(ExportDialog, ButtonsWaitWhileAWriteRunsAndACancelledPanelFreesThem)
{
    DialogRig rig(smallTree());
    const auto pane = rig.select(ExportScreen::OPML);
    pane->roundedTextButtonPressed(*pane->exportButton());
    ASSERT_TRUE(runUntil([&] { return rig.panels->openPanels() == 1; }, 5));
    EXPECT_FALSE(pane->userInteractionEnabled());
    for (const auto& button : {pane->exportButton(), pane->shareButton(), pane->cancelButton()})
        pane->roundedTextButtonPressed(*button);
    QCoreApplication::processEvents();
    EXPECT_EQ(rig.panels->presentedSaves().size(), 1u);
    EXPECT_TRUE(rig.mail->paths.isEmpty());
    EXPECT_EQ(rig.dismissal->requests, 0);

    ASSERT_TRUE(rig.panels->respond(FilePanelRunner::Cancel));
    ASSERT_TRUE(runUntil([&] { return pane->userInteractionEnabled(); }, 5));
    EXPECT_EQ(rig.dismissal->requests, 0);
    pane->roundedTextButtonPressed(*pane->exportButton());
    EXPECT_TRUE(runUntil([&] { return rig.panels->presentedSaves().size() == 2u; }, 5));
    EXPECT_EQ(rig.panels->presentedSaves()[1].panel.nameFieldStringValue, QStringLiteral("Garden.opml"));
}

TEST(ExportDialog, EveryPaneRendersAndTheDialogLowersOverAScreen)
{
    DialogRig rig(smallTree(), 0, 1260);
    const char* names[] = {"corvex", "pdf", "presentation", "text", "image", "web", "opml"};
    const quint64 types[] = {0, 1, 2, 3, 5, 6, 4};
    for (int i = 0; i < 7; ++i) {
        rig.dialog->selectShareType(types[i]);
        const QImage image = rig.render(QStringLiteral("pane-") + QString::fromLatin1(names[i]));
        ASSERT_EQ(image.size(), QSize(1260, 370));
        // The selected tab is white, the others grey.
        EXPECT_EQ(image.pixelColor(i * 180 + 90, 4).rgb(), Globals::colorWhite().toQColor().rgb())
            << names[i];
        const int other = (i + 1) % 7;
        EXPECT_NE(image.pixelColor(other * 180 + 90, 4).rgb(), Globals::colorWhite().toQColor().rgb())
            << names[i];
    }

    // Presented over a screen: lowered from the top over a backdrop whose click closes it.
    ScopedVirtualTime time;
    auto window = Window::create(Size(1000, 600));
    auto container = ColoredView::create(Globals::colorGray58());
    window->setContentView(container);
    auto screen = BaseViewController::create();
    screen->setView(ColoredView::create(PlatformColor::white()));
    container->addHostedView(screen->view());
    window->makeKeyAndOrderFront();
    auto dialog = SharingViewController::initWithIdea(smallTree(), 0, QDateTime());
    auto dismissal = std::make_shared<RecordingDismissal>();
    dialog->setDelegate(dismissal);
    auto animation = std::make_shared<PartialViewTransitionAnimation>();
    screen->presentViewController(dialog, animation);
    // The slide, then the implicit animation of its last frame.
    for (int i = 0; i < 4; ++i) {
        time.advance(0.25);
        QCoreApplication::processEvents();
    }
    EXPECT_EQ(dialog->view()->frame(), Rect(0, 0, 1000, 370));
    const QImage shown = window->renderToImage(1.0);
    shown.save(testOutputDir() + QStringLiteral("/export-dialog/presented.png"));
    ASSERT_TRUE(animation->protector());
    // A click below the panel lands on the backdrop (base coordinates: y up).
    click(*window, Point(500, 100));
    EXPECT_EQ(dismissal->requests, 1);
    window->close();
}

} // namespace
} // namespace corvex::test
