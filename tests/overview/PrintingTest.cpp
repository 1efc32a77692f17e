#include "mindmap/ExportAndPrintSeams.h"
#include "model/ColorMatrix.h"
#include "overview/PlatonicPage.h"
#include "overview/PrintedMapPrinter.h"
#include "overview/PrintedView.h"
#include "platform/ui/PrintOperation.h"
#include "tests/overview/PrintTestSupport.h"
#include "tests/support/TestDates.h"

#include <QFile>
#include <QSet>

namespace corvex {
namespace {

using test::addChild;
using test::noteIdea;

struct PrintRig
{
    std::shared_ptr<test::ScriptedPrintPanel> panel = std::make_shared<test::ScriptedPrintPanel>();
    std::shared_ptr<PrintPanelRunner> previous;
    PrintRig() { previous = PrintPanelRunner::install(panel); }
    ~PrintRig() { PrintPanelRunner::install(previous); }
    PrintRig(const PrintRig&) = delete;
    PrintRig& operator=(const PrintRig&) = delete;
};

struct NotesTree
{
    IdeaPtr root;
    QStringList noteWords;
};

NotesTree printedTree()
{
    NotesTree tree;
    tree.root = Idea::initWithText(QStringLiteral("Printed title"), QStringLiteral("root"));
    tree.root->setColor(ColorMatrix::classicColorMatrix().colorWithName(QStringLiteral("green3")));
    const QStringList notes{QStringLiteral("alpha bravo charlie"),
                            test::longNote(500, QStringLiteral("long")),
                            QStringLiteral("delta echo\nfoxtrot golf"), QStringLiteral("hotel india juliet")};
    IdeaPtr parent = tree.root;
    for (int i = 0; i < notes.size(); ++i) {
        const IdeaPtr idea =
            noteIdea(QStringLiteral("n%1").arg(i), QStringLiteral("Entry%1").arg(i), notes[i]);
        idea->setColor(ColorMatrix::classicColorMatrix().colorWithName(QStringLiteral("blue%1").arg(i)));
        addChild(i == 2 ? tree.root->ideas().front() : tree.root, idea);
        tree.noteWords += notes[i].split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
    }
    return tree;
}

// The platonic inner rectangle as drawn on paper (y down from the paper's top, points).
QRectF drawnArea(const PrintOperation::PrintInfo& info, const Rect& inner)
{
    const AffineTransform t = PlatonicPage::transform(inner.size, info.imageablePageBounds);
    const Rect r = t.applyToRect(inner);
    return QRectF(r.minX(), info.paperSize.height - r.maxY(), r.size.width, r.size.height);
}

void checkPrint(QSizeF paper, QMarginsF margins, const QString& name)
{
    PrintRig rig;
    rig.panel->paper = paper;
    rig.panel->margins = margins;
    rig.panel->file = test::testDir() + QLatin1Char('/') + name + QStringLiteral(".pdf");
    const NotesTree tree = printedTree();
    const auto view = std::make_shared<PrintedView>(tree.root, test::utc(2026, 5, 4, 9, 30));
    const auto operation = PrintOperation::printOperationWithView(view);
    ASSERT_TRUE(operation->runOperation());
    const PrintOperation::PrintInfo info = operation->printInfo();
    EXPECT_NEAR(info.paperSize.width, paper.width(), 0.5);
    // The print info measures from the paper's bottom-left corner.
    EXPECT_NEAR(info.imageablePageBounds.origin.x, margins.left(), 0.5);
    EXPECT_NEAR(info.imageablePageBounds.origin.y, margins.bottom(), 0.5);
    EXPECT_EQ(view->platonicInnerRect().size.width > view->platonicInnerRect().size.height,
              paper.width() >= paper.height());

    const std::vector<test::PdfPage> pages = test::pdfPages(rig.panel->file);
    ASSERT_EQ(qint64(pages.size()), 1 + view->notePageCount());
    ASSERT_GE(pages.size(), 2u);
    EXPECT_NEAR(pages.front().width, paper.width(), 0.5);
    EXPECT_NEAR(pages.front().height, paper.height(), 0.5);
    for (int page = 1; page <= int(pages.size()); ++page)
        test::pdfRaster(rig.panel->file, page, 72, name + QStringLiteral("_page%1").arg(page));

    const QRectF imageable = QRectF(QPointF(0, 0), paper).marginsRemoved(margins);
    const std::vector<test::PdfWord> words = test::pdfWords(rig.panel->file);
    QSet<QString> onNotePages;
    for (const test::PdfWord& word : words) {
        if (word.page < 2)
            continue;
        onNotePages.insert(word.text);
        EXPECT_TRUE(imageable.adjusted(-0.5, -0.5, 0.5, 0.5)
                        .contains(QRectF(word.xMin, word.yMin, word.xMax - word.xMin, word.yMax - word.yMin)))
            << word.text.toStdString() << " on page " << word.page << " at " << word.xMin << ", "
            << word.yMin;
    }
    for (const QString& word : tree.noteWords)
        EXPECT_TRUE(onNotePages.contains(word)) << word.toStdString();

    // Page 1: the date above the title, both in the top eighth of the drawn area.
    const QRectF area = drawnArea(info, view->platonicInnerRect());
    const test::PdfWord* year = nullptr;
    const test::PdfWord* title = nullptr;
    for (const test::PdfWord& word : words) {
        if (word.page == 1 && word.text.contains(QStringLiteral("2026")) && !year)
            year = &word;
        if (word.page == 1 && word.text == QStringLiteral("Printed") && (!title || word.yMin < title->yMin))
            title = &word;
    }
    ASSERT_TRUE(year && title);
    EXPECT_LT(year->yMax, title->yMin + 1);
    EXPECT_GE(year->yMin, area.top() - 0.5);
    EXPECT_LE(title->yMax, area.top() + area.height() / 8);
}

TEST(Printing, A4PortraitPrintsTheMapAndEveryNoteInsideTheImageableArea)
{
    checkPrint(QSizeF(595.276, 841.89), QMarginsF(36, 36, 36, 36), QStringLiteral("a4"));
}

TEST(Printing, AWidePaperLaysOutOnItsSideAndKeepsEveryNote)
{
    checkPrint(QSizeF(900, 400), QMarginsF(10, 20, 30, 40), QStringLiteral("wide"));
}

TEST(Printing, PanelChoicesNarrowOrCancelTheRun)
{
    PrintRig rig;
    rig.panel->file = test::testDir() + QStringLiteral("/second.pdf");
    rig.panel->fromPage = 2;
    rig.panel->toPage = 2;
    const NotesTree tree = printedTree();
    auto view = std::make_shared<PrintedView>(tree.root, QDateTime());
    auto operation = PrintOperation::printOperationWithView(view);
    ASSERT_TRUE(operation->runOperation());
    EXPECT_EQ(operation->pagesPrinted(), 1);
    EXPECT_EQ(test::pdfPages(rig.panel->file).size(), 1u);
    EXPECT_TRUE(test::pdfText(rig.panel->file).contains(QStringLiteral("NOTES")));

    rig.panel->print = false;
    rig.panel->file = test::testDir() + QStringLiteral("/cancelled.pdf");
    EXPECT_FALSE(operation->runOperation());
    EXPECT_EQ(operation->pagesPrinted(), 0);
    EXPECT_FALSE(QFile::exists(rig.panel->file));
    EXPECT_EQ(PrintOperation::currentOperation(), nullptr);
}

TEST(Printing, TheMindMapScreensPrinterPrintsOnePageWithoutNotes)
{
    PrintRig rig;
    rig.panel->file = test::testDir() + QStringLiteral("/screen.pdf");
    registerMapPrinter();
    const IdeaPtr root = Idea::initWithText(QStringLiteral("No notes"), QStringLiteral("root"));
    addChild(root, Idea::initWithText(QStringLiteral("child"), QStringLiteral("child")));
    EXPECT_FALSE(MapPrinter::create(nullptr, QDateTime()));
    const std::shared_ptr<MapPrinter> printer = MapPrinter::create(root, QDateTime());
    ASSERT_TRUE(printer);
    printer->runPrintOperation(nullptr);
    MapPrinter::setFactory({});
    EXPECT_EQ(rig.panel->runs, 1);
    EXPECT_EQ(test::pdfPages(rig.panel->file).size(), 1u);
    EXPECT_TRUE(test::pdfText(rig.panel->file).contains(QStringLiteral("No notes")));
}

} // namespace
} // namespace corvex
