// Quitting and launching again, five times, with two documents' windows open, on the bare X
// server and under a window manager: every window comes back where it was, to the pixel, and
// Open Recent keeps its order (windows coming back are not files opened anew).

#include "mindmap/SolarSystemViewController.h"
#include "shell/AppDelegate.h"
#include "shell/MyWindow.h"
#include "tests/app/AppChild.h"
#include "tests/app/JourneyTrees.h"
#include "tests/app/MindMapJourney.h"
#include "tests/app/UserFiles.h"
#include "tests/app/UserInput.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QWidget>
#include <algorithm>

namespace corvex::test {

namespace {

const QStringList kDocuments{QStringLiteral("Apples"), QStringLiteral("Pears")};

// Inside the child. Arguments: the desktop's name. Waits for both documents' mind maps (and,
// under a window manager, for their title bars), tells where each window is on the screen
// ("<title> x y width height", in the order of kDocuments), then quits with Ctrl+Q.
CORVEX_APP_SCRIPT(tell_places_then_quit)
{
    std::vector<MyWindow*> shown;
    for (const QString& document : kDocuments) {
        const auto screen = MindMapJourney::mindMapOf(document, document);
        if (!screen) {
            AppChild::tell("no mind map of " + document.toUtf8());
            return;
        }
        shown.push_back(&AppJourney::windowOf(*screen));
    }
    if (arguments.value(0) == QLatin1String(desktopName(Desktop::Openbox)) && !AppJourney::waitFor([&shown] {
            return std::all_of(shown.begin(), shown.end(), [](MyWindow* window) {
                const QWidget* host = window->hostWidget();
                return host->frameGeometry() != host->geometry();
            });
        })) {
        AppChild::tell("no title bars");
        return;
    }
    for (std::size_t i = 0; i < shown.size(); ++i) {
        const QRect place = shown[i]->hostWidget()->geometry();
        AppChild::tell(kDocuments[qsizetype(i)].toUtf8() + ' ' + QByteArray::number(place.x()) + ' ' +
                       QByteArray::number(place.y()) + ' ' + QByteArray::number(place.width()) + ' ' +
                       QByteArray::number(place.height()));
    }
    AppChild::tell("quitting");
    UserInput::pressKey(*shown.back(), Qt::Key_Q, Qt::ControlModifier);
}

class RestartJourney : public AppJourney, public ::testing::WithParamInterface<Desktop>
{
protected:
    struct Run
    {
        QStringList places;      // as the child told them
        QStringList savedFrames; // as the quit saved them
        QStringList recent;      // Open Recent after the quit
    };

    // One launch with the files, to its quit.
    Run launchAndQuit(const QStringList& files)
    {
        Run run;
        auto child = AppChild::startScript(QStringLiteral("tell_places_then_quit"),
                                           {QString::fromLatin1(desktopName(GetParam()))}, files);
        if (!child)
            return run;
        while (const auto line = child->readLine(60.0)) {
            if (*line == "quitting")
                break;
            run.places << QString::fromUtf8(*line);
        }
        const AppEnding ending = child->waitForEnd(20.0);
        EXPECT_TRUE(ending.clean()) << ending.describe().toStdString();
        const QJsonObject defaults = UserFiles::defaults();
        const QJsonArray windows = defaults.value(QStringLiteral("CurrentState"))
                                       .toObject()
                                       .value(QStringLiteral("controllerStates"))
                                       .toArray();
        for (const QJsonValue& window : windows)
            run.savedFrames << window.toObject().value(QStringLiteral("windowFrame")).toString();
        for (const QJsonValue& path : defaults.value(AppDelegate::RecentLocalFilesKey).toArray())
            run.recent << path.toString();
        return run;
    }
};

} // namespace

TEST_P(RestartJourney, EveryWindowComesBackWhereItWasAndOpenRecentKeepsItsOrder)
{
    ASSERT_TRUE(runOn(GetParam())) << "no window manager";
    QStringList files;
    for (const QString& document : kDocuments)
        files << UserFiles::writeDocument(document + QStringLiteral(".corvex"), text(document));
    const QString later =
        UserFiles::writeDocument(QStringLiteral("Plums.corvex"), text(QStringLiteral("Plums")));
    ASSERT_FALSE(files.contains(QString()) || later.isEmpty());

    const Run first = launchAndQuit(files);
    ASSERT_EQ(first.places.size(), kDocuments.size()) << first.places.join(QLatin1Char('\n')).toStdString();
    ASSERT_EQ(first.savedFrames.size(), kDocuments.size());
    // Plums was opened last, in a window since closed: Open Recent lists it first.
    const QStringList recent{later, files[0], files[1]};
    UserFiles::setDefault(AppDelegate::RecentLocalFilesKey, QJsonArray::fromStringList(recent));

    for (int restart = 1; restart <= 5; ++restart) {
        const Run run = launchAndQuit({});
        EXPECT_EQ(run.places, first.places) << "restart " << restart << ": the windows moved";
        EXPECT_EQ(run.savedFrames, first.savedFrames) << "restart " << restart;
        EXPECT_EQ(run.recent, recent) << "restart " << restart << ": the restored files moved in Open Recent";
        if (HasFailure())
            break;
    }
}

INSTANTIATE_TEST_SUITE_P(Desktops, RestartJourney, kEachDesktop, desktopTestName);

} // namespace corvex::test
