#include "formats/TextExporter.h"
#include "model/ColorMatrix.h"
#include "model/Globals.h"
#include "overview/GraphTileFactory.h"
#include "overview/MindMapToPDF.h"
#include "overview/PageTextLine.h"
#include "overview/PlatonicPage.h"
#include "platform/core/MainQueue.h"
#include "platform/gfx/AttributedString.h"
#include "tests/overview/OverviewTestSupport.h"
#include "tests/overview/PrintTestSupport.h"
#include "tests/support/CompletionRecorder.h"
#include "tests/support/FailureText.h"
#include "tests/support/FaultShim.h"
#include "tests/support/LogCapture.h"
#include "tests/support/RunUntil.h"
#include "tests/support/TestDates.h"

#include <QGlyphRun>
#include <QPainter>
#include <QRawFont>
#include <QRegularExpression>
#include <QTextLayout>
#include <cerrno>
#include <cmath>
#include <functional>
#include <map>
#include <optional>

namespace corvex {
namespace {

using test::addChild;
using test::noteIdea;

constexpr int kLongNoteWords = 350;

struct NotedTree
{
    IdeaPtr root;
    QStringList entryTitles; // the note entries' titles in pre-order, links counted
};

// 13 notes: one of them a link idea's (to TitleAtwo), one long enough for two columns.
NotedTree thirteenNotes()
{
    NotedTree tree;
    tree.root = Idea::initWithText(QStringLiteral("Printed map"), QStringLiteral("root"));
    const auto add = [&tree](const IdeaPtr& parent, const QString& id, const QString& note) {
        IdeaPtr idea = noteIdea(id, QStringLiteral("Title") + id, note);
        idea->setColor(ColorMatrix::classicColorMatrix().colorWithName(QStringLiteral("blue2")));
        addChild(parent, idea);
        if (!note.isEmpty())
            tree.entryTitles.append(QStringLiteral("Title") + id);
        return idea;
    };
    const IdeaPtr a = add(tree.root, QStringLiteral("Aone"), QStringLiteral("first note"));
    add(a, QStringLiteral("Atwo"), QStringLiteral("second note"));
    add(a, QStringLiteral("Athree"), QStringLiteral("third note"));
    const IdeaPtr b = add(tree.root, QStringLiteral("Bone"), QStringLiteral("fourth note"));
    add(b, QStringLiteral("Blong"), test::longNote(kLongNoteWords, QStringLiteral("Blong")));
    const IdeaPtr c = add(tree.root, QStringLiteral("Cone"), QString());
    add(c, QStringLiteral("Ctwo"), QStringLiteral("sixth note"));
    add(c, QStringLiteral("Cthree"), QStringLiteral("seventh note"));
    addChild(c, Idea::initWithLinkToIdea(QStringLiteral("Atwo")));
    tree.entryTitles.append(QStringLiteral("TitleAtwo"));
    const IdeaPtr d = add(tree.root, QStringLiteral("Done"), QStringLiteral("ninth note"));
    for (const char* id : {"Dtwo", "Dthree", "Dfour", "Dfive"})
        add(d, QString::fromLatin1(id), QStringLiteral("note of ") + QString::fromLatin1(id).toLower());
    return tree;
}

QString exportPdf(const IdeaPtr& root, bool showNotes, const QString& name)
{
    MindMapToPDF exporter(root, test::utc(2026, 3, 14, 15, 9));
    exporter.setShowNotes(showNotes);
    return test::writtenPdf(exporter.generatePDF(), name);
}

// The column a word on a note page lies in: columns are 240 platonic points apart, from 8
// points inside the platonic inner rectangle.
int noteColumn(const test::PdfWord& word)
{
    const AffineTransform t =
        PlatonicPage::transform(PlatonicPage::innerRect(false).size, MindMapToPDF::pageInnerRect());
    const double left = t.apply(Point(8, 0)).x;
    return int(std::floor((word.xMin - left + 1) / (240 * t.a)));
}

TEST(PdfExport, ThirteenNotesListInPreOrderWithTheLinkCountedAndMatchTheMapBadges)
{
    const NotedTree tree = thirteenNotes();
    ASSERT_EQ(tree.entryTitles.size(), 13);
    const QString pdf = exportPdf(tree.root, true, QStringLiteral("thirteen"));
    const std::vector<test::PdfPage> pages = test::pdfPages(pdf);
    ASSERT_GE(pages.size(), 2u);
    for (const test::PdfPage& page : pages) {
        EXPECT_NEAR(page.width, 595, 0.5);
        EXPECT_NEAR(page.height, 842, 0.5);
    }
    test::pdfRaster(pdf, 1, 72, QStringLiteral("thirteen_map"));
    test::pdfRaster(pdf, 2, 72, QStringLiteral("thirteen_notes"));

    // Note pages in reading order: page, column, top to bottom.
    std::vector<test::PdfWord> words = test::pdfWords(pdf);
    std::vector<test::PdfWord> notes;
    for (const test::PdfWord& word : words)
        if (word.page >= 2)
            notes.push_back(word);
    std::stable_sort(notes.begin(), notes.end(), [](const test::PdfWord& a, const test::PdfWord& b) {
        if (a.page != b.page)
            return a.page < b.page;
        if (noteColumn(a) != noteColumn(b))
            return noteColumn(a) < noteColumn(b);
        return a.yMin < b.yMin - 1;
    });
    static const QRegularExpression number(QStringLiteral("^\\d{3}$"));
    QStringList entries;
    QStringList expected;
    for (int i = 0; i < tree.entryTitles.size(); ++i)
        expected << QString::asprintf("%03d", i + 1) << tree.entryTitles[i];
    std::optional<test::PdfWord> longEnd;
    std::optional<test::PdfWord> longNumber;
    for (const test::PdfWord& word : notes) {
        if (number.match(word.text).hasMatch() || word.text.startsWith(QStringLiteral("Title")))
            entries.append(word.text);
        if (word.text == QStringLiteral("Blongend"))
            longEnd = word;
        if (word.text == QStringLiteral("005"))
            longNumber = word;
    }
    EXPECT_EQ(entries, expected);
    // The text outline numbers the same notes the same way.
    QStringList outline;
    static const QRegularExpression outlineNote(QStringLiteral("^Note (\\d+): (.*)$"),
                                                QRegularExpression::MultilineOption);
    for (auto it = outlineNote.globalMatch(TextExporter::ideaAsTextOutline(tree.root, true)); it.hasNext();) {
        const auto match = it.next();
        outline << QString::asprintf("%03d", match.captured(1).toInt()) << match.captured(2);
    }
    EXPECT_EQ(outline, expected);
    ASSERT_TRUE(longEnd && longNumber);
    EXPECT_EQ(longEnd->page, longNumber->page);
    EXPECT_EQ(noteColumn(*longEnd), noteColumn(*longNumber) + 1) << "the long note fills two columns";
    EXPECT_TRUE(test::pdfText(pdf, 2).contains(QStringLiteral("NOTES")));

    // The badges on the map page.
    QStringList badges;
    for (const test::PdfWord& word : words)
        if (word.page == 1 && number.match(word.text).hasMatch())
            badges.append(word.text);
    badges.sort();
    QStringList all;
    for (int i = 1; i <= 13; ++i)
        all << QString::asprintf("%03d", i);
    EXPECT_EQ(badges, all);
}

TEST(PdfExport, PageCountsFollowShowNotesAndTheTreesNotes)
{
    const NotedTree tree = thirteenNotes();
    EXPECT_EQ(test::pdfPages(exportPdf(tree.root, false, QStringLiteral("without_notes"))).size(), 1u);
    const IdeaPtr plain = Idea::initWithText(QStringLiteral("Plain"), QStringLiteral("plain"));
    addChild(plain, Idea::initWithText(QStringLiteral("child"), QStringLiteral("child")));
    EXPECT_EQ(test::pdfPages(exportPdf(plain, true, QStringLiteral("no_notes"))).size(), 1u);
    // Without notes the map shows no badge numbers.
    const QString map = test::pdfText(exportPdf(tree.root, false, QStringLiteral("no_badges")), 1, 1);
    EXPECT_FALSE(map.contains(QStringLiteral("001"))) << map.toStdString();

    // An empty root title leaves the date alone in the header.
    const IdeaPtr untitled = Idea::initWithText(QString(), QStringLiteral("untitled"));
    const QString header = test::pdfText(exportPdf(untitled, true, QStringLiteral("untitled")), 1, 1);
    EXPECT_TRUE(header.contains(QStringLiteral("2026"))) << header.toStdString();
}

TEST(PdfExport, ExportsTheTreeAsItWasWhenTheExporterWasMade)
{
    const IdeaPtr root = Idea::initWithText(QStringLiteral("Before"), QStringLiteral("root"));
    addChild(root, noteIdea(QStringLiteral("kid"), QStringLiteral("Kid"), QStringLiteral("kept note")));
    MindMapToPDF exporter(root, QDateTime());
    exporter.setShowNotes(true);
    root->setText(QStringLiteral("After"));
    root->ideas().front()->setNote(QStringLiteral("changed note"));
    std::optional<QByteArray> data;
    test::CompletionRecorder recorder;
    exporter.generatePDFData(recorder.expect<const QByteArray&>(
        QStringLiteral("data"), std::function<void(const QByteArray&)>([&data](const QByteArray& pdf) {
            EXPECT_TRUE(MainQueue::isMainThread());
            data = pdf;
        })));
    ASSERT_TRUE(test::runUntil([&data] { return data.has_value(); }, 30));
    const QString text = test::pdfText(test::writtenPdf(*data, QStringLiteral("snapshot")));
    EXPECT_TRUE(text.contains(QStringLiteral("Before")));
    EXPECT_TRUE(text.contains(QStringLiteral("kept note")));
    EXPECT_FALSE(text.contains(QStringLiteral("After")));
    EXPECT_FALSE(text.contains(QStringLiteral("changed")));
}

// The write's outcome; nullopt when the completion never came. The recorder checks that it
// came once, on the main thread and not inside the call.
std::optional<Status> writeNow(const MindMapToPDF& exporter, const QUrl& url)
{
    test::CompletionRecorder recorder;
    std::optional<Status> outcome;
    exporter.writePDFIntoURL(
        url, recorder.expect<const Status&>(QStringLiteral("write"),
                                            std::function<void(const Status&)>(
                                                [&outcome](const Status& written) { outcome = written; })));
    EXPECT_TRUE(recorder.waitAll(30));
    return outcome;
}

TEST(PdfExport, AFailedWriteNamesTheFileAndWhyAndLeavesTheOldFileByteForByte)
{
    const NotedTree tree = thirteenNotes();
    MindMapToPDF exporter(tree.root, QDateTime());
    exporter.setShowNotes(true);
    const QString path = test::testDir() + QStringLiteral("/map.pdf");
    const QString missing = test::testDir() + QStringLiteral("/missing/map.pdf");
    const QByteArray old("an older file");
    test::writeFile(path, old);
    test::LogCapture log;
    std::optional<Status> renameFailed;
    {
        test::FaultShim shim;
        shim.failFrom(test::FaultShim::Op::Rename, 1, EIO);
        renameFailed = writeNow(exporter, QUrl::fromLocalFile(path));
    }
    EXPECT_EQ(test::readFile(path), old);
    const std::optional<Status> noFolder = writeNow(exporter, QUrl::fromLocalFile(missing));
    struct Row
    {
        const std::optional<Status>& written;
        QString file;
        int errnoValue;
    };
    for (const Row& row : {Row{renameFailed, path, EIO}, Row{noFolder, missing, ENOENT}}) {
        SCOPED_TRACE(row.file.toStdString());
        ASSERT_TRUE(row.written.has_value());
        EXPECT_TRUE(test::failsNaming(*row.written, row.file, test::errnoText(row.errnoValue)));
    }
    EXPECT_EQ(log.count(QStringLiteral("cannot be written")), 2)
        << log.lines().join(QLatin1Char('\n')).toStdString();
    const std::optional<Status> written = writeNow(exporter, QUrl::fromLocalFile(path));
    ASSERT_TRUE(written.has_value());
    EXPECT_TRUE(*written) << written->error().toString().toStdString();
    EXPECT_EQ(test::pdfPages(path).size(),
              test::pdfPages(exportPdf(tree.root, true, QStringLiteral("same"))).size());
}

// Page 1 at 144 dpi: at the drawn places of five ideas with empty titles, through the map's
// zoom and the platonic-to-page transform, the planet's own colour.
TEST(PdfExport, TheMapPageShowsEachPlanetWhereTheLayoutPutsIt)
{
    const std::vector<test::FactoryIdea> shape = test::makeDocumentTree(40, 4, 7);
    std::vector<IdeaPtr> ideas = test::ideasFromFactory(shape);
    const std::vector<int> picked{3, 9, 17, 26, 38};
    for (const int i : picked)
        ideas[std::size_t(i)]->setText(QString());
    const IdeaPtr root = ideas.front();
    const QImage page = test::pdfRaster(exportPdf(root, false, QStringLiteral("colours")), 1, 144,
                                        QStringLiteral("colours_map"));
    ASSERT_FALSE(page.isNull());

    const GraphTileFactory factory(root, nullptr, false);
    std::map<QString, const GraphNode*> nodes;
    std::vector<const GraphNode*> stack{&factory.root()};
    while (!stack.empty()) {
        const GraphNode* node = stack.back();
        stack.pop_back();
        nodes[node->identifier()] = node;
        for (const auto& child : node->children())
            stack.push_back(child.get());
    }
    for (const int i : picked) {
        const GraphNode* node = nodes[ideas[std::size_t(i)]->identifier()];
        ASSERT_TRUE(node);
        const QColor expected = ideas[std::size_t(i)]->color()->uiColor().toQColor();
        const QColor seen = page.pixelColor(test::mapPagePixel(factory, factory.drawnPosition(*node), 144));
        SCOPED_TRACE(ideas[std::size_t(i)]->identifier().toStdString());
        EXPECT_LE(std::abs(seen.red() - expected.red()), 24)
            << qPrintable(seen.name()) << " vs " << qPrintable(expected.name());
        EXPECT_LE(std::abs(seen.green() - expected.green()), 24);
        EXPECT_LE(std::abs(seen.blue() - expected.blue()), 24);
    }
}

// Emoji on the map's planets and on the note pages: the colour face's bitmaps go in as pictures,
// so the rastered page shows them in colour (red hearts on blue planets, nothing else red).
TEST(PdfExport, EmojiSequencesPrintInColour)
{
    const QString emoji =
        QStringLiteral("\u2764\uFE0F\U0001F469\u200D\U0001F4BB1\uFE0F\u20E3\U0001F1EB\U0001F1F7\u2764\uFE0F");
    const IdeaPtr root = Idea::initWithText(QStringLiteral("Camping"), QStringLiteral("root"));
    const IdeaPtr child =
        noteIdea(QStringLiteral("c"), QStringLiteral("Hearts ") + emoji, QStringLiteral("note"));
    addChild(root, child);
    for (const IdeaPtr& idea : {root, child})
        idea->setColor(ColorMatrix::classicColorMatrix().colorWithName(QStringLiteral("blue2")));
    const QString pdf = exportPdf(root, true, QStringLiteral("emoji"));
    QFile::remove(test::testOutputDir() + QStringLiteral("/print/emoji.pdf"));
    QFile::copy(pdf, test::testOutputDir() + QStringLiteral("/print/emoji.pdf"));
    // Page 1 has them on the planet only, page 2 in the note's title.
    for (const int page : {1, 2}) {
        SCOPED_TRACE(page);
        const QImage raster = test::pdfRaster(pdf, page, 144, QStringLiteral("emoji_%1").arg(page));
        ASSERT_FALSE(raster.isNull());
        int red = 0;
        for (int y = 0; y < raster.height(); ++y) {
            for (int x = 0; x < raster.width(); ++x) {
                const QColor c = raster.pixelColor(x, y);
                if (c.red() > 180 && c.green() < 90 && c.blue() < 90)
                    ++red;
            }
        }
        EXPECT_GT(red, 20) << "the hearts in colour";
    }

    // The note pages' lines, set without ligatures, keep a keycap whole: one glyph.
    auto layout = AttributedString(QStringLiteral("Page 1\uFE0F\u20E3"),
                                   PlatformFont::fontWithName(QStringLiteral("Avenir Book"), 20),
                                   PlatformColor::black())
                      .createTextLayout(0, 9);
    PageTextLine::avoidLigatures(*layout);
    layout->beginLayout();
    layout->createLine().setLineWidth(1000);
    layout->endLayout();
    int keycapGlyphs = 0;
    for (const QGlyphRun& run : layout->lineAt(0).glyphRuns())
        if (run.rawFont().familyName() == QStringLiteral("Noto Color Emoji"))
            keycapGlyphs += int(run.glyphIndexes().size());
    EXPECT_EQ(keycapGlyphs, 1);
}

// ---- Every script

struct ScriptEntry
{
    QString title;
    QString note;
};

// Chinese, Japanese and Korean (with ideographs whose glyphs other faces share with the
// Kangxi radicals: 日, 文, 一, 人, 大), Arabic, Hebrew with points, and Latin with "fi".
std::vector<ScriptEntry> scriptEntries()
{
    return {
        {QStringLiteral("中文标题"), QStringLiteral("这是一个中文笔记，人人都看得懂大字。")},
        {QStringLiteral("日本語のタイトル"), QStringLiteral("これは日本語のメモです。文字と一日。")},
        {QStringLiteral("한국어 제목"), QStringLiteral("한국어 메모입니다. 오늘은 좋은 날")},
        {QStringLiteral("عنوان عربي"), QStringLiteral("مرحبا بالعالم")},
        {QStringLiteral("כותרת עברית"), QStringLiteral("בְּרֵאשִׁית בָּרָא אֱלֹהִים")},
        {QStringLiteral("Office files"), QStringLiteral("fine fish fit the file")},
    };
}

// The dark pixels of an area, as a mask cropped to their bounding box.
struct Ink
{
    QRect box;
    std::vector<quint8> mask; // row by row over the box

