#pragma once

#include "export/ShareTypeView.h"

namespace corvex {

// The web pane: the whole tree as a zipped web site to embed in a page, behind a cover page
// with "Include cover page" (on at first), else as a full page.
class WebShareTypeView final : public ShareTypeView
{
public:
    explicit WebShareTypeView(std::weak_ptr<ShareTypeViewDelegate> delegate);
    void saveToFileAtURL(const QUrl& url, Completion completion) override;
    std::shared_ptr<ButtonView> coverPageButton() const { return optionButton(0); }
};

} // namespace corvex
