#include "overview/NoteRenderer.h"
#include "overview/NoteRendererDelegate.h"
#include "platform/gfx/GraphicsContext.h"
#include "tests/overview/PrintTestSupport.h"

#include <QBuffer>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <random>

namespace corvex {
namespace {

using test::addChild;
using test::noteIdea;

// Note pages of any size written straight into a PDF, one PDF page per note page.
class PdfNotePages final : public NoteRendererDelegate
{
public:
    explicit PdfNotePages(Size page) : mPage(page), mBuffer(&mData)
    {
        mBuffer.open(QIODevice::WriteOnly);
        mWriter = std::make_unique<QPdfWriter>(&mBuffer);
        mWriter->setResolution(72);
        mWriter->setPageSize(
            QPageSize(QSizeF(page.width, page.height), QPageSize::Point, QString(), QPageSize::ExactMatch));
        mWriter->setPageMargins(QMarginsF(0, 0, 0, 0), QPageLayout::Point);
    }

    GraphicsContext* startNotePage(Rect* pageRect) override
    {
        ++started;
        if (!mPainter.isActive()) {
            EXPECT_TRUE(mPainter.begin(mWriter.get()));
            mPainter.setWorldTransform(QTransform(1, 0, 0, -1, 0, mPage.height));
            mContext = std::make_unique<GraphicsContext>(&mPainter, false);
        } else {
            EXPECT_TRUE(mWriter->newPage());
        }
        *pageRect = Rect(Point(0, 0), mPage);
        return mContext.get();
    }

    void endNotePage() override { ++ended; }

    QString finish(const QString& name)
    {
        mContext.reset();
        if (mPainter.isActive())
            mPainter.end();
        mWriter.reset();
        return test::writtenPdf(mData, name);
    }

