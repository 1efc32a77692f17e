#pragma once

#include "graphics/QVImage.h"
#include "platform/core/NotificationCenter.h"
#include "platform/gfx/PlatformImage.h"
#include "toolkit/BaseView.h"

#include <QString>
#include <memory>

namespace corvex {

class BaseImageView;
class Color;
class Idea;
class ParentIdeaViewDelegate;
class TextLabel;

// The current idea's parent, shown as a large planet of which only a corner shows in a
// 120 x 120 view: the parent's picture clipped to the planet's circle, or the parent-planet
// artwork tinted with the parent's colour under the parent's title. The planet's centre lies
// outside the view's top-left corner (defaultOrigin) and its radius reaches 8 points past
// the far corner of the title frame. The title follows the text size and contrast settings
// like the planets' titles. A parent view is made for one parent and replaced, not updated,
// when the parent changes. Main thread only.
class ParentIdeaView : public BaseView
{
public:
    // Unprepared: use the factories.
    ParentIdeaView();
    ~ParentIdeaView() override;

    // The picture, scaled proportionally into the planet's square and clipped to its circle.
    static std::shared_ptr<ParentIdeaView> createWithImage(const QVImage& image);
    // The tinted parent planet with the title.
    static std::shared_ptr<ParentIdeaView> createWithText(const QString& text,
                                                          const std::shared_ptr<Color>& color);

    // (-34, -36): the planet's centre in the view's coordinates.
    static Point defaultOrigin();
    // (11, 6, 95, 36): the title's frame.
    static Rect defaultTextFrame();
    // The distance from defaultOrigin to (95, 36) plus 8, in single precision.
    static float defaultRadius();

    QString className() const override;

    // Restyles the title (font of an orbit planet's title, white or, with high contrast on a
    // bright colour, dark grey) and sets its text; nothing without a title label.
    void updateLabel();
    void appearanceSettingsChanged();

    // The view holding the planet's picture and title.
    const std::shared_ptr<BaseView>& contentView() const { return mContentView; }
    // The title label (null for the picture variant) and the picture's image view.
    const std::shared_ptr<TextLabel>& label() const { return mLabel; }
    const std::shared_ptr<BaseImageView>& imageView() const { return mImageView; }
    const PlatformImage& image() const { return mImage; }
    Point origin() const { return mOrigin; }
    float radius() const { return mRadius; }
    const QString& text() const { return mText; }
    const std::shared_ptr<Color>& color() const { return mColor; }

    // Held weakly: a delegate that is gone is skipped.
    std::shared_ptr<ParentIdeaViewDelegate> delegate() const { return mDelegate.lock(); }
    void setDelegate(const std::shared_ptr<ParentIdeaViewDelegate>& delegate) { mDelegate = delegate; }
    // The parent idea, set by the owner.
    const std::shared_ptr<Idea>& objectTag() const { return mObjectTag; }
    void setObjectTag(const std::shared_ptr<Idea>& idea) { mObjectTag = idea; }

protected:
    // Frame (0, 0, 120, 120), the content view over the bounds, origin and radius.
    void prepareParentIdeaView();

private:
    void prepareWithImage(const QVImage& image);
    void prepareWithText(const QString& text, const std::shared_ptr<Color>& color);

    std::shared_ptr<TextLabel> mLabel;
    float mRadius = 0;
    Point mOrigin;
    PlatformImage mImage;
    std::shared_ptr<BaseImageView> mImageView;
    std::shared_ptr<BaseView> mContentView;
    QString mText;
    std::shared_ptr<Color> mColor;
    std::weak_ptr<ParentIdeaViewDelegate> mDelegate;
    std::shared_ptr<Idea> mObjectTag;
    NotificationCenter::ObserverToken mAppearanceObserver;
};

} // namespace corvex
