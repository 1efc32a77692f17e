#pragma once

#include "toolkit/BaseImageView.h"

#include <QString>
#include <memory>

namespace corvex {

// The small black-hole drop area of the mind map and the home grid: dropping an idea on it
// offers to delete that idea. The view only shows its picture; where it stands, when it shows
// and what a drop means belong to its owner. Main thread only.
class DeleteAreaView : public BaseImageView
{
public:
    // Unprepared: use create().
    DeleteAreaView();
    ~DeleteAreaView() override;

    // Frame (0, 0, 40, 40) showing the "blackhole" artwork.
    static std::shared_ptr<DeleteAreaView> create();

    QString className() const override;
};

} // namespace corvex
