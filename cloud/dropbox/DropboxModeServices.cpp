#include "cloud/dropbox/DropboxModeServices.h"

#include "platform/core/Paths.h"

#include <QStandardPaths>

namespace corvex {

DropboxModeServices DropboxModeServices::standard()
{
    DropboxModeServices services;
    services.applicationSupport = Paths::applicationSupport();
    services.documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (services.documents.isEmpty())
        services.documents = Paths::home() + QStringLiteral("/Documents");
    services.client = std::make_shared<QVDropboxClient>();
    services.reachability = TcpDropboxReachability::forConfiguredApi();
    return services;
}

} // namespace corvex
