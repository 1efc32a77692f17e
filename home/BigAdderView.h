#pragma once

#include "home/BigAdderForIPadDelegate.h"
#include "toolkit/BaseView.h"
#include "toolkit/UserInteractionProtocol.h"

#include <memory>

namespace corvex {

class BigAdderLayer;
class TrackingArea;

// The big adder in the grid's first slot (186 x 186): a press shows the active picture, a
// release over the adder asks the delegate for a new document, and the picture returns
// 100 ms after the last release. Reused through the grid's pool. Main thread only.
class BigAdderView : public BaseView, public UserInteractionProtocol
{
public:
    // Unprepared: use create().
    BigAdderView();
    ~BigAdderView() override;
    static std::shared_ptr<BigAdderView> create();

    const std::shared_ptr<BigAdderLayer>& adderLayer() const { return mLayer; }
    bool dockMode() const { return mDockMode; }
    void setDockMode(bool dockMode);
    bool userInteractionEnabled() const override { return mUserInteractionEnabled; }
    void setUserInteractionEnabled(bool enabled) override { mUserInteractionEnabled = enabled; }
    void setDelegate(std::weak_ptr<BigAdderForIPadDelegate> delegate) { mDelegate = std::move(delegate); }

    void mouseDown(const Event& event) override;
    void mouseUp(const Event& event) override;
    void mouseEntered(const Event& event) override;
    void mouseExited(const Event& event) override;
    void updateTrackingAreas() override;
    QString className() const override;

private:
    // Whether the event's window location lies on the adder.
    bool eventHitsAdder(const Event& event);

    std::shared_ptr<BigAdderLayer> mLayer;
    std::shared_ptr<TrackingArea> mTrackingArea;
    std::weak_ptr<BigAdderForIPadDelegate> mDelegate;
    qint64 mOperationCount = 0;
    bool mUserInteractionEnabled = true;
    bool mDockMode = false;
    bool mPressedHere = false;
};

} // namespace corvex
