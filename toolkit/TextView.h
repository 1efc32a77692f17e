#pragma once

#include "platform/gfx/PlatformColor.h"
#include "platform/gfx/PlatformFont.h"
#include "toolkit/BaseView.h"

#include <QString>
#include <memory>
#include <optional>
#include <utility>

namespace corvex {

class ReadOnlyTextView;

// A block of styled, non-editable text: the welcome screen's texts, legal notices,
// placeholders and descriptions. It hosts a ReadOnlyTextView, made on the first setText and
// from then on its only subview.
//
// Only setText rebuilds the text: the other setters store their values, which take effect at
// the next setText. The text gets the font (fontAvenirBook 12 when none is set), the colour
// (black when none is set), the kern (in single precision) and a paragraph style with the
// alignment, line spacing 0 and line height multiple 1. lineSpacing and lineHeightMultiple
// are stored and read back only: the system's users set just those same values.
//
// Construction is in two phases (BaseView): use create(). Main thread only.
class TextView : public BaseView
{
public:
    // Unprepared: use create().
    TextView();
    ~TextView() override;
    // BaseView's preparation, then lineHeightMultiple 1.0.
    static std::shared_ptr<TextView> create();

    QString className() const override;

    const QString& text() const { return mText; }
    // Stores the text and calls update.
    void setText(const QString& text);

    // ---- Properties (effective at the next setText) ----
    // None: black.
    const std::optional<PlatformColor>& textColor() const { return mTextColor; }
    void setTextColor(std::optional<PlatformColor> color) { mTextColor = std::move(color); }
    // None: defaultFont().
    const std::optional<PlatformFont>& font() const { return mFont; }
    void setFont(std::optional<PlatformFont> font) { mFont = std::move(font); }
    double kern() const { return mKern; }
    void setKern(double kern) { mKern = kern; }
    // The platform's alignment numbers: 0 left, 1 right, 2 centre, 3 justified, 4 natural
    // (other values read as natural).
    unsigned textAlignment() const { return mTextAlignment; }
    void setTextAlignment(unsigned alignment) { mTextAlignment = alignment; }
    // The hosted view's text container inset.
    Size inset() const { return mInset; }
    void setInset(Size inset) { mInset = inset; }
    double lineSpacing() const { return mLineSpacing; }
    void setLineSpacing(double spacing) { mLineSpacing = spacing; }
    double lineHeightMultiple() const { return mLineHeightMultiple; }
    void setLineHeightMultiple(double multiple) { mLineHeightMultiple = multiple; }

    // fontAvenirBook of 12 points.
    static PlatformFont defaultFont();

    // Rebuilds the hosted view's text from the properties (making the view on first call).
    void update();

    // ---- Layout ----
    // BaseView's layout, then the hosted view's frame becomes the bounds.
    void applyLayout() override;
    // The size of the hosted view's used rectangle; zero before the first setText.
    Size intrinsicContentSize() const override;
    // Keeps the origin: the frame size becomes intrinsicContentSize, then the hosted view's
    // frame size.
    void sizeToFit() override;
    // Lays the text out at width w: the hosted view becomes (the smaller of the used width
    // plus the inset's width and w, both in single precision) by the used height, and the
    // view takes that size.
    void sizeToFitWidth(double w);

    // Null before the first setText.
    const std::shared_ptr<ReadOnlyTextView>& hostedTextView() const { return mTextView; }

private:
    QString mText;
    std::shared_ptr<ReadOnlyTextView> mTextView;
    std::optional<PlatformColor> mTextColor;
    std::optional<PlatformFont> mFont;
    double mKern = 0;
    unsigned mTextAlignment = 0;
    Size mInset;
    double mLineSpacing = 0;
    double mLineHeightMultiple = 0;
};

} // namespace corvex
