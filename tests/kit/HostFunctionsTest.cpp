#include "kit/sys/HostFunctions.h"

#include <QRegularExpression>
#include <QSet>
#include <gtest/gtest.h>

using namespace corvex;

TEST(HostFunctionsBundle, SlashesOfTheIdentifierBecomeUnderscores)
{
    const QVariantMap info{{QStringLiteral("CFBundleIdentifier"), QStringLiteral("com.example/app/beta")}};
    EXPECT_EQ(LOMEscapedBundleIdentifier(info), QStringLiteral("com.example_app_beta"));
    EXPECT_TRUE(LOMEscapedBundleIdentifier(QVariantMap()).isEmpty());
}

TEST(HostFunctionsBundle, DisplayNameFallsBackToNameThenBundleVersion)
{
    QVariantMap info{{QStringLiteral("CFBundleVersion"), QStringLiteral("31")},
                     {QStringLiteral("CFBundleName"), QStringLiteral("Corvex")},
                     {QStringLiteral("CFBundleDisplayName"), QStringLiteral("Corvex Maps")}};
    EXPECT_EQ(LOMApplicationDisplayName(info), QStringLiteral("Corvex Maps"));
    info.remove(QStringLiteral("CFBundleDisplayName"));
    EXPECT_EQ(LOMApplicationDisplayName(info), QStringLiteral("Corvex"));
    info.remove(QStringLiteral("CFBundleName"));
    EXPECT_EQ(LOMApplicationDisplayName(info), QStringLiteral("31"));
}

TEST(HostFunctionsBundle, DeviceIdentifierSwitchesAndInstallSource)
{
    struct Case
    {
        QVariant inner;
        QVariant outer;
        bool collect;
    };
    const Case cases[] = {
        {QVariant(), QVariant(), true},
        {QVariant(false), QVariant(true), false}, // inside "Loom" wins
        {QVariant(), QVariant(false), false},
        {QVariant(true), QVariant(false), true},
        {QVariant(QStringLiteral("NO")), QVariant(), false},
        {QVariant(0), QVariant(), false},
    };
    for (const Case& c : cases) {
        QVariantMap info;
        QVariantMap loom;
        if (c.inner.isValid())
            loom.insert(QStringLiteral("ReportIdentifiers"), c.inner);
        info.insert(QStringLiteral("Loom"), loom);
        if (c.outer.isValid())
            info.insert(QStringLiteral("BlackboxCollectDeviceIdentifiers"), c.outer);
        EXPECT_EQ(LOMShouldCollectDeviceIdentifiers(info), c.collect)
            << c.inner.toString().toStdString() << " " << c.outer.toString().toStdString();
    }
    EXPECT_EQ(LOMInstallSource(QVariantMap()), 1);
    EXPECT_FALSE(LOMIsSignedForDistribution(QVariantMap()));
    const QVariantMap signedInfo{{QStringLiteral("BlackboxSignedForDistribution"), true}};
    EXPECT_TRUE(LOMIsSignedForDistribution(signedInfo));
    EXPECT_EQ(LOMInstallSource(signedInfo), 3);
}

TEST(HostFunctionsText, HexEncodingClearsAndTerminates)
{
    const unsigned char bytes[] = {0x00, 0xAB, 0xFF};
    char out[7];
    std::memset(out, 'x', sizeof out);
    LOMHexEncodeBytes(bytes, 3, out);
    EXPECT_EQ(std::memcmp(out, "00abff", 7), 0);
    std::memset(out, 'x', sizeof out);
    LOMHexEncodeBytes(nullptr, 3, out);
    EXPECT_EQ(out[0], '\0');
    EXPECT_EQ(out[6], '\0');
    LOMHexEncodeBytes(bytes, 3, nullptr);
    EXPECT_EQ(LOMHexStringFromData(QByteArray::fromHex("00abff")), QStringLiteral("00abff"));
    EXPECT_EQ(LOMHexStringFromData(QByteArray()), QString());
}

TEST(HostFunctionsText, Sha1OfEmptyAndOfAbcAreTheStandardDigests)
{
    EXPECT_EQ(LOMSHA1HexStringFromData(QByteArray()),
              QStringLiteral("da39a3ee5e6b4b0d3255bfef95601890afd80709"));
    EXPECT_EQ(LOMSHA1HexStringFromBytes("abc", 3),
              QStringLiteral("a9993e364706816aba3e25717850c26c9cd0d89d"));
}

TEST(HostFunctionsText, UuidsAreUpperCaseWithDashesAndDiffer)
{
    const QRegularExpression form(
        QStringLiteral("^[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}$"));
    QSet<QString> seen;
    for (int i = 0; i < 50; ++i) {
        const QString uuid = LOMCreateUUIDString();
        EXPECT_TRUE(form.match(uuid).hasMatch()) << uuid.toStdString();
        seen.insert(uuid);
    }
    EXPECT_EQ(seen.size(), 50);
    const std::uint8_t bytes[16] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF, 0, 1, 2, 3, 4, 5, 6, 7};
    EXPECT_EQ(LOMHexStringFromUUIDBytes(bytes), QStringLiteral("0123456789abcdef0001020304050607"));
}

TEST(HostFunctionsText, ByteRangesOfAByteArrayAreOneCall)
{
    const QByteArray data("abcdef");
    int calls = 0;
    LOMEnumerateByteRangesOfData(data, [&](const char* bytes, LOMByteRange range, bool* stop) {
        ++calls;
        EXPECT_EQ(bytes, data.constData());
        EXPECT_EQ(range.location, 0u);
        EXPECT_EQ(range.length, 6u);
        *stop = true;
    });
    EXPECT_EQ(calls, 1);
}

TEST(HostFunctionsHost, FactsHaveTheirForms)
{
    const QRegularExpression triple(QStringLiteral("^\\d+\\.\\d+\\.\\d+$"));
    EXPECT_TRUE(triple.match(LOMHostOSDisplayVersion()).hasMatch())
        << LOMHostOSDisplayVersion().toStdString();
    const QString build = LOMHostOSBuildVersion();
    EXPECT_FALSE(build.isEmpty());
    EXPECT_LE(build.toUtf8().size(), 127);
    // No model on machines without DMI or a device tree: null, never an empty text.
    const QString model = LOMHostModel();
    EXPECT_TRUE(model.isNull() || !model.isEmpty());
    EXPECT_TRUE(LOMSysctlString("kern.nonexistent").isNull());
    EXPECT_TRUE(LOMSysctlString(nullptr).isNull());
    EXPECT_GE(LOMSysctlString("hw.ncpu").toInt(), 1);
}
