#pragma once

#include "toolkit/ButtonView.h"

#include <QString>
#include <QtGlobal>
#include <memory>

namespace corvex {

class BaseImageView;
class TextLabel;

// A tab of the export dialog's strip: a toggle button tagged with its share type. The tab
// shown (toggled) is white like the pane below it; the others are grey with a one-point white
// seam between them. A tab at least MinWidthForTitle wide shows its image at the left and its
// title beside it; a narrower one only its image, centred. Main thread only.
class TabItem : public ButtonView
{
public:
    static constexpr double MinWidthForTitle = 162;
    static constexpr double ImageInset = 10;
    static constexpr double TitleGap = 10;

    // Unprepared: use initWithImage.
    TabItem();
    ~TabItem() override;

    // A toggle button with its four parts: a white ground, the grey ground of an unselected
    // tab, the image (named, at its natural size) and the title.
    static std::shared_ptr<TabItem> initWithImage(const QString& imageName, const QString& title,
                                                  quint64 tag);

    quint64 shareType() const { return mShareType; }
    const std::shared_ptr<BaseImageView>& imageView() const { return mImageView; }
    const std::shared_ptr<TextLabel>& titleLabel() const { return mTitleLabel; }

private:
    void addParts(const QString& imageName, const QString& title);

    quint64 mShareType = 0;
    std::shared_ptr<BaseImageView> mImageView;
    std::shared_ptr<TextLabel> mTitleLabel;
};

} // namespace corvex
