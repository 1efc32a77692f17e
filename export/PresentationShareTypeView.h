#pragma once

#include "export/ShareTypeView.h"

namespace corvex {

// The presentation pane: the whole tree as a zipped offline presentation.
class PresentationShareTypeView final : public ShareTypeView
{
public:
    explicit PresentationShareTypeView(std::weak_ptr<ShareTypeViewDelegate> delegate);
    void saveToFileAtURL(const QUrl& url, Completion completion) override;
};

} // namespace corvex
