#include "app/ObservationChannel.h"

#include "home/HomeViewController.h"
#include "home/IdeaListView.h"
#include "mindmap/IdeaAdderView.h"
#include "mindmap/MindMapScreenSeams.h"
#include "mindmap/ParentIdeaView.h"
#include "mindmap/PlanetLayer.h"
#include "mindmap/SimpleIdeaView.h"
#include "mindmap/SolarSystem.h"
#include "mindmap/SolarSystemViewController.h"
#include "model/Idea.h"
#include "platform/core/Log.h"
#include "platform/ui/Layer.h"
#include "platform/ui/View.h"
#include "shell/AppDelegate.h"
#include "shell/MainWindowController.h"
#include "shell/MyWindow.h"
#include "shell/TopBarView.h"
#include "storage/IdeaProxy.h"
#include "toolkit/ButtonView.h"
#include "toolkit/LayerExtensions.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLineEdit>
#include <QLocalServer>
#include <QLocalSocket>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QTextEdit>
#include <QWidget>
#include <algorithm>
#include <unistd.h>

namespace corvex {

namespace {

QJsonArray rectArray(const QRectF& rect)
{
    return QJsonArray{qRound(rect.x()), qRound(rect.y()), qRound(rect.width()), qRound(rect.height())};
}

// A rectangle of a window's base coordinates (y up) on the X screen.
QJsonArray globalRect(const Window& window, const Rect& base)
{
    const QPointF a = window.convertPointToGlobal(base.origin);
    const QPointF b = window.convertPointToGlobal(Point(base.maxX(), base.maxY()));
    return rectArray(QRectF(a, b).normalized());
}

// A shown view's rectangle on the X screen; nothing when it is not shown.
std::optional<QJsonArray> viewRect(const View* view)
{
    if (!view || view->isHiddenOrHasHiddenAncestor() || !view->window())
        return std::nullopt;
    return globalRect(*view->window(), view->convertRectToView(view->bounds(), nullptr));
}

// An idea's text and its children's, all the way down: [text, [child, ...], note].
QJsonArray treeOf(const Idea& idea)
{
    QJsonArray children;
    for (const IdeaPtr& child : idea.ideas())
        children.append(treeOf(*child));
    return QJsonArray{idea.text(), children, idea.note()};
}

// Where a planet is drawn among the others: its round ("disc"), its place in the drawing order
// ("z", higher drawn over lower) and whether it is drawn at all ("shown"; a planet of a crowded
// orbit may lie covered). A crowded orbit fans its planets over each other, so the middle of a
// planet's rectangle may show another planet: a hand aims where the planet is uppermost.
void addWhereDrawn(const SolarSystem& solar, const PlanetLayer& layer, const Window& window,
                   QJsonObject& planet)
{
    const Point centre = LayerExtensions::center(layer);
    const double radius = layer.radius();
    planet[QStringLiteral("disc")] = globalRect(
        window,
        solar.convertRectToView(Rect(centre.x - radius, centre.y - radius, 2 * radius, 2 * radius), nullptr));
    planet[QStringLiteral("shown")] = !layer.isHidden();
    const std::vector<Layer*> drawn = solar.layer()->sublayersInDrawingOrder();
    const auto at = std::find(drawn.begin(), drawn.end(), &layer);
    if (at != drawn.end())
        planet[QStringLiteral("z")] = qint64(at - drawn.begin());
}

QJsonObject mapScreen(const SolarSystemViewController& screen, const Window& window)
{
    QJsonObject map{{QStringLiteral("kind"), QStringLiteral("map")},
                    {QStringLiteral("state"), qint64(screen.solarSystemState())},
                    {QStringLiteral("occupied"), screen.screenOccupied()}};
    if (const IdeaPtr& root = screen.rootIdea()) {
        map[QStringLiteral("root")] = root->text();
        map[QStringLiteral("tree")] = treeOf(*root);
    }
    const IdeaPtr& real = screen.realIdea();
    const std::shared_ptr<SolarSystem>& solar = screen.solarSystemView();
    if (!real || !solar)
        return map;
    QJsonObject centre{{QStringLiteral("text"), real->text()}};
    if (const auto rect = viewRect(solar->centralView().get()))
        centre[QStringLiteral("rect")] = *rect;
    map[QStringLiteral("centre")] = centre;
    if (const auto rect = viewRect(solar.get()))
        map[QStringLiteral("area")] = *rect;
    QJsonArray planets;
    for (std::int64_t i = 0; i < solar->ideaViewCount(); ++i) {
        const std::shared_ptr<PlanetLayer> layer = solar->ideaViewAtIndex(i);
        if (!layer)
            continue;
        for (const IdeaPtr& child : real->ideas()) {
            if (child->identifier() != layer->ideaIdentifier())
                continue;
            QJsonObject planet{{QStringLiteral("text"), child->text()}, {QStringLiteral("index"), qint64(i)}};
            if (solar->window() && !solar->isHiddenOrHasHiddenAncestor()) {
                planet[QStringLiteral("rect")] =
                    globalRect(window, solar->convertRectToView(layer->frame(), nullptr));
                addWhereDrawn(*solar, *layer, window, planet);
            }
            planets.append(planet);
        }
    }
    map[QStringLiteral("planets")] = planets;
    QJsonArray adders;
    const std::int64_t adderCount = std::max<std::int64_t>(solar->ideaViewCount(), 4);
    for (std::int64_t i = 0; i < adderCount; ++i) {
        if (const auto rect = viewRect(solar->ideaAdderViewAtIndex(i).get()))
            adders.append(QJsonObject{{QStringLiteral("index"), qint64(i)}, {QStringLiteral("rect"), *rect}});
    }
    map[QStringLiteral("adders")] = adders;
    if (const auto rect = viewRect(solar->parentView().get()))
        map[QStringLiteral("parent")] = *rect;
    if (const auto bar =
            screen.topBar() ? std::dynamic_pointer_cast<TopBarView>(screen.topBar()->view()) : nullptr) {
        if (const auto rect = viewRect(bar->homeButton().get()))
            map[QStringLiteral("homeButton")] = *rect;
        if (const auto rect = viewRect(bar->mindmapToggleButton().get()))
            map[QStringLiteral("toggleButton")] = *rect;
    }
    return map;
}

QJsonObject homeScreen(const HomeViewController& home)
{
    QJsonObject screen{{QStringLiteral("kind"), QStringLiteral("home")},
                       {QStringLiteral("location"), qint64(home.location())},
                       {QStringLiteral("searching"), home.isSearching()}};
    QJsonArray documents;
    if (const std::shared_ptr<IdeaListView>& grid = home.ideaListView()) {
        if (const auto rect = viewRect(grid.get()))
            screen[QStringLiteral("area")] = *rect;
        for (const IdeaProxyPtr& proxy : grid->proxies()) {
            if (!proxy)
                continue;
            QJsonObject document{{QStringLiteral("text"), proxy->text()}};
            if (const auto rect = viewRect(grid->visibleIdeaViewForDocument(proxy->docIdentifier())))
                document[QStringLiteral("rect")] = *rect;
            documents.append(document);
        }
    }
    screen[QStringLiteral("documents")] = documents;
    return screen;
}

// The text fields, buttons and menu items a hand can reach in a top-level widget.
void addControls(QWidget& top, QJsonObject& into)
{
    QJsonArray fields;
    QJsonArray buttons;
    const auto shownRect = [](QWidget& widget) {
        return rectArray(QRectF(widget.mapToGlobal(QPoint(0, 0)), QSizeF(widget.size())));
    };
    for (QWidget* widget : top.findChildren<QWidget*>()) {
        if (!widget->isVisible())
            continue;
        if (auto* line = qobject_cast<QLineEdit*>(widget)) {
            fields.append(QJsonObject{{QStringLiteral("kind"), QStringLiteral("line")},
                                      {QStringLiteral("text"), line->text()},
                                      {QStringLiteral("focus"), line->hasFocus()},
                                      {QStringLiteral("rect"), shownRect(*line)}});
        } else if (auto* text = qobject_cast<QTextEdit*>(widget)) {
            fields.append(QJsonObject{{QStringLiteral("kind"), QStringLiteral("text")},
                                      {QStringLiteral("text"), text->toPlainText()},
                                      {QStringLiteral("focus"), text->hasFocus()},
                                      {QStringLiteral("rect"), shownRect(*text)}});
        } else if (auto* plain = qobject_cast<QPlainTextEdit*>(widget)) {
            fields.append(QJsonObject{{QStringLiteral("kind"), QStringLiteral("text")},
                                      {QStringLiteral("text"), plain->toPlainText()},
                                      {QStringLiteral("focus"), plain->hasFocus()},
                                      {QStringLiteral("rect"), shownRect(*plain)}});
        } else if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
            buttons.append(QJsonObject{{QStringLiteral("text"), button->text()},
                                       {QStringLiteral("enabled"), button->isEnabled()},
                                       {QStringLiteral("rect"), shownRect(*button)}});
        }
    }
    if (auto* menu = qobject_cast<QMenu*>(&top)) {
        QJsonArray items;
        for (QAction* action : menu->actions()) {
            if (action->isSeparator() || !action->isVisible())
                continue;
            const QRect at = menu->actionGeometry(action);
            items.append(
                QJsonObject{{QStringLiteral("text"), action->text()},
                            {QStringLiteral("enabled"), action->isEnabled()},
                            {QStringLiteral("rect"),
                             rectArray(QRectF(menu->mapToGlobal(at.topLeft()), QSizeF(at.size())))}});
        }
        into[QStringLiteral("items")] = items;
    }
    if (auto* box = qobject_cast<QMessageBox*>(&top))
        into[QStringLiteral("text")] = box->text();
    into[QStringLiteral("fields")] = fields;
    into[QStringLiteral("buttons")] = buttons;
}

QString kindOf(QWidget& widget)
{
    if (qobject_cast<QMessageBox*>(&widget))
        return QStringLiteral("alert");
    if (qobject_cast<QMenu*>(&widget))
        return QStringLiteral("menu");
    if (widget.isModal() || widget.inherits("QDialog"))
        return QStringLiteral("dialog");
    return QStringLiteral("popover");
}

} // namespace

