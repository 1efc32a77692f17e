#pragma once

// Shared pieces of the text field and label tests: colour probes and printing. Their
// reference pictures come from tests/data/gen/make_field_references.py.

#include "platform/gfx/Rect.h"
#include "tests/toolkit/BaseViewTestSupport.h"
#include "tests/toolkit/WidgetReferenceSupport.h"

#include <QColor>
#include <QImage>
#include <QString>
#include <QStringList>
#include <ostream>

namespace corvex::test {

// The pixel at (x, y) as 8-bit RGBA, not premultiplied.
inline QColor pixelAt(const QImage& image, int x, int y)
{
    return image.convertToFormat(QImage::Format_RGBA8888).pixelColor(x, y);
}

} // namespace corvex::test

// In QColor's namespace, where the test macros look for it.
inline std::ostream& operator<<(std::ostream& os, const QColor& c)
{
    return os << "rgba(" << c.red() << ", " << c.green() << ", " << c.blue() << ", " << c.alpha() << ")";
}

// Item titles in failure messages as text rather than bytes.
[[maybe_unused]] static void PrintTo(const QStringList& list, std::ostream* os)
{
    *os << '[' << list.join(QStringLiteral(" | ")).toStdString() << ']';
}
