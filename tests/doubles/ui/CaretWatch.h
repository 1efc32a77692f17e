#pragma once

#include <QElapsedTimer>
#include <QImage>
#include <QTest>
#include <QWidget>

namespace corvex::test {

// Whether a text widget shows a blinking caret: its pictures, taken every 0.1 s for longer
// than half the caret's flash time, change while nothing else about it does. Real time; the
// widget must be shown.
inline bool caretBlinks(QWidget& widget, int milliseconds = 1200)
{
    const QImage first = widget.grab().toImage();
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < milliseconds) {
        QTest::qWait(100);
        if (widget.grab().toImage() != first)
            return true;
    }
    return false;
}

} // namespace corvex::test
