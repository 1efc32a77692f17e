// `corvex FILE` as a user types it: the launch shows the file's window and nothing more, and a
// file that cannot be read, or holds more ideas than Corvex opens, still leaves the user a
// window once they were told why.

#include "formats/ExportImport.h"
#include "home/HomeViewController.h"
#include "mindmap/SolarSystemViewController.h"
#include "model/Globals.h"
#include "model/Idea.h"
#include "platform/core/NativeFileName.h"
#include "platform/core/Paths.h"
#include "platform/core/Zlib.h"
#include "shell/MyWindow.h"
#include "tests/app/AppChild.h"
#include "tests/app/JourneyTrees.h"
#include "tests/app/MindMapJourney.h"
#include "tests/app/UserFiles.h"
#include "tests/app/UserInput.h"
#include "tests/app/WhereOnScreen.h"
#include "tests/factory/DocumentFactory.h"
#include "tests/factory/ScopedIdeaBounds.h"
#include "tests/support/NonRegularFiles.h"

#include <QFile>

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <QUrl>
#include <QtEndian>
#include <algorithm>
#include <unistd.h>
#include <vector>
#include <zlib.h>

namespace corvex::test {

namespace {

class LaunchFileJourney : public MindMapJourney
{};

// A PNG of side x side pixels of one colour, made row by row: the picture a hostile file
// carries, which takes a quarter of a gigabyte once decoded whole but a few kilobytes stored.
QByteArray plainPng(int side, const QColor& colour)
{
    const auto chunk = [](const char* type, const QByteArray& data) {
        QByteArray out(4, '\0');
        qToBigEndian<quint32>(quint32(data.size()), out.data());
        const QByteArray typed = QByteArray(type) + data;
        out += typed;
        QByteArray crc(4, '\0');
        qToBigEndian<quint32>(
            quint32(::crc32(0, reinterpret_cast<const Bytef*>(typed.constData()), uInt(typed.size()))),
            crc.data());
        return out + crc;
    };
    QByteArray header(13, '\0');
    qToBigEndian<quint32>(quint32(side), header.data());
    qToBigEndian<quint32>(quint32(side), header.data() + 4);
    header[8] = 8; // bits a channel
    header[9] = 2; // RGB
    QByteArray row(1 + 3 * side, '\0');
    for (int x = 0; x < side; ++x) {
        row[1 + 3 * x] = char(colour.red());
        row[2 + 3 * x] = char(colour.green());
        row[3 + 3 * x] = char(colour.blue());
    }
    z_stream stream{};
    deflateInit(&stream, 9);
    QByteArray compressed;
    char out[65536];
    for (int y = 0; y <= side; ++y) {
        const bool last = y == side;
        stream.next_in = last ? nullptr : reinterpret_cast<Bytef*>(row.data());
        stream.avail_in = last ? 0 : uInt(row.size());
        do {
            stream.next_out = reinterpret_cast<Bytef*>(out);
            stream.avail_out = sizeof out;
            deflate(&stream, last ? Z_FINISH : Z_NO_FLUSH);
            compressed.append(out, qsizetype(sizeof out - stream.avail_out));
        } while (stream.avail_out == 0);
    }
    deflateEnd(&stream);
    return QByteArray("\x89PNG\r\n\x1a\n", 8) + chunk("IHDR", header) + chunk("IDAT", compressed) +
           chunk("IEND", QByteArray());
}

qint64 peakResidentKilobytes()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    return -1;
}

} // namespace

TEST_F(LaunchFileJourney, AFileOnTheCommandLineOpensItsWindowAlone)
{
    // The iCloud location opted for: without the file, the launch's first window is its home.
    auto trip = launchWithDocument(text(QStringLiteral("Trip"), {text(QStringLiteral("Tent"))}));
    ASSERT_NE(trip, nullptr) << "the file's window never showed its mind map";
    MyWindow& window = windowOf(*trip);
    EXPECT_EQ(window.docURL().fileName(), QStringLiteral("Trip.corvex"));
    // No second window comes later, and no untitled document's idea editor shows.
    EXPECT_FALSE(waitFor([] { return windows().size() != 1 || !otherTopLevels().empty(); }, 1.5))
        << windows().size() << " windows";
    EXPECT_EQ(alerts().presentedCount(), 0);
    screenshot(QStringLiteral("launch-file-alone"));
}

