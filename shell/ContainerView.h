#pragma once

#include "toolkit/BaseView.h"

#include <QString>
#include <memory>

namespace corvex {

class ExampleView;

// The view that fills a main window and hosts its current screen's view, with a named example
// picture beneath that stays hidden until showExampleView. It never becomes first responder.
// Main thread only.
class ContainerView : public BaseView
{
public:
    // Unprepared: use the factories.
    ContainerView();
    ~ContainerView() override;
    static std::shared_ptr<ContainerView> create();
    // With the example picture of that name, hidden.
    static std::shared_ptr<ContainerView> createWithNamedView(const QString& imageName);

    void showExampleView();
    const std::shared_ptr<ExampleView>& exampleView() const { return mExampleView; }

    bool acceptsFirstResponder() const override { return false; }
    void applyLayout() override;
    QString className() const override;

private:
    std::shared_ptr<ExampleView> mExampleView;
};

} // namespace corvex
