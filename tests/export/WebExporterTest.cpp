// The web export end to end: the archive checked with Info-ZIP's unzip, files/data.js run by
// node and compared with the tree tests/data/gen/make_web_export_fixture.py derives from the
// payload fixture, and the failures that must complete NO and keep the destination.

#include "export/WebExporter.h"
#include "export/WebExportPreview.h"
#include "export/WebExportResources.h"
#include "formats/ExportProblems.h"
#include "platform/core/JsonText.h"
#include "tests/export/WebExportTestSupport.h"
#include "tests/support/FailureText.h"
#include "tests/support/FaultShim.h"
#include "tests/support/LogCapture.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <atomic>
#include <cerrno>

using namespace corvex;
using namespace corvex::test;

namespace {

// The object data.js assigns to globalCorvexData, as node runs the file.
QJsonObject runDataJsInNode(const QString& dataJs)
{
    const QString script =
        QStringLiteral("const vm=require('vm');const fs=require('fs');const c={};vm.createContext(c);"
                       "vm.runInContext(fs.readFileSync(process.argv[1],'utf8'),c);"
                       "process.stdout.write(JSON.stringify(c.globalCorvexData));");
    const ProgramRun run = runProgramToEnd(QStringLiteral("node"), {QStringLiteral("-e"), script, dataJs});
    EXPECT_TRUE(run.ran && run.exitCode == 0) << run.output.constData();
    return QJsonDocument::fromJson(run.output).object();
}

QString destinationIn(const QString& name)
{
    return testDir() + QStringLiteral("/out/") + name;
}

} // namespace

TEST(WebExporter, EachModesDataJsEqualsTheIndependentDerivationAndTheArchiveHoldsItsLayout)
{
    if (!haveProgram("unzip") || !haveProgram("node"))
        GTEST_SKIP() << "unzip and node are needed";
    const IdeaPtr tree = allTypesTree();
    ASSERT_TRUE(tree);
    const QJsonObject expected =
        QJsonDocument::fromJson(
            readFile(webTestDataDir() + QStringLiteral("/web/all_types.data.expected.json")))
            .object();
    QDir().mkpath(testDir() + QStringLiteral("/out"));
    const QStringList modes{QStringLiteral("presentation"), QStringLiteral("embedded"),
                            QStringLiteral("fullpage")};
    for (quint64 style = 0; style < 3; ++style) {
        SCOPED_TRACE(modes[int(style)].toStdString());
        const QString zip = destinationIn(modes[int(style)] + QStringLiteral(".zip"));
        ASSERT_EQ(exportNow(tree, style, zip, allTypesAttachments()), std::optional<bool>(true));
        const ProgramRun check = runProgramToEnd(QStringLiteral("unzip"), {QStringLiteral("-t"), zip});
        EXPECT_TRUE(check.ran && check.exitCode == 0) << check.output.constData();
        const QString site = unpackWithUnzip(zip, modes[int(style)]);
        ASSERT_FALSE(site.isEmpty());

        EXPECT_EQ(runDataJsInNode(site + QStringLiteral("/files/data.js")),
                  expected.value(modes[int(style)]).toObject());
        const QByteArray dataJs = readFile(site + QStringLiteral("/files/data.js"));
        EXPECT_TRUE(dataJs.startsWith("globalCorvexData = { \"rootIdea\": {"));
        EXPECT_FALSE(dataJs.endsWith('\n'));

        const QStringList files = filesBelow(site);
        for (const char* name :
             {"index.html", "corvex-viewer.js", "corvex-viewer.css", "corvex-emoji.js", "files/data.js",
              "files/id1614834360_5_mini.png", "files/id1614834360_5.jpg", "files/id1614834360_6_mini.png",
              "files/id1614834360_6.jpg", "files/id1614834360_7_mini.png",
              "files/3f786850e387550fdab836ed7e6dc881de23001b.png",
              "files/89e6c98d92887913cadf06b2adb97f26cde4849b.png"})
            EXPECT_TRUE(files.contains(QString::fromLatin1(name))) << name;
        EXPECT_EQ(readFile(site + QStringLiteral("/files/3f786850e387550fdab836ed7e6dc881de23001b.png")),
                  QByteArray("big picture"));
        EXPECT_EQ(readFile(site + QStringLiteral("/files/id1614834360_6_mini.png")),
                  tree->findIdeaInSubTreeWithIdentifier(QStringLiteral("id1614834360_6"))->image().pngData());
        EXPECT_EQ(files.contains(QStringLiteral("HOW_TO_USE.html")), style != 0);
        EXPECT_EQ(!files.filter(QRegularExpression(QStringLiteral("^include/[a-z0-9_]+\\.png$"))).isEmpty(),
                  style == 0);
        EXPECT_EQ(files.contains(QStringLiteral("include/.DS_Store")), style != 0);
        // The root's title, escaped.
        EXPECT_TRUE(readFile(site + QStringLiteral("/index.html"))
                        .contains("<title>Plan 2024 \xE2\x9C\x93 \xE2\x80\x94 &quot;quoted&quot; \\ "
                                  "back/slash\ttab</title>"));
    }
}

