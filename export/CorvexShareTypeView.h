#pragma once

#include "export/ShareTypeView.h"

namespace corvex {

// The own-format pane: the whole tree with its pictures and attachments as a ".corvex"
// archive. The attachments are read from the document's own storage location.
class CorvexShareTypeView final : public ShareTypeView
{
public:
    explicit CorvexShareTypeView(std::weak_ptr<ShareTypeViewDelegate> delegate);
    void saveToFileAtURL(const QUrl& url, Completion completion) override;
};

} // namespace corvex
