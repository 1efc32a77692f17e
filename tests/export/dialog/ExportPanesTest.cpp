// The seven panes end to end through the dialog: each file written from a cloud document
// with pictures and checked with the tools that read it, the pane options, the atomic save
// under an injected rename failure, "Send via email ...", the own format's attachments taken
// from the document's location, and titles or destinations that make writing hard.

#include "export/ImageShareTypeView.h"
#include "export/PDFShareTypeView.h"
#include "export/ShareTypeView.h"
#include "export/TextShareTypeView.h"
#include "export/WebShareTypeView.h"
#include "formats/ExportImport.h"
#include "formats/OPMLWriter.h"
#include "formats/TextExporter.h"
#include "model/IdeaDocumentDataObject.h"
#include "platform/core/Paths.h"
#include "storage/DocumentImporter.h"
#include "tests/doubles/ui/ScriptedAlertRunner.h"
#include "tests/doubles/ui/ScriptedFilePanelRunner.h"
#include "tests/export/dialog/ExportDialogRig.h"
#include "tests/support/FailureText.h"
#include "tests/support/FaultShim.h"
#include "tests/support/HelperProcess.h"
#include "tests/support/LogCapture.h"
#include "tests/support/RunUntil.h"
#include "tests/support/TestFiles.h"
#include "toolkit/ButtonView.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QImage>
#include <QRegularExpression>
#include <QStandardPaths>
#include <cerrno>
#include <gtest/gtest.h>
#include <optional>

