// SolarRotationGestureRecognizer against a recording target: the velocity estimate, the press
// and drag rings, the states from press to release, flicks and a target that is gone.

#include "mindmap/SolarRotationGestureRecognizer.h"
#include "mindmap/SolarRotationGestureTarget.h"
#include "platform/ui/Event.h"
#include "tests/support/VirtualScheduler.h"

#include <cmath>
#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace corvex;
using corvex::test::ScopedVirtualTime;

namespace {

constexpr double kRecognizerPi = 3.141592653589793;

// A view 1000 points high whose orbit centre is at (500, 400); window points are y-up, so the
// conversion flips them, as the solar-system view's does.
class RotationRecordingTarget : public SolarRotationGestureTarget
{
public:
    struct Call
    {
        std::string what; // "begin", "change", "end", "endVelocity"
        float value = 0;
    };

    void handleBeginRotationGesture(SolarRotationGestureRecognizer&, float angle) override
    {
        calls.push_back({"begin", angle});
    }
    void handleChangeRotationGesture(SolarRotationGestureRecognizer&, float rotationAngle) override
    {
        calls.push_back({"change", rotationAngle});
    }
    void handleEndRotationGesture(SolarRotationGestureRecognizer&) override { calls.push_back({"end", 0}); }
    void handleEndRotationGesture(SolarRotationGestureRecognizer&, float angularVelocity) override
    {
        calls.push_back({"endVelocity", angularVelocity});
    }
    float orbitVisualRadius() const override { return visualRadius; }
    float orbitLogicalRadius() const override { return logicalRadius; }
    Point orbitVisualCenter() const override { return centre; }
    int64_t ideaViewCount() const override { return 5; }
    Point convertPointFromWindow(Point windowPoint) const override
    {
        return {windowPoint.x, 1000 - windowPoint.y};
    }

    std::string sequence() const
    {
        std::string all;
        for (const Call& call : calls)
            all += (all.empty() ? "" : " ") + call.what;
        return all;
    }

    std::vector<Call> calls;
    float visualRadius = 200;
    float logicalRadius = 250;
    Point centre{500, 400};
};

// A recogniser on a recording target, fed events at view points on virtual time.
struct RecognizerRig
{
    ScopedVirtualTime time;
    std::shared_ptr<RotationRecordingTarget> target = std::make_shared<RotationRecordingTarget>();
    std::shared_ptr<SolarRotationGestureRecognizer> recognizer =
        SolarRotationGestureRecognizer::create(target);
    const Point centre = target->centre;

    static Point window(Point view) { return {view.x, 1000 - view.y}; }
    // A point `distance` from the centre at `degrees` (clockwise on screen from the right).
    Point polar(double distance, double degrees) const
    {
        const double a = degrees * kRecognizerPi / 180;
        return {centre.x + distance * std::cos(a), centre.y + distance * std::sin(a)};
    }
    void down(Point view) { recognizer->mouseDown(Event::mouseDown(window(view))); }
    void drag(Point view, double after = 0.01)
    {
        time.advance(after);
        recognizer->mouseDragged(Event::mouseDragged(window(view)));
    }
    void up(Point view, double after = 0.01)
    {
        time.advance(after);
        recognizer->mouseUp(Event::mouseUp(window(view)));
    }
};

} // namespace

