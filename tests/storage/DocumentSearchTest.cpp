#include "storage/IdeaTextMap.h"
#include "storage/SearchCache.h"
#include "storage/SearchResult.h"
#include "storage/Workspace.h"

#include "model/Globals.h"
#include "model/IconImage.h"
#include "model/Idea.h"
#include "tests/doubles/storage/TestFolderPersistenceState.h"
#include "tests/storage/ExpectCompletion.h"
#include "tests/storage/WorkspaceTestSupport.h"
#include "tests/support/CompletionRecorder.h"
#include "tests/support/RunUntil.h"
#include "tests/support/VirtualScheduler.h"

#include <gtest/gtest.h>
#include <random>

using namespace corvex;
using corvex::test::CompletionRecorder;
using corvex::test::countsOf;
using corvex::test::expectCompletion;
using corvex::test::identifiersOf;
using corvex::test::proxyFor;
using corvex::test::runUntil;
using corvex::test::ScopedVirtualTime;
using corvex::test::WorkspaceFixture;
using Operation = TestFolderPersistenceState::Operation;

namespace {

IdeaPtr idea(const QString& text, const QString& note = QString(), const QString& symbol = QString())
{
    IdeaPtr made = Idea::initWithText(text);
    if (!note.isNull())
        made->setNote(note);
    if (!symbol.isNull())
        made->setIconImage(
            IconImage::initWithName(QStringLiteral("icon"), QStringLiteral("Symbols"), symbol));
    return made;
}

IdeaPtr with(IdeaPtr parent, std::initializer_list<IdeaPtr> children)
{
    for (const IdeaPtr& child : children)
        EXPECT_TRUE(parent->addIdea(child));
    return parent;
}

QStringList keysOf(const IdeaTextMap& map)
{
    QStringList keys;
    for (qsizetype i = 0; i < map.count(); ++i)
        keys.append(QStringLiteral("%1@%2").arg(map.keyAt(i)).arg(map.levelAt(i)));
    return keys;
}

// "<identifier> <occurrences>/<minLevel>" per result, in order.
QStringList ranking(const std::vector<SearchResult>& results)
{
    QStringList lines;
    for (const SearchResult& result : results)
        lines.append(QStringLiteral("%1 %2/%3")
                         .arg(result.docIdentifier())
                         .arg(result.occurrences())
                         .arg(result.minLevel()));
    return lines;
}

// The user's idle flag for the lifetime of the object.
class ScopedUserIdle
{
public:
    explicit ScopedUserIdle(bool idle) : mPrevious(Globals::isUserIdle()) { Globals::setUserIdle(idle); }
    ~ScopedUserIdle() { Globals::setUserIdle(mPrevious); }
    ScopedUserIdle(const ScopedUserIdle&) = delete;
    ScopedUserIdle& operator=(const ScopedUserIdle&) = delete;

private:
    bool mPrevious;
};

} // namespace

// ---- The text map of one document

TEST(DocumentSearchTextMap, CountsEachStringThatHoldsTheTextOnceWithTheSmallestLevel)
{
    IdeaTextMap map;
    map.add(QStringLiteral("apple pie"), 2);
    map.add(QStringLiteral("banana"), 0);
    map.add(QStringLiteral("apple apple apple"), 1);
    map.add(QStringLiteral("pineapple"), 3);
    qint64 found = -1;
    qint64 minLevel = -1;
    EXPECT_TRUE(map.containsString(QStringLiteral("apple"), &found, &minLevel));
    EXPECT_EQ(found, 3) << "a string holding the text three times counts once";
    EXPECT_EQ(minLevel, 1);
    EXPECT_TRUE(map.containsString(QStringLiteral("an"), &found, &minLevel));
    EXPECT_EQ(found, 1);
    EXPECT_EQ(minLevel, 0);
    EXPECT_TRUE(map.containsString(QStringLiteral("pineapple"), &found, &minLevel));
    EXPECT_EQ(found, 1);
    EXPECT_EQ(minLevel, 3);
}

TEST(DocumentSearchTextMap, AMatchNeverRunsAcrossTwoStrings)
{
    IdeaTextMap map;
    map.add(QStringLiteral("ab"), 0);
    map.add(QString(), 4);
    map.add(QStringLiteral("cd"), 1);
    map.add(QStringLiteral("xbcx"), 5);
    qint64 found = -1;
    qint64 minLevel = -1;
    EXPECT_TRUE(map.containsString(QStringLiteral("bc"), &found, &minLevel));
    EXPECT_EQ(found, 1) << "only the string that holds it; not \"ab\" + \"cd\"";
    EXPECT_EQ(minLevel, 5);
    EXPECT_FALSE(map.containsString(QStringLiteral("abcd"), &found, &minLevel));
    EXPECT_FALSE(map.containsString(QStringLiteral("dx"), &found, &minLevel));
    EXPECT_EQ(map.keyAt(1), QString());
    EXPECT_EQ(map.keyAt(2), QStringLiteral("cd"));
}

TEST(DocumentSearchTextMap, TextsAreFoundWhereverTheirRarestLetterStands)
{
    IdeaTextMap map;
    map.add(QStringLiteral("quiz"), 4);
    map.add(QStringLiteral("aquarium"), 3);
    map.add(QStringLiteral("q"), 0);
    map.add(QStringLiteral("u equal"), 2);
    map.add(QStringLiteral("squeeze"), 5);
    map.add(QStringLiteral("uq"), 0);
    qint64 found = -1;
    qint64 minLevel = -1;
    EXPECT_TRUE(map.containsString(QStringLiteral("qu"), &found, &minLevel));
    EXPECT_EQ(found, 4) << "\"q\" + \"u equal\" and \"uq\" do not count";
    EXPECT_EQ(minLevel, 2);
    EXPECT_TRUE(map.containsString(QStringLiteral("ee"), &found, &minLevel));
    EXPECT_EQ(found, 1);
    EXPECT_EQ(minLevel, 5);
    EXPECT_FALSE(map.containsString(QStringLiteral("za"), &found, &minLevel))
        << "\"quiz\" ends where \"aquarium\" begins";

    // Symbols of one plane share their first code unit; only the whole symbol counts.
    IdeaTextMap icons;
    icons.add(QStringLiteral("\U0001F600"), 1);
    icons.add(QStringLiteral("\U0001F680 launch"), 2);
    icons.add(QStringLiteral("\U0001F4A1\U0001F680"), 3);
    EXPECT_TRUE(icons.containsString(QStringLiteral("\U0001F680"), &found, &minLevel));
    EXPECT_EQ(found, 2);
    EXPECT_EQ(minLevel, 2);
    EXPECT_FALSE(icons.containsString(QStringLiteral("\U0001F681"), &found, &minLevel));
}

