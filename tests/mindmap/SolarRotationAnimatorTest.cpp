// SolarRotationAnimator on virtual time with a recording delegate: the flick's clamp and total
// turn, the braking curve, drag steps carrying their rest, cancel, and a release without speed.

#include "mindmap/SolarRotationAnimator.h"
#include "mindmap/SolarRotationAnimatorDelegate.h"
#include "platform/core/Scheduler.h"
#include "tests/support/VirtualScheduler.h"

#include <cmath>
#include <functional>
#include <gtest/gtest.h>
#include <limits>
#include <vector>

using namespace corvex;
using corvex::test::ScopedVirtualTime;

namespace {

constexpr float kAnimatorTestPi = 3.14159265f;

class RotationRecordingDelegate : public SolarRotationAnimatorDelegate
{
public:
    struct Update
    {
        double at; // media time
        float angle;
    };

    void angleUpdate(float angle) override
    {
        updates.push_back({MediaClock::now(), angle});
        if (onUpdate)
            onUpdate(angle);
    }
    void rotationEnded() override
    {
        ++ended;
        endedAfterUpdates = updates.size();
        if (onEnded)
            onEnded();
    }

    std::vector<Update> updates;
    int ended = 0;
    std::size_t endedAfterUpdates = 0;
    std::function<void(float)> onUpdate;
    std::function<void()> onEnded;
};

struct AnimatorRig
{
    explicit AnimatorRig(float angle = 1.0f) : animator(SolarRotationAnimator::create(angle))
    {
        animator->setDelegate(delegate);
    }
    ScopedVirtualTime time;
    std::shared_ptr<RotationRecordingDelegate> delegate = std::make_shared<RotationRecordingDelegate>();
    std::shared_ptr<SolarRotationAnimator> animator;
};

} // namespace

TEST(SolarRotationAnimator, AFlickIsClampedToTenPiAndTurnsByAThreePointFifthOfIt)
{
    const struct
    {
        float velocity;
        float clamped;
    } cases[] = {{20 * kAnimatorTestPi, 10 * kAnimatorTestPi},
                 {-20 * kAnimatorTestPi, -10 * kAnimatorTestPi},
                 {2 * kAnimatorTestPi, 2 * kAnimatorTestPi},
                 {std::numeric_limits<float>::infinity(), 10 * kAnimatorTestPi}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.velocity);
        AnimatorRig rig(1.0f);
        const double start = rig.time.now();
        rig.animator->addAngularRotationWithVelocity(c.velocity);
        EXPECT_NEAR(rig.animator->initialVelocity(), c.clamped, 1e-5);
        EXPECT_TRUE(rig.delegate->updates.empty()) << "frames only, none from the call";
        rig.time.advance(2);
        ASSERT_FALSE(rig.delegate->updates.empty());
        EXPECT_NEAR(rig.delegate->updates.back().angle - 1.0f, c.clamped / 3.5f, 1e-3);
        EXPECT_NEAR(rig.delegate->updates.back().at - start, 34.0 / 60, 1e-6) << "1/1.75 s in whole frames";
        EXPECT_EQ(rig.delegate->ended, 1);
        EXPECT_EQ(rig.delegate->endedAfterUpdates, rig.delegate->updates.size())
            << "ended after the last angle";
        for (std::size_t i = 1; i < rig.delegate->updates.size(); ++i)
            EXPECT_GE(std::abs(rig.delegate->updates[i].angle - 1.0f),
                      std::abs(rig.delegate->updates[i - 1].angle - 1.0f))
                << "never turns back, frame " << i;
        EXPECT_FALSE(rig.animator->isRunning());
    }
}

TEST(SolarRotationAnimator, BrakesEvenlyFromTheFlickToRest)
{
    AnimatorRig rig(0.5f);
    const float w = 10 * kAnimatorTestPi;
    rig.animator->addAngularRotationWithVelocity(w);
    const float duration = 1 / 1.75f;
    EXPECT_NEAR(rig.animator->deceleration(), 1.75f * w, 1e-4);
    // With the braking time equal to the run, angle = start + w T (p - p^2 / 2).
    const struct
    {
        float progress;
        float fractionOfWT;
    } curve[] = {{0, 0}, {0.25f, 0.21875f}, {0.5f, 0.375f}, {0.75f, 0.46875f}, {1, 0.5f}};
    for (const auto& point : curve) {
        SCOPED_TRACE(point.progress);
        EXPECT_NEAR(rig.animator->calculateCurrentAngleUsingVelocityWithProgress(point.progress, duration),
                    0.5f + w * duration * point.fractionOfWT, 1e-4);
    }
    EXPECT_NEAR(rig.animator->targetAngle(), 0.5f + w / 3.5f, 1e-4) << "the target is where it stops";

    rig.time.advance(2);
    ASSERT_EQ(rig.delegate->updates.size(), 34u);
    for (std::size_t k = 0; k < 34; ++k) {
        const float p = float(k + 1) / 34;
        EXPECT_NEAR(rig.delegate->updates[k].angle, 0.5f + w * duration * (p - p * p / 2), 1e-4)
            << "frame " << k;
    }
}