TEST(WebExporter, TheCompiledInArchivesPassUnzipAndHoldNoArchive)
{
    if (!haveProgram("unzip"))
        GTEST_SKIP() << "unzip is needed";
    for (const QString& name : {QStringLiteral("web_include"), QStringLiteral("web_twemoji")}) {
        const std::optional<QByteArray> bytes = WebExportResources::resourceData(name, QStringLiteral("zip"));
        ASSERT_TRUE(bytes) << name.toStdString();
        const QString path = testDir() + QLatin1Char('/') + name + QStringLiteral(".zip");
        writeFile(path, *bytes);
        const ProgramRun check = runProgramToEnd(QStringLiteral("unzip"), {QStringLiteral("-t"), path});
        EXPECT_TRUE(check.ran && check.exitCode == 0) << check.output.constData();
        const ProgramRun list = runProgramToEnd(QStringLiteral("unzip"), {QStringLiteral("-Z1"), path});
        EXPECT_FALSE(list.output.contains(".zip")) << list.output.constData();
        EXPECT_FALSE(list.output.trimmed().isEmpty());
    }
}

TEST(WebExporter, AMissingRootOrDestinationCompletesNoAtOnceOnTheMainQueue)
{
    LogCapture log;
    const IdeaPtr tree = Idea::initWithText(QStringLiteral("t"), QStringLiteral("r"));
    EXPECT_EQ(exportNow(nullptr, 1, destinationIn(QStringLiteral("a.zip")), attachmentTable({})),
              std::optional<bool>(false));
    EXPECT_EQ(exportNow(tree, 1, QString(), attachmentTable({})), std::optional<bool>(false));
    EXPECT_TRUE(log.contains(QStringLiteral("ERROR: Assertion failure")));
    // A destination folder that does not exist: the packing fails, and says which file and why.
    const QString missing = testDir() + QStringLiteral("/missing/a.zip");
    const std::optional<Status> packing = exportWithStatus(tree, 1, missing, attachmentTable({}));
    ASSERT_TRUE(packing.has_value());
    ASSERT_TRUE(failsNaming(*packing, missing, errnoText(ENOENT)));
    EXPECT_EQ(packing->error().code(), ExportProblems::NotWritten);
}