TEST(DocumentSearchTextMap, CountsAgreeWithAPlainScanOfEachString)
{
    // Small alphabets make many near misses, overlaps and matches across borders.
    const QStringList pieces = {QStringLiteral("a"),          QStringLiteral("b"),
                                QStringLiteral("q"),          QStringLiteral(" "),
                                QStringLiteral("\U0001F680"), QStringLiteral("\U0001F600"),
                                QStringLiteral("\u00fc")};
    std::mt19937 random(7);
    auto text = [&](int maxPieces) {
        QString made;
        const int n = int(random() % std::uint32_t(maxPieces + 1));
        for (int i = 0; i < n; ++i)
            made += pieces[int(random() % std::uint32_t(pieces.size()))];
        return made;
    };
    const int rounds = test::heavyScale(3000, 500);
    for (int round = 0; round < rounds; ++round) {
        IdeaTextMap map;
        QStringList keys;
        std::vector<qint64> levels;
        // Every fourth map is long enough to span several blocks of the widest scan.
        const int entries = int(random() % (round % 4 == 0 ? 40 : 6));
        for (int i = 0; i < entries; ++i) {
            keys.append(text(6));
            levels.push_back(qint64(random() % 5));
            map.add(keys.back(), levels.back());
        }
        const QString needle = text(3);
        qint64 expectedCount = 0;
        qint64 expectedLevel = 0;
        for (int i = 0; i < entries; ++i) {
            if (!needle.isEmpty() && keys[i].contains(needle)) {
                expectedLevel = expectedCount == 0 ? levels[std::size_t(i)]
                                                   : std::min(expectedLevel, levels[std::size_t(i)]);
                ++expectedCount;
            }
        }
        qint64 found = -1;
        qint64 minLevel = -1;
        const bool matched = map.containsString(needle, &found, &minLevel);
        ASSERT_EQ(matched, expectedCount > 0)
            << keys.join(QLatin1Char('|')).toStdString() << " / " << needle.toStdString();
        if (matched) {
            ASSERT_EQ(found, expectedCount)
                << keys.join(QLatin1Char('|')).toStdString() << " / " << needle.toStdString();
            ASSERT_EQ(minLevel, expectedLevel)
                << keys.join(QLatin1Char('|')).toStdString() << " / " << needle.toStdString();
        }
    }
}

TEST(DocumentSearchTextMap, AnEmptyTextOccursNowhereAndAnEmptyMapHoldsNothing)
{
    IdeaTextMap map;
    map.add(QStringLiteral("anything"), 0);
    map.add(QString(), 1);
    qint64 found = -1;
    qint64 minLevel = -1;
    ASSERT_TRUE(QStringLiteral("anything").contains(QString())) << "the trap this guards against";
    EXPECT_FALSE(map.containsString(QString(), &found, &minLevel));
    EXPECT_FALSE(map.containsString(QStringLiteral(""), &found, &minLevel));
    EXPECT_EQ(found, -1) << "nothing written without a match";
    EXPECT_EQ(minLevel, -1);

    IdeaTextMap empty;
    EXPECT_FALSE(empty.containsString(QStringLiteral("a"), &found, &minLevel));
    EXPECT_TRUE(empty.isEmpty());
    EXPECT_EQ(empty.count(), 0);
}

// ---- The cache of a location

TEST(DocumentSearchCache, ATreeGivesItsTextsNotesAndIconSymbolsDepthFirstLowerCased)
{
    const IdeaPtr root =
        with(idea(QStringLiteral("Garden PLAN"), QStringLiteral("Water DAILY"), QStringLiteral("\U0001F33B")),
             {with(idea(QStringLiteral("Tomatoes")),
                   {idea(QStringLiteral("Seeds"), QString(), QStringLiteral("X"))}),
              idea(QStringLiteral("Herbs"), QStringLiteral("Basil"))});
    IdeaTextMap map;
    SearchCache::addIdeaTreeToMap(map, root, 0);
    EXPECT_EQ(keysOf(map), (QStringList{QStringLiteral("garden plan@0"), QStringLiteral("water daily@0"),
                                        QStringLiteral("\U0001F33B@0"), QStringLiteral("tomatoes@1"),
                                        QStringLiteral("seeds@2"), QStringLiteral("x@2"),
                                        QStringLiteral("herbs@1"), QStringLiteral("basil@1")}));

    IdeaTextMap deeper;
    SearchCache::addIdeaTreeToMap(deeper, root->ideas().front(), 3);
    EXPECT_EQ(keysOf(deeper),
              (QStringList{QStringLiteral("tomatoes@3"), QStringLiteral("seeds@4"), QStringLiteral("x@4")}));
}