    bool at(int x, int y) const
    {
        return x >= 0 && y >= 0 && x < box.width() && y < box.height() &&
               mask[std::size_t(y * box.width() + x)] != 0;
    }
};

Ink inkOf(const QImage& image, const QRect& area)
{
    const QImage gray = image.convertToFormat(QImage::Format_Grayscale8);
    const auto dark = [&gray](int x, int y) { return gray.valid(x, y) && qGray(gray.pixel(x, y)) < 128; };
    Ink ink;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (dark(x, y))
                ink.box = ink.box.united(QRect(x, y, 1, 1));
    for (int y = 0; y < ink.box.height(); ++y)
        for (int x = 0; x < ink.box.width(); ++x)
            ink.mask.push_back(dark(ink.box.left() + x, ink.box.top() + y) ? 1 : 0);
    return ink;
}

// The share of `a`'s ink with no ink of `b` within one pixel, the two aligned at the top
// left of their ink.
double strayInk(const Ink& a, const Ink& b)
{
    int ink = 0;
    int stray = 0;
    for (int y = 0; y < a.box.height(); ++y)
        for (int x = 0; x < a.box.width(); ++x) {
            if (!a.at(x, y))
                continue;
            ++ink;
            bool near = false;
            for (int dy = -1; dy <= 1 && !near; ++dy)
                for (int dx = -1; dx <= 1 && !near; ++dx)
                    near = b.at(x + dx, y + dy);
            stray += near ? 0 : 1;
        }
    return ink > 0 ? double(stray) / ink : 1.0;
}

// The note text set by Qt with its full shaping, black on white at `scale` pixels a point.
QImage shapedByQt(const QString& note, double scale)
{
    const AttributedString string(note, Globals::fontAvenirMedium(12), PlatformColor::black());
    std::unique_ptr<QTextLayout> layout = string.createTextLayout(0, string.length());
    QTextOption option;
    option.setTextDirection(QStringView(note).isRightToLeft() ? Qt::RightToLeft : Qt::LeftToRight);
    option.setUseDesignMetrics(true);
    layout->setTextOption(option);
    layout->beginLayout();
    QTextLine line = layout->createLine();
    line.setLineWidth(1000);
    layout->endLayout();
    QImage image(int(1100 * scale), int(60 * scale), QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing);
    painter.scale(scale, scale);
    layout->draw(&painter, QPointF(20, 20));
    return image;
}

// Titles and notes in Chinese, Japanese, Korean, Arabic and Hebrew: the PDF embeds the
// faces that draw them, its text holds every Chinese, Japanese and Korean title and note as
// written (and Latin "fi" as two letters), and its Arabic and Hebrew look as Qt shapes them.
TEST(PdfExport, EveryScriptIsEmbeddedFoundAndShaped)
{
    const IdeaPtr root = Idea::initWithText(QStringLiteral("Scripts"), QStringLiteral("root"));
    const std::vector<ScriptEntry> entries = scriptEntries();
    for (std::size_t i = 0; i < entries.size(); ++i)
        addChild(root, noteIdea(QStringLiteral("s%1").arg(i), entries[i].title, entries[i].note));
    const QString pdf = exportPdf(root, true, QStringLiteral("scripts"));
    QFile::remove(test::testOutputDir() + QStringLiteral("/print/scripts.pdf"));
    QFile::copy(pdf, test::testOutputDir() + QStringLiteral("/print/scripts.pdf"));

    const QString text = test::pdfText(pdf, 1, 0, false, false);
    // Titles and notes wrap on the map's planets and in the note columns.
    const QString letters = test::withoutWhiteSpace(text);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_TRUE(letters.contains(test::withoutWhiteSpace(entries[i].title)))
            << entries[i].title.toStdString();
        EXPECT_TRUE(letters.contains(test::withoutWhiteSpace(entries[i].note)))
            << entries[i].note.toStdString();
    }
    EXPECT_TRUE(text.contains(entries[5].note)) << text.toStdString();

