#pragma once

#include "cloud/dropbox/DropboxFolderManager.h"
#include "platform/core/AsyncFutureRunnable.h"

#include <functional>

namespace corvex {

// The manager's sources are split by concern (DropboxFolderManager*.cpp); more than one of
// them reaches into a queued task, so its definition lives here.
struct DropboxFolderManager::Task
{
    AsyncFutureRunnable::Ptr runnable;
    // The caller's answer, given once the status file holds the task's change.
    std::function<void()> answer;
    std::function<void()> fail;
};

} // namespace corvex