TEST(DocumentSearchCache, EntriesAreReplacedDroppedAndAnUnreadableDocumentIsCachedEmpty)
{
    SearchCache cache;
    cache.addOrUpdate(idea(QStringLiteral("first")), QStringLiteral("iCloud:/a.crvx"));
    cache.addOrUpdate(idea(QStringLiteral("second")), QStringLiteral("iCloud:/a.crvx"));
    cache.addOrUpdate(nullptr, QStringLiteral("iCloud:/broken.crvx"));
    EXPECT_EQ(cache.count(), 2);
    ASSERT_NE(cache.mapFor(QStringLiteral("iCloud:/a.crvx")), nullptr);
    EXPECT_EQ(keysOf(*cache.mapFor(QStringLiteral("iCloud:/a.crvx"))),
              QStringList{QStringLiteral("second@0")});
    EXPECT_TRUE(cache.contains(QStringLiteral("iCloud:/broken.crvx"))) << "an empty entry counts as cached";
    EXPECT_TRUE(cache.search(QStringLiteral("e")).size() == 1) << "and never matches";

    const std::vector<IdeaProxyPtr> list = {
        proxyFor(QStringLiteral("iCloud:/a.crvx")), proxyFor(QStringLiteral("iCloud:/c.crvx")),
        proxyFor(QStringLiteral("iCloud:/broken.crvx")), proxyFor(QStringLiteral("iCloud:/d.crvx"))};
    EXPECT_EQ(cache.nextDocIdentifierThatIsMissing(list), QStringLiteral("iCloud:/c.crvx"))
        << "the first in list order";
    cache.invalidate(QStringLiteral("iCloud:/a.crvx"));
    EXPECT_EQ(cache.nextDocIdentifierThatIsMissing(list), QStringLiteral("iCloud:/a.crvx"));
    cache.addOrUpdate(nullptr, QStringLiteral("iCloud:/a.crvx"));
    cache.addOrUpdate(nullptr, QStringLiteral("iCloud:/c.crvx"));
    cache.addOrUpdate(nullptr, QStringLiteral("iCloud:/d.crvx"));
    EXPECT_TRUE(cache.nextDocIdentifierThatIsMissing(list).isNull()) << "none missing";
    cache.invalidate();
    EXPECT_EQ(cache.count(), 0);
}

TEST(DocumentSearchCache, ResultsRankByOccurrencesThenDeeperShallowestMatchThenGreaterIdentifier)
{
    SearchCache cache;
    // Two matches: the root's text and a child's.
    cache.addOrUpdate(with(idea(QStringLiteral("red apple")), {idea(QStringLiteral("apple tree"))}),
                      QStringLiteral("dropbox:/a.crvx"));
    // One match each at the root: ordered by identifier, the greater first.
    cache.addOrUpdate(idea(QStringLiteral("apple")), QStringLiteral("dropbox:/b.crvx"));
    cache.addOrUpdate(idea(QStringLiteral("apple")), QStringLiteral("dropbox:/c.crvx"));
    // One match, at depth 2: before the root matches of the same count.
    cache.addOrUpdate(with(idea(QStringLiteral("fruit")),
                           {with(idea(QStringLiteral("kinds")), {idea(QStringLiteral("Apple"))})}),
                      QStringLiteral("dropbox:/d.crvx"));
    // No match at all.
    cache.addOrUpdate(idea(QStringLiteral("pear")), QStringLiteral("dropbox:/e.crvx"));
    EXPECT_EQ(ranking(cache.search(QStringLiteral("APPLE"))),
              (QStringList{QStringLiteral("dropbox:/a.crvx 2/0"), QStringLiteral("dropbox:/d.crvx 1/2"),
                           QStringLiteral("dropbox:/c.crvx 1/0"), QStringLiteral("dropbox:/b.crvx 1/0")}));
    EXPECT_TRUE(cache.search(QString()).empty());
    EXPECT_TRUE(cache.search(QStringLiteral("")).empty()) << "an empty text matches nothing";
}

TEST(DocumentSearchCache, ATextInTheNoteAndTheTitleOfOneIdeaCountsTwice)
{
    SearchCache cache;
    cache.addOrUpdate(idea(QStringLiteral("Call mum"), QStringLiteral("call before noon")),
                      QStringLiteral("temp:/a.crvx"));
    const auto results = cache.search(QStringLiteral("call"));
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results.front().occurrences(), 2);
    EXPECT_EQ(results.front().minLevel(), 0);
}

TEST(DocumentSearchCache, IconSymbolsAreSearchedLikeTexts)
{
    SearchCache cache;
    cache.addOrUpdate(with(idea(QStringLiteral("trip")),
                           {idea(QStringLiteral("launch"), QString(), QStringLiteral("\U0001F680"))}),
                      QStringLiteral("temp:/rocket.crvx"));
    cache.addOrUpdate(idea(QStringLiteral("plain")), QStringLiteral("temp:/plain.crvx"));
    EXPECT_EQ(ranking(cache.search(QStringLiteral("\U0001F680"))),
              QStringList{QStringLiteral("temp:/rocket.crvx 1/1")});
}

// ---- Searches of a workspace

TEST(DocumentSearchWorkspace, NoTextAnswersTheWholeListInListOrderWithTheProxiesOwnCounts)
{
    WorkspaceFixture f;
    const IdeaProxyPtr a = f.store(QStringLiteral("a.crvx"), idea(QStringLiteral("alpha")));
    const IdeaProxyPtr b =
        f.store(QStringLiteral("b.crvx"), with(idea(QStringLiteral("beta")), {idea(QStringLiteral("x"))}));
    const IdeaProxyPtr c = f.store(QStringLiteral("c.crvx"), idea(QStringLiteral("gamma")));
    f.deliverListAndCache({c, a, b});
    const auto* answer = f.search(QString());
    ASSERT_NE(answer, nullptr);
    EXPECT_EQ(answer->proxies, (std::vector<IdeaProxyPtr>{c, a, b})) << "the listed proxies themselves";
    EXPECT_EQ(countsOf(answer->proxies), (QStringList{c->docIdentifier() + QStringLiteral(":1"),
                                                      a->docIdentifier() + QStringLiteral(":1"),
                                                      b->docIdentifier() + QStringLiteral(":2")}));
}