namespace corvex::test {
namespace {

struct PaneFile
{
    quint64 shareType;
    const char* name;
};

const PaneFile kPaneFiles[] = {
    {ExportScreen::OwnFormat, "trip.corvex"},
    {ExportScreen::PDF, "trip.pdf"},
    {ExportScreen::Presentation, "trip-presentation.zip"},
    {ExportScreen::Text, "trip.txt"},
    {ExportScreen::Image, "trip.png"},
    {ExportScreen::Web, "trip-web.zip"},
    {ExportScreen::OPML, "trip.opml"},
};

bool toolsPresent()
{
    for (const char* tool : {"pdfinfo", "xmllint", "unzip"}) {
        if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
            return false;
    }
    return true;
}

// "text(children ...)" of a tree, pictures as "(image)".
QString outline(const IdeaPtr& idea)
{
    QString text = idea->exportTitle();
    if (!idea->ideas().empty()) {
        QStringList children;
        for (const auto& child : idea->ideas())
            children.append(outline(child));
        text += QLatin1Char('(') + children.join(QLatin1Char(' ')) + QLatin1Char(')');
    }
    return text;
}

struct Imported
{
    IdeaPtr root;
    QHash<QString, QByteArray> attachments;
};

std::optional<Imported> importArchive(const QString& path)
{
    Imported imported;
    bool done = false;
    ExportImport::importDocument(
        QUrl::fromLocalFile(path),
        [&](const ObjectID& attachment, const QByteArray& data, DocumentImporter::AttachmentStored next) {
            imported.attachments.insert(attachment.asString(), data);
            next(true);
        },
        [&](const DocumentImporter::Read& read) {
            imported.root = read.ok() ? read.value()->idea() : nullptr;
            done = true;
        });
    runUntil([&] { return done; }, 30);
    if (!imported.root)
        return std::nullopt;
    return imported;
}

// pdfinfo's "Pages:" line gives the count.
bool pageCountIs(const QByteArray& pdfinfo, int pages)
{
    return QString::fromUtf8(pdfinfo).contains(
        QRegularExpression(QStringLiteral("\\nPages:\\s+%1\\n").arg(pages)));
}

QByteArray unzipped(const QString& zip, const QString& entry)
{
    return runProgramToEnd(QStringLiteral("unzip"), {QStringLiteral("-p"), zip, entry}).output;
}

TEST(ExportPanes, EachPaneWritesItsFileFromACloudDocumentWithPictures)
{
    if (!toolsPresent())
        GTEST_SKIP() << "pdfinfo, xmllint and unzip are needed";
    CloudLocation cloud;
    ASSERT_TRUE(cloud.state);
    const IdeaPtr tree = cloud.treeWithPictures();
    for (const PaneFile& pane : kPaneFiles) {
        SCOPED_TRACE(pane.name);
        DialogRig rig(tree, 2);
        const QString path = exportFolder() + QLatin1Char('/') + QString::fromLatin1(pane.name);
        EXPECT_TRUE(rig.exportTo(pane.shareType, path)) << "the dialog closes after a written export";
        EXPECT_TRUE(QFileInfo(path).isFile());
        EXPECT_EQ(rig.alerts->presentedCount(), 0);
    }
    const QString folder = exportFolder() + QLatin1Char('/');

    const std::optional<Imported> imported = importArchive(folder + QStringLiteral("trip.corvex"));
    ASSERT_TRUE(imported);
    EXPECT_EQ(outline(imported->root), outline(tree));
    EXPECT_EQ(imported->attachments, cloud.attachments);

    const ProgramRun pdf = runProgramToEnd(QStringLiteral("pdfinfo"), {folder + QStringLiteral("trip.pdf")});
    EXPECT_TRUE(pdf.ran && pdf.exitCode == 0) << pdf.output.constData();
    // Notes are included by default: the map page and a note page.
    EXPECT_TRUE(pageCountIs(pdf.output, 2)) << pdf.output.constData();
    EXPECT_TRUE(toolAccepts(QStringLiteral("xmllint"),
                            {QStringLiteral("--noout"), folder + QStringLiteral("trip.opml")}));
    EXPECT_EQ(readFile(folder + QStringLiteral("trip.txt")),
              TextExporter::ideaAsTextOutline(tree, true).toUtf8());
    const QImage png(folder + QStringLiteral("trip.png"));
    EXPECT_FALSE(png.isNull());
    EXPECT_EQ(png.pixelColor(0, 0).alpha(), 255) << "opaque by default";
    for (const char* zip : {"trip-presentation.zip", "trip-web.zip"})
        EXPECT_TRUE(
            toolAccepts(QStringLiteral("unzip"), {QStringLiteral("-t"), folder + QString::fromLatin1(zip)}));
    EXPECT_TRUE(unzipped(folder + QStringLiteral("trip-presentation.zip"), QStringLiteral("files/data.js"))
                    .contains("\"mode\": \"presentation\""));
    EXPECT_TRUE(unzipped(folder + QStringLiteral("trip-web.zip"), QStringLiteral("files/data.js"))
                    .contains("\"mode\": \"embedded\""));
}

// Exports are made for the user to hand on: under the usual umask every exported file, and
// every file of an unpacked web site, is readable by others. A destination named as another
// format's file gets the pane's own extension, so no pane writes one format under another's
// name, and the file of that name stays as it was.
TEST(ExportPanes, EveryExportIsReadableByOthersAndNoneWritesOverAFileOfAnotherFormat)
{
    if (!toolsPresent())
        GTEST_SKIP() << "pdfinfo, xmllint and unzip are needed";
    ScopedUmask mask(022);
    CloudLocation cloud;
    ASSERT_TRUE(cloud.state);
    const IdeaPtr tree = cloud.treeWithPictures();
    const QString folder = exportFolder() + QLatin1Char('/');
    const QByteArray outline = "<?xml version=\"1.0\"?><opml version=\"1.0\"><head/><body/></opml>";
    const QByteArray picture = "not touched";
    writeFile(folder + QStringLiteral("mine.opml"), outline);
    writeFile(folder + QStringLiteral("mine.png"), picture);
    struct Row
    {
        quint64 shareType;
        const char* typed;
        const char* written;
    };
    for (const Row& row : {Row{ExportScreen::OwnFormat, "mine.opml", "mine.opml.corvex"},
                           Row{ExportScreen::PDF, "mine.opml", "mine.opml.pdf"},
                           Row{ExportScreen::Presentation, "mine.png", "mine.png.zip"},
                           Row{ExportScreen::Text, "mine.opml", "mine.opml.txt"},
                           Row{ExportScreen::Image, "mine.opml", "mine.opml.png"},
                           Row{ExportScreen::Web, "mine.opml", "mine.opml.zip"},
                           Row{ExportScreen::OPML, "mine.png", "mine.png.opml"}}) {
        SCOPED_TRACE(row.written);
        DialogRig rig(tree, 2);
        EXPECT_TRUE(rig.exportTo(row.shareType, folder + QString::fromLatin1(row.typed)));
        const QString written = folder + QString::fromLatin1(row.written);
        EXPECT_TRUE(QFileInfo(written).isFile());
        EXPECT_EQ(filePermissions(written), mode_t(0644));
    }
    EXPECT_EQ(readFile(folder + QStringLiteral("mine.opml")), outline);
    EXPECT_EQ(readFile(folder + QStringLiteral("mine.png")), picture);
    EXPECT_TRUE(readFile(folder + QStringLiteral("mine.opml.pdf")).startsWith("%PDF-"));

    // Sent by e-mail, each form is written under its own extension, readable by others.
    {
        DialogRig rig(tree, 2);
        for (const quint64 shareType : {ExportScreen::Text, ExportScreen::OPML, ExportScreen::OwnFormat})
            rig.sendByEmail(shareType);
        ASSERT_EQ(rig.mail->paths.size(), 3);
        EXPECT_EQ(QFileInfo(rig.mail->paths[0]).fileName(), QStringLiteral("Trip.txt"));
        EXPECT_EQ(QFileInfo(rig.mail->paths[1]).fileName(), QStringLiteral("Trip.opml"));
        EXPECT_EQ(QFileInfo(rig.mail->paths[2]).fileName(), QStringLiteral("Trip.corvex"));
        for (const QString& sent : rig.mail->paths)
            EXPECT_EQ(filePermissions(sent), mode_t(0644)) << sent.toStdString();
    }

    // The web site as unzip unpacks it: every entry listed as -rw-r--r--, every file readable.
    const QString site = folder + QStringLiteral("mine.opml.zip");
    const ProgramRun listing = runProgramToEnd(QStringLiteral("unzip"), {QStringLiteral("-Z"), site});
    ASSERT_TRUE(listing.ran && listing.exitCode == 0) << listing.output.constData();
    int entries = 0;
    for (const QByteArray& line : listing.output.split('\n')) {
        if (line.startsWith('-') || line.startsWith('d') || line.startsWith('l')) {
            ++entries;
            EXPECT_TRUE(line.startsWith("-rw-r--r--")) << line.constData();
        }
    }
    EXPECT_GT(entries, 5);
    const QString unpacked = folder + QStringLiteral("site");
    QDir().mkpath(unpacked);
    const ProgramRun unzip = runProgramToEnd(QStringLiteral("unzip"),
                                             {QStringLiteral("-q"), site, QStringLiteral("-d"), unpacked});
    ASSERT_TRUE(unzip.ran && unzip.exitCode == 0) << unzip.output.constData();
    int files = 0;
    QDirIterator it(unpacked, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        ++files;
        EXPECT_EQ(filePermissions(path), mode_t(0644)) << path.toStdString();
    }
    EXPECT_EQ(files, entries);
    EXPECT_TRUE(QFileInfo::exists(unpacked + QStringLiteral("/index.html")));
    EXPECT_TRUE(QFileInfo::exists(unpacked + QStringLiteral("/files/data.js")));
}

TEST(ExportPanes, TheOwnFormatPaneTakesThePicturesFromTheDocumentsLocation)
{
    CloudLocation cloud;
    ASSERT_TRUE(cloud.state);
    const IdeaPtr tree = cloud.treeWithPictures();
    // Given the temporary location, the cloud document's pictures are not found: no file.
    {
        DialogRig rig(tree, 0);
        const QString path = exportFolder() + QStringLiteral("/wrong-place.corvex");
        EXPECT_FALSE(rig.exportTo(ExportScreen::OwnFormat, path));
        EXPECT_FALSE(QFileInfo::exists(path));
    }
    // From the sub-idea the dialog may be given, the whole tree of location 2.
    DialogRig rig(tree->ideas()[1], 2);
    const QString path = exportFolder() + QStringLiteral("/location2.corvex");
    ASSERT_TRUE(rig.exportTo(ExportScreen::OwnFormat, path));
    const std::optional<Imported> imported = importArchive(path);
    ASSERT_TRUE(imported);
    EXPECT_EQ(outline(imported->root), outline(tree));
    EXPECT_EQ(imported->attachments.size(), 2);
    EXPECT_EQ(imported->attachments, cloud.attachments);
}

TEST(ExportPanes, TheOptionsChangeWhatIsWritten)
{
    if (!toolsPresent())
        GTEST_SKIP() << "pdfinfo and unzip are needed";
    CloudLocation cloud;
    const IdeaPtr tree = cloud.treeWithPictures();
    const QString folder = exportFolder() + QLatin1Char('/');
    {
        DialogRig rig(tree, 2);
        const auto pane = std::static_pointer_cast<TextShareTypeView>(rig.select(ExportScreen::Text));
        pane->buttonPressed(*pane->notesButton());
        pane->buttonPressed(*pane->htmlFormatButton());
        EXPECT_EQ(pane->fileTypeSuffix(), QStringLiteral("html"));
        ASSERT_TRUE(rig.exportTo(ExportScreen::Text, folder + QStringLiteral("plain.html")));
        EXPECT_EQ(rig.panels->presentedSaves().back().panel.nameFieldStringValue,
                  QStringLiteral("Trip.html"));
        EXPECT_EQ(rig.panels->presentedSaves().back().panel.allowedFileTypes,
                  QStringList{QStringLiteral("html")});
        const QByteArray html = readFile(folder + QStringLiteral("plain.html"));
        EXPECT_EQ(html, TextExporter::ideaAsNestedHTMLList(tree, false).toUtf8());
        EXPECT_FALSE(html.contains("Pack the bags"));
    }
    {
        DialogRig rig(tree, 2);
        const auto pane = std::static_pointer_cast<PDFShareTypeView>(rig.select(ExportScreen::PDF));
        pane->buttonPressed(*pane->notesButton());
        ASSERT_TRUE(rig.exportTo(ExportScreen::PDF, folder + QStringLiteral("map-only.pdf")));
        const ProgramRun pdf =
            runProgramToEnd(QStringLiteral("pdfinfo"), {folder + QStringLiteral("map-only.pdf")});
        EXPECT_TRUE(pageCountIs(pdf.output, 1)) << pdf.output.constData();
    }
    {
        DialogRig rig(tree, 2);
        const auto pane = std::static_pointer_cast<ImageShareTypeView>(rig.select(ExportScreen::Image));
        pane->buttonPressed(*pane->transparencyButton());
        ASSERT_TRUE(rig.exportTo(ExportScreen::Image, folder + QStringLiteral("clear.png")));
        EXPECT_EQ(QImage(folder + QStringLiteral("clear.png")).pixelColor(0, 0).alpha(), 0);
    }
    {
        DialogRig rig(tree, 2);
        const auto pane = std::static_pointer_cast<WebShareTypeView>(rig.select(ExportScreen::Web));
        pane->buttonPressed(*pane->coverPageButton());
        ASSERT_TRUE(rig.exportTo(ExportScreen::Web, folder + QStringLiteral("full.zip")));
        EXPECT_TRUE(unzipped(folder + QStringLiteral("full.zip"), QStringLiteral("files/data.js"))
                        .contains("\"mode\": \"fullpage\""));
    }
}

TEST(ExportPanes, AFailedRenameKeepsTheOldFileLogsTheLineAndShowsAnAlert)
{
    CloudLocation cloud;
    const IdeaPtr tree = cloud.treeWithPictures();
    const QByteArray old("the file that was there before");
    for (const PaneFile& pane : kPaneFiles) {
        SCOPED_TRACE(pane.name);
        // A run that works counts the renames; the destination's is the last.
        int renames = 0;
        {
            DialogRig rig(tree, 2);
            FaultShim counting;
            ASSERT_TRUE(rig.exportTo(pane.shareType, exportFolder() + QStringLiteral("/counted-") +
                                                         QString::fromLatin1(pane.name)));
            renames = counting.callCount(FaultShim::Op::Rename);
        }
        ASSERT_GT(renames, 0);
        const QString path = exportFolder() + QLatin1Char('/') + QString::fromLatin1(pane.name);
        writeFile(path, old);
        DialogRig rig(tree, 2);
        LogCapture log;
        {
            FaultShim shim;
            shim.failAt(FaultShim::Op::Rename, renames, EIO);
            EXPECT_FALSE(rig.exportTo(pane.shareType, path));
        }
        EXPECT_EQ(readFile(path), old);
        ASSERT_EQ(rig.alerts->presentedCount(), 1);
        EXPECT_EQ(rig.alerts->presented()[0].messageText, QStringLiteral("Failed to save file"));
        // The alert and a warning say why.
        const QString& informative = rig.alerts->presented()[0].informativeText;
        const QString cause = test::errnoText(EIO);
        EXPECT_TRUE(informative.contains(path)) << informative.toStdString();
        EXPECT_TRUE(informative.contains(cause)) << informative.toStdString();
        EXPECT_EQ(log.count(LogLevel::Warning, QStringLiteral("ShareTypeView: ")), 1)
            << log.lines().join(QLatin1Char('\n')).toStdString();
        EXPECT_TRUE(log.contains(QStringLiteral("ERROR: Assertion failure, line: ")));
        EXPECT_TRUE(log.contains(QStringLiteral("-[ShareTypeView saveToFile]_block_invoke")));
        // The dialog stays, its buttons working again.
        EXPECT_EQ(rig.dismissal->requests, 0);
        EXPECT_TRUE(rig.dialog->shareTypeView(pane.shareType)->userInteractionEnabled());
        EXPECT_EQ(QDir(exportFolder()).entryList(QDir::Files | QDir::Hidden).filter(QStringLiteral(".tmp")),
                  QStringList())
            << "no temporary left behind";
    }
}

TEST(ExportPanes, SendViaEmailHandsOneVolatilePdfToTheMailProgramOrNamesItInAnAlert)
{
    CloudLocation cloud;
    const IdeaPtr tree = cloud.treeWithPictures();
    DialogRig rig(tree, 2);
    rig.sendByEmail(ExportScreen::PDF);
    ASSERT_EQ(rig.mail->paths.size(), 1);
    const QString sent = rig.mail->paths[0];
    const QString volatileFolder =
        Paths::applicationSupport() + QLatin1Char('/') + Paths::appFolderName() + QStringLiteral("/volatile");
    EXPECT_EQ(QFileInfo(sent).absolutePath(), QFileInfo(volatileFolder).absoluteFilePath());
    EXPECT_EQ(QFileInfo(sent).fileName(), QStringLiteral("Trip.pdf"));
    EXPECT_TRUE(readFile(sent).startsWith("%PDF-"));
    EXPECT_EQ(rig.alerts->presentedCount(), 0);
    EXPECT_EQ(rig.dismissal->requests, 0) << "the dialog stays open";

    rig.mail->answer = false;
    rig.sendByEmail(ExportScreen::PDF);
    ASSERT_EQ(rig.mail->paths.size(), 2);
    ASSERT_EQ(rig.alerts->presentedCount(), 1);
    EXPECT_TRUE(rig.alerts->presented()[0].informativeText.contains(sent));
    EXPECT_TRUE(QFileInfo(sent).isFile());
    EXPECT_TRUE(rig.dialog->shareTypeView(ExportScreen::PDF)->userInteractionEnabled());

    // A write that fails reaches no mail program: the line is logged and the file named.
    LogCapture log;
    {
        FaultShim shim;
        shim.failFrom(FaultShim::Op::Rename, 1, ENOSPC);
        rig.sendByEmail(ExportScreen::PDF);
    }
    EXPECT_EQ(rig.mail->paths.size(), 2);
    ASSERT_EQ(rig.alerts->presentedCount(), 2);
    EXPECT_EQ(rig.alerts->presented()[1].messageText, QStringLiteral("Failed to save file"));
    EXPECT_TRUE(rig.alerts->presented()[1].informativeText.contains(sent));
    EXPECT_TRUE(log.contains(QStringLiteral("-[ShareTypeView shareViaEmail]_block_invoke")));
    EXPECT_TRUE(readFile(sent).startsWith("%PDF-")) << "the earlier file stays";
}

TEST(ExportPanes, OddTitlesMakePlainNamesAndBadDestinationsLeaveNothingHalfWritten)
{
    struct Row
    {
        QString title;
        QString proposed;
    };
    const std::vector<Row> rows = {
        {QStringLiteral("a/b/../c"), QStringLiteral("ab..c.opml")},
        {QStringLiteral("..."), QStringLiteral("document.opml")},
        {QString(1000, QLatin1Char('x')), QStringLiteral("xxxxxxxxxx.opml")},
        {QStringLiteral("\u202Elmpo.exe"), QStringLiteral("lmpo.exe.opml")},
        {QStringLiteral("\u05E9\u05DC\u05D5\u05DD"), QStringLiteral("\u05E9\u05DC\u05D5\u05DD.opml")},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.proposed.toStdString());
        const IdeaPtr tree = Idea::initWithText(row.title);
        (void)tree->addIdea(Idea::initWithText(QStringLiteral("child")));
        DialogRig rig(tree);
        rig.panels->answerCancel();
        const auto pane = rig.select(ExportScreen::OPML);
        pane->roundedTextButtonPressed(*pane->exportButton());
        ASSERT_TRUE(runUntil([&] { return pane->userInteractionEnabled(); }, 5))
            << "a cancelled panel frees the pane";
        EXPECT_EQ(rig.panels->presentedSaves().back().panel.nameFieldStringValue, row.proposed);
        rig.sendByEmail(ExportScreen::OPML);
        ASSERT_EQ(rig.mail->paths.size(), 1);
        EXPECT_EQ(QFileInfo(rig.mail->paths[0]).fileName(), row.proposed);
        EXPECT_TRUE(toolAccepts(QStringLiteral("xmllint"), {QStringLiteral("--noout"), rig.mail->paths[0]}));
    }

