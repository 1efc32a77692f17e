#include "export/WebExportRecord.h"
#include "export/WebExportNames.h"
#include "model/Idea.h"
#include "tests/support/LogCapture.h"

#include <gtest/gtest.h>

using namespace corvex;

TEST(WebExportNames, PlainIdentifiersStayAndAnyOtherBecomesOneSafeNameOfItsOwn)
{
    EXPECT_EQ(WebExportNames::safeIdentifier(QStringLiteral("id1614834360_1")),
              QStringLiteral("id1614834360_1"));
    EXPECT_EQ(WebExportNames::safeIdentifier(QStringLiteral("a.b-c_D9")), QStringLiteral("a.b-c_D9"));
    EXPECT_EQ(WebExportNames::safeIdentifier(QStringLiteral("../../x")),
              QStringLiteral("~~2E~2E~2F~2E~2E~2Fx"));
    EXPECT_EQ(WebExportNames::safeIdentifier(QStringLiteral("a..b")), QStringLiteral("~a~2E~2Eb"));
    EXPECT_EQ(WebExportNames::safeIdentifier(QStringLiteral("/etc/passwd")),
              QStringLiteral("~~2Fetc~2Fpasswd"));
    EXPECT_EQ(WebExportNames::safeIdentifier(QStringLiteral("caf\u00e9")), QStringLiteral("~caf~C3~A9"));
    EXPECT_EQ(WebExportNames::safeIdentifier(QString()), QStringLiteral("~"));
    // Too long for a file name once mapped: the hash.
    const QString longName = WebExportNames::safeIdentifier(QString(200, QLatin1Char('/')));
    EXPECT_EQ(longName.size(), 41);
    EXPECT_TRUE(longName.startsWith(QLatin1Char('~')));
    EXPECT_NE(longName, WebExportNames::safeIdentifier(QString(201, QLatin1Char('/'))));

    const IdeaPtr hostile = Idea::initWithText(QStringLiteral("t"), QStringLiteral("../../x"));
    EXPECT_EQ(WebExportNames::imageNameFor(*hostile), QStringLiteral("~~2E~2E~2F~2E~2E~2Fx_mini.png"));
    EXPECT_EQ(WebExportNames::bigImageNameFor(*hostile), QStringLiteral("~~2E~2E~2F~2E~2E~2Fx.jpg"));
}

// A root without a colour shows the first standard colour (green0), as its planet does.
TEST(WebExportRecord, DataJsOfOneIdeaIsTheRecordBetweenTheFixedTexts)
{
    const IdeaPtr solo =
        Idea::initWithText(QStringLiteral("Solo \"q\" \u2028 \u2029 </script>"), QStringLiteral("r"));
    const std::optional<QByteArray> text =
        WebExportRecord::createDataJS(WebExportRecord::exportIdea(*solo), 1);
    ASSERT_TRUE(text);
    EXPECT_EQ(
        *text,
        QByteArray("globalCorvexData = { \"rootIdea\": {\"elemtype\":1,\"identifier\":\"r\",\"text\":\"Solo "
                   "\\\"q\\\" \\u2028 \\u2029 </script>\",\"bgcolor\":\"#2B8466\",\"ideas\":[]},\n\"mode\": "
                   "\"embedded\" };"));
    EXPECT_TRUE(
        WebExportRecord::createDataJS(WebExportRecord::exportIdea(*solo), 2)->endsWith("\"fullpage\" };"));
    EXPECT_TRUE(WebExportRecord::createDataJS(WebExportRecord::exportIdea(*solo), 0)
                    ->endsWith("\"presentation\" };"));
    EXPECT_TRUE(WebExportRecord::createDataJS(WebExportRecord::exportIdea(*solo), 7)
                    ->endsWith("\"presentation\" };"));
}

TEST(WebExportRecord, ColoursKeepTheirStoredComponentsAndAnUnresolvableLinkHasNoTarget)
{
    EXPECT_EQ(WebExportRecord::hexStringForColor(*Color::withRGB(QStringLiteral("c"), RGBA{255, 127, 0, 1})),
              QStringLiteral("#FF7F00"));
    EXPECT_EQ(WebExportRecord::hexStringForColor(*Color::withRGB(QStringLiteral("c"), RGBA{1, 0, 254, 1})),
              QStringLiteral("#0100FE"));

    const IdeaPtr root = Idea::initWithText(QStringLiteral("Root"), QStringLiteral("r"));
    const IdeaPtr broken = Idea::initWithLinkToIdea(QStringLiteral("gone"));
    const IdeaPtr toRoot = Idea::initWithLinkToIdea(QStringLiteral("r"));
    ASSERT_TRUE(root->addIdea(broken) && root->addIdea(toRoot));
    const Value record = WebExportRecord::exportIdea(*root);
    const ValueArray& ideas = record.value(QStringLiteral("ideas")).toArray();
    ASSERT_EQ(ideas.size(), 2u);
    EXPECT_EQ(ideas[0].value(QStringLiteral("elemtype")).toInteger(), 4);
    EXPECT_FALSE(ideas[0].toDictionary().contains(QStringLiteral("linkedIdea")));
    EXPECT_FALSE(ideas[0].toDictionary().contains(QStringLiteral("text")));
    EXPECT_EQ(ideas[1].value(QStringLiteral("linkedIdea")).toString(), QStringLiteral("r"));
    EXPECT_EQ(ideas[1].value(QStringLiteral("text")).toString(), QStringLiteral("Root"));
}