TEST(DocumentSearchWorkspace, ATextAnswersRankedCopiesCountingTheMatches)
{
    WorkspaceFixture f;
    const IdeaProxyPtr a = f.store(QStringLiteral("a.crvx"),
                                   with(idea(QStringLiteral("Plan")), {idea(QStringLiteral("plan B"))}));
    const IdeaProxyPtr b = f.store(QStringLiteral("b.crvx"), idea(QStringLiteral("nothing here")));
    const IdeaProxyPtr c = f.store(QStringLiteral("c.crvx"), idea(QStringLiteral("a plan")));
    f.deliverListAndCache({a, b, c});
    // A cached document that is no longer listed gives nothing.
    f.workspace->searchCache().addOrUpdate(idea(QStringLiteral("plan plan")),
                                           f.identifier(QStringLiteral("gone.crvx")));

    const auto* answer = f.search(QStringLiteral("PLAN"));
    ASSERT_NE(answer, nullptr);
    EXPECT_EQ(countsOf(answer->proxies), (QStringList{a->docIdentifier() + QStringLiteral(":2"),
                                                      c->docIdentifier() + QStringLiteral(":1")}));
    EXPECT_NE(answer->proxies[0], a) << "copies, so that the listed proxies keep their own counts";
    EXPECT_EQ(answer->proxies[0]->doc(), a->doc()) << "sharing the listed proxy's document handle";
    EXPECT_EQ(a->itemCount(), 2) << "the tree's size, not the matches";
    EXPECT_EQ(answer->proxies[0]->text(), a->text());
    EXPECT_EQ(f.workspace->searchRequestID(), 0) << "a finished search leaves no running one";

    const auto* none = f.search(QStringLiteral(""));
    ASSERT_NE(none, nullptr) << "an empty text is answered too";
    EXPECT_TRUE(none->proxies.empty()) << "and matches nothing";
}

TEST(DocumentSearchWorkspace, ADocumentThatCannotBeReadIsCachedEmptyAndNotReadAgain)
{
    WorkspaceFixture f;
    const IdeaProxyPtr good = f.store(QStringLiteral("good.crvx"), idea(QStringLiteral("findable")));
    const IdeaProxyPtr broken = proxyFor(f.identifier(QStringLiteral("broken.crvx")));
    f.deliverListAndCache({good, broken});
    EXPECT_TRUE(f.workspace->searchCache().contains(broken->docIdentifier()));
    const int reads = f.state->callCount(Operation::SearchRead);
    const auto* answer = f.search(QStringLiteral("findable"));
    ASSERT_NE(answer, nullptr);
    EXPECT_EQ(identifiersOf(answer->proxies), QStringList{good->docIdentifier()});
    EXPECT_EQ(f.state->callCount(Operation::SearchRead), reads) << "everything came from the cache";
    EXPECT_TRUE(f.search(QStringLiteral("title of"))->proxies.empty())
        << "the proxy's own text is not searched";
}

TEST(DocumentSearchWorkspace, ASaveThroughTheWorkspaceIsSearchedWithoutReadingAgain)
{
    WorkspaceFixture f;
    f.deliverListAndCache({});
    auto document = IdeaDocument::initWithFileName(QString(), f.location);
    document->setIdea(idea(QStringLiteral("draft")));
    CompletionRecorder recorder;
    qint64 token = 0;
    f.workspace->createDocument(
        document, 0,
        expectCompletion<qint64>(recorder, QStringLiteral("create"), [&](qint64 t) { token = t; }));
    ASSERT_TRUE(recorder.waitAll());
    ASSERT_GT(token, 0);
    document->idea()->setText(QStringLiteral("final version"));
    f.workspace->updateDocument(
        document, token,
        expectCompletion<bool>(recorder, QStringLiteral("save"), [](bool ok) { EXPECT_TRUE(ok); }));
    ASSERT_TRUE(recorder.waitAll());
    const int reads = f.state->callCount(Operation::SearchRead);
    const auto* answer = f.search(QStringLiteral("final"));
    ASSERT_NE(answer, nullptr);
    EXPECT_EQ(identifiersOf(answer->proxies), QStringList{document->docIdentifier()});
    EXPECT_EQ(f.state->callCount(Operation::SearchRead), reads);
    f.workspace->closeDocument(document, token, recorder.expect<>(QStringLiteral("close")));
    ASSERT_TRUE(recorder.waitAll());
}

// ---- Request identifiers: superseded, ignored, killed

TEST(DocumentSearchRequests, ANewerRequestReplacesTheRunningOneAndAnOlderOneIsIgnored)
{
    ScopedVirtualTime time;
    WorkspaceFixture f;
    // A back end that reads its documents only through openDocument (scripted below).
    f.state->setServesSearchReads(false);
    const IdeaProxyPtr a = proxyFor(f.identifier(QStringLiteral("a.crvx")));
    const IdeaProxyPtr b = proxyFor(f.identifier(QStringLiteral("b.crvx")));
    f.workspace->searchCache().addOrUpdate(idea(QStringLiteral("alpha")), a->docIdentifier());
    // Reads of b take a second of virtual time (and fail: it has no file).
    f.state->setFailing(Operation::Open, true);
    f.state->setDelay(Operation::Open, 1.0);
    f.deliverList({a, b});

    f.workspace->startSearch(QStringLiteral("alpha"), 7);
    EXPECT_EQ(f.workspace->searchRequestID(), 7);
    f.workspace->startSearch(QStringLiteral("alpha"), 5);
    EXPECT_EQ(f.workspace->searchRequestID(), 7) << "5 is not newer than 7";
    f.workspace->startSearch(QStringLiteral("alph"), 9);
    EXPECT_EQ(f.workspace->searchRequestID(), 9);
    time.advance(0.99);
    EXPECT_TRUE(f.delegate.searches.empty());
    time.advance(0.02);
    ASSERT_NE(f.delegate.answerFor(9), nullptr);
    EXPECT_EQ(identifiersOf(f.delegate.answerFor(9)->proxies), QStringList{a->docIdentifier()});
    EXPECT_EQ(f.delegate.answerFor(7), nullptr) << "the replaced run ends without an answer";
    EXPECT_EQ(f.delegate.answerFor(5), nullptr) << "the ignored request is never answered";
    time.advance(10);
    EXPECT_EQ(f.delegate.answerFor(7), nullptr);
    EXPECT_EQ(f.delegate.answerFor(5), nullptr);
    EXPECT_EQ(f.workspace->searchRequestID(), 0);
    // Once nothing runs, any identifier above 0 starts.
    f.workspace->startSearch(QStringLiteral("alpha"), 1);
    time.runDue();
    EXPECT_NE(f.delegate.answerFor(1), nullptr);
}

