#include "platform/core/Bundle.h"

#include <gtest/gtest.h>

using namespace corvex;

TEST(Bundle, GivesTheIdentifierAndVersionsFromTheCompiledInInformation)
{
    const Bundle& bundle = Bundle::mainBundle();
    EXPECT_EQ(bundle.identifier(), QStringLiteral("com.tallowfen.corvex"));
    EXPECT_EQ(bundle.shortVersion(), QStringLiteral("1.6.0"));
    EXPECT_EQ(bundle.version(), QStringLiteral("1"));
    EXPECT_EQ(&Bundle::mainBundle(), &bundle);
}

TEST(Bundle, LooksUpInformationDictionaryKeys)
{
    const Bundle& bundle = Bundle::mainBundle();
    EXPECT_EQ(bundle.objectForInfoDictionaryKey(QStringLiteral("CFBundleName")),
              QVariant(QStringLiteral("Corvex")));
    EXPECT_EQ(bundle.objectForInfoDictionaryKey(QStringLiteral("CFBundleExecutable")),
              QVariant(QStringLiteral("corvex")));
    EXPECT_FALSE(bundle.objectForInfoDictionaryKey(QStringLiteral("NoSuchKey")).isValid());
    EXPECT_EQ(bundle.infoDictionary().value(Bundle::IdentifierKey), QVariant(bundle.identifier()));
    EXPECT_GE(bundle.infoDictionary().size(), 7);
}