TEST(WebExporter, AFailedWriteOrAMissingAttachmentOrResourceCompletesNoAndKeepsTheDestination)
{
    const QString zip = destinationIn(QStringLiteral("kept.zip"));
    const QByteArray old("an older archive");
    writeFile(zip, old);
    const IdeaPtr plain = Idea::initWithText(QStringLiteral("Plain"), QStringLiteral("p"));
    const IdeaPtr withAttachment = Idea::initWithText(QStringLiteral("Root"), QStringLiteral("r"));
    const ObjectID attachment(QStringLiteral("3f786850e387550fdab836ed7e6dc881de23001b"),
                              QStringLiteral("png"));
    const IdeaPtr picture = Idea::initWithImageAttachment(QVImage(), attachment);
    ASSERT_TRUE(withAttachment->addIdea(picture));
    const auto source = attachmentTable({{attachment.asString(), QByteArray("bytes")}});

    // The renames of a whole export, counted once: the archive's is the last.
    int renames = 0;
    {
        FaultShim counting;
        ASSERT_EQ(exportNow(withAttachment, 1, destinationIn(QStringLiteral("counted.zip")), source),
                  std::optional<bool>(true));
        renames = counting.callCount(FaultShim::Op::Rename);
    }
    struct Case
    {
        const char* what;
        IdeaPtr tree;
        int failingRename; // 0: none
        WebExportFiles::AttachmentSource source;
        const char* logged; // the failure the log must name
        QString cause;      // what the error says besides the destination
    };
    const QString ioError = errnoText(EIO);
    const std::vector<Case> cases{
        {"data.js", plain, 1, attachmentTable({}), "/files/data.js:", ioError},
        {"attachment write", withAttachment, 2, source,
         "/files/3f786850e387550fdab836ed7e6dc881de23001b.png:", ioError},
        {"archive rename", withAttachment, renames, source, "kept.zip could not be written", ioError},
        {"attachment without data", withAttachment, 0, attachmentTable({}), "has no data",
         QStringLiteral("3f786850e387550fdab836ed7e6dc881de23001b.png has no data")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        LogCapture log;
        FaultShim shim;
        if (c.failingRename > 0)
            shim.failAt(FaultShim::Op::Rename, c.failingRename, EIO);
        const std::optional<Status> outcome = exportWithStatus(c.tree, 1, zip, c.source);
        ASSERT_TRUE(outcome.has_value());
        EXPECT_TRUE(failsNaming(*outcome, zip, c.cause));
        EXPECT_EQ(readFile(zip), old);
        EXPECT_TRUE(log.contains(QString::fromLatin1(c.logged)))
            << log.lines().join(QLatin1Char('\n')).toStdString();
    }

    // A missing viewer archive, then a damaged one.
    const QString resources = testDir() + QStringLiteral("/resources");
    writeFile(resources + QStringLiteral("/web_index.html"), "<title>{{title}}</title>");
    writeFile(resources + QStringLiteral("/web_howto.html"), "how");
    WebExportResources::setResourceFolderForTesting(resources);
    EXPECT_EQ(exportNow(plain, 1, zip, attachmentTable({})), std::optional<bool>(false));
    writeFile(resources + QStringLiteral("/web_include.zip"), "PK\x03\x04 not really");
    EXPECT_EQ(exportNow(plain, 1, zip, attachmentTable({})), std::optional<bool>(false));
    WebExportResources::setResourceFolderForTesting(QString());
    EXPECT_EQ(readFile(zip), old);
}

TEST(WebExporter, AHostileIdentifierGetsASafeNameInsideFilesAndNothingLandsElsewhere)
{
    if (!haveProgram("unzip"))
        GTEST_SKIP() << "unzip is needed";
    const IdeaPtr root = Idea::initWithText(QStringLiteral("<b>Root</b> & co"), QStringLiteral("r"));
    QImage pixels(40, 40, QImage::Format_RGB32);
    pixels.fill(Qt::red);
    const IdeaPtr hostile = Idea::initWithText(QStringLiteral("x"), QStringLiteral("../../x"));
    ASSERT_TRUE(root->addIdea(hostile));
    // A picture under the same hostile identifier.
    const IdeaPtr hostilePicture = Idea::initWithText(QStringLiteral("p"), QStringLiteral("../../x"));
    hostilePicture->updateImage(QVImage(pixels), ObjectID());
    ASSERT_TRUE(hostile->addIdea(hostilePicture));

    const QStringList before = filesBelow(testDir());
    const QString zip = destinationIn(QStringLiteral("hostile.zip"));
    QDir().mkpath(testDir() + QStringLiteral("/out"));
    ASSERT_EQ(exportNow(root, 2, zip, attachmentTable({})), std::optional<bool>(true));
    const QString site = unpackWithUnzip(zip, QStringLiteral("hostile"));
    const QStringList files = filesBelow(site);
    EXPECT_TRUE(files.contains(QStringLiteral("files/~~2E~2E~2F~2E~2E~2Fx_mini.png")));
    for (const QString& file : files)
        EXPECT_FALSE(file.contains(QStringLiteral(".."))) << file.toStdString();
    EXPECT_TRUE(readFile(site + QStringLiteral("/files/data.js"))
                    .contains("\"identifier\":\"~~2E~2E~2F~2E~2E~2Fx\""));
    EXPECT_TRUE(readFile(site + QStringLiteral("/index.html")).contains("&lt;b&gt;Root&lt;/b&gt; &amp; co"));

    // Everything new lies in the export's temporary folder, the destination or the unpacked copy.
    for (const QString& file : filesBelow(testDir())) {
        if (before.contains(file) || file.startsWith(QStringLiteral("out/")) ||
            file.startsWith(QStringLiteral("unpacked-")))
            continue;
        EXPECT_TRUE(file.contains(QStringLiteral("corvex_temp/"))) << file.toStdString();
    }
}

TEST(WebExporter, ThePreviewIsDrawnFromTheTreeCutBelow75IdeasWhileDataJsHoldsItAll)
{
    if (!haveProgram("unzip"))
        GTEST_SKIP() << "unzip is needed";
    const IdeaPtr root = Idea::initWithText(QStringLiteral("Root"), QStringLiteral("r"));
    for (int i = 0; i < 10; ++i) {
        const IdeaPtr branch = Idea::initWithText(QStringLiteral("B%1").arg(i), QStringLiteral("b%1").arg(i));
        ASSERT_TRUE(root->addIdea(branch));
        for (int j = 0; j < 19; ++j)
            ASSERT_TRUE(branch->addIdea(
                Idea::initWithText(QStringLiteral("L"), QStringLiteral("l%1_%2").arg(i).arg(j))));
    }
    std::atomic<qint64> drawn{0};
    WebExportPreview::registerRenderer([&drawn](const Idea& tree) {
        drawn = tree.calculateWholeTreeSize();
        return QByteArray("\x89PNG preview");
    });
    const QString zip = destinationIn(QStringLiteral("preview.zip"));
    QDir().mkpath(testDir() + QStringLiteral("/out"));
    const std::optional<bool> outcome = exportNow(root, 2, zip, attachmentTable({}));
    // A renderer that draws nothing fails the export.
    WebExportPreview::registerRenderer([](const Idea&) { return QByteArray(); });
    const std::optional<bool> failed =
        exportNow(root, 2, destinationIn(QStringLiteral("none.zip")), attachmentTable({}));
    WebExportPreview::registerRenderer({});
    ASSERT_EQ(outcome, std::optional<bool>(true));
    EXPECT_EQ(failed, std::optional<bool>(false));
    EXPECT_EQ(drawn.load(), 11);
    const QString site = unpackWithUnzip(zip, QStringLiteral("preview"));
    EXPECT_EQ(readFile(site + QStringLiteral("/files/preview.png")), QByteArray("\x89PNG preview"));
    EXPECT_EQ(readFile(site + QStringLiteral("/files/data.js")).count("\"elemtype\":1"), 201);
}
