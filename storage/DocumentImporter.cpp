#include "storage/DocumentImporter.h"

#include "platform/core/Log.h"
#include "platform/core/MainQueue.h"

#include <mutex>

namespace corvex {

namespace {

std::mutex& importerMutex()
{
    static std::mutex mutex;
    return mutex;
}

std::shared_ptr<DocumentImporter>& installedImporter()
{
    static std::shared_ptr<DocumentImporter> importer;
    return importer;
}

} // namespace

const QString DocumentImporter::ErrorDomain = QStringLiteral("com.tallowfen.corvex.storage");

DocumentImporter::~DocumentImporter() = default;

std::shared_ptr<DocumentImporter> DocumentImporter::install(std::shared_ptr<DocumentImporter> importer)
{
    std::lock_guard lock(importerMutex());
    std::swap(installedImporter(), importer);
    return importer;
}

std::shared_ptr<DocumentImporter> DocumentImporter::installed()
{
    std::lock_guard lock(importerMutex());
    return installedImporter();
}

void DocumentImporter::import(const QUrl& url, AttachmentHandler attachmentHandler, Completion completion)
{
    if (const auto importer = installed()) {
        importer->importDocument(url, std::move(attachmentHandler), std::move(completion));
        return;
    }
    Log::warning(
        QStringLiteral("DocumentImporter: no importer installed; cannot import %1").arg(url.toString()));
    // Answered later, as a real import would be, so callers see one behaviour.
    MainQueue::post([completion = std::move(completion)]() mutable {
        if (completion)
            completion(
                Error(ErrorDomain, -1, QStringLiteral("No document reader is installed"),
                      {{Error::FailureReasonKey, QStringLiteral("This Corvex reads no document files.")}}));
    });
}

} // namespace corvex
