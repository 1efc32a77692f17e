// The observation channel the monkey (tests/monkey) drives Corvex by: opened only when its
// variable names a socket, it answers a ping and tells where on the X screen the user sees each
// planet, the centre and the open popover, as the views themselves place them, and which
// planet is drawn over which where a crowded orbit fans them.

#include "app/ObservationChannel.h"
#include "mindmap/SolarSystemViewController.h"
#include "shell/MyWindow.h"
#include "tests/app/JourneyTrees.h"
#include "tests/app/MindMapJourney.h"
#include "tests/app/UserFiles.h"
#include "tests/app/UserInput.h"
#include "tests/app/WhereOnScreen.h"
#include "tests/support/TestEnvironment.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalSocket>
#include <cmath>

namespace corvex::test {

namespace {

class ObservationChannelJourney : public MindMapJourney
{
protected:
    // A rectangle of the window's base coordinates as the X screen has it: [x, y, w, h].
    static QJsonArray onScreen(const Window& window, const Rect& base)
    {
        const QPointF a = window.convertPointToGlobal(base.origin);
        const QPointF b = window.convertPointToGlobal(Point(base.maxX(), base.maxY()));
        const QRectF r = QRectF(a, b).normalized();
        return QJsonArray{qRound(r.x()), qRound(r.y()), qRound(r.width()), qRound(r.height())};
    }

    static QJsonObject ask(QLocalSocket& socket, const QByteArray& request)
    {
        socket.write(request + '\n');
        socket.flush();
        if (!waitFor([&socket] { return socket.canReadLine(); }, 10.0))
            return {};
        return QJsonDocument::fromJson(socket.readLine()).object();
    }

    // The channel opened on a socket of the test's folder, and the socket connected to it.
    std::unique_ptr<ObservationChannel> openChannel(QLocalSocket& socket)
    {
        const QString socketPath = testDir() + QStringLiteral("/observe.sock");
        qputenv(ObservationChannel::EnvironmentVariable, socketPath.toUtf8());
        auto channel = ObservationChannel::openIfAsked();
        qunsetenv(ObservationChannel::EnvironmentVariable);
        if (channel)
            socket.connectToServer(socketPath);
        if (!waitFor([&] { return socket.state() == QLocalSocket::ConnectedState; }))
            return nullptr;
        return channel;
    }

    static QPointF middle(const QJsonArray& rect)
    {
        return QPointF(rect[0].toDouble() + rect[2].toDouble() / 2,
                       rect[1].toDouble() + rect[3].toDouble() / 2);
    }

