#include "cloud/container/SyncFileNames.h"
#include "cloud/container/CloudMetadataQuery.h"

#include <gtest/gtest.h>

using namespace corvex;

namespace {

struct ConflictCase
{
    const char* name;
    const char* original; // null: not a conflict copy
    const char* device;
    const char* tool;
};

} // namespace

TEST(SyncFileNames, ConflictCopiesOfEachToolNameTheirFileAndDevice)
{
    const ConflictCase cases[] = {
        {"plan.sync-conflict-20261207-101530-ABCDEF7.crvx", "plan.crvx", "ABCDEF7", "Syncthing"},
        {"plan.sync-conflict-20261207-101530-ABCDEF7", "plan", "ABCDEF7", "Syncthing"},
        {"a.b.sync-conflict-20261207-101530-X1.crvx", "a.b.crvx", "X1", "Syncthing"},
        {"plan (conflicted copy 2026-12-07 101530).crvx", "plan.crvx", "", "Nextcloud"},
        {"plan (conflicted copy anna 2026-12-07 101530).crvx", "plan.crvx", "anna", "Nextcloud"},
        {"plan_conflict-20261207-101530.crvx", "plan.crvx", "", "ownCloud"},
        {"plan (laptop's conflicted copy 2026-12-07).crvx", "plan.crvx", "laptop", "Dropbox"},
        {"plan (laptop's conflicted copy 2026-12-07 (2)).crvx", "plan.crvx", "laptop", "Dropbox"},
        {"corvex.sync-conflict-20261207-101530-ABCDEF7.index", "corvex.index", "ABCDEF7", "Syncthing"},
        // Near misses are plain names.
        {"plan.sync-conflict-2026120-101530-ABCDEF7.crvx", nullptr, nullptr, nullptr},
        {"plan.sync-conflict-20261207-101530-.crvx", nullptr, nullptr, nullptr},
        {".sync-conflict-20261207-101530-ABCDEF7.crvx", nullptr, nullptr, nullptr},
        {"plan (conflicted copy 2026-12-07).crvx", nullptr, nullptr, nullptr},
        {"plan (conflicted copy 2026-12-07 101530)x.crvx", nullptr, nullptr, nullptr},
        {"plan_conflict-20261207.crvx", nullptr, nullptr, nullptr},
        {"plan (laptop's conflicted copy 2026-12-07 (x)).crvx", nullptr, nullptr, nullptr},
        {"conflict.crvx", nullptr, nullptr, nullptr},
        {"id1765029000_3.crvx", nullptr, nullptr, nullptr},
    };
    for (const ConflictCase& c : cases) {
        SCOPED_TRACE(c.name);
        const auto copy = SyncFileNames::parseConflictCopy(QString::fromUtf8(c.name));
        ASSERT_EQ(copy.has_value(), c.original != nullptr);
        if (!copy)
            continue;
        EXPECT_EQ(copy->original, QString::fromUtf8(c.original));
        EXPECT_EQ(copy->device, QString::fromUtf8(c.device));
        EXPECT_EQ(copy->tool, QString::fromUtf8(c.tool));
    }
}

TEST(SyncFileNames, OnlyPlainNamesOfTheFolderAreListable)
{
    const struct
    {
        const char* name;
        bool listable;
    } cases[] = {
        {"plan.crvx", true},
        {"corvex.index", true},
        {".syncthing.plan.crvx.tmp", false},
        {".~lock.plan.crvx#", false},
        {"~plan.crvx", false},
        {"plan.crvx.part", false},
        {"plan.crvx.partial", false},
        {"plan.crvx.tmp", false},
        {"plan.crvx.!sync", false},
        {"plan.crvx.corvex-tmp-Ab12Cd", false},
        {"plan.sync-conflict-20261207-101530-ABCDEF7.crvx", false},
        {"", false},
        {".", false},
        {"..", false},
        {"a/b.crvx", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SyncFileNames::isListable(QString::fromUtf8(c.name)), c.listable) << c.name;
}

TEST(SyncFileNames, LikePatternsMatchAnyRunAndOneCharacter)
{
    EXPECT_TRUE(
        CloudMetadataQuery::nameIsLike(QStringLiteral("corvex.index"), QStringLiteral("corvex.index")));
    EXPECT_FALSE(
        CloudMetadataQuery::nameIsLike(QStringLiteral("corvex.index2"), QStringLiteral("corvex.index")));
    EXPECT_TRUE(CloudMetadataQuery::nameIsLike(QStringLiteral("anything"), QStringLiteral("*")));
    EXPECT_TRUE(CloudMetadataQuery::nameIsLike(QStringLiteral("a1.crvx"), QStringLiteral("a?.crvx")));
    EXPECT_TRUE(CloudMetadataQuery::nameIsLike(QStringLiteral("abcabc.crvx"), QStringLiteral("*bc*.crvx")));
    EXPECT_FALSE(CloudMetadataQuery::nameIsLike(QStringLiteral("abc.crv"), QStringLiteral("*.crvx")));
    EXPECT_TRUE(CloudMetadataQuery::nameIsLike(QStringLiteral("*?*.crvx"), QStringLiteral("*")))
        << "a star in the name is a character";
    EXPECT_TRUE(
        CloudMetadataQuery::nameIsLike(QString(30000, QLatin1Char('a')), QStringLiteral("*a*a*a*a*a*")));
}
