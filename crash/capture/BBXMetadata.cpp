// Ordinary code, run once at set-up.

#include "crash/capture/BBXMetadata.h"

#include "crash/capture/BBXContext.h"
#include "crash/runtime/BBXApplication.h"
#include "crash/runtime/BBXBinaryImages.h"
#include "crash/runtime/BBXFile.h"
#include "crash/runtime/BBXHost.h"
#include "crash/runtime/BBXMemory.h"
#include "kit/sys/HostFunctions.h"
#include "platform/core/CalendarClock.h"

#include <QDateTime>

namespace corvex {

namespace {

void metadataWriteText(BBXFile* file, const char* key, const QString& text)
{
    if (text.isNull()) {
        BBXFileWriteHashEntryString(file, key, nullptr);
        return;
    }
    const QByteArray utf8 = text.toUtf8();
    BBXFileWriteHashEntryNSString(file, key, utf8.constData(), std::size_t(utf8.size()));
}

} // namespace

void BBXContextRecordMetadata(const char* path, const BBXContextInitParams* params,
                              const BBXHostContext* host)
{
    if (path == nullptr || params == nullptr)
        return;
    if (!BBXUnlinkIfExists(path))
        BBX_LOG_WARN("Unable to unlink existing metadata file %s", path);
    BBXFile file;
    if (!BBXFileInitWithPath(&file, path, false)) {
        BBX_LOG_WARN("Unable to open metadata file %s", path);
        BBX_LOG_WARN("Unable to record context metadata");
        return;
    }
    BBXFileWriteSectionStart(&file, "identity");
    BBXFileWriteHashStart(&file);
    BBXFileWriteHashEntryString(&file, "generator", "Blackbox Mac SDK/3.8.5");
    BBXFileWriteHashEntryString(&file, "build_version", "123");
    BBXFileWriteHashEntryString(&file, "display_version", "3.8.5");
    BBXFileWriteHashEntryString(&file, "api_key", params->apiKey);
    BBXFileWriteHashEntryUint64(&file, "started_at",
                                static_cast<std::uint64_t>(CalendarClock::now().toSecsSinceEpoch()));
    BBXFileWriteHashEntryString(&file, "session_id", params->reportIdentifier);
    BBXFileWriteHashEntryString(&file, "install_id", params->installIdentifier);
    BBXFileWriteHashEntryString(&file, "beta_token", params->betaToken);
    BBXFileWriteHashEntryBoolean(&file, "absolute_log_timestamps", true);
    BBXFileWriteHashEnd(&file);
    BBXFileWriteSectionEnd(&file);

    if (!BBXHostRecordInfo(&file, host))
        BBX_LOG_WARN("Unable to write out host metadata");

    BBXFileWriteSectionStart(&file, "application");
    BBXFileWriteHashStart(&file);
    metadataWriteText(&file, "bundle_id", LOMEscapedBundleIdentifier());
    BBXFileWriteHashEntryString(&file, "custom_bundle_id", nullptr);
    metadataWriteText(&file, "build_version", LOMBundleVersion());
    metadataWriteText(&file, "display_version", LOMBundleShortVersionString());
    metadataWriteText(&file, "extension_id", BBXApplicationExtensionPointIdentifier());
    BBXFileWriteHashEnd(&file);
    BBXFileWriteSectionEnd(&file);

    if (!BBXBinaryImageRecordMainExecutable(&file))
        BBX_LOG_WARN("Unable to write out executable metadata");
    BBXFileClose(&file);
}

} // namespace corvex
