#pragma once

#include "kit/sys/MachO.h"

#include <QByteArray>
#include <QString>
#include <QVariantMap>
#include <map>
#include <memory>
#include <optional>

namespace corvex {

// The application's icon as the service gets it: PNG bytes, their SHA-1, the size in points.
struct LOMIcon
{
    QByteArray data;
    QString dataHash; // 40 lower-case hex digits of SHA-1(data) unless given
    double width = 0;
    double height = 0;
    bool prerendered = true;

    static LOMIcon withData(QByteArray data, double width, double height, bool prerendered = true);
    double surfaceArea() const { return width * height; }
    bool isWithinMaxSurfaceArea() const { return surfaceArea() <= 1048576.0; }
    bool largerThanSize(double w, double h) const { return surfaceArea() > w * h; }
};

// The icon the interface installed (ApplicationIconProvider); nothing without one.
std::optional<LOMIcon> LOMApplicationIcon();

// The application's identity for the service: its escaped bundle identifier, the
// executable's slices (architecture -> UUID, 32 lower-case hex digits), SDK versions, the
// instance identifier made from them, and the icon. The running executable is ELF: one
// slice named from e_machine with the build id as UUID, SDK versions 0.0.0.
class LOMApplicationIdentiferModel
{
public:
    // From the running executable; nullptr when it cannot be read.
    static std::shared_ptr<LOMApplicationIdentiferModel> initWithInstallID(const QString& installID,
                                                                           const QVariantMap& info);
    // From the bytes of a Mach-O file (thin or fat); nullptr when they hold no slice with a UUID.
    static std::shared_ptr<LOMApplicationIdentiferModel>
    fromMachOBytes(const QString& installID, const QVariantMap& info, const QByteArray& bytes);
    static std::shared_ptr<LOMApplicationIdentiferModel>
    withFacts(const QString& installID, const QVariantMap& info,
              std::map<QString, QString> architectureUUIDMap, LOMMachOVersion minimumSDK,
              LOMMachOVersion builtSDK, std::optional<LOMIcon> icon);

    // SHA-1 (hex) of the UUIDs concatenated in the order of their sorted architecture names.
    static QString computeInstanceIdentifier(const std::map<QString, QString>& architectureUUIDMap);

    QString installID;
    QString bundleIdentifier;
    std::map<QString, QString> architectureUUIDMap;
    LOMMachOVersion minimumSDK;
    LOMMachOVersion builtSDK;
    QString instanceIdentifier;
    std::optional<LOMIcon> icon;

    QString minimumSDKString() const { return LOMVersionTripleString(&minimumSDK); }
    QString builtSDKString() const { return LOMVersionTripleString(&builtSDK); }
};

} // namespace corvex