// A document with pictures: its window shows the picture of the planet on screen, decoded
// when drawn (at the size drawn), while the pictures of ideas the map does not show stay the
// bytes they were stored as.
TEST_F(LaunchFileJourney, AFilesPicturesAreDecodedWhenTheirPlanetsShow)
{
    const auto picture = [](const QString& title, const QColor& colour,
                            std::initializer_list<IdeaPtr> children) {
        QImage pixels(320, 240, QImage::Format_RGB32);
        pixels.fill(colour);
        IdeaPtr idea = Idea::initWithImageAttachment(QVImage(pixels), ObjectID());
        idea->setText(title);
        for (const IdeaPtr& child : children)
            (void)idea->addIdea(child);
        return idea;
    };
    const QColor sea(30, 90, 220);
    auto album = launchWithDocument(
        text(QStringLiteral("Album"),
             {picture(QStringLiteral("Beach"), sea, {picture(QStringLiteral("Shell"), Qt::red, {})}),
              text(QStringLiteral("Trip"), {picture(QStringLiteral("Tent"), Qt::green, {})})}));
    ASSERT_NE(album, nullptr) << "the file's window never showed its mind map";
    const IdeaPtr root = album->rootIdea();
    const IdeaPtr beach = ideaWithText(root, QStringLiteral("Beach"));
    ASSERT_NE(beach, nullptr);
    for (const char* hidden : {"Shell", "Tent"}) {
        const IdeaPtr idea = ideaWithText(root, QString::fromLatin1(hidden));
        ASSERT_NE(idea, nullptr) << hidden;
        EXPECT_TRUE(idea->image().hasImage()) << hidden;
        EXPECT_FALSE(idea->image().isDecoded()) << hidden << " was decoded without being shown";
    }
    // The planet shows its picture: the sea's blue, desaturated.
    const Point onBeach = seen(WhereOnScreen::planet(*album, QStringLiteral("Beach")));
    const QPoint global = windowOf(*album).convertPointToGlobal(onBeach).toPoint();
    QColor shown;
    EXPECT_TRUE(waitFor(
        [&] {
            shown = QGuiApplication::primaryScreen()
                        ->grabWindow(0, global.x(), global.y() + 20, 1, 1)
                        .toImage()
                        .pixelColor(0, 0);
            return shown.blue() > shown.red() + 60 && shown.blue() > shown.green() + 40;
        },
        3.0))
        << qPrintable(shown.name());
    screenshot(QStringLiteral("launch-file-pictures"));
}

TEST_F(LaunchFileJourney, AFileThatCannotBeReadIsToldAndTheFirstWindowOpensAfter)
{
    UserFiles::setDefault(Globals::CloudStorageChoiceKey, true);
    const QString missing = QDir::home().filePath(QStringLiteral("Gone.corvex"));
    std::size_t windowsAtAlert = 99;
    alerts().setHandler([&](const Alert&) -> std::optional<int> {
        windowsAtAlert = windows().size();
        return std::nullopt;
    });
    ASSERT_TRUE(launch({missing}));
    auto home = waitForScreen<HomeViewController>();
    ASSERT_NE(home, nullptr) << "no first window after the failed file";
    EXPECT_EQ(alerts().presentedCount(), 1);
    EXPECT_EQ(windowsAtAlert, 0u);
    EXPECT_FALSE(waitFor([] { return windows().size() != 1; }, 1.0)) << windows().size() << " windows";
}

