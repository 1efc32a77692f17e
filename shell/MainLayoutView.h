#pragma once

#include "toolkit/ColoredView.h"

#include <memory>

namespace corvex {

class View;

// A white view with an optional top bar over an optional content view: the bar keeps its own
// height across the full width at the top (the view is flipped), the content takes the rest.
// Main thread only.
class MainLayoutView : public ColoredView
{
public:
    // Unprepared: use create().
    MainLayoutView();
    ~MainLayoutView() override;
    static std::shared_ptr<MainLayoutView> create();

    const std::shared_ptr<View>& topBar() const { return mTopBar; }
    const std::shared_ptr<View>& contentView() const { return mContentView; }
    // A different view (or null) replaces the old one, which leaves the view tree.
    void setTopBar(const std::shared_ptr<View>& topBar);
    // The same, then lays out at once.
    void setContentView(const std::shared_ptr<View>& contentView);

    void applyLayout() override;
    QString className() const override;

private:
    std::shared_ptr<View> mTopBar;
    std::shared_ptr<View> mContentView;
};

} // namespace corvex
