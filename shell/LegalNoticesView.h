#pragma once

#include "toolkit/ColoredView.h"

#include <memory>

namespace corvex {

class BaseScrollView;
class TextView;

// The legal notices: the bundle's "legal" text (UTF-8) in a scrolling text view, or
// MissingText when it cannot be read. Flipped (y down). Main thread only.
class LegalNoticesView final : public ColoredView
{
public:
    static inline const QString MissingText = QStringLiteral("(error occurred loading resource file)");
    static constexpr double InsetWidth = 40;
    static constexpr double InsetHeight = 20;

    // Unprepared: use create().
    LegalNoticesView();
    ~LegalNoticesView() override;
    static std::shared_ptr<LegalNoticesView> create();

    QString className() const override;
    void applyLayout() override;

    const std::shared_ptr<BaseScrollView>& scrollView() const { return mScrollView; }
    const std::shared_ptr<TextView>& textView() const { return mTextView; }

private:
    void build();

    std::shared_ptr<BaseScrollView> mScrollView;
    std::shared_ptr<TextView> mTextView;
};

} // namespace corvex