TEST(SolarRotationGestureRecognizer, VelocityEstimateDecaysOldStepsAndRestartsAfterAPause)
{
    // Moves along x by `dx` after `dt` seconds; the expected estimate after each event.
    struct Step
    {
        double dx;
        double dt;
        double expected;
        int pointsSeen;
    };
    const struct
    {
        const char* name;
        std::vector<Step> steps;
    } cases[] = {
        {"two events: the step's velocity", {{10, 0.01, 1000, 2}}},
        {"third event: old estimate halved", {{10, 0.01, 1000, 2}, {4, 0.01, 900, 3}}},
        {"fourth on: two thirds kept",
         {{10, 0.01, 1000, 2}, {4, 0.01, 900, 3}, {3, 0.01, 900, 4}, {0, 0.02, 600, 4}}},
        {"a gap just under 0.1 s still counts", {{10, 0.08, 125, 2}}},
        {"a pause above 0.1 s restarts", {{10, 0.01, 1000, 2}, {10, 0.1001, 0, 1}, {5, 0.05, 100, 2}}},
        {"no time between events adds nothing", {{10, 0.01, 1000, 2}, {10, 0, 500, 3}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RecognizerRig rig;
        Point at = rig.polar(100, 0);
        rig.down(at);
        for (const Step& step : c.steps) {
            at.x += step.dx;
            rig.drag(at, step.dt);
            EXPECT_NEAR(rig.recognizer->velocityInView().x, step.expected, 1e-6);
            EXPECT_EQ(rig.recognizer->velocityInView().y, 0);
            EXPECT_EQ(rig.recognizer->pointsSeen(), step.pointsSeen);
        }
    }
}

TEST(SolarRotationGestureRecognizer, OnlyAPressInTheRingMayRotate)
{
    // Orbit radius 200: the press ring runs from 38 (half the central planet's 76) to 400.
    const struct
    {
        double distance;
        bool rotates;
    } cases[] = {{0, false},  {37.9, false},  {38, true},  {200, true},
                 {400, true}, {400.5, false}, {900, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.distance);
        RecognizerRig rig;
        const Point at = rig.polar(c.distance, 0);
        EXPECT_EQ(rig.recognizer->mightRotateDueToEvent(Event::mouseMoved(RecognizerRig::window(at))),
                  c.rotates);
        rig.down(at);
        EXPECT_EQ(rig.recognizer->status(), c.rotates ? SolarRotationGestureRecognizer::Status::Pressed
                                                      : SolarRotationGestureRecognizer::Status::Idle);
        rig.drag(rig.polar(c.distance + 2, 5));
        EXPECT_EQ(rig.target->calls.empty(), !c.rotates);
    }
}

TEST(SolarRotationGestureRecognizer, DragsSendShortestTurnsFromThePreviousAngle)
{
    RecognizerRig rig;
    rig.down(rig.polar(150, 170));
    rig.drag(rig.polar(150, 178));
    rig.drag(rig.polar(150, 186)); // across the seam at 180 degrees
    ASSERT_EQ(rig.target->sequence(), "begin change change");
    EXPECT_NEAR(rig.target->calls[0].value, 170 * kRecognizerPi / 180, 1e-5) << "begins at the press's angle";
    EXPECT_NEAR(rig.target->calls[1].value, 8 * kRecognizerPi / 180, 1e-5);
    EXPECT_NEAR(rig.target->calls[2].value, 8 * kRecognizerPi / 180, 1e-5) << "not 8 degrees minus a turn";
    EXPECT_EQ(rig.recognizer->status(), SolarRotationGestureRecognizer::Status::Rotating);
}

TEST(SolarRotationGestureRecognizer, LeavingTheDragRingWhileRotatingEndsWithoutInertia)
{
    RecognizerRig rig;
    rig.down(rig.polar(300, 0));
    rig.drag(rig.polar(495, 10)); // inside 2.5 x 200
    rig.drag(rig.polar(505, 20)); // outside
    EXPECT_EQ(rig.target->sequence(), "begin change") << "no call for the step that left the ring";
    EXPECT_EQ(rig.recognizer->status(), SolarRotationGestureRecognizer::Status::Idle);
    rig.up(rig.polar(300, 30));
    EXPECT_EQ(rig.target->sequence(), "begin change") << "the release then says nothing";
}

TEST(SolarRotationGestureRecognizer, ReleaseEndsWithTheFlicksAngularVelocityOrStopsAfterAPause)
{
    {
        SCOPED_TRACE("moving at release: clockwise, estimate 1000 / 2 + 1000 over logical radius 250");
        RecognizerRig rig;
        rig.down({600, 400});
        rig.drag({600, 410});
        rig.up({600, 420});
        ASSERT_EQ(rig.target->sequence(), "begin change endVelocity");
        EXPECT_NEAR(rig.target->calls[2].value, 1500.0 / 250, 1e-4);
    }
    {
        SCOPED_TRACE("anticlockwise: the sign follows the way around the centre");
        RecognizerRig rig;
        rig.down({600, 400});
        rig.drag({600, 390});
        rig.up({600, 380});
        ASSERT_EQ(rig.target->sequence(), "begin change endVelocity");
        EXPECT_NEAR(rig.target->calls[2].value, -1500.0 / 250, 1e-4);
    }
    {
        SCOPED_TRACE("a pause before the release: the last turn, then a plain end");
        RecognizerRig rig;
        rig.down({600, 400});
        rig.drag({600, 410});
        rig.up({600, 420}, 0.2);
        ASSERT_EQ(rig.target->sequence(), "begin change change end");
        EXPECT_NEAR(rig.target->calls[2].value, std::atan2(20.0f, 100.0f) - std::atan2(10.0f, 100.0f), 1e-5);
        EXPECT_EQ(rig.recognizer->status(), SolarRotationGestureRecognizer::Status::Idle) << "reset";
        EXPECT_EQ(rig.recognizer->pointsSeen(), 0);
    }
}

TEST(SolarRotationGestureRecognizer, AFlickLeavingTheRingBeforeRotatingBeginsAndEndsAtOnce)
{
    RecognizerRig rig;
    rig.down(rig.polar(390, 90)); // press ring: up to 400; drag ring: up to 500
    rig.drag(rig.polar(520, 89), 0.02);
    ASSERT_EQ(rig.target->sequence(), "begin endVelocity");
    EXPECT_NEAR(rig.target->calls[0].value, 90 * kRecognizerPi / 180, 1e-5) << "the press's angle";
    EXPECT_LT(rig.target->calls[1].value, 0) << "moving right below the centre turns anticlockwise";
    EXPECT_EQ(rig.recognizer->status(), SolarRotationGestureRecognizer::Status::Idle);

    RecognizerRig slow;
    slow.down(slow.polar(390, 90));
    slow.drag(slow.polar(520, 89), 0.5);
    EXPECT_TRUE(slow.target->calls.empty()) << "no speed: nothing";
}

TEST(SolarRotationGestureRecognizer, DoesNothingOnceItsTargetIsGoneOrWithoutAnOrbit)
{
    RecognizerRig rig;
    rig.down(rig.polar(150, 0));
    rig.target->logicalRadius = 0;
    rig.drag(rig.polar(150, 10));
    EXPECT_EQ(rig.recognizer->calculateSwipeAngularVelocity(), 0) << "never an infinite speed";
    std::weak_ptr<RotationRecordingTarget> weak = rig.target;
    rig.target.reset();
    EXPECT_TRUE(weak.expired()) << "the recogniser does not keep its target alive";
    rig.drag(rig.polar(150, 20));
    rig.up(rig.polar(150, 30));
    EXPECT_FALSE(rig.recognizer->mightRotateDueToEvent(Event::mouseMoved(RecognizerRig::window({500, 500}))));
    EXPECT_EQ(rig.recognizer->status(), SolarRotationGestureRecognizer::Status::Idle);
}
