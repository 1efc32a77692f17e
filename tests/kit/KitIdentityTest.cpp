// The application's identity for the service: slices and UUIDs from Mach-O files the
// fixture script made, the instance identifier, SDK versions; and the running ELF executable.

#include "kit/core/LOMApplicationIdentiferModel.h"
#include "kit/sys/HostFunctions.h"
#include "platform/core/ElfImage.h"
#include "tests/kit/KitNetTestSupport.h"
#include "tests/kit/KitTestSupport.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <gtest/gtest.h>

using namespace corvex;

TEST(LOMApplicationIdentiferModel, MachOFixturesGiveTheScriptsSlicesAndVersions)
{
    const QString folder = test::kitDataDir() + QStringLiteral("/macho");
    const QJsonObject expected = test::kitJsonFile(folder + QStringLiteral("/expected.json")).object();
    ASSERT_FALSE(expected.isEmpty());
    for (auto it = expected.begin(); it != expected.end(); ++it) {
        SCOPED_TRACE(it.key().toStdString());
        QFile file(folder + QLatin1Char('/') + it.key());
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const auto model = LOMApplicationIdentiferModel::fromMachOBytes(QStringLiteral("ID"),
                                                                        test::kitTestInfo(), file.readAll());
        std::map<QString, QString> slices;
        QString minimum = QStringLiteral("0.0.0");
        QString built = QStringLiteral("0.0.0");
        for (const QJsonValue& slice : it.value().toArray()) {
            const QJsonObject object = slice.toObject();
            if (object.value(QStringLiteral("uuid")).isString())
                slices[object.value(QStringLiteral("arch")).toString()] =
                    object.value(QStringLiteral("uuid")).toString();
            if (object.value(QStringLiteral("minOS")).isString()) {
                minimum = object.value(QStringLiteral("minOS")).toString();
                built = object.value(QStringLiteral("sdk")).toString();
            }
        }
        if (slices.empty()) {
            EXPECT_EQ(model, nullptr);
            continue;
        }
        ASSERT_NE(model, nullptr);
        EXPECT_EQ(model->architectureUUIDMap, slices);
        EXPECT_EQ(model->minimumSDKString(), minimum);
        EXPECT_EQ(model->builtSDKString(), built);
        QString joined;
        for (const auto& [architecture, uuid] : slices)
            joined += uuid;
        EXPECT_EQ(model->instanceIdentifier, LOMSHA1HexStringFromData(joined.toUtf8()));
    }
}

TEST(LOMApplicationIdentiferModel, TheInstanceIdentifierFollowsSortedNamesAndEveryUUID)
{
    const std::map<QString, QString> a{{QStringLiteral("x86_64"), QStringLiteral("11")},
                                       {QStringLiteral("arm64"), QStringLiteral("22")}};
    const std::map<QString, QString> changed{{QStringLiteral("x86_64"), QStringLiteral("11")},
                                             {QStringLiteral("arm64"), QStringLiteral("23")}};
    EXPECT_EQ(LOMApplicationIdentiferModel::computeInstanceIdentifier(a), LOMSHA1HexStringFromData("2211"));
    EXPECT_NE(LOMApplicationIdentiferModel::computeInstanceIdentifier(a),
              LOMApplicationIdentiferModel::computeInstanceIdentifier(changed));

    // The running executable: one slice, its build id as UUID, SDK versions 0.0.0.
    const auto model =
        LOMApplicationIdentiferModel::initWithInstallID(QStringLiteral("ID"), test::kitTestInfo());
    ASSERT_NE(model, nullptr);
    const Result<ElfImageInfo>& executable = ElfImage::currentExecutable();
    ASSERT_TRUE(executable.ok());
    ASSERT_EQ(model->architectureUUIDMap.size(), 1u);
    EXPECT_EQ(model->architectureUUIDMap.begin()->first, executable->architecture);
    EXPECT_EQ(model->architectureUUIDMap.begin()->second.size(), 32);
    EXPECT_EQ(model->minimumSDKString(), QStringLiteral("0.0.0"));
    EXPECT_EQ(model->instanceIdentifier.size(), 40);
    EXPECT_EQ(model->bundleIdentifier, QStringLiteral("com.tallowfen.corvex"));
}