    const QString fonts = QString::fromUtf8(test::runProgramToEnd(QStringLiteral("pdffonts"), {pdf}).output);
    for (const char* face : {"WenQuanYiMicroHei", "NotoSansArabic-Regular", "NotoSansHebrew-Regular"}) {
        bool embedded = false;
        for (const QString& line : fonts.split(QLatin1Char('\n'))) {
            const QStringList columns = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
            if (columns.size() >= 6 && columns.front().section(QLatin1Char('+'), -1) == QLatin1String(face))
                embedded = columns[columns.size() - 5] == QLatin1String("yes");
        }
        EXPECT_TRUE(embedded) << face << " in\n" << fonts.toStdString();
    }

    // The note lines of the Arabic and Hebrew entries (numbers 004 and 005) on page 2 at 144
    // dpi, against the same text set by Qt at the page's scale.
    const double scale =
        PlatonicPage::transform(PlatonicPage::innerRect(false).size, MindMapToPDF::pageInnerRect()).a;
    const QImage page = test::pdfRaster(pdf, 2, 144, QStringLiteral("scripts_notes"));
    const std::vector<test::PdfWord> words = test::pdfWords(pdf);
    for (const int entry : {3, 4}) {
        SCOPED_TRACE(entries[std::size_t(entry)].note.toStdString());
        const QString number = QString::asprintf("%03d", entry + 1);
        const auto found = std::find_if(words.begin(), words.end(), [&](const test::PdfWord& word) {
            return word.page == 2 && word.text == number;
        });
        ASSERT_NE(found, words.end());
        // The note's first line: its frame starts 20 platonic points below the number's
        // baseline, below the title's descenders.
        const QRect band(int((found->xMin + 30 * scale) * 2), int((found->yMax + 10 * scale) * 2),
                         int(200 * scale * 2), int(30 * scale * 2));
        const Ink printed = inkOf(page, band);
        page.copy(band).save(test::testOutputDir() + QStringLiteral("/print/scripts_note_%1.png").arg(entry));
        const QImage reference = shapedByQt(entries[std::size_t(entry)].note, 2 * scale);
        reference.save(test::testOutputDir() + QStringLiteral("/print/scripts_qt_%1.png").arg(entry));
        const Ink shaped = inkOf(reference, reference.rect());
        ASSERT_FALSE(printed.box.isEmpty());
        EXPECT_NEAR(printed.box.width(), shaped.box.width(), 3);
        EXPECT_NEAR(printed.box.height(), shaped.box.height(), 3);
        // Set without shaping, the Arabic strays by half, the pointed Hebrew by more than a tenth.
        EXPECT_LT(strayInk(printed, shaped), 0.05);
        EXPECT_LT(strayInk(shaped, printed), 0.05);
    }
}

} // namespace
} // namespace corvex

