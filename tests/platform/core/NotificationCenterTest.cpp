#include "platform/core/NotificationCenter.h"

#include <QStringList>
#include <atomic>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

using namespace corvex;
using Notification = NotificationCenter::Notification;

namespace {

const QString kOpened = QStringLiteral("DocumentOpened");
const QString kClosed = QStringLiteral("DocumentClosed");

} // namespace

TEST(NotificationCenter, DeliversByNameAndSender)
{
    NotificationCenter center;
    int senderA = 0;
    int senderB = 0;
    QStringList fromA, fromAny, anyName;
    center.addObserver(kOpened, &senderA, [&](const Notification& n) { fromA << n.name; });
    center.addObserver(kOpened, nullptr, [&](const Notification& n) { fromAny << n.name; });
    center.addObserver(QString(), nullptr, [&](const Notification& n) { anyName << n.name; });

    center.post(kOpened, &senderA);
    center.post(kOpened, &senderB);
    center.post(kOpened);
    center.post(kClosed, &senderA);

    EXPECT_EQ(fromA, QStringList{kOpened});
    EXPECT_EQ(fromAny, (QStringList{kOpened, kOpened, kOpened}));
    EXPECT_EQ(anyName, (QStringList{kOpened, kOpened, kOpened, kClosed}));
}

TEST(NotificationCenter, PassesTheSenderAndUserInfoInRegistrationOrder)
{
    NotificationCenter center;
    int sender = 0;
    std::vector<int> order;
    QVariantMap seen;
    center.addObserver(kOpened, nullptr, [&](const Notification& n) {
        order.push_back(1);
        seen = n.userInfo;
        EXPECT_EQ(n.sender, &sender);
    });
    center.addObserver(kOpened, nullptr, [&](const Notification&) { order.push_back(2); });
    center.post(kOpened, &sender, {{QStringLiteral("path"), QStringLiteral("/a.corvex")}});
    EXPECT_EQ(order, (std::vector<int>{1, 2}));
    EXPECT_EQ(seen.value(QStringLiteral("path")), QVariant(QStringLiteral("/a.corvex")));
}

TEST(NotificationCenter, AnObserverRemovedDuringADeliveryIsNotCalledLaterInIt)
{
    NotificationCenter center;
    std::vector<QString> calls;
    NotificationCenter::ObserverToken second;
    NotificationCenter::ObserverToken self;
    center.addObserver(kOpened, nullptr, [&](const Notification&) {
        calls.push_back(QStringLiteral("first"));
        center.removeObserver(second);
    });
    second = center.addObserver(kOpened, nullptr,
                                [&](const Notification&) { calls.push_back(QStringLiteral("second")); });
    self = center.addObserver(kOpened, nullptr, [&](const Notification&) {
        calls.push_back(QStringLiteral("self"));
        center.removeObserver(self);
        // Posting again from inside a delivery must neither deadlock nor call self again.
        center.post(kOpened);
    });
    center.post(kOpened);
    EXPECT_EQ(calls, (std::vector<QString>{QStringLiteral("first"), QStringLiteral("self"),
                                           QStringLiteral("first")}));
    center.post(kOpened);
    EXPECT_EQ(calls.size(), 4u);
    EXPECT_EQ(center.observerCount(), 1u);
}

TEST(NotificationCenter, AnObserverAddedDuringADeliveryWaitsForTheNextPost)
{
    NotificationCenter center;
    int late = 0;
    bool added = false;
    center.addObserver(kOpened, nullptr, [&](const Notification&) {
        if (!added) {
            added = true;
            center.addObserver(kOpened, nullptr, [&](const Notification&) { ++late; });
        }
    });
    center.post(kOpened);
    EXPECT_EQ(late, 0);
    center.post(kOpened);
    EXPECT_EQ(late, 1);
}

