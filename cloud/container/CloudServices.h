#pragma once

#include "cloud/container/CloudAccount.h"
#include "cloud/container/CloudMetadataQuery.h"
#include "cloud/container/ConflictVersionStore.h"
#include "cloud/container/UbiquitousMover.h"

#include <functional>
#include <memory>

namespace corvex {

// What the iCloud mode asks of the platform, each behind an interface tests can replace:
// the account (container folder and identity), metadata queries, the ubiquitous move of
// attachments and the file versions of documents.
struct CloudServices
{
    std::shared_ptr<CloudAccount> account;
    std::function<CloudMetadataQueryPtr()> makeQuery;
    std::shared_ptr<UbiquitousMover> mover;
    std::shared_ptr<ConflictVersionStore> versions;

    // The synced container folder: FolderCloudAccount (from the environment),
    // FolderMetadataQuery, FileUbiquitousMover, SyncConflictVersionStore.
    static CloudServices standard();
    // The same over a given container folder (`makesFolder`: made when the mode starts).
    static CloudServices forFolder(const QString& folder, bool makesFolder);
};

} // namespace corvex
