#pragma once

#include "export/ShareTypeView.h"

namespace corvex {

// The image pane: the overview of the whole tree as a PNG, on white, or on nothing with
// "Transparent background" (off at first).
class ImageShareTypeView final : public ShareTypeView
{
public:
    explicit ImageShareTypeView(std::weak_ptr<ShareTypeViewDelegate> delegate);
    void saveToFileAtURL(const QUrl& url, Completion completion) override;
    std::shared_ptr<ButtonView> transparencyButton() const { return optionButton(0); }
};

} // namespace corvex