    int started = 0;
    int ended = 0;

private:
    Size mPage;
    QByteArray mData;
    QBuffer mBuffer;
    std::unique_ptr<QPdfWriter> mWriter;
    QPainter mPainter;
    std::unique_ptr<GraphicsContext> mContext;
};

QString renderNotes(const IdeaPtr& root, Size page, const QString& name, qint64* next = nullptr,
                    int* pages = nullptr)
{
    PdfNotePages pdf(page);
    NoteRenderer renderer(&pdf);
    const qint64 after = renderer.renderIdeaNotesRecursively(root, 1);
    renderer.finishRendering();
    EXPECT_EQ(pdf.started, pdf.ended);
    if (next)
        *next = after;
    if (pages)
        *pages = pdf.started;
    return pdf.finish(name);
}

TEST(NotePages, HasNotesCountsLinksToNotedIdeasAndNothingElse)
{
    const IdeaPtr root = Idea::initWithText(QStringLiteral("root"), QStringLiteral("root"));
    const IdeaPtr plain = Idea::initWithText(QStringLiteral("plain"), QStringLiteral("plain"));
    addChild(root, plain);
    EXPECT_FALSE(NoteRenderer::hasNotes(*root));
    const IdeaPtr noted =
        noteIdea(QStringLiteral("noted"), QStringLiteral("noted"), QStringLiteral("a note"));
    addChild(plain, noted);
    EXPECT_TRUE(NoteRenderer::hasNotes(*root));
    const IdeaPtr link = Idea::initWithLinkToIdea(QStringLiteral("noted"));
    addChild(root, link);
    EXPECT_TRUE(NoteRenderer::hasNotes(*link));
    noted->setNote(QString());
    EXPECT_FALSE(NoteRenderer::hasNotes(*root));
}

TEST(NotePages, NumbersTakeThreeDigitsAtLeastAndTheRunCountsOn)
{
    EXPECT_EQ(NoteRenderer::newAttributedNoteNumber(7).string(), QStringLiteral("007"));
    EXPECT_EQ(NoteRenderer::newAttributedNoteNumber(1234).string(), QStringLiteral("1234"));
    EXPECT_EQ(NoteRenderer::newAttributedHeaderString().string(), QStringLiteral("NOTES"));
    const IdeaPtr root = noteIdea(QStringLiteral("root"), QString(), QStringLiteral("root note"));
    addChild(root, noteIdea(QStringLiteral("kid"), QStringLiteral("Kid"), QStringLiteral("kid note")));
    addChild(root, Idea::initWithText(QStringLiteral("bare"), QStringLiteral("bare")));
    qint64 next = 0;
    const QString text = test::pdfText(renderNotes(root, Size(746, 1090), QStringLiteral("numbers"), &next));
    EXPECT_EQ(next, 3);
    // The root's empty title leaves its line empty; the entries follow in order.
    EXPECT_LT(text.indexOf(QStringLiteral("root note")), text.indexOf(QStringLiteral("002")));
    EXPECT_TRUE(text.contains(QStringLiteral("Kid")));
}

// A page narrower than a column (200 points) and a note of one 5,000-letter word: the run
// ends and every letter comes back, in order.
TEST(NotePages, ALongWordOnPagesNarrowerThanAColumnComesBackWhole)
{
    std::mt19937 random(5);
    QString word;
    for (int i = 0; i < 5000; ++i)
        word.append(QChar(u'a' + char16_t(random() % 26)));
    const IdeaPtr root = noteIdea(QStringLiteral("root"), QStringLiteral("LONGWORD"), word);
    int pages = 0;
    const QString pdf = renderNotes(root, Size(200, 400), QStringLiteral("narrow"), nullptr, &pages);
    EXPECT_GT(pages, 1);
    EXPECT_EQ(int(test::pdfPages(pdf).size()), pages);
    test::pdfRaster(pdf, 1, 72, QStringLiteral("narrow_page"));
    QString letters = test::withoutWhiteSpace(test::pdfText(pdf, 1, 0, false));
    letters.remove(QRegularExpression(QStringLiteral("[^a-z]")));
    EXPECT_EQ(letters.size(), word.size());
    qsizetype same = 0;
    while (same < letters.size() && same < word.size() && letters[same] == word[same])
        ++same;
    EXPECT_EQ(letters, word) << "first difference at " << same << ": "
                             << letters.mid(same - 5, 40).toStdString() << " vs "
                             << word.mid(same - 5, 40).toStdString();
}

// Pages too short for a single line and too narrow for any column still end the run, with
// every word placed once.
TEST(NotePages, PagesTooSmallForALineStillEnd)
{
    const IdeaPtr root =
        noteIdea(QStringLiteral("root"), QStringLiteral("Tiny"), test::longNote(40, QStringLiteral("tiny")));
    int pages = 0;
    const QString pdf = renderNotes(root, Size(60, 70), QStringLiteral("tiny"), nullptr, &pages);
    EXPECT_GT(pages, 1);
    EXPECT_LT(pages, 200);
}

// Scripts, emoji, empty texts and a 100,000-character note over many pages.
TEST(NotePages, AnyScriptAndLengthIsSetAndNothingIsLost)
{
    const IdeaPtr root = Idea::initWithText(QStringLiteral("root"), QStringLiteral("root"));
    addChild(root, noteIdea(QStringLiteral("rtl"), QStringLiteral("عنوان"),
                            QStringLiteral("שלום עולם مرحبا بالعالم")));
    addChild(root, noteIdea(QStringLiteral("emoji"), QStringLiteral("Party 🎉"),
                            QStringLiteral("cake 🎂 and more 👍🏽 text")));
    addChild(root, noteIdea(QStringLiteral("empty"), QString(), QStringLiteral("untitled note")));
    addChild(root, Idea::initWithText(QString(), QStringLiteral("nothing")));
    addChild(root, noteIdea(QStringLiteral("lines"), QStringLiteral("Lines"),
                            QStringLiteral("one\r\ntwo\n\nthree\rfour\u2029five")));
    const int words = test::heavyScale(16667, 3000);
    addChild(root, noteIdea(QStringLiteral("huge"), QStringLiteral("Huge"),
                            test::longNote(words, QStringLiteral("huge"))));
    int pages = 0;
    const QString pdf = renderNotes(root, Size(746, 1090), QStringLiteral("scripts"), nullptr, &pages);
    EXPECT_GT(pages, 3);
    // The colour emoji are drawn (text and numbers are black or grey).
    const QImage page = test::pdfRaster(pdf, 1, 72, QStringLiteral("scripts_page"));
    int colourful = 0;
    for (int y = 0; y < page.height(); ++y)
        for (int x = 0; x < page.width(); ++x) {
            const QColor c = page.pixelColor(x, y);
            colourful +=
                std::max({c.red(), c.green(), c.blue()}) - std::min({c.red(), c.green(), c.blue()}) > 100;
        }
    EXPECT_GT(colourful, 30);
    const QString text = test::pdfText(pdf, 1, 0, false);
    for (const char* expected :
         {"untitled note", "one", "two", "three", "four", "five", "cake", "Party", "hugeend"})
        EXPECT_TRUE(text.contains(QString::fromUtf8(expected)))
            << expected << " in " << text.left(200).toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("عنوان")) || text.contains(QStringLiteral("ناونع")));
    // Every numbered word of the long note once.
    int found = 0;
    const std::vector<test::PdfWord> all = test::pdfWords(pdf);
    for (const test::PdfWord& word : all)
        if (QRegularExpression(QStringLiteral("^w\\d{4,5}$")).match(word.text).hasMatch())
            ++found;
    EXPECT_EQ(found, words - 1);
}

} // namespace
} // namespace corvex