TEST(DocumentSearchRequests, AKilledSearchEndsWithoutAnAnswerAndOtherIdentifiersChangeNothing)
{
    ScopedVirtualTime time;
    WorkspaceFixture f;
    // A back end that reads its documents only through openDocument (scripted below).
    f.state->setServesSearchReads(false);
    const IdeaProxyPtr a = proxyFor(f.identifier(QStringLiteral("a.crvx")));
    f.state->setFailing(Operation::Open, true);
    f.state->setDelay(Operation::Open, 1.0);
    f.deliverList({a});
    time.advance(1.0);
    ASSERT_EQ(f.delegate.searches.size(), 1u) << "the refresh is done";
    f.workspace->searchCache().invalidate();
    f.delegate.searches.clear();

    f.workspace->startSearch(QStringLiteral("x"), 20);
    f.workspace->killSearch(19);
    f.workspace->killSearch(0);
    EXPECT_EQ(f.workspace->searchRequestID(), 20);
    f.workspace->killSearch(20);
    EXPECT_EQ(f.workspace->searchRequestID(), 0);
    time.advance(5);
    EXPECT_TRUE(f.delegate.searches.empty());
    EXPECT_FALSE(f.workspace->searchCache().contains(a->docIdentifier()))
        << "a killed run caches nothing more";
}

TEST(DocumentSearchRequests, BeforeTheFirstListASearchWaitsInHalfSecondStepsAndAnswersAfterIt)
{
    ScopedVirtualTime time;
    WorkspaceFixture f;
    const IdeaProxyPtr a = proxyFor(f.identifier(QStringLiteral("a.crvx")));
    f.workspace->searchCache().addOrUpdate(idea(QStringLiteral("waiting")), a->docIdentifier());
    const qint64 request = Workspace::nextSearchRequestID();
    f.workspace->startSearch(QStringLiteral("wait"), request);
    time.advance(1.2);
    EXPECT_TRUE(f.delegate.searches.empty());

    f.state->reportFoundDocument(a->docIdentifier());
    f.state->reportProxyList({a});
    time.runDue();
    ASSERT_TRUE(f.workspace->hasCompleteProxyList());
    EXPECT_EQ(f.workspace->searchRequestID(), request)
        << "the list's refresh does not take the screen's search away";
    time.advance(0.29);
    EXPECT_EQ(f.delegate.answerFor(request), nullptr) << "the next step is at 1.5 s";
    time.advance(0.02);
    ASSERT_NE(f.delegate.answerFor(request), nullptr);
    EXPECT_EQ(identifiersOf(f.delegate.answerFor(request)->proxies), QStringList{a->docIdentifier()});
    // The refresh that waited is answered right after, with the whole list.
    ASSERT_EQ(f.delegate.searches.size(), 2u);
    EXPECT_GT(f.delegate.searches[1].requestIdentifier, request);
    EXPECT_EQ(f.delegate.searches[1].proxies, std::vector<IdeaProxyPtr>{a});
}

// One counter for every search, and a refresh never drops a screen's search.
TEST(DocumentSearchRequests, AScreensSearchTakesOverARunningRefreshWhichIsAnsweredAfterIt)
{
    ScopedVirtualTime time;
    WorkspaceFixture f;
    // A back end that reads its documents only through openDocument (scripted below).
    f.state->setServesSearchReads(false);
    const qint64 first = Workspace::nextSearchRequestID();
    const qint64 second = Workspace::nextSearchRequestID();
    EXPECT_EQ(second, first + 1) << "one counter, incremented before use";

    const IdeaProxyPtr a = proxyFor(f.identifier(QStringLiteral("a.crvx")));
    const IdeaProxyPtr b = proxyFor(f.identifier(QStringLiteral("b.crvx")));
    f.workspace->searchCache().addOrUpdate(idea(QStringLiteral("needle")), a->docIdentifier());
    f.state->setFailing(Operation::Open, true);
    f.state->setDelay(Operation::Open, 1.0);
    // The screen drew its identifier before the list came; the refresh draws a greater one.
    const qint64 screen = Workspace::nextSearchRequestID();
    f.deliverList({a, b});
    const qint64 refresh = f.workspace->searchRequestID();
    ASSERT_GT(refresh, screen) << "the refresh runs, reading b";

    f.workspace->startSearch(QStringLiteral("needle"), screen);
    EXPECT_EQ(f.workspace->searchRequestID(), screen) << "taken over despite the smaller identifier";
    EXPECT_EQ(f.workspace->pendingRefreshSearchID(), refresh);
    time.advance(1.0);
    ASSERT_EQ(f.delegate.searches.size(), 2u);
    EXPECT_EQ(f.delegate.searches[0].requestIdentifier, screen);
    EXPECT_EQ(identifiersOf(f.delegate.searches[0].proxies), QStringList{a->docIdentifier()});
    EXPECT_EQ(f.delegate.searches[1].requestIdentifier, refresh);
    EXPECT_EQ(f.delegate.searches[1].proxies, (std::vector<IdeaProxyPtr>{a, b}));
    EXPECT_EQ(f.workspace->pendingRefreshSearchID(), 0);
}

