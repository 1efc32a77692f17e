#include "shell/AboutView.h"

#include "model/Globals.h"
#include "platform/core/Bundle.h"
#include "platform/gfx/PlatformImage.h"
#include "platform/ui/Cursor.h"
#include "platform/ui/EmbeddedWidgetView.h"
#include "platform/ui/TrackingArea.h"
#include "shell/CreditsBrowser.h"
#include "shell/LegalNoticesWindow.h"
#include "shell/ShellResources.h"
#include "toolkit/BaseImageView.h"
#include "toolkit/ButtonView.h"
#include "toolkit/TextLabel.h"

#include <QPalette>

namespace corvex {

AboutView::AboutView() : ColoredView(Globals::colorGray93()) {}
AboutView::~AboutView() = default;

std::shared_ptr<AboutView> AboutView::create()
{
    auto view = ColoredView::make<AboutView>();
    view->build();
    return view;
}

QString AboutView::className() const
{
    return QStringLiteral("AboutView");
}

void AboutView::build()
{
    const PlatformImage logo = PlatformImage::imageNamed(QStringLiteral("about_logo"));
    mLogoView = BaseImageView::createWithImage(logo);
    mLogoView->setFrame(Rect(Point(), logo.size()));
    addSubview(mLogoView);

    mTextLabel = TextLabel::create();
    mTextLabel->setText(QStringLiteral("Corvex v") + Bundle::mainBundle().shortVersion());
    mTextLabel->setFont(Globals::fontAvenirBook(12));
    mTextLabel->setTextColor(Globals::colorGray46());
    mTextLabel->sizeToFit();
    addSubview(mTextLabel);

    auto browser = std::make_unique<CreditsBrowser>();
    // No scrolling until the page has loaded.
    browser->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    browser->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // The page lies on the window's grey, not on a white sheet.
    QPalette palette = browser->palette();
    palette.setColor(QPalette::Base, Globals::colorGray93().toQColor());
    browser->setPalette(palette);
    CreditsBrowser* page = browser.get();
    mWebView = EmbeddedWidgetView::create(std::move(browser));
    addSubview(mWebView);
    // A missing page leaves the view empty.
    if (const std::optional<QByteArray> credits =
            ShellResources::contentsOfResource(QStringLiteral("credits"), QStringLiteral("html"))) {
        page->setHtml(QString::fromUtf8(*credits));
        webViewDidFinishLoad();
    }

    mCopyLabel = TextLabel::create();
    mCopyLabel->setText(CopyrightText);
    mCopyLabel->setFont(Globals::fontAvenirBook(12));
    mCopyLabel->setTextColor(Globals::colorGray46());
    mCopyLabel->sizeToFit();
    addSubview(mCopyLabel);

    auto link = TextLabel::create();
    link->setText(QStringLiteral("Legal Notices"));
    link->setFont(Globals::fontAvenirOblique(10));
    link->setTextColor(Globals::colorGray46());
    link->sizeToFit();
    mButtonView = ButtonView::create();
    mButtonView->setDelegate(std::static_pointer_cast<AboutView>(shared_from_this()));
    mButtonView->setFrame(link->frame());
    mButtonView->addView(link, 0);
    // The text kit draws no underline: a hairline under the text stands in for it.
    auto underline = ColoredView::create(Globals::colorGray46());
    mButtonView->addView(underline, 0, [](View& view, const Rect& bounds) {
        view.setFrame(
            Rect(TextLabel::TextPadding, bounds.maxY() - 2, bounds.width() - 2 * TextLabel::TextPadding, 1));
    });
    addSubview(mButtonView);
    setNeedsLayout(true);
}

CreditsBrowser* AboutView::creditsBrowser() const
{
    return mWebView ? static_cast<CreditsBrowser*>(mWebView->widget()) : nullptr;
}

void AboutView::webViewDidFinishLoad()
{
    if (CreditsBrowser* page = creditsBrowser())
        page->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
}

void AboutView::applyLayout()
{
    ColoredView::applyLayout();
    if (!mLogoView || !mTextLabel || !mWebView || !mCopyLabel || !mButtonView)
        return;
    const double w = bounds().size.width;
    const double h = bounds().size.height;
    const Size logo = mLogoView->frame().size;
    mLogoView->setFrame(Rect(w / 2 - logo.width / 2, LogoCentreY - logo.height / 2, logo.width, logo.height));
    mWebView->setFrame(Rect(0, WebViewTop, w, std::max(0.0, h - WebViewTop - BottomBand)));
    const Size version = mTextLabel->frame().size;
    mTextLabel->setFrame(Rect(w / 2 - version.width / 2,
                              mLogoView->frame().maxY() + VersionBelowLogo - version.height / 2,
                              version.width, version.height));
    const Size copy = mCopyLabel->frame().size;
    mCopyLabel->setFrame(Rect(SideMargin, h - LinesFromBottom - copy.height / 2, copy.width, copy.height));
    const Size link = mButtonView->frame().size;
    mButtonView->setFrame(
        Rect(w - SideMargin - link.width, h - LinesFromBottom - link.height / 2, link.width, link.height));
    updateTrackingAreas();
}

void AboutView::updateTrackingAreas()
{
    if (mLinkArea)
        removeTrackingArea(mLinkArea.get());
    mLinkArea.reset();
    if (mButtonView) {
        mLinkArea = TrackingArea::create(mButtonView->frame(),
                                         TrackingArea::CursorUpdate | TrackingArea::ActiveAlways, this);
        addTrackingArea(mLinkArea);
    }
    ColoredView::updateTrackingAreas();
}

void AboutView::cursorUpdate(const Event&)
{
    Cursor::pointingHandCursor().set();
}

void AboutView::buttonPressed(ButtonView&)
{
    LegalNoticesWindow::show();
}

} // namespace corvex
