// Two machines that write the Dropbox index at once: whichever upload of "/corvex.index" loses,
// both machines end, ten virtual minutes later, with an index (on Dropbox and in each machine's
// own copy) that lists every document Dropbox holds. The losing machine once took the winner's
// index and left its own documents out of it for good.

#include "tests/cloud/DropboxMachineSupport.h"

#include <ostream>
#include <string>

namespace corvex::test {

namespace {

struct IndexRace
{
    const char* name;
    int documentsOnA;
    int documentsOnB;
    double bBackAfterSeconds; // how long after A the machine B finds the connection again
};

void PrintTo(const IndexRace& race, std::ostream* out)
{
    *out << race.name;
}

// How many of the documents on Dropbox the index lists, and which it lacks.
std::string coverage(const QStringList& indexed, const QStringList& onDropbox)
{
    QStringList lacking;
    for (const QString& identifier : onDropbox)
        if (!indexed.contains(identifier))
            lacking.append(identifier);
    return QStringLiteral("%1 of %2 listed; lacking: %3")
        .arg(onDropbox.size() - lacking.size())
        .arg(onDropbox.size())
        .arg(lacking.join(QLatin1Char(' ')))
        .toStdString();
}

const IndexRace IndexRaces[] = {
    {"BothBackAtOnce", 4, 3, 0.0},
    {"BBackASecondLater", 2, 5, 1.0},
    {"OneEachBBackLater", 1, 1, 3.0},
};

} // namespace

class DropboxIndexRaceTest : public DropboxMachinesFixture, public ::testing::WithParamInterface<IndexRace>
{};

TEST_P(DropboxIndexRaceTest, BothFinalIndexesListEveryDocument)
{
    const IndexRace race = GetParam();
    a->start();
    b->start();
    ASSERT_TRUE(converge());
    ASSERT_NO_FATAL_FAILURE(bothOffline());
    for (int i = 0; i < race.documentsOnA; ++i)
        ASSERT_FALSE(a->create(QStringLiteral("A %1").arg(i)).isEmpty());
    for (int i = 0; i < race.documentsOnB; ++i)
        ASSERT_FALSE(b->create(QStringLiteral("B %1").arg(i)).isEmpty());

    a->reachability->reachable = true;
    if (race.bBackAfterSeconds > 0)
        pass(race.bBackAfterSeconds);
    b->reachability->reachable = true;
    pass(600.0);
    ASSERT_TRUE(converge());

    QStringList onDropbox;
    for (const auto& entry : remoteDump())
        onDropbox.append(entry.first);
    ASSERT_EQ(onDropbox.size(), race.documentsOnA + race.documentsOnB);
    onDropbox.sort();
    const std::optional<DropboxEmulator::File> index = emulator.file(QStringLiteral("/corvex.index"));
    ASSERT_TRUE(index.has_value());
    const std::string complete = coverage(onDropbox, onDropbox);
    EXPECT_EQ(coverage(indexedIdentifiers(index->content), onDropbox), complete) << "the index on Dropbox";
    for (DropboxMachine* machine : {a.get(), b.get()}) {
        const std::string which = machine->root.section(QLatin1Char('/'), -1).toStdString();
        EXPECT_EQ(coverage(machine->indexedLocally(), onDropbox), complete) << "the index of " << which;
        EXPECT_EQ(coverage(identifiersOf(machine->workspace->ideaProxies()), onDropbox), complete)
            << "the list of " << which;
    }
}

INSTANTIATE_TEST_SUITE_P(Races, DropboxIndexRaceTest, ::testing::ValuesIn(IndexRaces),
                         [](const ::testing::TestParamInfo<IndexRace>& info) { return info.param.name; });

} // namespace corvex::test
