#include "model/Globals.h"
#include "model/Idea.h"
#include "tests/support/HelperProcess.h"

#include <QDateTime>
#include <QRegularExpression>
#include <QSet>
#include <cmath>
#include <cstdio>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

using namespace corvex;

namespace {

struct IdentifierParts
{
    qint64 seconds = -1;
    qint64 counter = -1;
};

IdentifierParts split(const QString& identifier)
{
    static const QRegularExpression form(QStringLiteral("^id(\\d+)_(-?\\d+)$"));
    const QRegularExpressionMatch match = form.match(identifier);
    if (!match.hasMatch())
        return {};
    return {match.captured(1).toLongLong(), match.captured(2).toLongLong()};
}

} // namespace

CORVEX_TEST_HELPER(firstIdentifierOfARun)
{
    const QString first = Idea::createIdentifier();
    const QString second = Idea::createIdentifier();
    std::printf("%s %s\n", qPrintable(first), qPrintable(second));
    std::fflush(stdout);
    return 0;
}

TEST(IdeaIdentifier, HasTheFormIdSecondsUnderscoreCounterWithTheWallClocksSeconds)
{
    const double before = double(QDateTime::currentMSecsSinceEpoch()) / 1000.0;
    const QString identifier = Idea::createIdentifier();
    const double after = double(QDateTime::currentMSecsSinceEpoch()) / 1000.0;
    const IdentifierParts parts = split(identifier);
    ASSERT_GE(parts.seconds, 0) << identifier.toStdString();
    // Whole seconds, printed without decimals.
    EXPECT_GE(parts.seconds, qint64(std::floor(before))) << identifier.toStdString();
    EXPECT_LE(parts.seconds, qint64(std::ceil(after))) << identifier.toStdString();
    EXPECT_GT(parts.counter, 0);
}

TEST(IdeaIdentifier, TheSecondsComeFromTheInjectedClockRoundedToTheNearest)
{
    const Globals::WallClock previous = Globals::setWallClock([] { return 1796638500.4; });
    const IdentifierParts cut = split(Idea::createIdentifier());
    Globals::setWallClock([] { return 1796638500.6; });
    const IdentifierParts rounded = split(Idea::createIdentifier());
    Globals::setWallClock(previous);
    EXPECT_EQ(cut.seconds, 1796638500);
    EXPECT_EQ(rounded.seconds, 1796638501);
}

TEST(IdeaIdentifier, TwoMadeWithinOneSecondDifferOnlyInTheCounter)
{
    // Retried when a second boundary falls between the two.
    for (int attempt = 0; attempt < 5; ++attempt) {
        const QString first = Idea::createIdentifier();
        const QString second = Idea::createIdentifier();
        const IdentifierParts a = split(first);
        const IdentifierParts b = split(second);
        if (a.seconds != b.seconds)
            continue;
        EXPECT_EQ(b.counter, a.counter + 1) << first.toStdString() << " " << second.toStdString();
        EXPECT_EQ(first.section(QLatin1Char('_'), 0, 0), second.section(QLatin1Char('_'), 0, 0));
        EXPECT_NE(first, second);
        return;
    }
    FAIL() << "every pair straddled a second";
}

TEST(IdeaIdentifier, TheFirstIdentifierOfARunHasCounterOne)
{
    auto helper = test::HelperProcess::start(QStringLiteral("firstIdentifierOfARun"));
    ASSERT_TRUE(helper);
    const QByteArray line = helper->readLine().value_or(QByteArray("nothing"));
    EXPECT_EQ(helper->wait(), 0);
    const QStringList identifiers = QString::fromLatin1(line).split(QLatin1Char(' '));
    ASSERT_EQ(identifiers.size(), 2) << line.constData();
    EXPECT_EQ(split(identifiers[0]).counter, 1) << line.constData();
    EXPECT_EQ(split(identifiers[1]).counter, 2) << line.constData();
}

TEST(IdeaIdentifier, EightThreadsMakingIdentifiersAtOnceNeverShareOne)
{
    constexpr int threads = 8;
    constexpr int perThread = 5000;
    std::vector<std::vector<QString>> made(threads);
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&made, t] {
            made[std::size_t(t)].reserve(perThread);
            for (int i = 0; i < perThread; ++i)
                made[std::size_t(t)].push_back(Idea::createIdentifier());
        });
    }
    for (std::thread& worker : workers)
        worker.join();

    QSet<QString> unique;
    QSet<qint64> counters;
    for (const auto& list : made) {
        for (const QString& identifier : list) {
            unique.insert(identifier);
            counters.insert(split(identifier).counter);
        }
    }
    EXPECT_EQ(unique.size(), threads * perThread);
    // Unique even ignoring the seconds: every call took its own counter value.
    EXPECT_EQ(counters.size(), threads * perThread);
}

TEST(IdeaIdentifier, NewIdeasTakeFreshIdentifiers)
{
    QSet<QString> identifiers;
    identifiers.insert(Idea::initWithText(QStringLiteral("a"))->identifier());
    identifiers.insert(Idea::initWithURL(QStringLiteral("https://example.org/"), QVImage())->identifier());
    identifiers.insert(Idea::initWithImageAttachment(QVImage(), ObjectID())->identifier());
    identifiers.insert(Idea::initWithLinkToIdea(QStringLiteral("x"))->identifier());
    EXPECT_EQ(identifiers.size(), 4);
    EXPECT_EQ(Idea::initWithText(QStringLiteral("a"), QStringLiteral("given"))->identifier(),
              QStringLiteral("given"));
}
