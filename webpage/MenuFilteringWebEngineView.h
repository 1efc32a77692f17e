#pragma once

#include <QWebEngineView>

namespace corvex {

// The page's widget: its context menu is the standard one without the items that would
// open a new window or tab or download something. Main thread only.
class MenuFilteringWebEngineView : public QWebEngineView
{
public:
    explicit MenuFilteringWebEngineView(QWidget* parent = nullptr);

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;
};

} // namespace corvex
