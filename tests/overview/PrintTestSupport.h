#pragma once

// Shared pieces of the printing and PDF tests: poppler's tools over a written PDF (pages and
// sizes, text, words with their boxes, a raster of one page), trees with notes, and a print
// panel that answers with a PDF-writing printer.

#include "model/Idea.h"
#include "overview/GraphTileFactory.h"
#include "overview/MindMapToPDF.h"
#include "overview/PlatonicPage.h"
#include "platform/ui/PrintPanelRunner.h"
#include "tests/support/HelperProcess.h"
#include "tests/support/TestEnvironment.h"
#include "tests/support/TestFiles.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QPageSize>
#include <QPrinter>
#include <QRegularExpression>
#include <QStringList>
#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <vector>

namespace corvex::test {

inline QString writtenPdf(const QByteArray& pdf, const QString& name)
{
    const QString path = testDir() + QLatin1Char('/') + name + QStringLiteral(".pdf");
    writeFile(path, pdf);
    return path;
}

// A poppler tool's output file; empty when the tool failed.
inline QByteArray popplerOutput(const QString& tool, QStringList arguments, const QString& outputName)
{
    const QString out = testDir() + QLatin1Char('/') + outputName;
    arguments.append(out);
    const ProgramRun run = runProgramToEnd(tool, arguments);
    EXPECT_TRUE(run.ran && run.exitCode == 0) << tool.toStdString() << ": " << run.output.constData();
    return readFile(out);
}

struct PdfPage
{
    double width = 0;
    double height = 0;
};

// The pages' sizes as pdfinfo gives them.
inline std::vector<PdfPage> pdfPages(const QString& pdf)
{
    const ProgramRun run =
        runProgramToEnd(QStringLiteral("pdfinfo"), {QStringLiteral("-f"), QStringLiteral("1"),
                                                    QStringLiteral("-l"), QStringLiteral("100000"), pdf});
    EXPECT_TRUE(run.ran && run.exitCode == 0) << run.output.constData();
    std::vector<PdfPage> pages;
    static const QRegularExpression size(QStringLiteral("^Page +\\d+ size: +([0-9.]+) x ([0-9.]+) pts"),
                                         QRegularExpression::MultilineOption);
    auto it = size.globalMatch(QString::fromUtf8(run.output));
    while (it.hasNext()) {
        const auto match = it.next();
        pages.push_back({match.captured(1).toDouble(), match.captured(2).toDouble()});
    }
    return pages;
}

// The text of pages first to last (0: to the end), in layout order; `compatible`: with
// ligatures, presentation forms and the like as their plain letters (NFKC).
inline QString pdfText(const QString& pdf, int first = 1, int last = 0, bool layout = true,
                       bool compatible = true)
{
    QStringList arguments{QStringLiteral("-f"), QString::number(first)};
    if (last > 0)
        arguments << QStringLiteral("-l") << QString::number(last);
    if (layout)
        arguments << QStringLiteral("-layout");
    arguments << QStringLiteral("-enc") << QStringLiteral("UTF-8") << pdf;
    const QString text =
        QString::fromUtf8(popplerOutput(QStringLiteral("pdftotext"), arguments, QStringLiteral("text.txt")));
    return compatible ? text.normalized(QString::NormalizationForm_KC) : text;
}

struct PdfWord
{
    int page = 0; // from 1
    QString text;
    double xMin = 0, yMin = 0, xMax = 0, yMax = 0; // points, y down from the page's top
};

// Every word with its box (pdftotext -bbox).
inline std::vector<PdfWord> pdfWords(const QString& pdf)
{
    const QString html = QString::fromUtf8(
        popplerOutput(QStringLiteral("pdftotext"),
                      {QStringLiteral("-bbox"), QStringLiteral("-enc"), QStringLiteral("UTF-8"), pdf},
                      QStringLiteral("words.html")));
    std::vector<PdfWord> words;
    static const QRegularExpression element(
        QStringLiteral("<page |<word xMin=\"([0-9.-]+)\" yMin=\"([0-9.-]+)\" xMax=\"([0-9.-]+)\" "
                       "yMax=\"([0-9.-]+)\">([^<]*)</word>"));
    int page = 0;
    auto it = element.globalMatch(html);
    while (it.hasNext()) {
        const auto match = it.next();
        if (match.captured(0).startsWith(QStringLiteral("<page"))) {
            ++page;
            continue;
        }
        // Ligatures ("fi") come back as their own characters.
        QString text = match.captured(5).normalized(QString::NormalizationForm_KC);
        text.replace(QStringLiteral("&amp;"), QStringLiteral("&"))
            .replace(QStringLiteral("&lt;"), QStringLiteral("<"))
            .replace(QStringLiteral("&gt;"), QStringLiteral(">"))
            .replace(QStringLiteral("&quot;"), QStringLiteral("\""));
        words.push_back({page, text, match.captured(1).toDouble(), match.captured(2).toDouble(),
                         match.captured(3).toDouble(), match.captured(4).toDouble()});
    }
    return words;
}

// Page `page` rasterised at `dpi`, also saved under test-output/print/<name>.png.
inline QImage pdfRaster(const QString& pdf, int page, int dpi, const QString& name)
{
    const QString prefix = testDir() + QStringLiteral("/raster");
    const ProgramRun run = runProgramToEnd(
        QStringLiteral("pdftoppm"), {QStringLiteral("-f"), QString::number(page), QStringLiteral("-l"),
                                     QString::number(page), QStringLiteral("-r"), QString::number(dpi),
                                     QStringLiteral("-png"), QStringLiteral("-singlefile"), pdf, prefix});
    EXPECT_TRUE(run.ran && run.exitCode == 0) << run.output.constData();
    QImage image(prefix + QStringLiteral(".png"));
    const QString dir = testOutputDir() + QStringLiteral("/print");
    QDir().mkpath(dir);
    image.save(dir + QLatin1Char('/') + name + QStringLiteral(".png"));
    return image;
}

// Where a drawn position of the map (content coordinates of a factory without filter or
// centring) lands on an exported PDF's first page rastered at `dpi`: through the map's zoom
// (the graph fitted below the header, never enlarged) and the platonic-to-page transform.
inline QPoint mapPagePixel(const GraphTileFactory& factory, Point drawn, int dpi)
{
    const Rect inner = PlatonicPage::innerRect(false);
    const Size content = factory.contentSize();
    const double mapHeight = inner.size.height - 40;
    const double zoom = std::min({inner.size.width / content.width, mapHeight / content.height, 1.0});
    const AffineTransform toPage = PlatonicPage::transform(inner.size, MindMapToPDF::pageInnerRect());
    const Point platonic((inner.size.width - content.width * zoom) / 2 + drawn.x * zoom,
                         mapHeight - (mapHeight - content.height * zoom) / 2 - drawn.y * zoom);
    const Point onPage = toPage.apply(platonic);
    const double scale = dpi / 72.0;
    return QPoint(int(std::lround(onPage.x * scale)),
                  int(std::lround((MindMapToPDF::pageRect().size.height - onPage.y) * scale)));
}

inline QString withoutWhiteSpace(QString text)
{
    static const QRegularExpression space(QStringLiteral("\\s+"));
    return text.remove(space);
}

inline IdeaPtr noteIdea(const QString& id, const QString& title, const QString& note)
{
    IdeaPtr idea = Idea::initWithText(title, id);
    idea->setNote(note);
    return idea;
}

inline void addChild(const IdeaPtr& parent, const IdeaPtr& child)
{
    const bool added = parent->addIdea(child);
    EXPECT_TRUE(added) << child->identifier().toStdString();
}

// A note of `words` numbered words ("w0001 w0002 ..."), its last word "<tag>end".
inline QString longNote(int words, const QString& tag)
{
    QStringList list;
    for (int i = 1; i < words; ++i)
        list.append(QStringLiteral("w%1").arg(i, 4, 10, QLatin1Char('0')));
    list.append(tag + QStringLiteral("end"));
    return list.join(QLatin1Char(' '));
}

// A print panel that prints into a PDF file on paper of the given size (points, portrait
// orientation as given), with chosen from/to pages; or cancels. Counts its runs.
class ScriptedPrintPanel final : public PrintPanelRunner
{
public:
    QString file;
    QSizeF paper{595.276, 841.89};
    QMarginsF margins{36, 36, 36, 36};
    int fromPage = 0;
    int toPage = 0;
    bool print = true;
    int runs = 0;

    bool runPrintPanel(QPrinter& printer, Window*) override
    {
        ++runs;
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(file);
        printer.setPageOrientation(QPageLayout::Portrait);
        printer.setPageSize(
            QPageSize(paper, QPageSize::Point, QStringLiteral("test paper"), QPageSize::ExactMatch));
        printer.setPageMargins(margins, QPageLayout::Point);
        if (fromPage > 0 || toPage > 0) {
            printer.setPrintRange(QPrinter::PageRange);
            printer.setFromTo(fromPage, toPage);
        }
        return print;
    }
};

} // namespace corvex::test
