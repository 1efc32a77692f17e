// Each mode's exported site opened in headless Chromium, one run a mode: the dumped DOM
// shows the map's titles and a note as text, hostile titles and addresses make no element
// or link, the page asks no host for anything (its own requests in the net log), and a
// screenshot goes to test-output/web-export/ for a person to look at.

#include "tests/export/WebExportTestSupport.h"
#include "tests/factory/DocumentFactory.h"

#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

using namespace corvex;
using namespace corvex::test;

namespace {

IdeaPtr viewerTree()
{
    const IdeaPtr root = Idea::initWithText(QStringLiteral("Quarterly plan"), QStringLiteral("root"));
    root->setColor(ColorTheme::colorByName(QStringLiteral("blue3")));
    root->setIconImage(IconImage::initWithName(QStringLiteral("Electric Light Bulb"),
                                               QStringLiteral("Objects"),
                                               QString::fromUtf8("\xF0\x9F\x92\xA1")));
    const IdeaPtr hostile =
        Idea::initWithText(QStringLiteral("<img src=x onerror=alert(1)>"), QStringLiteral("h"));
    const IdeaPtr budget = Idea::initWithText(QStringLiteral("Budget"), QStringLiteral("b"));
    budget->setNote(QStringLiteral("Costs stay below the line"));
    budget->setColor(ColorTheme::colorByName(QStringLiteral("green2")));
    const IdeaPtr rocket = Idea::initWithText(QStringLiteral("Launch"), QStringLiteral("l"));
    rocket->setIconImage(IconImage::initWithName(QStringLiteral("Rocket"), QStringLiteral("Travel & Places"),
                                                 QString::fromUtf8("\xF0\x9F\x9A\x80")));
    rocket->setColor(ColorTheme::colorByName(QStringLiteral("red5")));
    const QImage pixels = QImage::fromData(makeSmallPicturePng(3), "PNG");
    const IdeaPtr picture = Idea::initWithImageAttachment(QVImage(pixels), ObjectID());
    const IdeaPtr script = Idea::initWithURL(QStringLiteral("javascript:alert(1)"), QVImage());
    const IdeaPtr web = Idea::initWithURL(QStringLiteral("https://example.org/plan"), QVImage());
    const IdeaPtr link = Idea::initWithLinkToIdea(QStringLiteral("b"));
    EXPECT_TRUE(root->addIdea(hostile) && root->addIdea(budget) && root->addIdea(rocket) &&
                root->addIdea(picture) && root->addIdea(script) && root->addIdea(web) &&
                budget->addIdea(link));
    EXPECT_TRUE(budget->addIdea(Idea::initWithText(QStringLiteral("Travel"), QStringLiteral("t"))));
    return root;
}

// The page's own requests (initiated by the file's opaque origin) for anything but files.
QStringList pageRequestsToHosts(const QByteArray& netLog)
{
    QStringList found;
    const QJsonArray events =
        QJsonDocument::fromJson(netLog).object().value(QStringLiteral("events")).toArray();
    for (const QJsonValue& event : events) {
        const QJsonObject params = event.toObject().value(QStringLiteral("params")).toObject();
        const QString url = params.value(QStringLiteral("url")).toString();
        const QString initiator = params.value(QStringLiteral("initiator")).toString();
        const bool fromPage =
            initiator == QStringLiteral("null") || initiator.startsWith(QStringLiteral("file:"));
        if (fromPage && !url.isEmpty() && !url.startsWith(QStringLiteral("file:")) &&
            !url.startsWith(QStringLiteral("data:")))
            found.append(url);
    }
    return found;
}

struct ChromiumRun
{
    bool ran = false;
    QByteArray dom;
    QByteArray netLog;
    QByteArray output;
};

// One headless run: the DOM after loading, the net log and the screenshot. Without a network
// namespace when the system allows one, so nothing could leave anyway.
ChromiumRun openInChromium(const QString& page, const QString& screenshot, const QString& name)
{
    const QString profile = testDir() + QStringLiteral("/chromium-") + name;
    const QString netLog = testDir() + QStringLiteral("/net-") + name + QStringLiteral(".json");
    QStringList arguments{QStringLiteral("--headless"),
                          QStringLiteral("--no-sandbox"),
                          QStringLiteral("--disable-gpu"),
                          QStringLiteral("--disable-dev-shm-usage"),
                          QStringLiteral("--no-first-run"),
                          QStringLiteral("--disable-background-networking"),
                          QStringLiteral("--disable-component-update"),
                          QStringLiteral("--user-data-dir=") + profile,
                          QStringLiteral("--log-net-log=") + netLog,
                          QStringLiteral("--window-size=1024,768"),
                          QStringLiteral("--screenshot=") + screenshot,
                          QStringLiteral("--dump-dom"),
                          QUrl::fromLocalFile(page).toString()};
    arguments.prepend(QStringLiteral("chromium"));
    if (runProgramToEnd(QStringLiteral("unshare"), {QStringLiteral("-n"), QStringLiteral("true")}, 5000)
            .exitCode == 0)
        arguments = QStringList{QStringLiteral("unshare"), QStringLiteral("-n")} + arguments;
    // Its singleton socket lives in TMPDIR, and the test's own is too deep for a socket path.
    const QTemporaryDir shortTemporary(QStringLiteral("/tmp/corvex-chromium-XXXXXX"));
    arguments.prepend(QStringLiteral("TMPDIR=") + shortTemporary.path());
    const ProgramRun run = runProgramToEnd(QStringLiteral("env"), arguments, 60000);
    ChromiumRun result;
    result.ran = run.ran && run.exitCode == 0;
    // Chromium's own log lines go to stderr, merged here: the DOM starts at the doctype.
    const qsizetype start = run.output.indexOf("<!DOCTYPE html>");
    result.dom = start >= 0 ? run.output.mid(start) : QByteArray();
    result.netLog = readFile(netLog);
    result.output = run.output;
    return result;
}

} // namespace

