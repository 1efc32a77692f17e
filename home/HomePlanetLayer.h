#pragma once

#include "graphics/QVImage.h"
#include "platform/gfx/AttributedString.h"
#include "platform/gfx/PlatformColor.h"
#include "platform/gfx/PlatformImage.h"
#include "storage/IdeaProxy.h"
#include "toolkit/BaseLayer.h"

#include <QString>
#include <array>
#include <memory>

namespace corvex {

class IconImage;
class TextFrame;

// One document of the home grid drawn as a planet, everything from its summary: the disc in
// the document's colour with the title set inside it (icon above) or the picture clipped to
// the circle, a white arc whose length grows with the number of ideas, and the creation date,
// modification date and idea count. Drawn y-up into the layer's own contents, once per
// change. Summaries come from stored files, so every value is bounded before it is drawn.
// Main thread only.
class HomePlanetLayer : public BaseLayer
{
public:
    static constexpr double Radius = 93;
    static constexpr double Scale = 1.0;

    HomePlanetLayer();
    HomePlanetLayer(const HomePlanetLayer& other);
    ~HomePlanetLayer() override;
    static std::shared_ptr<HomePlanetLayer> create();

    void updateWithProxy(const IdeaProxyPtr& proxy);
    void updateAppearance();
    void setShadowMode(bool on);
    bool shadowMode() const { return mShadowMode; }

    // Fullness of the arc for an idea count: 0.01 for none up to 1 from 100 ideas on.
    static float fullnessForItemCount(qint64 count);
    static double fetchNewFontSize();
    static QString formatDateOnly(const QDateTime& date);
    static QString formatDateTime(const QDateTime& date);

    // The colour of the dates, the count and their labels on a disc of that colour (white or
    // black, whichever reads better: at least 4.5:1 on any colour).
    static PlatformColor fieldColorOn(const ColorPtr& planetColor);
    // The count's label from the strings table ("1 element", "N elements"); `value` receives
    // the number to show below it, empty when the label holds it.
    static QString elementsText(qint64 count, QString* value = nullptr);
    // The disc's colour: the document's, the first standard colour for a document without
    // one; none without a summary.
    ColorPtr planetColor() const;

    const IdeaProxyPtr& proxy() const { return mProxy; }
    double sliderPercentage() const { return mSliderPercentage; }
    const PlatformColor& labelTextColor() const { return mLabelTextColor; }
    const PlatformColor& textColor() const { return mTextColor; }
    const QString& dateCreatedText() const { return mDateCreatedText; }
    const QString& dateModifiedText() const { return mDateModifiedText; }
    bool hasUserImage() const { return mUserImage.hasImage(); }

    void drawInContext(GraphicsContext& context) override;
    QString className() const override;

private:
    // The font size and text colour of the current appearance settings.
    void takeAppearance();
    // What the drawing depends on, to tell whether a new summary changes the picture.
    struct Drawn
    {
        ColorPtr color;
        QVImage picture;
        QString text;
        std::shared_ptr<IconImage> icon;
        double fontSize = 0;
        PlatformColor textColor;
        PlatformColor labelTextColor;
        bool webLink = false;
        qint64 elements = 0;
        QString dateCreated;
        QString dateModified;
        double sliderPercentage = 0;
        bool operator==(const Drawn& other) const;
    };
    Drawn drawn() const;
    Point scaledCenter() const;
    void drawDisc(GraphicsContext& context, Point c, double r, const QImage& picture);
    void drawArc(GraphicsContext& context, Point c, double r);
    void drawIcon(GraphicsContext& context, Point c, double r);
    void drawText(GraphicsContext& context, Point c);
    void drawFields(GraphicsContext& context, Point c, double r, bool shadow);
    AttributedString newAttributedString() const;
    TextAttributes attributesForLabelWithShadow(bool withShadow) const;
    TextAttributes attributesForValueWithShadow(bool withShadow) const;
    // A field line's measures, kept while its text and attributes stay: a keystroke that
    // changes a search result's count leaves the dates and labels measured.
    struct LineMeasure
    {
        AttributedString text;
        double descent = 0;
        bool sized = false;
        Size size;
        const Size& textSize();
    };
    enum FieldLine : size_t
    {
        CreatedLabel,
        CreatedValue,
        ModifiedLabel,
        ModifiedValue,
        CountLabel,
        CountValue,
        FieldLineCount
    };
    LineMeasure& measureLine(FieldLine line, const AttributedString& text);
    void drawFieldLeftAligned(GraphicsContext& context, FieldLine labelLine, const QString& label,
                              const QString& value, Point origin, bool withShadow);
    void drawFieldCenterAligned(GraphicsContext& context, FieldLine labelLine, const QString& label,
                                const QString& value, Point origin, bool withShadow);
    // One line of text at `rect`'s origin, with a blurred copy in the shadow colour beneath
    // it when the radius is above 0.
    void drawLine(GraphicsContext& context, FieldLine line, const AttributedString& text, const Rect& rect,
                  const PlatformColor& shadowColor, double shadowRadius);

    IdeaProxyPtr mProxy;
    QVImage mUserImage;
    QString mText;
    std::shared_ptr<IconImage> mIconImage;
    double mFontSize = 14;
    PlatformColor mTextColor = PlatformColor::white();
    PlatformColor mLabelTextColor = PlatformColor::white();
    PlatformImage mWebLinkIndicatorImage;
    qint64 mElements = 0;
    QString mDateCreatedText;
    QString mDateModifiedText;
    double mSliderPercentage = 0.01;
    bool mShadowMode = false;
    // The title as last typeset into the disc, kept while its text, font, colour and the
    // icon's room stay: redrawing the count or the arc sets no text again. Held by the layer,
    // so only shown planets keep one.
    std::unique_ptr<TextFrame> mTitleFrame;
    AttributedString mTitleFrameText;
    bool mTitleFrameWithIcon = false;
    std::array<LineMeasure, FieldLineCount> mLineMeasures;
};

} // namespace corvex
