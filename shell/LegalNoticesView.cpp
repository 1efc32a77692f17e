#include "shell/LegalNoticesView.h"

#include "model/Globals.h"
#include "shell/ShellResources.h"
#include "toolkit/BaseScrollView.h"
#include "toolkit/Scroller.h"
#include "toolkit/TextView.h"

#include <QStringDecoder>

namespace corvex {

namespace {

QString legalText()
{
    const std::optional<QByteArray> bytes =
        ShellResources::contentsOfResource(QStringLiteral("legal"), QStringLiteral("txt"));
    if (!bytes)
        return LegalNoticesView::MissingText;
    // Text that is not UTF-8 counts as unreadable, as the platform's reading does.
    QStringDecoder decoder(QStringDecoder::Utf8);
    QString text = decoder(*bytes);
    return decoder.hasError() ? LegalNoticesView::MissingText : text;
}

} // namespace

LegalNoticesView::LegalNoticesView() : ColoredView(Globals::colorGray93()) {}
LegalNoticesView::~LegalNoticesView() = default;

std::shared_ptr<LegalNoticesView> LegalNoticesView::create()
{
    auto view = ColoredView::make<LegalNoticesView>();
    view->build();
    return view;
}

QString LegalNoticesView::className() const
{
    return QStringLiteral("LegalNoticesView");
}

void LegalNoticesView::build()
{
    mScrollView = BaseScrollView::create();
    mScrollView->setHasVerticalScroller(true);
    mScrollView->setHasHorizontalScroller(false);
    mScrollView->setAutohidesScrollers(false);
    mScrollView->setScrollerStyle(Scroller::StyleOverlay);
    mScrollView->setDrawsBackground(false);
    addSubview(mScrollView);
    mTextView = TextView::create();
    mTextView->setInset(Size(InsetWidth, InsetHeight));
    mTextView->setText(legalText());
    mScrollView->setDocumentView(mTextView);
    setNeedsLayout(true);
}

void LegalNoticesView::applyLayout()
{
    ColoredView::applyLayout();
    if (!mScrollView || !mTextView)
        return;
    const double width = bounds().size.width - 20;
    mTextView->sizeToFitWidth(width);
    // The fitted size is the text's alone: the insets would push the last lines out of the
    // view (a short text entirely) and wrap a short line again. The view keeps the width it
    // was fitted to and grows by the inset above and below.
    const Rect fitted = mTextView->frame();
    mTextView->setFrame(Rect(fitted.origin, Size(width, fitted.size.height + 2 * InsetHeight)));
    mScrollView->setFrame(bounds());
    mScrollView->setNeedsLayout(true);
}

} // namespace corvex
