#pragma once

#include <QImage>
#include <QPoint>
#include <memory>

class QMimeData;
class QWidget;

namespace corvex {

// Runs one drag the application starts, to its end: the Qt runner is QDrag::exec with the
// copy action (a nested loop); tests install a scripted one. Main thread only.
class DragSessionRunner
{
public:
    struct Request
    {
        // The widget the drag leaves from (its window's host); may be null without a display.
        QWidget* source = nullptr;
        // Handed over to the drag.
        std::unique_ptr<QMimeData> data;
        QImage image;
        QPoint hotSpot;
        // Shown for the copy action wherever the drag goes (null: the platform's).
        QImage copyCursor;
    };

    virtual ~DragSessionRunner();
    // True when a destination took the drag (an operation other than none).
    virtual bool runDrag(Request request) = 0;

    // The runner in use: the Qt one unless a test installed another. Returns the previous.
    static std::shared_ptr<DragSessionRunner> current();
    static std::shared_ptr<DragSessionRunner> install(std::shared_ptr<DragSessionRunner> runner);
};

// QDrag::exec with the copy action.
class QtDragSessionRunner final : public DragSessionRunner
{
public:
    bool runDrag(Request request) override;
};

} // namespace corvex