    // The planet the channel says is drawn uppermost at a point of the X screen.
    static QString uppermostAt(const QJsonArray& planets, QPointF point)
    {
        QString top;
        qint64 topZ = -1;
        for (const QJsonValue& value : planets) {
            const QJsonObject planet = value.toObject();
            const QJsonArray disc = planet.value(QStringLiteral("disc")).toArray();
            if (disc.isEmpty() || !planet.value(QStringLiteral("shown")).toBool())
                continue;
            const QPointF centre = middle(disc);
            const qint64 z = planet.value(QStringLiteral("z")).toInteger(-1);
            if (std::hypot(point.x() - centre.x(), point.y() - centre.y()) < disc[2].toDouble() / 2 &&
                z > topZ) {
                top = planet.value(QStringLiteral("text")).toString();
                topZ = z;
            }
        }
        return top;
    }
};

} // namespace

TEST_F(ObservationChannelJourney, WithoutItsVariableNothingIsOpened)
{
    qunsetenv(ObservationChannel::EnvironmentVariable);
    EXPECT_EQ(ObservationChannel::openIfAsked(), nullptr);
}

TEST_F(ObservationChannelJourney, AnswersAPingAndWhereTheUserSeesThePlanetsTheCentreAndTheEditor)
{
    const QString path = UserFiles::writeDocument(
        QStringLiteral("trip.corvex"),
        text(QStringLiteral("Trip"),
             {text(QStringLiteral("Tent")), text(QStringLiteral("Stove"), {text(QStringLiteral("Gas"))})}));
    ASSERT_TRUE(launch({path}));
    auto trip = mindMapOf(QStringLiteral("Trip"), QStringLiteral("Trip"));
    ASSERT_NE(trip, nullptr) << whatShows();
    MyWindow& window = windowOf(*trip);
    ASSERT_TRUE(
        waitFor([&] { return WhereOnScreen::planetArea(*trip, QStringLiteral("Stove")).has_value(); }));

    QLocalSocket socket;
    const auto channel = openChannel(socket);
    ASSERT_NE(channel, nullptr);

    EXPECT_TRUE(ask(socket, R"({"op":"ping"})").value(QStringLiteral("pong")).toBool());
    EXPECT_TRUE(ask(socket, R"({"op":"fly"})").contains(QStringLiteral("error")));

    const QJsonObject state = ask(socket, R"({"op":"state"})");
    const QJsonArray windows = state.value(QStringLiteral("windows")).toArray();
    ASSERT_EQ(windows.size(), 1) << QJsonDocument(state).toJson().toStdString();
    const QJsonObject shown = windows.first().toObject();
    EXPECT_EQ(shown.value(QStringLiteral("file")).toString(), path);
    const QJsonObject screen = shown.value(QStringLiteral("screen")).toObject();
    EXPECT_EQ(screen.value(QStringLiteral("root")).toString(), QStringLiteral("Trip"));
    EXPECT_FALSE(screen.value(QStringLiteral("occupied")).toBool());
    // The whole tree, deeper than the planets shown.
    EXPECT_EQ(QJsonDocument(screen.value(QStringLiteral("tree")).toArray()).toJson(QJsonDocument::Compact),
              R"(["Trip",[["Tent",[],""],["Stove",[["Gas",[],""]],""]],""])");
    QStringList planets;
    for (const QJsonValue& planet : screen.value(QStringLiteral("planets")).toArray()) {
        const QString title = planet.toObject().value(QStringLiteral("text")).toString();
        planets << title;
        EXPECT_EQ(planet.toObject().value(QStringLiteral("rect")).toArray(),
                  onScreen(window, *WhereOnScreen::planetArea(*trip, title)))
            << title.toStdString();
    }
    EXPECT_EQ(planets, (QStringList{QStringLiteral("Tent"), QStringLiteral("Stove")}));

    // A click where the channel says the centre is opens the editor, which it then lists with
    // its title field.
    const QJsonArray centre =
        screen.value(QStringLiteral("centre")).toObject().value(QStringLiteral("rect")).toArray();
    const Point inWindow = window.convertPointFromGlobal(QPointF(
        centre[0].toDouble() + centre[2].toDouble() / 2, centre[1].toDouble() + centre[3].toDouble() / 2));
    ASSERT_TRUE(activate(window));
    UserInput::click(window, inWindow);
    ASSERT_TRUE(popoverShows());
    const QJsonObject withEditor = ask(socket, R"({"op":"state"})");
    // The screen is occupied while its editor is open, as while a drop's edit is stored.
    EXPECT_TRUE(
        withEditor.value(QStringLiteral("windows"))[0][QStringLiteral("screen")][QStringLiteral("occupied")]
            .toBool());
    const QJsonArray others = withEditor.value(QStringLiteral("others")).toArray();
    ASSERT_EQ(others.size(), 1) << QJsonDocument(withEditor).toJson().toStdString();
    const QJsonArray fields = others.first().toObject().value(QStringLiteral("fields")).toArray();
    ASSERT_FALSE(fields.isEmpty());
    EXPECT_EQ(fields.first().toObject().value(QStringLiteral("text")).toString(), QStringLiteral("Trip"));
}

// A crowded orbit fans its planets over each other, so the middle of a planet's rectangle may
// show another planet; the channel tells which is drawn over which, and a right click there
// deletes the planet it says is on top, not the one whose rectangle it is.
TEST_F(ObservationChannelJourney, TellsWhichPlanetOfACrowdedOrbitIsDrawnOnTop)
{
    const IdeaPtr crowd = text(QStringLiteral("Crowd"));
    for (int i = 0; i < 30; ++i)
        (void)crowd->addIdea(text(QStringLiteral("Star%1").arg(i)));
    const QString path = UserFiles::writeDocument(QStringLiteral("crowd.corvex"), crowd);
    ASSERT_TRUE(launch({path}));
    auto map = mindMapOf(QStringLiteral("Crowd"), QStringLiteral("Crowd"));
    ASSERT_NE(map, nullptr) << whatShows();
    MyWindow& window = windowOf(*map);
    QLocalSocket socket;
    const auto channel = openChannel(socket);
    ASSERT_NE(channel, nullptr);

    const QJsonObject state = ask(socket, R"({"op":"state"})");
    const QJsonArray planets = state.value(QStringLiteral("windows"))
                                   .toArray()
                                   .first()
                                   .toObject()
                                   .value(QStringLiteral("screen"))
                                   .toObject()
                                   .value(QStringLiteral("planets"))
                                   .toArray();
    QString under;
    QString over;
    QPointF aim;
    for (const QJsonValue& value : planets) {
        const QJsonObject planet = value.toObject();
        aim = middle(planet.value(QStringLiteral("rect")).toArray());
        under = planet.value(QStringLiteral("text")).toString();
        over = uppermostAt(planets, aim);
        if (!over.isEmpty() && over != under)
            break;
    }
    ASSERT_FALSE(over.isEmpty() || over == under)
        << "no planet lies under another: " << QJsonDocument(planets).toJson().toStdString();

    ASSERT_TRUE(activate(window));
    UserInput::rightClick(window, window.convertPointFromGlobal(aim), QStringLiteral("Delete"));
    ASSERT_TRUE(waitFor([&] { return !ideaWithText(map->rootIdea(), over); }))
        << over.toStdString() << " drawn over the middle of " << under.toStdString() << " is still there";
    EXPECT_NE(ideaWithText(map->rootIdea(), under), nullptr) << under.toStdString();
}

} // namespace corvex::test
