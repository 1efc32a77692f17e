#include "storage/SearchReadQueue.h"

#include "platform/core/HostInfo.h"
#include "tests/support/RunUntil.h"
#include "tests/support/TestEnvironment.h"

#include <QSet>
#include <gtest/gtest.h>
#include <random>
#include <thread>

using namespace corvex;

namespace {

const QByteArray kSearchedText =
    R"({"ideaDocumentDataObject":{"fileFormatVersion":4,"idea":{"identifier":"a","ideaType":1,"text":"Road","colorThemeType":0},"appInstance":"MAC_1"}})";

// Search, clear and search again as a user typing on a cold home screen does: every read
// added is answered or dropped, whenever the clear comes, with one reader or several.
class SearchReadSoak : public ::testing::TestWithParam<int>
{};

TEST_P(SearchReadSoak, EveryReadIsAnsweredOrDroppedWheneverTheSearchIsCleared)
{
    const unsigned seed = std::random_device()();
    RecordProperty("seed", int(seed));
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> readsPerSearch(2, 12);
    // The clear lands anywhere from before the first read to after the last answer.
    std::uniform_int_distribution<int> yieldsBeforeClear(0, 400);

    QSet<QString> answered;
    const auto queue = SearchReadQueue::create([&answered](std::vector<SearchReadQueue::Answer>& answers) {
        for (const SearchReadQueue::Answer& answer : answers)
            answered.insert(answer.docIdentifier);
    });
    queue->setMaxReads(GetParam());

    const int rounds = test::soakRuns(2000, 2000, 300);
    int cleared = 0;
    int droppedReads = 0;
    for (int round = 0; round < rounds; ++round) {
        SCOPED_TRACE(QStringLiteral("round %1 (seed %2)").arg(round).arg(seed).toStdString());
        queue->beginSearch("road");
        const int reads = readsPerSearch(rng);
        QSet<QString> added;
        for (int i = 0; i < reads; ++i) {
            const QString identifier = QStringLiteral("r%1-%2").arg(round).arg(i);
            added.insert(identifier);
            queue->add(identifier, 1, [] { return Result<QByteArray>(kSearchedText); });
        }
        for (int n = yieldsBeforeClear(rng); n > 0; --n)
            std::this_thread::yield();
        const QStringList dropped = queue->dropWaiting();
        cleared += dropped.isEmpty() ? 0 : 1;
        droppedReads += int(dropped.size());
        QSet<QString> accounted(dropped.cbegin(), dropped.cend());
        ASSERT_TRUE(test::runUntil([&] {
            QSet<QString> done = accounted;
            for (const QString& identifier : added) {
                if (answered.contains(identifier))
                    done.insert(identifier);
            }
            return done == added;
        })) << "a read of the search was neither answered nor dropped";
        for (const QString& identifier : dropped)
            EXPECT_FALSE(answered.contains(identifier)) << "a dropped read was answered";
    }
    test::reportSoak(
        QStringLiteral("%1 rounds with %2 readers, %3 cleared while reads waited (%4 reads dropped)")
            .arg(rounds)
            .arg(GetParam())
            .arg(cleared)
            .arg(droppedReads));
}

INSTANTIATE_TEST_SUITE_P(Readers, SearchReadSoak,
                         ::testing::Values(1, std::max(3, HostInfo::usableCores() + 1)),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return info.param == 1 ? std::string("OneReader")
                                                    : std::string("OnePerCoreAndOne");
                         });

} // namespace
