#pragma once

#include "mindmap/MindMapScreenSeams.h"
#include "toolkit/ButtonViewDelegate.h"
#include "toolkit/Layouter.h"

#include <memory>

namespace corvex {

class ButtonView;
class ColoredView;
class PictureView;
class ProgressHUD;
class TextView;

// The full-window picture viewer: a top strip with the close and change buttons over a
// zoomable PictureView. The caller's loader answers the picture (a grey spinner shows when it
// takes longer than 0.4 s); no picture, or one without area, shows "Could not load
// attachment". The change button offers "Change Image", an open panel for PNG, JPEG, TIFF and
// GIF files; a file that decodes (ImageCodec's limits) replaces the picture and becomes
// changedImage, anything else changes nothing. Close and Escape ask the delegate to dismiss.
// The viewer stores nothing. Main thread only.
class PictureViewController : public PictureViewer, public ButtonViewDelegate, public Layouter
{
public:
    // How long the loader may take before the spinner shows.
    static constexpr double LoadingIndicatorDelay = 0.4;
    // The largest side a shown picture is held at, about twice a large screen: a larger
    // picture keeps its size in points and zooms as before, from fewer pixels.
    static constexpr int LargestShownSide = 4096;

    // The delegate is held weakly: the screen that owns the viewer is its delegate.
    static std::shared_ptr<PictureViewController>
    initWithDelegate(std::weak_ptr<PictureViewerDelegate> delegate, Loader loader);
    PictureViewController(std::weak_ptr<PictureViewerDelegate> delegate, Loader loader);
    ~PictureViewController() override;

    // ---- PictureViewer ----
    QVImage changedImage() const override;
    void finish() override;

    // Shows the picture; one without area shows the placeholder instead.
    void setImage(const PlatformImage& image);
    const PlatformImage& image() const { return mImage; }

    const std::shared_ptr<PictureView>& pictureView() const { return mPictureView; }
    const std::shared_ptr<ButtonView>& closeButton() const { return mCloseButton; }
    const std::shared_ptr<ButtonView>& changeContentButton() const { return mChangeContentButton; }
    // Null until the placeholder was needed.
    const std::shared_ptr<TextView>& placeholderView() const { return mPlaceholderView; }
    // While the spinner shows.
    const std::shared_ptr<ProgressHUD>& activityIndicator() const { return mActivityIndicator; }

    // Runs the open panel (as the change button's choice does).
    void pleaseStartImageChange();

    // ---- Hooks ----
    void viewDidLoad() override;
    void viewWillAppear() override;
    void viewDidAppear() override;
    void applyLayout() override;
    void buttonPressed(ButtonView& button) override;
    // Escape dismisses.
    void keyDown(const Event& event) override;

protected:
    void loadView() override;

private:
    std::shared_ptr<ButtonView> addButtonWithImage(const QString& imageName, const QString& activeImageName);
    void showPlaceholder();
    void handleDismissal();
    void pickedFile(const QUrl& url);

    std::weak_ptr<PictureViewerDelegate> mDelegate;
    Loader mProvider;
    std::shared_ptr<PictureView> mPictureView;
    std::shared_ptr<ColoredView> mTopAreaView;
    std::shared_ptr<ButtonView> mCloseButton;
    std::shared_ptr<ButtonView> mChangeContentButton;
    std::shared_ptr<TextView> mPlaceholderView;
    std::shared_ptr<ProgressHUD> mActivityIndicator;
    PlatformImage mImage;
    QVImage mChangedImage;
    bool mDidChangeImage = false;
    bool mFirstAppearanceDone = false;
    bool mDismissed = false;
};

} // namespace corvex
