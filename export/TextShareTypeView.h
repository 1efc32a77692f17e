#pragma once

#include "export/ShareTypeView.h"

namespace corvex {

// The text pane: the tree's titles as an indented plain-text outline, or with "HTML
// formatting" (off at first) as one HTML page of nested lists; with "Include notes" (on at
// first) the notes too. The suffix follows the HTML checkbox at the moment a button is
// pressed. The two options stand side by side.
class TextShareTypeView final : public ShareTypeView
{
public:
    explicit TextShareTypeView(std::weak_ptr<ShareTypeViewDelegate> delegate);
    QString fileTypeSuffix() const override;
    void saveToFileAtURL(const QUrl& url, Completion completion) override;
    void applyLayout() override;
    std::shared_ptr<ButtonView> notesButton() const { return optionButton(0); }
    std::shared_ptr<ButtonView> htmlFormatButton() const { return optionButton(1); }
};

} // namespace corvex
