#include "toolkit/TextView.h"

#include "model/Globals.h"
#include "platform/gfx/AttributedString.h"
#include "toolkit/ReadOnlyTextView.h"

#include <algorithm>

namespace corvex {

namespace {

TextAlignment alignmentFor(unsigned value)
{
    return value <= unsigned(TextAlignment::Natural) ? TextAlignment(value) : TextAlignment::Natural;
}

} // namespace

TextView::TextView() = default;

TextView::~TextView() = default;

std::shared_ptr<TextView> TextView::create()
{
    auto view = BaseView::make<TextView>();
    view->mLineHeightMultiple = 1.0;
    return view;
}

QString TextView::className() const
{
    return QStringLiteral("TextView");
}

PlatformFont TextView::defaultFont()
{
    return Globals::fontAvenirBook(12.0);
}

void TextView::setText(const QString& text)
{
    mText = text;
    update();
}

void TextView::update()
{
    if (!mTextView) {
        // Placed at once, as the next layout would place it.
        mTextView = ReadOnlyTextView::create(bounds());
        addSubview(mTextView);
    }
    mTextView->setTextContainerInset(mInset);

    TextAttributes attributes;
    attributes.font = mFont ? *mFont : defaultFont();
    attributes.foregroundColor = mTextColor ? *mTextColor : PlatformColor::black();
    attributes.paragraphStyle.lineSpacing = 0;
    attributes.paragraphStyle.lineHeightMultiple = 1.0;
    attributes.paragraphStyle.alignment = alignmentFor(mTextAlignment);
    attributes.kern = double(float(mKern));
    AttributedString storage;
    storage.append(mText, attributes);
    mTextView->setTextStorage(storage);
}

void TextView::applyLayout()
{
    BaseView::applyLayout();
    if (mTextView)
        mTextView->setFrame(bounds());
}

Size TextView::intrinsicContentSize() const
{
    if (!mTextView)
        return Size();
    return mTextView->usedRect().size;
}

void TextView::sizeToFit()
{
    setFrameSize(intrinsicContentSize());
    setFrameSize(mTextView ? mTextView->frame().size : Size());
}

void TextView::sizeToFitWidth(double w)
{
    if (!mTextView) {
        setFrameSize(Size());
        return;
    }
    mTextView->setFrameSize(Size(w, ReadOnlyTextView::UnlimitedExtent));
    mTextView->setTextContainerSize(Size(w, ReadOnlyTextView::UnlimitedExtent));
    const Rect used = mTextView->usedRect();
    const float width = std::min(float(used.size.width + mInset.width), float(w));
    mTextView->setFrameSize(Size(double(width), used.size.height));
    setFrameSize(mTextView->frame().size);
}

} // namespace corvex
