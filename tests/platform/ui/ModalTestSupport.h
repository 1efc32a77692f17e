#pragma once

// Drives Qt's modal loops from inside them: a poll on a real timer waits for the active
// modal widget (or pop-up) to appear, lets the test look at it, and sends it keys. A
// watchdog ends a loop that the keys did not end, so that a fault fails the test instead of
// hanging it.

#include <QApplication>
#include <QDialog>
#include <QTest>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <gtest/gtest.h>
#include <vector>

namespace corvex::test {

class ModalDriver
{
public:
    enum class Target
    {
        ModalWidget,
        PopupWidget,
    };

    // `inspect` sees the widget before the keys go to it.
    ModalDriver(Target target, std::vector<Qt::Key> keys, std::function<void(QWidget*)> inspect = {})
        : mTarget(target), mKeys(std::move(keys)), mInspect(std::move(inspect))
    {
        mPoll.setInterval(10);
        QObject::connect(&mPoll, &QTimer::timeout, [this] { poll(); });
        mPoll.start();
        mWatchdog.setSingleShot(true);
        mWatchdog.setInterval(20000);
        QObject::connect(&mWatchdog, &QTimer::timeout, [this] { rescue(); });
        mWatchdog.start();
    }

    ~ModalDriver()
    {
        mPoll.stop();
        mWatchdog.stop();
    }

    ModalDriver(const ModalDriver&) = delete;
    ModalDriver& operator=(const ModalDriver&) = delete;

    bool sent() const { return mSent; }
    bool rescued() const { return mRescued; }

private:
    QWidget* target() const
    {
        return mTarget == Target::ModalWidget ? QApplication::activeModalWidget()
                                              : QApplication::activePopupWidget();
    }

    void poll()
    {
        QWidget* widget = target();
        if (!widget || !widget->isVisible())
            return;
        mPoll.stop();
        mSent = true;
        if (mInspect)
            mInspect(widget);
        for (Qt::Key key : mKeys) {
            QWidget* receiver = target();
            if (!receiver)
                break;
            QTest::keyClick(receiver, key);
        }
    }

    void rescue()
    {
        QWidget* widget = target();
        if (!widget)
            return;
        mRescued = true;
        ADD_FAILURE() << "the modal loop did not end after the keys";
        if (auto* dialog = qobject_cast<QDialog*>(widget))
            dialog->done(QDialog::Rejected);
        else
            widget->close();
    }

    Target mTarget;
    std::vector<Qt::Key> mKeys;
    std::function<void(QWidget*)> mInspect;
    QTimer mPoll;
    QTimer mWatchdog;
    bool mSent = false;
    bool mRescued = false;
};

} // namespace corvex::test
