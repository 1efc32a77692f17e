#include "cloud/container/CloudServices.h"

namespace corvex {

namespace {

CloudServices servicesWithAccount(std::shared_ptr<CloudAccount> account)
{
    CloudServices services;
    services.account = std::move(account);
    services.makeQuery = [] { return CloudMetadataQueryPtr(std::make_unique<FolderMetadataQuery>()); };
    services.mover = std::make_shared<FileUbiquitousMover>();
    services.versions = std::make_shared<SyncConflictVersionStore>();
    return services;
}

} // namespace

CloudServices CloudServices::standard()
{
    return servicesWithAccount(std::make_shared<FolderCloudAccount>());
}

CloudServices CloudServices::forFolder(const QString& folder, bool makesFolder)
{
    return servicesWithAccount(std::make_shared<FolderCloudAccount>(folder, makesFolder));
}

} // namespace corvex
