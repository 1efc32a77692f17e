#pragma once

#include "toolkit/BaseImageView.h"

#include <QString>
#include <memory>

namespace corvex {

// A named example picture shown at its natural size, half transparent, anchored at the top
// left: the window's container lays it over a screen (hidden until asked) to compare the
// screen with the picture it should look like. Main thread only.
class ExampleView : public BaseImageView
{
public:
    // Unprepared: use createWithNamedImage.
    ExampleView();
    ~ExampleView() override;

    // The application's image of that name (none for a missing name), top-left aligned and
    // not scaled, alpha 0.5, frame (0, 0) with the image's size.
    static std::shared_ptr<ExampleView> createWithNamedImage(const QString& name);
};

} // namespace corvex