ObservationChannel::~ObservationChannel()
{
    delete mServer;
}

std::unique_ptr<ObservationChannel> ObservationChannel::openIfAsked()
{
    const QString path = qEnvironmentVariable(EnvironmentVariable);
    if (path.isEmpty())
        return nullptr;
    std::unique_ptr<ObservationChannel> channel(new ObservationChannel);
    channel->mServer = new QLocalServer;
    QLocalServer::removeServer(path);
    if (!channel->mServer->listen(path)) {
        Log::error(QStringLiteral("The observation channel cannot listen at %1: %2")
                       .arg(path, channel->mServer->errorString()));
        return nullptr;
    }
    ObservationChannel* self = channel.get();
    QObject::connect(channel->mServer, &QLocalServer::newConnection, channel->mServer,
                     [self] { self->accept(); });
    return channel;
}

void ObservationChannel::accept()
{
    while (QLocalSocket* socket = mServer->nextPendingConnection()) {
        QObject::connect(socket, &QLocalSocket::readyRead, socket, [this, socket] { read(socket); });
        QObject::connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    }
}

void ObservationChannel::read(QLocalSocket* socket)
{
    while (socket->canReadLine())
        socket->write(answer(socket->readLine().trimmed()) + '\n');
    socket->flush();
}

QByteArray ObservationChannel::answer(const QByteArray& request)
{
    const QString op = QJsonDocument::fromJson(request).object().value(QStringLiteral("op")).toString();
    QJsonObject reply;
    if (op == QLatin1String("ping"))
        reply = QJsonObject{{QStringLiteral("pong"), true}, {QStringLiteral("pid"), qint64(::getpid())}};
    else if (op == QLatin1String("state"))
        reply = state();
    else
        reply = QJsonObject{{QStringLiteral("error"), QStringLiteral("unknown op")}};
    return QJsonDocument(reply).toJson(QJsonDocument::Compact);
}