TEST_F(LaunchFileJourney, AnOutlineOfMoreIdeasThanCorvexOpensIsRefusedWithItsReason)
{
    UserFiles::setDefault(Globals::CloudStorageChoiceKey, true);
    // Bounds small enough for a file of a few lines: the same reading and the same alert.
    const ScopedIdeaBounds bounds(5, 100);
    const QString outline = QDir::home().filePath(QStringLiteral("Big.opml"));
    {
        QFile file(outline);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        QByteArray text = "<?xml version=\"1.0\"?><opml><head><title>Big</title></head><body>";
        for (int i = 0; i < 5; ++i)
            text += "<outline text=\"Idea\"/>";
        file.write(text + "</body></opml>");
    }
    ASSERT_TRUE(launch({outline}));
    auto home = waitForScreen<HomeViewController>();
    ASSERT_NE(home, nullptr) << "no first window after the refused file";
    ASSERT_EQ(alerts().presentedCount(), 1);
    const Alert& alert = alerts().presented().front();
    const QString told = alert.messageText + alert.informativeText;
    EXPECT_TRUE(told.startsWith(QStringLiteral("Failed to open file"))) << told.toStdString();
    EXPECT_TRUE(told.endsWith(QStringLiteral("The document has more than 5 ideas, more than Corvex opens: a "
                                             "document may have at most 5 ideas.")))
        << told.toStdString();
    EXPECT_FALSE(waitFor([] { return windows().size() != 1; }, 1.0)) << windows().size() << " windows";
}

// Saves killed in an earlier run between naming their temporary and the rename: the launch
// removes what they left in Corvex's own folders, and opening the document what lies beside it.
TEST_F(LaunchFileJourney, ALaunchRemovesWhatKilledSavesLeftInItsFoldersAndBesideTheDocumentItOpens)
{
    UserFiles::setDefault(Globals::CloudStorageChoiceKey, true);
    const auto root = text(QStringLiteral("Trip"), {text(QStringLiteral("Tent"))});
    const QString document = UserFiles::writeDocument(QStringLiteral("Trip.corvex"), root);
    ASSERT_FALSE(document.isEmpty());
    const QString attachments =
        QDir(Paths::applicationSupport())
            .filePath(Paths::appFolderName() + QStringLiteral("/volatile/attachments"));
    ASSERT_TRUE(QDir().mkpath(attachments));
    const QStringList left{
        document + QStringLiteral(".corvex-tmp-Ab12Cd"),
        attachments + QStringLiteral("/0123456789abcdef0123456789abcdef01234567.png.corvex-tmp-zq6a6n"),
    };
    for (const QString& path : left) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
        file.write("half a save");
    }
    ASSERT_TRUE(launch({document}));
    ASSERT_NE(mindMapOf(QStringLiteral("Trip"), QStringLiteral("Trip")), nullptr);
    for (const QString& path : left)
        EXPECT_TRUE(waitFor([&] { return !QFile::exists(path); })) << path.toStdString();
    EXPECT_TRUE(QFile::exists(document));
}

