// Logger: the registry of traceable objects (none by default, identity by address, lost
// objects swept only when the set grows past its last size), and the trace line.

#include "toolkit/Logger.h"
#include "platform/ui/Layer.h"
#include "tests/support/LogCapture.h"
#include "toolkit/BaseLayer.h"
#include "toolkit/LayerExtensions.h"

#include <gtest/gtest.h>

using namespace corvex;
using namespace corvex::test;

namespace {

struct Plain
{
    int value = 0;
};

} // namespace

// Outside the anonymous namespace, like the test classes TEST_F derives from it: g++ warns
// about a base with internal linkage when this file shares a unity batch.
struct LoggerFixture : ::testing::Test
{
    LoggerFixture() { Logger::reset(); }
    ~LoggerFixture() override { Logger::reset(); }
};

using LoggerRegistry = LoggerFixture;
using LoggerTrace = LoggerFixture;

TEST_F(LoggerRegistry, NothingIsRegisteredByDefault)
{
    auto object = std::make_shared<Plain>();
    auto layer = Layer::create();
    EXPECT_FALSE(Logger::canLog(object.get()));
    EXPECT_FALSE(Logger::canLog(layer.get()));
    EXPECT_FALSE(Logger::canLog(nullptr));
    EXPECT_FALSE(LoggerCanLog(layer.get()));
    EXPECT_EQ(Logger::holderCount(), 0);
}

TEST_F(LoggerRegistry, RegisteringTwiceSucceedsOnceAndKeepsOneHolder)
{
    auto object = std::make_shared<Plain>();
    EXPECT_TRUE(Logger::addTraceableObject(object));
    EXPECT_FALSE(Logger::addTraceableObject(object));
    EXPECT_EQ(Logger::holderCount(), 1);
    EXPECT_TRUE(Logger::canLog(object.get()));
    EXPECT_FALSE(Logger::addTraceableObject(std::shared_ptr<Plain>())) << "null is never registered";
}

TEST_F(LoggerRegistry, NullIsNeverTraceableAndLeavesTheSetAlone)
{
    auto object = std::make_shared<Plain>();
    ASSERT_TRUE(Logger::addTraceableObject(object));
    const Plain* none = nullptr;
    EXPECT_FALSE(Logger::canLog(none));
    EXPECT_FALSE(Logger::canLog(none, none));
    EXPECT_EQ(Logger::holderCount(), 1);
}

TEST_F(LoggerRegistry, EitherOfTwoObjectsMayBeRegistered)
{
    auto unregistered = std::make_shared<Plain>();
    auto registered = Layer::create();
    ASSERT_TRUE(Logger::addTraceableObject(registered));
    EXPECT_TRUE(Logger::canLog(unregistered.get(), registered.get()));
    EXPECT_TRUE(LoggerCanLogOr(registered.get(), unregistered.get()));
    EXPECT_FALSE(Logger::canLog(unregistered.get(), static_cast<const Layer*>(nullptr)));
}

TEST_F(LoggerRegistry, AnObjectIsTheSameThroughAnyOfItsBases)
{
    auto layer = BaseLayer::create();
    ASSERT_TRUE(Logger::addTraceableObject(layer));
    const VisualObject* visual = layer.get();
    const Layer* base = layer.get();
    EXPECT_TRUE(Logger::canLog(visual)) << "a pointer to a second base is still the object";
    EXPECT_TRUE(Logger::canLog(base));
    EXPECT_FALSE(Logger::addTraceableObject(std::shared_ptr<const VisualObject>(layer)));
}

TEST_F(LoggerRegistry, UnregisteringEndsTracing)
{
    auto object = std::make_shared<Plain>();
    ASSERT_TRUE(Logger::addTraceableObject(object));
    EXPECT_TRUE(Logger::removeTraceableObject(object.get()));
    EXPECT_FALSE(Logger::canLog(object.get()));
    EXPECT_FALSE(Logger::removeTraceableObject(object.get()));
    EXPECT_EQ(Logger::holderCount(), 0);
}

TEST_F(LoggerRegistry, ALostObjectsAddressStaysRegisteredUntilASweep)
{
    LogCapture log;
    // Two objects registered: the set grows past its mark (0, then 1): sweeps find nothing.
    auto first = std::make_shared<Plain>();
    auto second = std::make_shared<Plain>();
    ASSERT_TRUE(Logger::addTraceableObject(first));
    ASSERT_TRUE(Logger::addTraceableObject(second));
    EXPECT_EQ(Logger::highWaterMark(), 2);

    // Made before the first goes, so that it cannot take the first's address.
    auto third = std::make_shared<Plain>();
    const void* address = first.get();
    first.reset();
    // Another object at the address counts as registered while no sweep ran.
    EXPECT_TRUE(Logger::canLog(static_cast<const Plain*>(address)));
    EXPECT_EQ(Logger::holderCount(), 2);

    // Growing to 3 passes the mark: the lost holder is swept.
    ASSERT_TRUE(Logger::addTraceableObject(third));
    EXPECT_FALSE(Logger::canLog(static_cast<const Plain*>(address)));
    EXPECT_EQ(Logger::holderCount(), 2);
    EXPECT_EQ(Logger::highWaterMark(), 2);
    EXPECT_EQ(log.count(QStringLiteral("Removing holder <EqualityHolder: 0x")), 1)
        << log.lines().join(QLatin1Char('\n')).toStdString();

    // Not past the mark: no sweep, a lost holder stays.
    second.reset();
    EXPECT_EQ(Logger::holderCount(), 2);
    EXPECT_TRUE(Logger::canLog(third.get()));
}

TEST_F(LoggerTrace, TheLineIsANumberOfThreeDigitsTheMethodAndTheText)
{
    EXPECT_EQ(Logger::traceLine(7, "-[Thing method:]", QStringLiteral("text")),
              QStringLiteral("007 -[Thing method:] text"));
    EXPECT_EQ(Logger::traceLine(1234, "m", QStringLiteral(" x=1")), QStringLiteral("1234 m  x=1"));
}

TEST_F(LoggerTrace, OnlyRegisteredObjectsAreTraced)
{
    LogCapture log;
    auto quiet = std::make_shared<Plain>();
    auto loud = std::make_shared<Plain>();
    ASSERT_TRUE(Logger::addTraceableObject(loud));
    Logger::trace(quiet.get(), 12, "-[Quiet m]", QStringLiteral("no"));
    Logger::trace(loud.get(), 12, "-[Loud m]", QStringLiteral("yes"));
    EXPECT_EQ(log.lines().filter(QStringLiteral("-[")), QStringList{QStringLiteral("012 -[Loud m] yes")});
}

TEST_F(LoggerTrace, LayerScalingTracesTheAnchorPointOfARegisteredLayerOnly)
{
    LogCapture log;
    auto layer = Layer::create();
    layer->setBounds(Rect(0, 0, 40, 20));
    layer->setAnchorPoint(Point(0.25, 1));
    LayerExtensions::transformToScale(*layer, 2);
    EXPECT_EQ(log.count(QStringLiteral("transformToScale")), 0) << "no line for an unregistered layer";

    ASSERT_TRUE(Logger::addTraceableObject(layer));
    LayerExtensions::transformToScale(*layer, 3);
    EXPECT_EQ(log.lines().filter(QStringLiteral("transformToScale")),
              QStringList{QStringLiteral(
                  "489 -[CALayer(MyExtensions) transformToScale:]  self.anchorPoint=(0.25,1)")});
}
