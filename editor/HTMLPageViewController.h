#pragma once

#include "editor/WebPageView.h"
#include "mindmap/MindMapScreenSeams.h"
#include "toolkit/ButtonViewDelegate.h"
#include "toolkit/Layouter.h"
#include "toolkit/RoundedTextButtonDelegate.h"

#include <QUrl>
#include <memory>

namespace corvex {

class ButtonView;
class ColoredView;
class RoundedTextButton;
class SearchTextField;
class SpinningProgressIndicator;

// The web-link editor: a field that takes an address or search words over a page view. The
// field's state: 0 nothing, 1 search words, 2 an address not loaded, 3 an address loading, 4
// a page shown; the action button searches (1), visits (2) or adds / changes (3, 4), and in
// state 4 captures the top square of the page and then asks the delegate to dismiss, with
// the field's text as resultURL and the capture, 64 wide, as resultPageImage (null when the
// capture failed or the page has no area).
//
// Only http and https addresses load; a failed load, or any other scheme, shows the missing
// page (keeping the typed address, state 2). When the missing page itself fails or cannot be
// found, the editor stops there with a blank page. Events of a replaced page view, and every
// event after dismissal, are ignored. Main thread only.
class HTMLPageViewController : public WebLinkEditor,
                               public WebPageViewClient,
                               public ButtonViewDelegate,
                               public RoundedTextButtonDelegate,
                               public Layouter
{
public:
    // Gives the address of an application resource, empty when it is missing.
    using ResourceLookup = std::function<QUrl(const QString& name, const QString& extension)>;

    enum SearchFieldState : unsigned
    {
        StateNothing = 0,
        StateSearchWords = 1,
        StateAddressTyped = 2,
        StateAddressLoading = 3,
        StatePageShown = 4,
    };
    enum WebViewState : unsigned
    {
        WebViewNothing = 0,
        WebViewLoading = 1,
        WebViewFinished = 2,
    };
    // A null address adds a new link; any other changes one, and is put into the field and
    // loaded.
    static std::shared_ptr<HTMLPageViewController>
    initWithDelegate(std::weak_ptr<WebLinkEditorDelegate> delegate, const QString& urlString);
    HTMLPageViewController(std::weak_ptr<WebLinkEditorDelegate> delegate, const QString& urlString);
    ~HTMLPageViewController() override;

    // ---- Configuration ----
    // The scheme, host and port of the web search ("/search?q=..." is appended);
    // "https://www.google.com" unless set.
    static void setSearchBase(const QUrl& base);
    static QUrl searchBase();
    // An empty lookup goes back to the compiled-in resources.
    static void setResourceLookup(ResourceLookup lookup);

    // ---- WebLinkEditor ----
    QString resultURL() const override { return mResultURL; }
    QVImage resultPageImage() const override { return mResultPageImage; }
    void finish() override;

    // ---- State, for the screen's tests ----
    unsigned searchFieldState() const { return mSearchFieldState; }
    unsigned webViewState() const { return mWebViewState; }
    bool isEditSession() const { return mIsThisAEditSession; }
    bool isDismissed() const { return mDismissed; }
    const std::shared_ptr<WebPageView>& webView() const { return mWebView; }
    const std::shared_ptr<SearchTextField>& searchTextField() const { return mSearchTextField; }
    const std::shared_ptr<RoundedTextButton>& actionButton() const { return mActionButton; }
    const std::shared_ptr<RoundedTextButton>& openExternallyButton() const { return mOpenExternallyButton; }
    const std::shared_ptr<ButtonView>& closeButton() const { return mCloseButton; }
    const std::shared_ptr<ButtonView>& backButton() const { return mBackButton; }
    const std::shared_ptr<SpinningProgressIndicator>& progressView() const { return mProgressView; }
    QString actionButtonTitle() const { return mActionButtonTitle; }

    // ---- What the user does ----
    // The field's text changed to `text` (typing).
    void controlTextDidChange();
    // Return in the field.
    void insertNewline();
    void actionButtonPressed();
    void openExternallyButtonPressed();
    void backButtonPressed();
    void closeButtonPressed();

    // ---- Recognising addresses ----
    static bool isPotentialURL(const QString& text);
    static bool hasURLTypePrefix(const QString& text);
    static bool isOnlyWhiteSpace(const QString& text);
    // The address the text stands for ("http://" added without a scheme); empty when none.
    static QUrl validURLorNil(const QString& text);

    // ---- Hooks ----
    void viewDidAppear() override;
    void viewDidDisappear() override;
    void applyLayout() override;
    void keyDown(const Event& event) override;
    void buttonPressed(ButtonView& button) override;
    void roundedTextButtonPressed(RoundedTextButton& button) override;
    void webPageDidStartLoading(WebPageView& page) override;
    void webPageDidFinishLoading(WebPageView& page) override;
    void webPageDidFailLoading(WebPageView& page) override;

protected:
    void loadView() override;

private:
    void updateView();
    void setActionButtonFrameAndText(const QString& title);
    void startLoadingPage(const QString& text);
    void startLoadingPageWithURL(const QUrl& url);
    void startSearch();
    void switchToFreshWebView();
    void captureWebviewImage();
    void performDismissalViaDelegate();
    void giveUpKeyboardFocus();
    bool isMissingPage(const QUrl& url) const;

    std::weak_ptr<WebLinkEditorDelegate> mDelegate;
    bool mIsThisAEditSession = false;
    QUrl mMissingPageURL;
    unsigned mSearchFieldState = StateNothing;
    unsigned mWebViewState = WebViewNothing;
    bool mDismissed = false;
    bool mOnceToken = false;
    bool mCapturing = false;
    // The last address asked of the page view.
    QUrl mRequestedURL;
    QString mActionButtonTitle;

    std::shared_ptr<ColoredView> mTopAreaView;
    std::shared_ptr<WebPageView> mWebView;
    std::shared_ptr<SearchTextField> mSearchTextField;
    std::shared_ptr<RoundedTextButton> mActionButton;
    std::shared_ptr<RoundedTextButton> mOpenExternallyButton;
    std::shared_ptr<ButtonView> mCloseButton;
    std::shared_ptr<ButtonView> mBackButton;
    std::shared_ptr<SpinningProgressIndicator> mProgressView;

    QString mResultURL;
    QVImage mResultPageImage;
};

} // namespace corvex