TEST(SolarRotationAnimator, AStepFollowsTheFingerAndTheNextCarriesItsRest)
{
    AnimatorRig rig(0.0f);
    const double start = rig.time.now();
    rig.animator->addAngle(1.0f); // the first step runs at pi: 1/pi s, 19 whole frames
    EXPECT_NEAR(rig.animator->targetAngle(), 1.0f, 1e-6);
    rig.time.advance(0.105);
    ASSERT_EQ(rig.delegate->updates.size(), 6u);
    EXPECT_NEAR(rig.delegate->updates.back().angle, 6.0f / 19, 1e-4) << "the sixth frame";

    rig.animator->addAngle(0.5f);
    ASSERT_EQ(rig.delegate->updates.size(), 7u) << "the interrupted step's angle is shown at once";
    const float reached = 0.105f / (19.0f / 60);
    EXPECT_NEAR(rig.delegate->updates.back().angle, reached, 1e-5) << "where the step is now, between frames";
    EXPECT_NEAR(rig.animator->targetAngle(), 1.5f, 1e-6) << "the rest of the first step is carried along";
    EXPECT_NEAR(rig.animator->angleLeft(), 1.5f - reached, 1e-5);

    rig.time.advance(2);
    EXPECT_NEAR(rig.delegate->updates.back().angle, 1.5f, 1e-6);
    // speed = 0.5 / 0.105 + pi, so the carried turn of about 1.18 takes about 0.15 s.
    EXPECT_LT(rig.delegate->updates.back().at - start, 0.105 + 0.16);
    EXPECT_EQ(rig.delegate->ended, 0) << "steps never end a rotation";
    EXPECT_EQ(rig.animator->angleLeft(), 0);
}

TEST(SolarRotationAnimator, NothingArrivesAfterCancel)
{
    const struct
    {
        const char* name;
        std::function<void(AnimatorRig&)> run;
    } cases[] = {
        {"between the frames of a step",
         [](AnimatorRig& rig) {
             rig.animator->addAngle(2.0f);
             rig.time.advance(0.05);
             rig.animator->cancel();
         }},
        {"between the frames of a spin",
         [](AnimatorRig& rig) {
             rig.animator->addAngularRotationWithVelocity(10);
             rig.time.advance(0.05);
             rig.animator->cancel();
         }},
        {"from the angle update of the spin's last frame",
         [](AnimatorRig& rig) {
             rig.animator->addAngularRotationWithVelocity(10);
             rig.delegate->onUpdate = [&rig](float) {
                 if (!rig.animator->isRunning())
                     rig.animator->cancel();
             };
         }},
        {"by dropping the last reference",
         [](AnimatorRig& rig) {
             rig.animator->addAngularRotationWithVelocity(10);
             rig.time.advance(0.05);
             rig.animator.reset();
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        AnimatorRig rig;
        c.run(rig);
        rig.time.advance(0.6);
        const std::size_t seen = rig.delegate->updates.size();
        if (rig.animator) {
            rig.animator->addAngle(1);
            rig.animator->addAngularRotationWithVelocity(10);
            EXPECT_TRUE(rig.animator->isCancelled());
            EXPECT_FALSE(rig.animator->isRunning());
        }
        rig.time.advance(2);
        EXPECT_EQ(rig.delegate->updates.size(), seen);
        EXPECT_EQ(rig.delegate->ended, 0);
        EXPECT_EQ(rig.time.scheduler().pendingCount(), 0u) << "no frame left behind";
    }
}

TEST(SolarRotationAnimator, AReleaseWithoutSpeedMovesNothingAndStillEnds)
{
    for (const float velocity : {0.0f, -0.0f, std::numeric_limits<float>::quiet_NaN()}) {
        SCOPED_TRACE(velocity);
        AnimatorRig rig(2.0f);
        rig.animator->addAngle(0.25f);
        rig.time.advance(1);
        rig.animator->addAngularRotationWithVelocity(velocity);
        EXPECT_EQ(rig.animator->initialVelocity(), 0);
        EXPECT_EQ(rig.animator->calculateCurrentAngleUsingVelocityWithProgress(0.5f, 1), 2.25f);
        const std::size_t before = rig.delegate->updates.size();
        rig.time.advance(1);
        ASSERT_EQ(rig.delegate->updates.size(), before + 1) << "one frame";
        EXPECT_EQ(rig.delegate->updates.back().angle, 2.25f) << "the angle stays, never NaN";
        EXPECT_EQ(rig.delegate->ended, 1);
    }
}

TEST(SolarRotationAnimator, TheDelegateMayDropTheAnimatorWhenTheRotationEnds)
{
    // What the view does: rotationEnded cancels its animator and lets it go.
    AnimatorRig rig;
    std::weak_ptr<SolarRotationAnimator> weak = rig.animator;
    rig.delegate->onEnded = [&rig] {
        rig.animator->cancel();
        rig.animator.reset();
    };
    rig.animator->addAngularRotationWithVelocity(-5);
    rig.time.advance(2);
    EXPECT_EQ(rig.delegate->ended, 1);
    EXPECT_TRUE(weak.expired());
    EXPECT_NEAR(rig.delegate->updates.back().angle, 1.0f - 5 / 3.5f, 1e-4);
}