TEST(NotificationCenter, WeakTargetsExpireAndAreDropped)
{
    NotificationCenter center;
    auto target = std::make_shared<int>(0);
    center.addObserver(kOpened, std::weak_ptr<void>(target), nullptr,
                       [target = target.get()](const Notification&) { ++*target; });
    center.post(kOpened);
    EXPECT_EQ(*target, 1);
    EXPECT_EQ(center.observerCount(), 1u);

    std::weak_ptr<int> watch = target;
    target.reset();
    ASSERT_TRUE(watch.expired());
    center.post(kOpened); // must not touch the freed target
    EXPECT_EQ(center.observerCount(), 0u);
}

TEST(NotificationCenter, AWeakTargetStaysAliveWhileItsObserverRuns)
{
    NotificationCenter center;
    auto owner = std::make_shared<QString>(QStringLiteral("alive"));
    std::weak_ptr<QString> watch = owner;
    bool aliveAfterRelease = false;
    center.addObserver(kOpened, std::weak_ptr<void>(owner), nullptr, [&](const Notification&) {
        owner.reset(); // the last outside reference goes away during the call
        aliveAfterRelease = !watch.expired();
    });
    center.post(kOpened);
    EXPECT_TRUE(aliveAfterRelease);
    EXPECT_TRUE(watch.expired());
}

TEST(NotificationCenter, RemoveObserversDropsEveryRegistrationOfATarget)
{
    NotificationCenter center;
    auto target = std::make_shared<int>(0);
    auto other = std::make_shared<int>(0);
    int calls = 0;
    center.addObserver(kOpened, std::weak_ptr<void>(target), nullptr, [&](const Notification&) { ++calls; });
    center.addObserver(kClosed, std::weak_ptr<void>(target), nullptr, [&](const Notification&) { ++calls; });
    center.addObserver(kOpened, std::weak_ptr<void>(other), nullptr,
                       [&](const Notification&) { calls += 10; });
    center.removeObservers(target.get());
    center.post(kOpened);
    center.post(kClosed);
    EXPECT_EQ(calls, 10);
}

TEST(NotificationCenter, DeliversOnThePostingThread)
{
    NotificationCenter center;
    std::thread::id deliveredOn;
    center.addObserver(kOpened, nullptr,
                       [&](const Notification&) { deliveredOn = std::this_thread::get_id(); });
    std::thread::id postedOn;
    std::thread worker([&] {
        postedOn = std::this_thread::get_id();
        center.post(kOpened);
    });
    worker.join();
    EXPECT_EQ(deliveredOn, postedOn);
    EXPECT_NE(deliveredOn, std::this_thread::get_id());
}

TEST(NotificationCenter, ConcurrentPostsAddsAndRemovesAreSafe)
{
    NotificationCenter center;
    std::atomic<int> delivered{0};
    std::atomic<bool> stop{false};
    const auto keeper = center.addObserver(kOpened, nullptr, [&](const Notification&) { ++delivered; });
    std::vector<std::thread> threads;
    for (int t = 0; t < 3; ++t) {
        threads.emplace_back([&] {
            while (!stop) {
                auto target = std::make_shared<int>(0);
                const auto token = center.addObserver(kOpened, std::weak_ptr<void>(target), nullptr,
                                                      [&](const Notification&) { ++delivered; });
                center.post(kOpened);
                if (token.id % 2 == 0)
                    center.removeObserver(token);
            }
        });
    }
    const int posts = 2000;
    for (int i = 0; i < posts; ++i)
        center.post(kOpened);
    stop = true;
    for (auto& thread : threads)
        thread.join();
    EXPECT_GE(delivered.load(), posts);
    center.removeObserver(keeper);
    center.post(kOpened); // drops every expired target
    EXPECT_EQ(center.observerCount(), 0u);
}

TEST(NotificationCenter, TheDefaultCenterIsOneInstance)
{
    EXPECT_EQ(&NotificationCenter::defaultCenter(), &NotificationCenter::defaultCenter());
}