TEST(DocumentSearchRequests, KillingTheScreensSearchLetsTheWaitingRefreshRun)
{
    ScopedVirtualTime time;
    WorkspaceFixture f;
    // A back end that reads its documents only through openDocument (scripted below).
    f.state->setServesSearchReads(false);
    const IdeaProxyPtr a = proxyFor(f.identifier(QStringLiteral("a.crvx")));
    f.state->setFailing(Operation::Open, true);
    f.state->setDelay(Operation::Open, 1.0);
    const qint64 screen = Workspace::nextSearchRequestID();
    f.workspace->startSearch(QStringLiteral("x"), screen);
    f.deliverList({a});
    const qint64 refresh = f.workspace->pendingRefreshSearchID();
    ASSERT_GT(refresh, 0) << "the list's refresh waits behind the screen's search";
    f.workspace->killSearch(screen);
    EXPECT_EQ(f.workspace->searchRequestID(), refresh);
    time.advance(3);
    ASSERT_EQ(f.delegate.searches.size(), 1u);
    EXPECT_EQ(f.delegate.searches[0].requestIdentifier, refresh);

    // A waiting refresh can be killed by its own identifier too.
    f.workspace->searchCache().invalidate();
    const qint64 next = Workspace::nextSearchRequestID();
    f.workspace->startSearch(QStringLiteral("y"), next);
    f.state->reportProxyList({a});
    time.runDue();
    const qint64 second = f.workspace->pendingRefreshSearchID();
    ASSERT_GT(second, 0);
    f.workspace->killSearch(second);
    EXPECT_EQ(f.workspace->pendingRefreshSearchID(), 0);
    EXPECT_EQ(f.workspace->searchRequestID(), next) << "the screen's search goes on";
    time.advance(3);
    EXPECT_NE(f.delegate.answerFor(next), nullptr);
    EXPECT_EQ(f.delegate.answerFor(second), nullptr);
}

TEST(DocumentSearchRequests, WithoutSearchReadsARunOpensOneDocumentAtATime)
{
    ScopedVirtualTime time;
    WorkspaceFixture f;
    // A back end that reads its documents only through openDocument (scripted below).
    f.state->setServesSearchReads(false);
    std::vector<IdeaProxyPtr> list;
    for (int i = 0; i < 4; ++i)
        list.push_back(proxyFor(f.identifier(QStringLiteral("d%1.crvx").arg(i))));
    f.state->setFailing(Operation::Open, true);
    f.state->setDelay(Operation::Open, 1.0);
    f.deliverList(list);
    for (int i = 1; i <= 4; ++i) {
        EXPECT_EQ(f.state->callCount(Operation::Open), i) << "one read in flight";
        time.advance(1.0);
    }
    EXPECT_EQ(f.delegate.searches.size(), 1u);
}

TEST(DocumentSearchRequests, LazyModeReadsOnlyWhileTheUserIsIdleWithAPauseBetweenDocuments)
{
    ScopedVirtualTime time;
    WorkspaceFixture f;
    // A back end that reads its documents only through openDocument (scripted below).
    f.state->setServesSearchReads(false);
    std::vector<IdeaProxyPtr> list;
    for (int i = 0; i < 3; ++i)
        list.push_back(proxyFor(f.identifier(QStringLiteral("d%1.crvx").arg(i))));
    f.state->setFailing(Operation::Open, true);
    f.deliverList(list);
    time.runDue();
    ASSERT_EQ(f.delegate.searches.size(), 1u) << "the refresh cached the three (as empty)";
    f.workspace->searchCache().invalidate();
    const int opens = f.state->callCount(Operation::Open);

    ScopedUserIdle busy(false);
    const qint64 request = Workspace::nextSearchRequestID();
    f.workspace->startSearch(QString(), request, true);
    time.advance(2.2);
    EXPECT_EQ(f.state->callCount(Operation::Open), opens) << "nothing is read while the user works";
    Globals::setUserIdle(true);
    time.advance(0.29);
    EXPECT_EQ(f.state->callCount(Operation::Open), opens) << "the next look is at 2.5 s";
    time.advance(0.02);
    EXPECT_EQ(f.state->callCount(Operation::Open), opens + 1);
    time.advance(0.18);
    EXPECT_EQ(f.state->callCount(Operation::Open), opens + 1) << "0.2 s between documents";
    time.advance(0.02);
    EXPECT_EQ(f.state->callCount(Operation::Open), opens + 2);
    time.advance(0.2);
    EXPECT_EQ(f.state->callCount(Operation::Open), opens + 3);
    EXPECT_EQ(f.delegate.answerFor(request), nullptr);
    time.advance(0.2);
    ASSERT_NE(f.delegate.answerFor(request), nullptr);
    EXPECT_EQ(f.delegate.answerFor(request)->proxies, list);
}

// ---- Documents the back end replaced or deleted

TEST(DocumentSearchStaleness, ADocumentReplacedByTheBackEndIsReadAgainByTheNextSearch)
{
    WorkspaceFixture f;
    const IdeaProxyPtr a = f.store(QStringLiteral("a.crvx"), idea(QStringLiteral("old words")));
    const IdeaProxyPtr b = f.store(QStringLiteral("b.crvx"), idea(QStringLiteral("other")));
    f.deliverListAndCache({a, b});
    ASSERT_EQ(identifiersOf(f.search(QStringLiteral("old"))->proxies), QStringList{a->docIdentifier()});
    const int reads = f.state->callCount(Operation::SearchRead);

    const IdeaProxyPtr replaced =
        f.state->replaceDocumentRemotely(a->docIdentifier(), idea(QStringLiteral("new words")));
    ASSERT_TRUE(runUntil([&] { return f.workspace->findProxy(a->docIdentifier()) == replaced; }));
    EXPECT_FALSE(f.workspace->searchCache().contains(a->docIdentifier()));
    EXPECT_EQ(identifiersOf(f.search(QStringLiteral("new"))->proxies), QStringList{a->docIdentifier()});
    EXPECT_TRUE(f.search(QStringLiteral("old"))->proxies.empty()) << "the earlier text is gone";
    EXPECT_EQ(f.state->callCount(Operation::SearchRead), reads + 1) << "read once more, then cached again";
}

TEST(DocumentSearchStaleness, ADocumentDeletedByTheBackEndLeavesTheCache)
{
    WorkspaceFixture f;
    const IdeaProxyPtr a = f.store(QStringLiteral("a.crvx"), idea(QStringLiteral("doomed")));
    f.deliverListAndCache({a});
    f.state->deleteDocumentRemotely(a->docIdentifier());
    ASSERT_TRUE(runUntil([&] { return f.workspace->ideaProxies().empty(); }));
    EXPECT_FALSE(f.workspace->searchCache().contains(a->docIdentifier()));
    EXPECT_TRUE(f.search(QStringLiteral("doomed"))->proxies.empty());
}