QJsonObject ObservationChannel::state()
{
    QJsonArray windows;
    std::vector<QWidget*> mains;
    if (const std::shared_ptr<AppDelegate> delegate = AppDelegate::shared()) {
        for (const auto& controller : delegate->windowControllers()) {
            const std::shared_ptr<MyWindow>& window = controller->myWindow();
            if (!window || !window->hasHostWidget() || !window->hostWidget()->isVisible() ||
                window->isClosing())
                continue;
            QWidget& host = *window->hostWidget();
            mains.push_back(&host);
            QJsonObject shown{{QStringLiteral("title"), window->title()},
                              {QStringLiteral("xid"), QString::number(host.winId())},
                              {QStringLiteral("frame"),
                               rectArray(QRectF(host.mapToGlobal(QPoint(0, 0)), QSizeF(host.size())))},
                              {QStringLiteral("key"), window->isKeyWindow()},
                              {QStringLiteral("edited"), window->isDocumentEdited()},
                              {QStringLiteral("file"), window->docURL().toLocalFile()}};
            const std::shared_ptr<BaseViewController>& screen = window->controller();
            if (auto* map = dynamic_cast<SolarSystemViewController*>(screen.get()))
                shown[QStringLiteral("screen")] = mapScreen(*map, *window);
            else if (auto* home = dynamic_cast<HomeViewController*>(screen.get()))
                shown[QStringLiteral("screen")] = homeScreen(*home);
            addControls(host, shown);
            windows.append(shown);
        }
    }
    QJsonArray others;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (!widget->isVisible() || std::find(mains.begin(), mains.end(), widget) != mains.end())
            continue;
        QJsonObject other{{QStringLiteral("kind"), kindOf(*widget)},
                          {QStringLiteral("class"), QString::fromLatin1(widget->metaObject()->className())},
                          {QStringLiteral("title"), widget->windowTitle()},
                          {QStringLiteral("frame"),
                           rectArray(QRectF(widget->mapToGlobal(QPoint(0, 0)), QSizeF(widget->size())))}};
        addControls(*widget, other);
        others.append(other);
    }
    const QWidget* active = QApplication::activeWindow();
    return QJsonObject{{QStringLiteral("windows"), windows},
                       {QStringLiteral("others"), others},
                       {QStringLiteral("active"), active ? QString::number(active->winId()) : QString()}};
}

} // namespace corvex
