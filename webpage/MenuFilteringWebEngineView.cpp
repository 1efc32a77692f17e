#include "webpage/MenuFilteringWebEngineView.h"

#include <QContextMenuEvent>
#include <QMenu>

namespace corvex {

MenuFilteringWebEngineView::MenuFilteringWebEngineView(QWidget* parent) : QWebEngineView(parent) {}

void MenuFilteringWebEngineView::contextMenuEvent(QContextMenuEvent* event)
{
    QMenu* menu = createStandardContextMenu();
    if (!menu)
        return;
    for (const QWebEnginePage::WebAction refused :
         {QWebEnginePage::OpenLinkInNewWindow, QWebEnginePage::OpenLinkInNewTab,
          QWebEnginePage::OpenLinkInNewBackgroundTab, QWebEnginePage::DownloadLinkToDisk,
          QWebEnginePage::DownloadImageToDisk, QWebEnginePage::DownloadMediaToDisk}) {
        if (QAction* action = pageAction(refused))
            menu->removeAction(action);
    }
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(event->globalPos());
}

} // namespace corvex