TEST(DocumentSearchStaleness, ACompleteListWithAChangedSummaryReadsThatDocumentAgain)
{
    WorkspaceFixture f;
    const IdeaProxyPtr a = f.store(QStringLiteral("a.crvx"), idea(QStringLiteral("first text")));
    const IdeaProxyPtr b = f.store(QStringLiteral("b.crvx"), idea(QStringLiteral("steady")));
    f.deliverListAndCache({a, b});
    const int reads = f.state->callCount(Operation::SearchRead);
    // Another device changed a; the index lists it with its new summary, b unchanged.
    const IdeaProxyPtr changed = f.state->writeDocumentFile(
        a->docIdentifier(), with(idea(QStringLiteral("second text")), {idea(QStringLiteral("more"))}));
    const IdeaProxyPtr same = IdeaProxy::initWithProxy(*b);
    f.deliverListAndCache({changed, same});
    EXPECT_EQ(f.state->callCount(Operation::SearchRead), reads + 1) << "only the changed document is read";
    EXPECT_EQ(identifiersOf(f.search(QStringLiteral("second"))->proxies), QStringList{a->docIdentifier()});
    EXPECT_TRUE(f.search(QStringLiteral("first"))->proxies.empty());
}

TEST(DocumentSearchStaleness, AReadOvertakenByAReplacementIsNotCached)
{
    ScopedVirtualTime time;
    WorkspaceFixture f;
    // A back end that reads its documents only through openDocument (scripted below).
    f.state->setServesSearchReads(false);
    const IdeaProxyPtr a = proxyFor(f.identifier(QStringLiteral("a.crvx")));
    f.state->setFailing(Operation::Open, true);
    f.state->setDelay(Operation::Open, 1.0);
    f.deliverList({a});
    EXPECT_EQ(f.state->callCount(Operation::Open), 1) << "the refresh is reading a";
    // The back end replaces a while it is being read: that read is stale.
    f.state->reportProxy(proxyFor(a->docIdentifier(), 5));
    time.runDue();
    time.advance(1.0);
    EXPECT_EQ(f.state->callCount(Operation::Open), 2) << "read afresh after the stale read";
    time.advance(1.0);
    EXPECT_TRUE(f.workspace->searchCache().contains(a->docIdentifier()));
    EXPECT_EQ(f.delegate.searches.size(), 1u);
}

// ---- Search reads: documents read and decoded away from the main thread

namespace {

// Opens the document through the workspace, lets `edit` change its tree, saves it through
// the workspace and closes it again.
void editAndSave(WorkspaceFixture& f, const QString& docIdentifier,
                 const std::function<void(const IdeaPtr&)>& edit)
{
    const auto document = IdeaDocument::initWithIdentifier(docIdentifier);
    CompletionRecorder recorder;
    qint64 token = 0;
    f.workspace->openDocument(
        document, expectCompletion<qint64>(recorder, QStringLiteral("open"), [&](qint64 t) { token = t; }));
    ASSERT_TRUE(recorder.waitAll());
    ASSERT_GT(token, 0);
    edit(document->idea());
    f.workspace->updateDocument(
        document, token,
        expectCompletion<bool>(recorder, QStringLiteral("save"), [](bool ok) { EXPECT_TRUE(ok); }));
    ASSERT_TRUE(recorder.waitAll());
    f.workspace->closeDocument(document, token, recorder.expect<>(QStringLiteral("close")));
    ASSERT_TRUE(recorder.waitAll());
}

} // namespace

TEST(DocumentSearchReads, ADocumentSavedBetweenTwoSearchesIsFoundByItsNewTextAndNotByItsOld)
{
    WorkspaceFixture f;
    const IdeaProxyPtr a = f.store(QStringLiteral("a.crvx"),
                                   with(idea(QStringLiteral("Garden")), {idea(QStringLiteral("roses"))}));
    const IdeaProxyPtr b = f.store(QStringLiteral("b.crvx"), idea(QStringLiteral("kitchen")));
    f.deliverList({a, b});
    ASSERT_EQ(identifiersOf(f.search(QStringLiteral("roses"))->proxies), QStringList{a->docIdentifier()});

    editAndSave(f, a->docIdentifier(),
                [](const IdeaPtr& root) { root->ideas()[0]->setText(QStringLiteral("Tulips")); });
    const int reads = f.state->callCount(Operation::SearchRead);
    EXPECT_TRUE(f.search(QStringLiteral("roses"))->proxies.empty()) << "not by its old text";
    EXPECT_EQ(identifiersOf(f.search(QStringLiteral("tulips"))->proxies), QStringList{a->docIdentifier()});
    EXPECT_EQ(f.state->callCount(Operation::SearchRead), reads)
        << "the saved tree is cached, nothing read again";
}

TEST(DocumentSearchReads, AReadUnderWayWhenASaveLandsNeverBringsTheOldTextBack)
{
    WorkspaceFixture f;
    const IdeaProxyPtr a = f.store(QStringLiteral("a.crvx"), idea(QStringLiteral("old words")));
    // The list's refresh reads a and waits, holding the file as it was.
    f.state->holdSearchReads(true);
    f.deliverList({a});
    ASSERT_TRUE(runUntil([&] { return f.state->heldSearchReads() == 1; }));

    editAndSave(f, a->docIdentifier(),
                [](const IdeaPtr& root) { root->setText(QStringLiteral("new words")); });
    ASSERT_NE(f.workspace->searchCache().mapFor(a->docIdentifier()), nullptr) << "the save entered its tree";
    f.state->holdSearchReads(false);
    ASSERT_TRUE(runUntil([&] { return !f.delegate.searches.empty(); }));
    EXPECT_EQ(f.workspace->searchReadsUnderWay(), 0);
    EXPECT_EQ(keysOf(*f.workspace->searchCache().mapFor(a->docIdentifier())),
              QStringList{QStringLiteral("new words@0")});
    EXPECT_TRUE(f.search(QStringLiteral("old"))->proxies.empty());
    EXPECT_EQ(identifiersOf(f.search(QStringLiteral("new"))->proxies), QStringList{a->docIdentifier()});
}