TEST(WebViewerChromium, EachModeShowsTheMapAsTextAndAsksNoHostForAnything)
{
    if (!haveProgram("chromium") || !haveProgram("unzip"))
        GTEST_SKIP() << "chromium and unzip are needed";
    const IdeaPtr tree = viewerTree();
    QDir().mkpath(testDir() + QStringLiteral("/out"));
    const QString shots = testOutputDir() + QStringLiteral("/web-export");
    QDir().mkpath(shots);
    const QStringList modes{QStringLiteral("presentation"), QStringLiteral("embedded"),
                            QStringLiteral("fullpage")};
    for (quint64 style = 0; style < 3; ++style) {
        const QString mode = modes[int(style)];
        SCOPED_TRACE(mode.toStdString());
        const QString zip = testDir() + QStringLiteral("/out/") + mode + QStringLiteral(".zip");
        ASSERT_EQ(exportNow(tree, style, zip, attachmentTable({})), std::optional<bool>(true));
        const QString site = unpackWithUnzip(zip, mode);
        ASSERT_FALSE(site.isEmpty());
        const QString screenshot = shots + QLatin1Char('/') + mode + QStringLiteral(".png");
        QFile::remove(screenshot);
        const ChromiumRun run = openInChromium(site + QStringLiteral("/index.html"), screenshot, mode);
        ASSERT_TRUE(run.ran) << run.output.right(3000).constData();
        const QString dom = QString::fromUtf8(run.dom);
        EXPECT_TRUE(dom.contains(QStringLiteral("cv-mode-") + mode));
        for (const char* title :
             {"Budget", "Launch", "(image)", "https://example.org/plan", "javascript:alert(1)"})
            EXPECT_TRUE(dom.contains(QString::fromLatin1(title))) << title;
        EXPECT_TRUE(dom.contains(QStringLiteral("&lt;img src=x onerror=alert(1)&gt;")));
        EXPECT_FALSE(dom.contains(QStringLiteral("<img src=\"x\"")));
        EXPECT_TRUE(dom.contains(QStringLiteral("Costs stay below the line")));
        EXPECT_TRUE(dom.contains(QStringLiteral("href=\"https://example.org/plan\"")));
        EXPECT_FALSE(dom.contains(QStringLiteral("href=\"javascript")));
        EXPECT_EQ(dom.contains(QStringLiteral("cv-cover")), style == 1);
        EXPECT_FALSE(run.netLog.isEmpty());
        EXPECT_EQ(pageRequestsToHosts(run.netLog), QStringList());
        EXPECT_FALSE(QImage(screenshot).isNull());
    }
}
