#pragma once

#include "toolkit/BaseView.h"

#include <memory>

namespace corvex {

class EditableTextView;

// The frame of the note area: a rounded light grey outline (corner radius 3, line width 2)
// around the note view, which fills it inset by 1 on every side and scrolls its own text
// vertically (never sideways). Construction in two phases: use create(). Main thread only.
class NoteScrollView : public BaseView
{
public:
    NoteScrollView();
    ~NoteScrollView() override;
    static std::shared_ptr<NoteScrollView> create();
    QString className() const override;

    const std::shared_ptr<EditableTextView>& documentView() const { return mDocumentView; }
    void setDocumentView(const std::shared_ptr<EditableTextView>& view);
    // The width the note's text is laid out in.
    double contentWidth() const { return std::max(0.0, bounds().size.width - 2.0); }

    void applyLayout() override;
    void drawRect(const Rect& dirtyRect, GraphicsContext& context) override;

private:
    std::shared_ptr<EditableTextView> mDocumentView;
};

} // namespace corvex