TEST(DocumentSearchReads, DocumentsAreReadInParallelAtMostOneMoreThanTheCoresAwayFromTheMainThread)
{
    WorkspaceFixture f;
    const int readers = Workspace::searchReaders();
    std::vector<IdeaProxyPtr> list;
    for (int i = 0; i < readers + 3; ++i)
        list.push_back(f.store(QStringLiteral("d%1.crvx").arg(i), idea(QStringLiteral("text %1").arg(i))));
    f.state->holdSearchReads(true);
    f.deliverList(list);
    // The main thread goes on turning while the reads wait on their own threads.
    ASSERT_TRUE(runUntil([&] { return f.state->heldSearchReads() == readers; }));
    for (int turn = 0; turn < 20; ++turn)
        test::processEvents();
    EXPECT_EQ(f.state->heldSearchReads(), readers) << "no more reads at a time than searchReaders()";
    EXPECT_EQ(f.workspace->searchReadsUnderWay(), readers + 3);
    EXPECT_EQ(f.state->callCount(Operation::SearchRead), readers + 3);
    EXPECT_EQ(f.state->callCount(Operation::Open), 0) << "no document is opened for searching";
    EXPECT_TRUE(f.delegate.searches.empty());

    f.state->holdSearchReads(false);
    ASSERT_TRUE(runUntil([&] { return !f.delegate.searches.empty(); }));
    EXPECT_EQ(f.delegate.searches[0].proxies, list);
    EXPECT_EQ(f.workspace->searchCache().count(), readers + 3);
    EXPECT_EQ(identifiersOf(f.search(QStringLiteral("text 2"))->proxies),
              QStringList{list[2]->docIdentifier()});
}

TEST(DocumentSearchReads, AKilledSearchCachesNothingOfItsReadsAndAFailedReadIsCachedEmpty)
{
    WorkspaceFixture f;
    std::vector<IdeaProxyPtr> list;
    for (int i = 0; i < 4; ++i)
        list.push_back(f.store(QStringLiteral("d%1.crvx").arg(i), idea(QStringLiteral("text %1").arg(i))));
    f.state->holdSearchReads(true);
    f.deliverList(list);
    ASSERT_TRUE(runUntil([&] { return f.state->heldSearchReads() > 0; }));
    f.workspace->killSearch(f.workspace->searchRequestID());
    EXPECT_EQ(f.workspace->searchRequestID(), 0);
    f.state->holdSearchReads(false);
    ASSERT_TRUE(runUntil([&] { return f.workspace->searchReadsUnderWay() == 0; }));
    EXPECT_EQ(f.workspace->searchCache().count(), 0) << "no search wanted them any more";
    EXPECT_TRUE(f.delegate.searches.empty());

    // The next search reads them again; a read that fails leaves its document cached empty.
    f.state->failNext(Operation::SearchRead);
    const auto* answer = f.search(QStringLiteral("text"));
    ASSERT_NE(answer, nullptr);
    EXPECT_EQ(identifiersOf(answer->proxies),
              (QStringList{list[3]->docIdentifier(), list[2]->docIdentifier(), list[1]->docIdentifier()}));
    EXPECT_TRUE(f.workspace->searchCache().contains(list[0]->docIdentifier()));
    const int reads = f.state->callCount(Operation::SearchRead);
    f.search(QStringLiteral("text"));
    EXPECT_EQ(f.state->callCount(Operation::SearchRead), reads) << "not read again";
}

TEST(DocumentSearchReads, LazyModeReadsOneDocumentAtATimeWhileTheUserIsIdle)
{
    ScopedVirtualTime time;
    WorkspaceFixture f;
    std::vector<IdeaProxyPtr> list;
    for (int i = 0; i < 3; ++i)
        list.push_back(f.store(QStringLiteral("d%1.crvx").arg(i), idea(QStringLiteral("lazy %1").arg(i))));
    f.deliverList(list);
    ASSERT_TRUE(runUntil([&] { return f.delegate.searches.size() == 1; })) << "the refresh read the three";
    f.workspace->searchCache().invalidate();
    const int reads = f.state->callCount(Operation::SearchRead);
    // Each read waits on its own thread until the test lets it answer, so that the answer's
    // time, from which the next read is paced, is the test's to choose.
    f.state->holdSearchReads(true);
    const auto answered = [&] {
        f.state->holdSearchReads(false);
        const bool done = runUntil([&] { return f.workspace->searchReadsUnderWay() == 0; });
        f.state->holdSearchReads(true);
        return done;
    };

    ScopedUserIdle busy(false);
    const qint64 request = Workspace::nextSearchRequestID();
    f.workspace->startSearch(QStringLiteral("lazy"), request, true);
    time.advance(2.2);
    EXPECT_EQ(f.state->callCount(Operation::SearchRead), reads) << "nothing is read while the user works";
    Globals::setUserIdle(true);
    time.advance(0.29);
    EXPECT_EQ(f.state->callCount(Operation::SearchRead), reads);
    time.advance(0.02);
    EXPECT_EQ(f.state->callCount(Operation::SearchRead), reads + 1);
    ASSERT_TRUE(runUntil([&] { return f.state->heldSearchReads() == 1; }));
    EXPECT_EQ(f.workspace->searchReadsUnderWay(), 1) << "one at a time";
    ASSERT_TRUE(answered());
    time.advance(0.19);
    EXPECT_EQ(f.state->callCount(Operation::SearchRead), reads + 1) << "0.2 s after each answer";
    time.advance(0.02);
    EXPECT_EQ(f.state->callCount(Operation::SearchRead), reads + 2);
    ASSERT_TRUE(answered());
    time.advance(0.21);
    EXPECT_EQ(f.state->callCount(Operation::SearchRead), reads + 3);
    ASSERT_TRUE(answered());
    f.state->holdSearchReads(false);
    EXPECT_EQ(f.delegate.answerFor(request), nullptr);
    time.advance(0.21);
    ASSERT_NE(f.delegate.answerFor(request), nullptr);
    EXPECT_EQ(f.delegate.answerFor(request)->proxies.size(), 3u);
}
