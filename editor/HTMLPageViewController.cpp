#include "editor/HTMLPageViewController.h"

#include "editor/EdgePlacement.h"
#include "editor/PageCapture.h"
#include "model/Globals.h"
#include "model/StringExtensions.h"
#include "platform/core/Log.h"
#include "platform/ui/Event.h"
#include "platform/ui/UrlOpener.h"
#include "platform/ui/Window.h"
#include "toolkit/ButtonView.h"
#include "toolkit/ColoredView.h"
#include "toolkit/MyCell.h"
#include "toolkit/RoundedTextButton.h"
#include "toolkit/SearchTextField.h"
#include "toolkit/SpinningProgressIndicator.h"

#include <QFile>
#include <QLineEdit>
#include <QRegularExpression>
#include <algorithm>
#include <mutex>

// Q_INIT_RESOURCE must be used at global scope; a static library's resources are registered
// only when asked for.
static void registerWebLinkResources()
{
    Q_INIT_RESOURCE(weblink);
}

namespace corvex {

namespace {

constexpr double kStripHeight = 40;
constexpr double kStripMiddle = 20;
constexpr double kEdgeInset = 14;
constexpr double kFieldHeight = 22;
constexpr double kFieldMaxWidth = 500;
constexpr quint64 kButtonStyle = 2;

QUrl& searchBaseSlot()
{
    static QUrl base(QStringLiteral("https://www.google.com"));
    return base;
}

HTMLPageViewController::ResourceLookup& resourceLookupSlot()
{
    static HTMLPageViewController::ResourceLookup lookup;
    return lookup;
}

// The compiled-in resources, under ":/editor/web/".
QUrl compiledInResource(const QString& name, const QString& extension)
{
    static std::once_flag once;
    std::call_once(once, registerWebLinkResources);
    const QString path = QStringLiteral(":/editor/web/%1.%2").arg(name, extension);
    return QFile::exists(path) ? QUrl(QStringLiteral("qrc") + path) : QUrl();
}

bool isLoadableScheme(const QUrl& url)
{
    const QString scheme = url.scheme().toLower();
    return scheme == QLatin1String("http") || scheme == QLatin1String("https");
}

// Rounded text buttons hold their delegate strongly: this forwards to the editor weakly.
class RoundedButtonForwarder : public RoundedTextButtonDelegate
{
public:
    explicit RoundedButtonForwarder(std::weak_ptr<ViewController> editor) : mEditor(std::move(editor)) {}
    void roundedTextButtonPressed(RoundedTextButton& button) override
    {
        if (auto editor = std::static_pointer_cast<HTMLPageViewController>(mEditor.lock()))
            editor->roundedTextButtonPressed(button);
    }

private:
    std::weak_ptr<ViewController> mEditor;
};

} // namespace

std::shared_ptr<HTMLPageViewController>
HTMLPageViewController::initWithDelegate(std::weak_ptr<WebLinkEditorDelegate> delegate,
                                         const QString& urlString)
{
    auto controller = std::make_shared<HTMLPageViewController>(std::move(delegate), urlString);
    controller->loadViewIfNeeded();
    if (controller->mIsThisAEditSession) {
        controller->mSearchTextField->setText(urlString);
        controller->startLoadingPage(urlString);
    }
    return controller;
}

HTMLPageViewController::HTMLPageViewController(std::weak_ptr<WebLinkEditorDelegate> delegate,
                                               const QString& urlString)
    : mDelegate(std::move(delegate)), mIsThisAEditSession(!urlString.isNull())
{
    const ResourceLookup& lookup = resourceLookupSlot();
    const QString name = QStringLiteral("missing");
    const QString extension = QStringLiteral("html");
    mMissingPageURL = lookup ? lookup(name, extension) : compiledInResource(name, extension);
}

HTMLPageViewController::~HTMLPageViewController()
{
    if (mWebView)
        mWebView->setClient({});
}

void HTMLPageViewController::setSearchBase(const QUrl& base)
{
    searchBaseSlot() = base;
}

QUrl HTMLPageViewController::searchBase()
{
    return searchBaseSlot();
}

void HTMLPageViewController::setResourceLookup(ResourceLookup lookup)
{
    resourceLookupSlot() = std::move(lookup);
}

void HTMLPageViewController::finish()
{
    performDismissalViaDelegate();
}

// ---- Building ----

void HTMLPageViewController::loadView()
{
    const std::shared_ptr<ViewController> self = shared_from_this();
    auto root =
        ColoredView::createWithLayouter(PlatformColor::white(), std::dynamic_pointer_cast<Layouter>(self));
    setView(root);
    mTopAreaView = ColoredView::create(Globals::colorGrayD7DEE4());
    root->addSubview(mTopAreaView);
    switchToFreshWebView();

    mCloseButton = ButtonView::createWithImage(PlatformImage::imageNamed(QStringLiteral("close")),
                                               PlatformImage::imageNamed(QStringLiteral("close_active")));
    mCloseButton->setFrame(Rect(0, 0, 28, 28));
    mCloseButton->setDelegate(std::dynamic_pointer_cast<ButtonViewDelegate>(self));
    root->addSubview(mCloseButton);

    auto forwarder = std::make_shared<RoundedButtonForwarder>(self);
    mActionButton = RoundedTextButton::createWithDelegate(forwarder, kButtonStyle);
    setActionButtonFrameAndText(
        Globals::normalLocalizedStringForKey(QStringLiteral("Choice.Search"), QStringLiteral("Search")));
    root->addSubview(mActionButton);

    const PlatformImage back = PlatformImage::imageNamed(QStringLiteral("back"));
    mBackButton = ButtonView::createWithImage(back, back);
    mBackButton->setDelegate(std::dynamic_pointer_cast<ButtonViewDelegate>(self));
    mBackButton->setHidden(true);
    root->addSubview(mBackButton);

    mSearchTextField = SearchTextField::createWithStyle(1);
    mSearchTextField->setPlaceholderString(
        Globals::normalLocalizedStringForKey(QStringLiteral("WebSearchField:Placeholder"), QString()));
    std::weak_ptr<ViewController> weak = self;
    mSearchTextField->setTextDidChangeHandler([weak](SearchTextField&) {
        if (auto editor = std::static_pointer_cast<HTMLPageViewController>(weak.lock()))
            editor->controlTextDidChange();
    });
    mSearchTextField->setAction([weak](SearchTextField&) {
        if (auto editor = std::static_pointer_cast<HTMLPageViewController>(weak.lock()))
            editor->insertNewline();
    });
    root->addSubview(mSearchTextField);

    mProgressView = SpinningProgressIndicator::create(Rect(20, 20, 30, 30));
    root->addSubview(mProgressView);

    mOpenExternallyButton = RoundedTextButton::createWithDelegate(forwarder, kButtonStyle);
    mOpenExternallyButton->setButtonTitle(QStringLiteral("Open in Browser"));
    mOpenExternallyButton->sizeToFit();
    root->addSubview(mOpenExternallyButton);
    updateView();
}

// ---- Layout and refresh ----

void HTMLPageViewController::applyLayout()
{
    const std::shared_ptr<View>& root = viewIfLoaded();
    if (mDismissed || !root || !mSearchTextField)
        return;
    const Rect b = root->bounds();
    const double w = b.size.width;
    mTopAreaView->setFrame(Rect(0, 0, w, kStripHeight));
    // While the page is drawn for its picture, its view has the size the drawing needs.
    if (mWebView && mWebView->view() && !mCapturing)
        mWebView->view()->setFrame(Rect(0, kStripHeight, w, std::max(0.0, b.size.height - kStripHeight)));
    mCloseButton->setFrame(
        EdgePlacement::leftMiddleAt(mCloseButton->frame().size, Point(kEdgeInset, kStripMiddle)));
    mOpenExternallyButton->setFrame(EdgePlacement::rightMiddleAt(mOpenExternallyButton->frame().size,
                                                                 Point(w - kEdgeInset, kStripMiddle)));
    double left = mCloseButton->frame().maxX();
    double right =
        mOpenExternallyButton->isHidden() ? w - kEdgeInset : mOpenExternallyButton->frame().minX() - 10;
    if (!mActionButton->isHidden())
        right -= mActionButton->frame().size.width + 6;
    left += 10;
    if (!mBackButton->isHidden())
        left += mBackButton->frame().size.width + 6;
    const double room = std::min(right - w / 2, w / 2 - left);
    const Size field(std::min(right - left, kFieldMaxWidth), kFieldHeight);
    mSearchTextField->setFrame(room < 250 ? EdgePlacement::rightMiddleAt(field, Point(right, kStripMiddle))
                                          : EdgePlacement::centeredAt(field, Point(w / 2, kStripMiddle)));
    const Rect fieldFrame = mSearchTextField->frame();
    if (!mActionButton->isHidden())
        mActionButton->setFrame(EdgePlacement::leftMiddleAt(mActionButton->frame().size,
                                                            Point(fieldFrame.maxX() + 6, kStripMiddle)));
    if (!mBackButton->isHidden())
        mBackButton->setFrame(EdgePlacement::rightMiddleAt(mBackButton->frame().size,
                                                           Point(fieldFrame.minX() - 6, kStripMiddle)));
    mProgressView->setFrame(
        EdgePlacement::centeredAt(mProgressView->frame().size, Point(b.midX(), b.midY())));
}

void HTMLPageViewController::setActionButtonFrameAndText(const QString& title)
{
    mActionButtonTitle = title;
    mActionButton->setButtonTitle(title);
    mActionButton->sizeToFit();
}

void HTMLPageViewController::updateView()
{
    if (mDismissed || !mActionButton)
        return;
    mBackButton->setHidden(!(mWebView && mWebView->canGoBack()));
    switch (mSearchFieldState) {
    case StateNothing:
        mActionButton->setHidden(true);
        mOpenExternallyButton->setHidden(true);
        break;
    case StateSearchWords:
        mActionButton->setHidden(false);
        setActionButtonFrameAndText(
            Globals::normalLocalizedStringForKey(QStringLiteral("Choice.Search"), QStringLiteral("Search")));
        mOpenExternallyButton->setHidden(true);
        break;
    case StateAddressTyped:
        mActionButton->setHidden(false);
        setActionButtonFrameAndText(QStringLiteral("Visit"));
        mOpenExternallyButton->setHidden(false);
        break;
    default:
        mActionButton->setHidden(false);
        setActionButtonFrameAndText(
            mIsThisAEditSession
                ? Globals::normalLocalizedStringForKey(QStringLiteral("Choice.Change"),
                                                       QStringLiteral("Change"))
                : Globals::normalLocalizedStringForKey(QStringLiteral("Choice.Add"), QStringLiteral("Add")));
        mOpenExternallyButton->setHidden(false);
        break;
    }
    const bool editing = mSearchTextField->cell().showsFirstResponder();
    const bool spinning = mWebViewState == WebViewLoading && !editing;
    mProgressView->setHidden(!spinning);
    if (spinning) {
        view()->addSubview(mProgressView); // in front of everything
        mProgressView->startAnimation();
    } else {
        mProgressView->stopAnimation();
    }
    view()->setNeedsLayout(true);
}

// ---- Addresses ----

bool HTMLPageViewController::isPotentialURL(const QString& text)
{
    static const QRegularExpression pattern(QStringLiteral("^\\w+(\\.|:/)[^\\s]+$"),
                                            QRegularExpression::CaseInsensitiveOption);
    return pattern.match(text).hasMatch();
}

bool HTMLPageViewController::hasURLTypePrefix(const QString& text)
{
    static const QRegularExpression pattern(QStringLiteral("^\\w+(://)"),
                                            QRegularExpression::CaseInsensitiveOption);
    return pattern.match(text).hasMatch();
}

bool HTMLPageViewController::isOnlyWhiteSpace(const QString& text)
{
    return std::all_of(text.begin(), text.end(), [](QChar c) { return c == u' ' || c == u'\t'; });
}

QUrl HTMLPageViewController::validURLorNil(const QString& text)
{
    if (!isPotentialURL(text))
        return {};
    const QString address = hasURLTypePrefix(text) ? text : QStringLiteral("http://%1").arg(text);
    const QUrl url(address, QUrl::StrictMode);
    return url.isValid() ? url : QUrl();
}

bool HTMLPageViewController::isMissingPage(const QUrl& url) const
{
    return !mMissingPageURL.isEmpty() && url == mMissingPageURL;
}

// ---- Typing and buttons ----

void HTMLPageViewController::controlTextDidChange()
{
    if (mDismissed)
        return;
    const QString text = mSearchTextField->text();
    unsigned state = StateNothing;
    if (!isOnlyWhiteSpace(text))
        state = isPotentialURL(text) ? StateAddressTyped : StateSearchWords;
    if (state == mSearchFieldState)
        return;
    mSearchFieldState = state;
    updateView();
}

void HTMLPageViewController::insertNewline()
{
    Log::info(QStringLiteral("Selector method is (insertNewline:)"));
    actionButtonPressed();
}

void HTMLPageViewController::actionButtonPressed()
{
    if (mDismissed)
        return;
    switch (mSearchFieldState) {
    case StatePageShown:
        mResultURL = mSearchTextField->text();
        captureWebviewImage();
        return;
    case StateAddressTyped:
        giveUpKeyboardFocus();
        startLoadingPage(mSearchTextField->text());
        return;
    case StateSearchWords:
        giveUpKeyboardFocus();
        startSearch();
        return;
    default:
        return;
    }
}

void HTMLPageViewController::openExternallyButtonPressed()
{
    if (mDismissed)
        return;
    const QUrl url = validURLorNil(mSearchTextField->text());
    if (!url.isEmpty())
        UrlOpener::current()->open(url);
}

void HTMLPageViewController::backButtonPressed()
{
    if (mDismissed || !mWebView || !mWebView->canGoBack())
        return;
    giveUpKeyboardFocus();
    mWebView->goBack();
}

void HTMLPageViewController::closeButtonPressed()
{
    if (mDismissed)
        return;
    mResultURL = QString();
    mResultPageImage = QVImage();
    performDismissalViaDelegate();
}

void HTMLPageViewController::buttonPressed(ButtonView& button)
{
    if (mDismissed)
        return;
    if (&button == mCloseButton.get())
        closeButtonPressed();
    else if (&button == mBackButton.get())
        backButtonPressed();
}

void HTMLPageViewController::roundedTextButtonPressed(RoundedTextButton& button)
{
    if (mDismissed)
        return;
    if (&button == mActionButton.get())
        actionButtonPressed();
    else if (&button == mOpenExternallyButton.get())
        openExternallyButtonPressed();
}

void HTMLPageViewController::keyDown(const Event& event)
{
    if (event.characters() == QStringLiteral("\x1b")) {
        closeButtonPressed();
        return;
    }
    WebLinkEditor::keyDown(event);
}

void HTMLPageViewController::giveUpKeyboardFocus()
{
    if (Window* window = myWindow())
        window->makeFirstResponder(view().get());
}

// ---- Loading ----

void HTMLPageViewController::startSearch()
{
    QUrl url = searchBaseSlot();
    url.setPath(QStringLiteral("/search"));
    url.setQuery(QStringLiteral("q=") + StringExtensions::urlencode(mSearchTextField->text()),
                 QUrl::StrictMode);
    startLoadingPage(url.toString());
}

void HTMLPageViewController::startLoadingPage(const QString& text)
{
    const QUrl url = validURLorNil(text);
    if (url.isEmpty())
        return;
    mSearchTextField->setText(text);
    // Other schemes (file, javascript, data...) never reach the engine: the missing page
    // stands in for them.
    startLoadingPageWithURL(isLoadableScheme(url) ? url : mMissingPageURL);
    if (!isLoadableScheme(url) && mMissingPageURL.isEmpty()) {
        mSearchFieldState = StateAddressTyped;
        updateView();
    }
}

void HTMLPageViewController::startLoadingPageWithURL(const QUrl& url)
{
    if (url.isEmpty())
        return;
    mWebViewState = WebViewLoading;
    switchToFreshWebView();
    mRequestedURL = url;
    if (!mWebView) {
        // No engine to show pages: the load fails at once, the address stays typed.
        mWebViewState = WebViewFinished;
        mSearchFieldState = StateAddressTyped;
        updateView();
        return;
    }
    mWebView->loadBypassingCaches(url);
    mSearchFieldState = StateAddressLoading;
    updateView();
}

void HTMLPageViewController::switchToFreshWebView()
{
    if (mWebView) {
        mWebView->setClient({});
        if (mWebView->view())
            mWebView->view()->removeFromSuperview();
    }
    mWebView = WebPageView::create();
    if (!mWebView) {
        Log::error(QStringLiteral("No web page view: the web-link editor shows no page"));
        return;
    }
    mWebView->setClient(std::dynamic_pointer_cast<WebPageViewClient>(shared_from_this()));
    const std::shared_ptr<View> page = mWebView->view();
    if (page) {
        page->setFrame(view()->bounds());
        view()->addSubview(page, View::Ordering::Below, mTopAreaView.get());
    }
    view()->setNeedsLayout(true);
}

// ---- Page events ----

void HTMLPageViewController::webPageDidStartLoading(WebPageView& page)
{
    if (mDismissed || &page != mWebView.get())
        return;
    mWebViewState = WebViewLoading;
    updateView();
}

void HTMLPageViewController::webPageDidFinishLoading(WebPageView& page)
{
    if (mDismissed || &page != mWebView.get())
        return;
    bool refresh = false;
    if (mWebViewState == WebViewLoading) {
        mWebViewState = WebViewFinished;
        refresh = true;
    }
    const QUrl address = page.mainDocumentURL();
    if (!address.isEmpty()) {
        refresh = true;
        if (!isMissingPage(address)) {
            mSearchTextField->setText(address.toString());
            mSearchFieldState = StatePageShown;
        }
    }
    if (mSearchFieldState == StateAddressLoading)
        mSearchFieldState = StateAddressTyped;
    if (refresh)
        updateView();
}

void HTMLPageViewController::webPageDidFailLoading(WebPageView& page)
{
    if (mDismissed || &page != mWebView.get())
        return;
    // The missing page failing too, or not being there, would load it again for ever.
    if (mMissingPageURL.isEmpty() || isMissingPage(mRequestedURL)) {
        mWebViewState = WebViewFinished;
        mSearchFieldState = StateAddressTyped;
        page.loadBlankPage();
        updateView();
        return;
    }
    startLoadingPageWithURL(mMissingPageURL);
}

// ---- Results ----

void HTMLPageViewController::captureWebviewImage()
{
    if (mCapturing)
        return;
    if (!mWebView) {
        performDismissalViaDelegate();
        return;
    }
    mCapturing = true;
    std::weak_ptr<ViewController> weak = weak_from_this();
    PageCapture::captureTopSquare(*mWebView, [weak](const QVImage& picture) {
        auto self = std::static_pointer_cast<HTMLPageViewController>(weak.lock());
        // Closed while the page was drawn: the results stay empty.
        if (!self || self->mDismissed)
            return;
        self->mCapturing = false;
        self->mResultPageImage = picture;
        self->performDismissalViaDelegate();
    });
}

void HTMLPageViewController::performDismissalViaDelegate()
{
    if (mDismissed)
        return;
    mDismissed = true;
    if (const std::shared_ptr<View>& root = viewIfLoaded())
        root->setHidden(true);
    if (auto delegate = mDelegate.lock())
        delegate->pleaseDismissHTMLPageView(*this);
}

// ---- Appearance ----

void HTMLPageViewController::viewDidAppear()
{
    WebLinkEditor::viewDidAppear();
    if (mOnceToken)
        return;
    mOnceToken = true;
    if (Window* window = myWindow())
        window->makeFirstResponder(mSearchTextField.get());
    if (mSearchTextField->text().isEmpty() && mSearchTextField->lineEdit())
        mSearchTextField->lineEdit()->selectAll();
}

void HTMLPageViewController::viewDidDisappear()
{
    WebLinkEditor::viewDidDisappear();
    if (mWebView)
        mWebView->loadBlankPage();
}

} // namespace corvex