// What is no regular file, named as a document on the command line and then handed to the
// running Corvex as `corvex FILE` does: each is refused with what it is, and no reader stays
// blocked on it (each wait for an alert is bounded and fails the journey on a hang).
TEST_F(LaunchFileJourney, WhatIsNoRegularFileIsRefusedWithItsReasonOnTheCommandLineAndWhenHandedOver)
{
    UserFiles::setDefault(Globals::CloudStorageChoiceKey, true);
    const std::vector<NonRegularFile> kinds =
        makeNonRegularFiles(QDir::home().filePath(QStringLiteral("odd")), QStringLiteral("Odd.corvex"));
    QStringList paths;
    for (const NonRegularFile& kind : kinds)
        paths << kind.path;
    const auto told = [this](std::size_t from) {
        QStringList texts;
        for (std::size_t i = from; i < alerts().presented().size(); ++i) {
            const Alert& alert = alerts().presented()[i];
            texts << (alert.messageText + QStringLiteral("\n") + alert.informativeText).trimmed();
        }
        return texts;
    };
    const auto refusedWith = [](const QStringList& texts, const QString& reason) {
        return std::count_if(texts.begin(), texts.end(), [&](const QString& text) {
            return text.startsWith(QStringLiteral("Failed to open file")) && text.endsWith(reason);
        });
    };

    ASSERT_TRUE(launch(paths, 1));
    ASSERT_NE(waitForScreen<HomeViewController>(), nullptr) << "no first window after the refused files";
    ASSERT_TRUE(waitFor([&] { return alerts().presentedCount() >= int(kinds.size()); }, 30))
        << "a reader is blocked: " << told(0).join(QStringLiteral(" | ")).toStdString();
    for (const NonRegularFile& kind : kinds)
        EXPECT_EQ(refusedWith(told(0), kind.reason), 1)
            << kind.kind << ": " << told(0).join(QStringLiteral(" | ")).toStdString();

    for (const NonRegularFile& kind : kinds) {
        SCOPED_TRACE(kind.kind);
        const std::size_t before = alerts().presented().size();
        auto handing = AppChild::startBinary({kind.path});
        ASSERT_NE(handing, nullptr);
        const AppEnding handed = handing->waitForEnd(30);
        EXPECT_TRUE(handed.ended && handed.exitCode == 0) << handed.describe().toStdString();
        ASSERT_TRUE(waitFor([&] { return alerts().presented().size() > before; }, 30))
            << "the request vanished, or its reader is blocked";
        EXPECT_EQ(refusedWith(told(before), kind.reason), 1)
            << told(before).join(QStringLiteral(" | ")).toStdString();
    }
    EXPECT_EQ(windows().size(), 1u);
}

TEST_F(LaunchFileJourney, ANameWithALineBreakOpensOnTheCommandLineAndWhenHandedOver)
{
    UserFiles::setDefault(Globals::CloudStorageChoiceKey, true);
    const QString first =
        UserFiles::writeDocument(QStringLiteral("Two\nlines.corvex"), text(QStringLiteral("Two")));
    const QString handed =
        UserFiles::writeDocument(QStringLiteral("Handed\nover.corvex"), text(QStringLiteral("Handed")));
    ASSERT_FALSE(first.isEmpty() || handed.isEmpty());
    ASSERT_TRUE(launch({first}));
    const auto two = mindMapOf(QStringLiteral("Two"), QStringLiteral("Two"));
    ASSERT_NE(two, nullptr) << "the launch left the file out";
    EXPECT_EQ(windowOf(*two).docURL().toLocalFile(), first);

    auto handing = AppChild::startBinary({handed});
    ASSERT_NE(handing, nullptr);
    const AppEnding ending = handing->waitForEnd(30);
    EXPECT_TRUE(ending.ended && ending.exitCode == 0) << ending.describe().toStdString();
    const auto second = mindMapOf(QStringLiteral("Handed"), QStringLiteral("Handed"));
    ASSERT_NE(second, nullptr) << "the running Corvex was never handed the file";
    EXPECT_EQ(windowOf(*second).docURL().toLocalFile(), handed);
    EXPECT_EQ(alerts().presentedCount(), 0);
}

