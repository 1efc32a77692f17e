#pragma once

#include "model/Idea.h"
#include "storage/IdeaDocument.h"
#include "toolkit/BaseViewController.h"

#include <QDateTime>
#include <functional>
#include <memory>

namespace corvex {

class ViewController;
class Window;

// The seams through which the mind-map screen reaches the export screen and printing, which
// the overview-graph part of the application builds. Each has a factory that part registers
// at start-up; without one the screen logs the missing piece and the action does nothing.
// Main thread only.

// Told when the export screen is done and wants to be dismissed.
class ExportScreenDelegate
{
public:
    virtual ~ExportScreenDelegate();
    virtual void pleaseDismissSharingView(ViewController& screen) = 0;
};

// The export screen of one tree, presented over the mind map with a partial transition.
class ExportScreen : public BaseViewController
{
public:
    // The tabs, by share type.
    enum ShareType : quint64
    {
        OwnFormat = 0,
        PDF = 1,
        Presentation = 2,
        Text = 3,
        OPML = 4,
        Image = 5,
        Web = 6,
    };

    // A screen for the tree from `root`, stored in `location`, last changed at `lastModified`.
    using Factory = std::function<std::shared_ptr<ExportScreen>(const IdeaPtr& root, StorageLocation location,
                                                                const QDateTime& lastModified)>;

    // The tab shown first.
    virtual void selectShareType(quint64 shareType) = 0;
    virtual void setDelegate(std::weak_ptr<ExportScreenDelegate> delegate) = 0;
    // A click on the backdrop of the partial transition: the screen asks its delegate to
    // dismiss it.
    virtual void screenProtectorWasClicked() = 0;

    static void setFactory(Factory factory);
    // A screen from the registered factory; null without one.
    static std::shared_ptr<ExportScreen> create(const IdeaPtr& root, StorageLocation location,
                                                const QDateTime& lastModified);
};

// Printing of one tree: the map on the first page, the note pages after it.
class MapPrinter
{
public:
    using Factory =
        std::function<std::shared_ptr<MapPrinter>(const IdeaPtr& root, const QDateTime& lastModified)>;

    virtual ~MapPrinter();

    // Runs the platform's print operation (its dialog modal to the window, or to the
    // application without one).
    virtual void runPrintOperation(Window* window) = 0;

    static void setFactory(Factory factory);
    // A printer from the registered factory; null without one.
    static std::shared_ptr<MapPrinter> create(const IdeaPtr& root, const QDateTime& lastModified);
};

} // namespace corvex
