#pragma once

#include "cloud/dropbox/DropboxReachability.h"
#include "cloud/dropbox/QVDropboxClient.h"

#include <QString>
#include <memory>

namespace corvex {

// What one Dropbox mode works with, each replaceable, so that one test process can hold two
// machines: the two folder roots, the client and the reachability check.
//
//   <applicationSupport>/com.tallowfen.corvex/dropbox/dropbox   the managed folder
//   <documents>/dropbox/attachments, <documents>/dropbox/upload the attachment folders
struct DropboxModeServices
{
    QString applicationSupport;
    QString documents;
    std::shared_ptr<QVDropboxClient> client;
    std::shared_ptr<DropboxReachability> reachability;

    // Paths::applicationSupport(), the user's Documents folder, the signed-in account's
    // client and a TCP check of the configured API host.
    static DropboxModeServices standard();
};

} // namespace corvex
