#pragma once

// Shared pieces of the button, selector and image view tests: delegates that record what
// they are told, and comparison of renderings with the reference pictures written by
// tests/data/gen/make_button_references.py (tests/data/widgets/).

#include "platform/gfx/Rect.h"
#include "tests/support/TestEnvironment.h"
#include "tests/toolkit/BaseViewTestSupport.h"
#include "tests/toolkit/WidgetReferenceSupport.h"
#include "toolkit/ButtonView.h"
#include "toolkit/ButtonViewDelegate.h"
#include "toolkit/HorizontalSelectorDelegate.h"
#include "toolkit/RoundedTextButtonDelegate.h"

#include <QColor>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QString>
#include <QtGlobal>
#include <algorithm>
#include <cstdlib>
#include <functional>
#include <ostream>
#include <vector>

namespace corvex::test {

class RecordingButtonDelegate : public ButtonViewDelegate
{
public:
    void buttonPressed(ButtonView& button) override
    {
        ++presses;
        lastButton = &button;
        if (reaction)
            reaction(button);
    }

    int presses = 0;
    ButtonView* lastButton = nullptr;
    std::function<void(ButtonView&)> reaction;
};

class RecordingRoundedDelegate : public RoundedTextButtonDelegate
{
public:
    void roundedTextButtonPressed(RoundedTextButton& button) override
    {
        ++presses;
        lastButton = &button;
        if (reaction)
            reaction(button);
    }

    int presses = 0;
    RoundedTextButton* lastButton = nullptr;
    std::function<void(RoundedTextButton&)> reaction;
};

class RecordingSelectorDelegate : public HorizontalSelectorDelegate
{
public:
    void horizontalSelectorSelectedElementAtIndex(HorizontalSelector& selector, qint64 index) override
    {
        indexes.push_back(index);
        lastSelector = &selector;
    }

    std::vector<qint64> indexes;
    HorizontalSelector* lastSelector = nullptr;
};

// How far a rendered pixel lies from a colour: the largest difference of its red, green and
// blue bytes (an opaque rendering is assumed).
inline int colourDistance(const QImage& image, int x, int y, const QColor& expected)
{
    const QColor shown = image.pixelColor(x, y);
    return std::max({std::abs(shown.red() - expected.red()), std::abs(shown.green() - expected.green()),
                     std::abs(shown.blue() - expected.blue())});
}

} // namespace corvex::test
