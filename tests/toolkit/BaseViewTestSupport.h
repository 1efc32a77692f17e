#pragma once

// Shared pieces of the base view tests: a host that counts its layouts, a Layouter that
// records its calls, a view that records the events reaching it, and image output.

#include "model/Globals.h"
#include "platform/gfx/Rect.h"
#include "platform/ui/Event.h"
#include "platform/ui/View.h"
#include "tests/support/TestEnvironment.h"
#include "toolkit/BaseView.h"
#include "toolkit/Layouter.h"

#include <QDir>
#include <QImage>
#include <QStringList>
#include <functional>
#include <memory>
#include <ostream>

namespace corvex {

inline std::ostream& operator<<(std::ostream& os, const Rect& r)
{
    return os << toString(r).toStdString();
}

inline std::ostream& operator<<(std::ostream& os, Point p)
{
    return os << toString(p).toStdString();
}

} // namespace corvex

namespace corvex::test {

// A BaseView that counts applyLayout and logs "<name>.applyLayout" into a shared log.
class CountingHost : public BaseView
{
public:
    explicit CountingHost(const Rect& frame, std::shared_ptr<QStringList> log = nullptr)
        : BaseView(frame), mLog(log ? std::move(log) : std::make_shared<QStringList>())
    {}

    void applyLayout() override
    {
        ++layoutCount;
        mLog->append(QStringLiteral("host.applyLayout"));
        BaseView::applyLayout();
        if (afterLayout)
            afterLayout();
    }

    QStringList& log() { return *mLog; }
    int layoutCount = 0;
    std::function<void()> afterLayout;

private:
    std::shared_ptr<QStringList> mLog;
};

inline std::shared_ptr<CountingHost> countingHost(const Rect& frame,
                                                  std::shared_ptr<QStringList> log = nullptr)
{
    return BaseView::make<CountingHost>(frame, std::move(log));
}

// Logs "layouter.applyLayout" and runs an optional action.
class RecordingLayouter : public Layouter
{
public:
    explicit RecordingLayouter(std::shared_ptr<QStringList> log) : mLog(std::move(log)) {}

    void applyLayout() override
    {
        ++count;
        mLog->append(QStringLiteral("layouter.applyLayout"));
        if (action)
            action();
    }

    int count = 0;
    std::function<void()> action;

private:
    std::shared_ptr<QStringList> mLog;
};

// A plain view that logs "<name>.<event>" for the events that reach it and keeps them.
class EventSink : public View
{
public:
    EventSink(QString name, const Rect& frame, std::shared_ptr<QStringList> log)
        : View(frame), mName(std::move(name)), mLog(std::move(log))
    {}
    bool isFlipped() const override { return true; }

    void mouseDown(const Event&) override { note(QStringLiteral("mouseDown")); }
    void mouseUp(const Event&) override { note(QStringLiteral("mouseUp")); }
    void mouseDragged(const Event&) override { note(QStringLiteral("mouseDragged")); }
    void rightMouseDown(const Event&) override { note(QStringLiteral("rightMouseDown")); }
    void rightMouseUp(const Event&) override { note(QStringLiteral("rightMouseUp")); }
    void scrollWheel(const Event&) override { note(QStringLiteral("scrollWheel")); }
    void keyDown(const Event&) override { note(QStringLiteral("keyDown")); }
    void keyUp(const Event&) override { note(QStringLiteral("keyUp")); }
    void otherMouseDown(const Event&) override { note(QStringLiteral("otherMouseDown")); }
    void tabletPoint(const Event&) override { note(QStringLiteral("tabletPoint")); }

private:
    void note(const QString& what) { mLog->append(mName + QLatin1Char('.') + what); }

    QString mName;
    std::shared_ptr<QStringList> mLog;
};

// Saves an image under test-output/toolkit for a person to look at.
inline void saveOutput(const QImage& image, const QString& name)
{
    const QString dir = testOutputDir() + QStringLiteral("/toolkit");
    QDir().mkpath(dir);
    image.save(dir + QLatin1Char('/') + name + QStringLiteral(".png"));
}

// The same, enlarged four times without smoothing so that single pixels can be seen.
inline void saveEnlargedOutput(const QImage& image, const QString& name)
{
    const QString dir = testOutputDir() + QStringLiteral("/toolkit");
    QDir().mkpath(dir);
    image.scaled(image.size() * 4, Qt::IgnoreAspectRatio, Qt::FastTransformation)
        .save(dir + QLatin1Char('/') + name + QStringLiteral(".png"));
}

// Sets the screen scale for a scope.
class ScreenScale
{
public:
    explicit ScreenScale(double scale) { Globals::setScreenScaleOverride(scale); }
    ~ScreenScale() { Globals::setScreenScaleOverride(0); }
};

} // namespace corvex::test
