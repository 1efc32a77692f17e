#pragma once

#include "export/ShareTypeView.h"

namespace corvex {

// The PDF pane: the map page and, with "Include notes" (on at first), the note pages, as an
// A4 PDF.
class PDFShareTypeView final : public ShareTypeView
{
public:
    explicit PDFShareTypeView(std::weak_ptr<ShareTypeViewDelegate> delegate);
    void saveToFileAtURL(const QUrl& url, Completion completion) override;
    std::shared_ptr<ButtonView> notesButton() const { return optionButton(0); }
};

} // namespace corvex
