#pragma once

// The home screen's test rig: the mind-map rig's seams and runners on virtual time, location
// 2 served by the in-process back end with documents written as another device would, and a
// 1172 x 760 window showing a HomeViewController of the location.

#include "home/HomeViewController.h"
#include "home/IdeaListView.h"
#include "model/Color.h"
#include "model/Idea.h"
#include "tests/doubles/storage/TestFolderPersistenceState.h"
#include "tests/mindmap/MindMapScreenRig.h"

#include <QImage>
#include <QStringList>
#include <functional>
#include <memory>
#include <vector>

namespace corvex::test {

// A root with `children` leaf children, coloured.
IdeaPtr homeTree(const QString& rootText, int children, const ColorPtr& color);
// A distinct colour for document `index`.
ColorPtr homeColor(int index);

class HomeScreenRig
{
public:
    using TreeMaker = std::function<IdeaPtr(int index)>;

    // `count` documents made by `tree` (default: "doc <i>" with no children, homeColor(i)).
    // With `warmSearch` the rig waits until the location's search has read every document
    // (it opens and closes each once), so that later token counts are the test's own.
    // With `listHeldBack` the location's first complete list waits for reportList().
    explicit HomeScreenRig(int count = 0, TreeMaker tree = {}, bool warmSearch = false,
                           bool listHeldBack = false);
    ~HomeScreenRig();
    HomeScreenRig(const HomeScreenRig&) = delete;
    HomeScreenRig& operator=(const HomeScreenRig&) = delete;

    // The home screen of location 2 in the window (made on first call).
    std::shared_ptr<HomeViewController> show(const QString& searchText = QString());
    IdeaListView& grid() { return *screen->ideaListView(); }
    // The documents' identifiers in list order.
    QStringList identifiers() const;
    // The back end's first complete list of the documents, settled.
    void reportList();
    // The identifiers the grid shows, in order.
    QStringList gridIdentifiers();
    // Tokens handed out by the back end that were not handed back yet (opens the test
    // scripted to fail are counted in `failedOpens`).
    int openTokens() const;
    bool settle(const std::function<bool()>& predicate) { return base.settle(predicate); }
    void drain() { base.drain(); }
    QImage render();
    // The centre of a document's visible planet in window base coordinates (y up).
    Point planetCentreInWindow(const QString& docIdentifier);
    // Types the text into the search field, one more character at a time, each change
    // reported on the next turn of the main queue.
    void typeIntoSearchField(const QString& text);

    MindMapScreenRig base;
    std::shared_ptr<TestFolderPersistenceState> state;
    std::shared_ptr<ShellRigWindow> window;
    std::shared_ptr<HomeViewController> screen;
    std::vector<IdeaProxyPtr> proxies;
    int failedOpens = 0;
};

} // namespace corvex::test
