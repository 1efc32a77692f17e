#include "kit/core/LOMApplicationIdentiferModel.h"

#include "kit/sys/HostFunctions.h"
#include "platform/core/ApplicationIconProvider.h"
#include "platform/core/ElfImage.h"

namespace corvex {

LOMIcon LOMIcon::withData(QByteArray data, double width, double height, bool prerendered)
{
    LOMIcon icon;
    icon.dataHash = LOMSHA1HexStringFromData(data);
    icon.data = std::move(data);
    icon.width = width;
    icon.height = height;
    icon.prerendered = prerendered;
    return icon;
}

std::optional<LOMIcon> LOMApplicationIcon()
{
    const std::optional<ApplicationIcon> icon = ApplicationIconProvider::applicationIcon();
    if (!icon || icon->png.isEmpty())
        return std::nullopt;
    return LOMIcon::withData(icon->png, icon->widthPoints, icon->heightPoints, true);
}

QString LOMApplicationIdentiferModel::computeInstanceIdentifier(const std::map<QString, QString>& map)
{
    QString joined;
    for (const auto& [architecture, uuid] : map) // std::map: sorted by name
        joined += uuid;
    return LOMSHA1HexStringFromData(joined.toUtf8());
}

std::shared_ptr<LOMApplicationIdentiferModel> LOMApplicationIdentiferModel::withFacts(
    const QString& installID, const QVariantMap& info, std::map<QString, QString> architectureUUIDMap,
    LOMMachOVersion minimumSDK, LOMMachOVersion builtSDK, std::optional<LOMIcon> icon)
{
    auto model = std::make_shared<LOMApplicationIdentiferModel>();
    model->architectureUUIDMap = std::move(architectureUUIDMap);
    model->minimumSDK = minimumSDK;
    model->builtSDK = builtSDK;
    model->instanceIdentifier = computeInstanceIdentifier(model->architectureUUIDMap);
    model->icon = std::move(icon);
    model->installID = installID;
    model->bundleIdentifier = LOMEscapedBundleIdentifier(info);
    return model;
}

std::shared_ptr<LOMApplicationIdentiferModel>
LOMApplicationIdentiferModel::initWithInstallID(const QString& installID, const QVariantMap& info)
{
    const Result<ElfImageInfo>& executable = ElfImage::currentExecutable();
    if (!executable.ok() || executable->uuid.size() != 16)
        return nullptr;
    std::map<QString, QString> map;
    map.emplace(executable->architecture, LOMHexStringFromUUIDBytes(reinterpret_cast<const std::uint8_t*>(
                                              executable->uuid.constData())));
    return withFacts(installID, info, std::move(map), {}, {}, LOMApplicationIcon());
}

std::shared_ptr<LOMApplicationIdentiferModel>
LOMApplicationIdentiferModel::fromMachOBytes(const QString& installID, const QVariantMap& info,
                                             const QByteArray& bytes)
{
    std::map<QString, QString> map;
    LOMMachOVersion minimum;
    LOMMachOVersion built;
    LOMMachOEnumerateSlices(bytes.constData(), std::size_t(bytes.size()), [&](BBXMachOSlice* slice) {
        const QString name = QString::fromLatin1(LOMMachOSliceArchitectureName(slice));
        LOMMachOEnumerateLoadCommands(slice,
                                      [&](std::uint32_t command, std::uint32_t size, const void* data) {
                                          if (command == LOMMachOLoadCommandUUID) {
                                              if (const std::uint8_t* uuid = LOMMachOUUIDBytes(data, size))
                                                  map[name] = LOMHexStringFromUUIDBytes(uuid);
                                          } else if (command == LOMMachOLoadCommandVersionMinMacOSX ||
                                                     command == LOMMachOLoadCommandVersionMinIPhoneOS) {
                                              minimum = LOMMachOMinimumOSVersion(data, size);
                                              built = LOMMachOSDKVersion(data, size);
                                          }
                                      });
    });
    if (map.empty())
        return nullptr;
    return withFacts(installID, info, std::move(map), minimum, built, LOMApplicationIcon());
}

} // namespace corvex