namespace corvex {
namespace {

// A tree as deep as the model allows, widened to many ideas, with every 50th idea noted:
// counting, copying, layout and the note pages walk it without recursion.
TEST(PdfExport, ADeepAndBroadTreeExportsWithAllItsNotes)
{
    const int total = test::heavyScale(100000, 20000);
    const IdeaPtr root = Idea::initWithText(QStringLiteral("Deep"), QStringLiteral("root"));
    std::vector<IdeaPtr> chain{root};
    for (int i = 1; i < Idea::MaxDepth; ++i) {
        chain.push_back(Idea::initWithText(QString(), QStringLiteral("c%1").arg(i)));
        addChild(chain[std::size_t(i - 1)], chain.back());
    }
    int notes = 0;
    for (int i = Idea::MaxDepth; i < total; ++i) {
        IdeaPtr leaf = Idea::initWithText(QString(), QStringLiteral("l%1").arg(i));
        if (i % 50 == 0) {
            leaf->setNote(QStringLiteral("deep note %1").arg(++notes));
        }
        addChild(chain[std::size_t(i % 200)], leaf);
    }
    MindMapToPDF exporter(root, QDateTime());
    exporter.setShowNotes(true);
    const QString pdf = test::writtenPdf(exporter.generatePDF(), QStringLiteral("deep"));
    const std::vector<test::PdfPage> pages = test::pdfPages(pdf);
    ASSERT_GE(pages.size(), 2u);
    const QString text = test::pdfText(pdf, 2, 0, false);
    EXPECT_TRUE(text.contains(QStringLiteral("deep note 1\n")));
    EXPECT_TRUE(text.contains(QStringLiteral("deep note %1\n").arg(notes)));
    EXPECT_TRUE(text.contains(QString::asprintf("%03d", notes)));
}

} // namespace
} // namespace corvex