    const IdeaPtr tree = Idea::initWithText(QStringLiteral("root"));
    // A folder that vanished between the panel and the write.
    {
        DialogRig rig(tree);
        const QString gone = exportFolder() + QStringLiteral("/gone");
        QDir().mkpath(gone);
        QDir(gone).removeRecursively();
        EXPECT_FALSE(rig.exportTo(ExportScreen::Text, gone + QStringLiteral("/root.txt")));
        EXPECT_FALSE(QFileInfo::exists(gone));
        ASSERT_EQ(rig.alerts->presentedCount(), 1);
        EXPECT_TRUE(rig.alerts->presented()[0].informativeText.contains(gone + QStringLiteral("/root.txt")));
    }
    // A read-only destination (injected: the tests run as root).
    {
        DialogRig rig(tree);
        const QString path = exportFolder() + QStringLiteral("/kept.txt");
        writeFile(path, "kept");
        FaultShim shim;
        shim.failFrom(FaultShim::Op::Open, 1, EROFS);
        EXPECT_FALSE(rig.exportTo(ExportScreen::Text, path));
        EXPECT_EQ(readFile(path), QByteArray("kept"));
        EXPECT_EQ(rig.alerts->presentedCount(), 1);
    }
}

} // namespace
} // namespace corvex::test
