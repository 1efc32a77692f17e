#include "editor/PictureViewController.h"

#include "editor/EdgePlacement.h"
#include "editor/PictureView.h"
#include "model/Globals.h"
#include "platform/core/MainQueue.h"
#include "platform/gfx/PlatformFont.h"
#include "platform/ui/Event.h"
#include "platform/ui/FilePanelRunner.h"
#include "platform/ui/Runners.h"
#include "platform/ui/Window.h"
#include "toolkit/ButtonView.h"
#include "toolkit/ColoredView.h"
#include "toolkit/ModalChoiceController.h"
#include "toolkit/ProgressHUD.h"
#include "toolkit/TextView.h"

namespace corvex {

namespace {

constexpr double kButtonSide = 28;
constexpr double kButtonInset = 10;

PlatformColor backdropColor()
{
    const PlatformImage pattern = PlatformImage::imageNamed(QStringLiteral("bg_pattern"));
    if (pattern.isNull())
        return Globals::colorGrayD7DEE4();
    return PlatformColor::patternImage(pattern.representations().front());
}

} // namespace

std::shared_ptr<PictureViewController>
PictureViewController::initWithDelegate(std::weak_ptr<PictureViewerDelegate> delegate, Loader loader)
{
    return std::make_shared<PictureViewController>(std::move(delegate), std::move(loader));
}

PictureViewController::PictureViewController(std::weak_ptr<PictureViewerDelegate> delegate, Loader loader)
    : mDelegate(std::move(delegate)), mProvider(std::move(loader))
{}

PictureViewController::~PictureViewController() = default;

QVImage PictureViewController::changedImage() const
{
    return mDidChangeImage ? mChangedImage : QVImage();
}

void PictureViewController::finish()
{
    handleDismissal();
}

void PictureViewController::loadView()
{
    auto self = std::dynamic_pointer_cast<Layouter>(shared_from_this());
    auto root = ColoredView::createWithLayouter(backdropColor(), self);
    setView(root);
    mPictureView = PictureView::create();
    root->addSubview(mPictureView);
    mTopAreaView = ColoredView::create(Globals::colorGrayD7DEE4());
    root->addSubview(mTopAreaView);
    mCloseButton = addButtonWithImage(QStringLiteral("close"), QStringLiteral("close_active"));
    mChangeContentButton =
        addButtonWithImage(QStringLiteral("add_image_icon"), QStringLiteral("add_image_icon_active"));
}

std::shared_ptr<ButtonView> PictureViewController::addButtonWithImage(const QString& imageName,
                                                                      const QString& activeImageName)
{
    auto button = ButtonView::createWithImage(PlatformImage::imageNamed(imageName),
                                              PlatformImage::imageNamed(activeImageName));
    button->setFrame(Rect(0, 0, kButtonSide, kButtonSide));
    button->setDelegate(std::dynamic_pointer_cast<ButtonViewDelegate>(shared_from_this()));
    view()->addSubview(button);
    return button;
}

void PictureViewController::applyLayout()
{
    const std::shared_ptr<View>& root = viewIfLoaded();
    if (!root || !mPictureView)
        return;
    const Rect b = root->bounds();
    const double strip = std::min(b.size.height, TopBarServices::preferredHeight());
    mTopAreaView->setFrame(Rect(b.origin.x, b.origin.y, b.size.width, strip));
    mPictureView->setFrame(Rect(b.origin.x, b.origin.y + strip, b.size.width, b.size.height - strip));
    const double middle = b.origin.y + strip / 2;
    mCloseButton->setFrame(
        EdgePlacement::leftMiddleAt(mCloseButton->frame().size, Point(b.origin.x + kButtonInset, middle)));
    mChangeContentButton->setFrame(EdgePlacement::rightMiddleAt(mChangeContentButton->frame().size,
                                                                Point(b.maxX() - kButtonInset, middle)));
    if (mPlaceholderView)
        mPlaceholderView->setFrame(
            EdgePlacement::centeredAt(mPlaceholderView->frame().size, Point(b.midX(), b.midY())));
}

void PictureViewController::viewDidLoad()
{
    PictureViewer::viewDidLoad();
    auto loaded = std::make_shared<bool>(false);
    std::weak_ptr<ViewController> weak = weak_from_this();
    MainQueue::postAfter(LoadingIndicatorDelay, [weak, loaded] {
        auto self = std::static_pointer_cast<PictureViewController>(weak.lock());
        if (!self || *loaded || self->mDismissed || !self->viewIfLoaded())
            return;
        self->mActivityIndicator = ProgressHUD::showHUDAddedTo(*self->view(), true);
        self->mActivityIndicator->setMode(ProgressHUD::ModeSpinner);
        self->mActivityIndicator->setColor(PlatformColor::gray());
    });
    if (!mProvider) {
        *loaded = true;
        showPlaceholder();
        return;
    }
    mProvider([weak, loaded](const QVImage& picture) {
        auto self = std::static_pointer_cast<PictureViewController>(weak.lock());
        if (!self || *loaded)
            return;
        *loaded = true;
        if (self->mActivityIndicator) {
            self->mActivityIndicator->setRemoveFromSuperViewOnHide(true);
            self->mActivityIndicator->hide(true);
            self->mActivityIndicator.reset();
        }
        // A picture changed while the loader worked is the one to keep.
        if (self->mDidChangeImage)
            return;
        if (picture.hasImage())
            self->setImage(picture.nsImageFitting(LargestShownSide));
        else
            self->showPlaceholder();
    });
}

void PictureViewController::setImage(const PlatformImage& image)
{
    loadViewIfNeeded();
    const Size size = image.size();
    if (image.isNull() || !(size.width > 0) || !(size.height > 0)) {
        showPlaceholder();
        return;
    }
    mImage = image;
    if (mPlaceholderView)
        mPlaceholderView->setHidden(true);
    mPictureView->setImage(image);
}

void PictureViewController::showPlaceholder()
{
    if (!mPlaceholderView) {
        mPlaceholderView = TextView::create();
        mPlaceholderView->setFrame(Rect(0, 0, 400, 200));
        mPlaceholderView->setTextColor(PlatformColor::gray());
        mPlaceholderView->setFont(PlatformFont::fontWithName(QStringLiteral("Helvetica"), 16));
        mPlaceholderView->setText(
            Globals::normalLocalizedStringForKey(QStringLiteral("DocumentLoading:AttachmentNotAvailable"),
                                                 QStringLiteral("Could not load attachment")));
        mPlaceholderView->sizeToFit();
        view()->addSubview(mPlaceholderView);
    }
    mPlaceholderView->setHidden(false);
    applyLayout();
}

void PictureViewController::viewWillAppear()
{
    PictureViewer::viewWillAppear();
    if (mFirstAppearanceDone)
        return;
    mFirstAppearanceDone = true;
    if (mPictureView)
        mPictureView->fitZoomToContent();
}

void PictureViewController::viewDidAppear()
{
    PictureViewer::viewDidAppear();
    if (Window* window = myWindow())
        window->makeFirstResponder(mPictureView.get());
}

void PictureViewController::buttonPressed(ButtonView& button)
{
    if (mDismissed)
        return;
    if (&button == mCloseButton.get()) {
        handleDismissal();
        return;
    }
    if (&button != mChangeContentButton.get())
        return;
    auto choice = ModalChoiceController::create();
    std::weak_ptr<ViewController> weak = weak_from_this();
    choice->addButton(QStringLiteral("Change Image"), [weak] {
        if (auto self = std::static_pointer_cast<PictureViewController>(weak.lock()))
            self->pleaseStartImageChange();
    });
    choice->showModallyFromRect(mChangeContentButton->frame(), *view());
}

void PictureViewController::keyDown(const Event& event)
{
    if (event.characters() == QStringLiteral("\x1b")) {
        handleDismissal();
        return;
    }
    PictureViewer::keyDown(event);
}

void PictureViewController::pleaseStartImageChange()
{
    FilePanelRunner::OpenPanel panel;
    panel.allowedFileTypes = {QStringLiteral("png"), QStringLiteral("jpg"), QStringLiteral("tiff"),
                              QStringLiteral("jpeg"), QStringLiteral("gif")};
    std::weak_ptr<ViewController> weak = weak_from_this();
    Window* window = Window::mainWindow();
    if (!window)
        window = myWindow();
    Runners::filePanelRunner()->beginOpenPanel(panel, window, [weak](int response, const QList<QUrl>& urls) {
        auto self = std::static_pointer_cast<PictureViewController>(weak.lock());
        if (!self || response != FilePanelRunner::OK || urls.isEmpty())
            return;
        self->pickedFile(urls.front());
    });
}

void PictureViewController::pickedFile(const QUrl& url)
{
    if (mDismissed)
        return;
    // Truncated, foreign, empty or oversized files read as nothing: nothing changes.
    const std::optional<QVImage> picture = QVImage::readFromURL(url);
    if (!picture || !picture->hasImage())
        return;
    const Size size = picture->pixelSize();
    if (!(size.width > 0) || !(size.height > 0))
        return;
    mChangedImage = *picture;
    mDidChangeImage = true;
    setImage(picture->nsImageFitting(LargestShownSide));
}

void PictureViewController::handleDismissal()
{
    if (mDismissed)
        return;
    mDismissed = true;
    if (auto delegate = mDelegate.lock())
        delegate->pleaseDismissPictureView(*this);
}

} // namespace corvex
