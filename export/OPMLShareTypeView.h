#pragma once

#include "export/ShareTypeView.h"

namespace corvex {

// The OPML pane: titles and notes of the whole tree, for other outliners.
class OPMLShareTypeView final : public ShareTypeView
{
public:
    explicit OPMLShareTypeView(std::weak_ptr<ShareTypeViewDelegate> delegate);
    void saveToFileAtURL(const QUrl& url, Completion completion) override;
};

} // namespace corvex