TEST_F(LaunchFileJourney, ANameThatIsNotUtf8OpensOnBothRoadsAndSavesUnderItsOwnBytes)
{
    UserFiles::setDefault(Globals::CloudStorageChoiceKey, true);
    const QByteArray cafeBytes = QDir::homePath().toUtf8() + "/Caf\xE9.corvex";
    const QString cafe =
        UserFiles::writeDocument(NativeFileName::decode("Caf\xE9.corvex"), text(QStringLiteral("Cafe")));
    const QString naive =
        UserFiles::writeDocument(NativeFileName::decode("Na\xEFve.corvex"), text(QStringLiteral("Naive")));
    ASSERT_FALSE(cafe.isEmpty() || naive.isEmpty());
    ASSERT_EQ(::access(cafeBytes.constData(), F_OK), 0) << "not written under its own bytes";

    ASSERT_TRUE(launch({cafe}));
    const auto map = mindMapOf(QStringLiteral("Cafe"), QStringLiteral("Cafe"));
    ASSERT_NE(map, nullptr) << "the launch did not open the file";
    MyWindow& window = windowOf(*map);
    EXPECT_TRUE(window.hostWidget()->windowTitle().startsWith(QStringLiteral("Caf\uFFFD.corvex")))
        << window.hostWidget()->windowTitle().toStdString();
    ASSERT_TRUE(addIdea(*map, QStringLiteral("Croissant")));
    UserInput::pressKey(window, Qt::Key_S, Qt::ControlModifier);
    ASSERT_TRUE(waitFor([&] {
        const auto saved = UserFiles::readDocument(cafe);
        return saved && saved->ideas().size() == 1 &&
               saved->ideas()[0]->text() == QStringLiteral("Croissant");
    })) << "Ctrl+S did not write the file under its own bytes";
    screenshot(QStringLiteral("launch-file-not-utf8"));

    auto handing = AppChild::startBinary({naive});
    ASSERT_NE(handing, nullptr);
    const AppEnding ending = handing->waitForEnd(30);
    EXPECT_TRUE(ending.ended && ending.exitCode == 0) << ending.describe().toStdString();
    ASSERT_NE(mindMapOf(QStringLiteral("Naive"), QStringLiteral("Naive")), nullptr)
        << "the running Corvex was never handed the file";
    EXPECT_EQ(alerts().presentedCount(), 0);
}

TEST_F(LaunchFileJourney, APictureBombShowsItsPicturesWithinAFewHundredMegabytes)
{
    // Six pictures of 8192 x 8192 pixels, each a quarter of a gigabyte decoded whole.
    std::vector<FactoryIdea> ideas(1);
    ideas[0].identifier = QStringLiteral("idBomb");
    ideas[0].text = QStringLiteral("Bomb");
    std::vector<QColor> colours;
    for (int i = 0; i < 6; ++i) {
        colours.push_back(QColor::fromHsv(i * 60, 255, 230));
        FactoryIdea picture;
        picture.identifier = QStringLiteral("idPicture%1").arg(i);
        picture.text = QStringLiteral("P%1").arg(i);
        picture.picture = plainPng(8192, colours.back());
        picture.parent = 0;
        ideas[0].children.push_back(int(ideas.size()));
        ideas.push_back(std::move(picture));
    }
    const QByteArray payload = Zlib::compress(makePayloadJson(ideas)).valueOr(QByteArray());
    QByteArray length(4, '\0');
    qToBigEndian<quint32>(quint32(payload.size()), length.data());
    const QString path = QDir::home().filePath(QStringLiteral("Bomb.corvex"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    ASSERT_EQ(file.write(ExportImport::Magic + length + payload),
              ExportImport::Magic.size() + 4 + payload.size());
    file.close();

    UserFiles::setDefault(Globals::CloudStorageChoiceKey, true);
    ASSERT_TRUE(launch({path}));
    const auto map = mindMapOf(QStringLiteral("Bomb"), QStringLiteral("Bomb"));
    ASSERT_NE(map, nullptr);
    for (int i = 0; i < 6; ++i) {
        SCOPED_TRACE(i);
        const std::optional<Point> where = WhereOnScreen::planet(*map, QStringLiteral("P%1").arg(i));
        if (!where)
            continue; // behind the others on a crowded orbit
        const QPoint global = windowOf(*map).convertPointToGlobal(*where).toPoint();
        QColor shown;
        EXPECT_TRUE(waitFor(
            [&] {
                shown = QGuiApplication::primaryScreen()
                            ->grabWindow(0, global.x(), global.y(), 1, 1)
                            .toImage()
                            .pixelColor(0, 0);
                return std::abs(shown.red() - colours[std::size_t(i)].red()) < 40 &&
                       std::abs(shown.green() - colours[std::size_t(i)].green()) < 40 &&
                       std::abs(shown.blue() - colours[std::size_t(i)].blue()) < 40;
            },
            60.0))
            << "the planet shows " << qPrintable(shown.name()) << ", not its picture";
    }
    screenshot(QStringLiteral("launch-file-picture-bomb"));
    EXPECT_LT(peakResidentKilobytes(), 300 * 1024) << "the pictures were held at full size";
}

} // namespace corvex::test
