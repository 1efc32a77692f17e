#include "export/WebExportFiles.h"

#include "export/WebExportNames.h"
#include "formats/ExportProblems.h"
#include "platform/core/Log.h"
#include "platform/core/SaveFile.h"
#include "platform/core/SerialQueue.h"
#include "storage/AttachmentNames.h"
#include "storage/PersistenceController.h"

#include "platform/core/DispatchGroup.h"

#include <QDir>
#include <algorithm>
#include <atomic>
#include <vector>

namespace corvex {

namespace {

// Picture files written at once.
constexpr std::size_t kImageWriters = 16;

Status writeFileNow(const QString& path, const QByteArray& data)
{
    const Status status = SaveFile::writeAtomically(path, data);
    if (!status.ok())
        Log::error(QStringLiteral("Web export: cannot write %1: %2")
                       .arg(path, status.error().localizedDescription()));
    return status;
}

// Writes on the exporter's queue and settles the promise with the outcome.
void settleByWriting(const PromisePtr& promise, const QByteArray& data, const QString& path)
{
    WebExportFiles::queue()->async([promise, data, path] {
        const Status written = writeFileNow(path, data);
        if (written)
            promise->fulfillWithValue(QVariant());
        else
            promise->rejectWithReason(written.error());
    });
}

// Each idea with an attachment, parents before children.
std::vector<IdeaPtr> ideasWithAttachments(const IdeaPtr& top)
{
    std::vector<IdeaPtr> found;
    std::vector<IdeaPtr> stack{top};
    while (!stack.empty()) {
        IdeaPtr idea = std::move(stack.back());
        stack.pop_back();
        if (!idea->att().isNull())
            found.push_back(idea);
        const auto& ideas = idea->ideas();
        for (auto it = ideas.rbegin(); it != ideas.rend(); ++it)
            stack.push_back(*it);
    }
    return found;
}

PromisePtr exportOneAttachment(const ObjectID& attachment, quint64 location, const QString& directory,
                               const WebExportFiles::AttachmentSource& source)
{
    PromisePtr written = Promise::create();
    if (!AttachmentNames::isAcceptable(attachment)) {
        const QString name = AttachmentNames::printable(attachment.asString());
        Log::error(QStringLiteral("Web export: attachment name refused: %1").arg(name));
        written->rejectWithReason(Error(ExportProblems::ErrorDomain, ExportProblems::MissingAttachment,
                                        QStringLiteral("the attachment name %1 is refused.").arg(name)));
        return written;
    }
    const QString path = QDir(directory).filePath(attachment.asString());
    source(attachment, location, [written, path, name = attachment.asString()](const QByteArray& data) {
        if (data.isEmpty()) {
            Log::error(QStringLiteral("Web export: attachment %1 has no data").arg(name));
            written->rejectWithReason(Error(
                ExportProblems::ErrorDomain, ExportProblems::MissingAttachment,
                QStringLiteral("the attachment %1 has no data.").arg(AttachmentNames::printable(name))));
            return;
        }
        settleByWriting(written, data, path);
    });
    return written;
}

} // namespace

const std::shared_ptr<SerialQueue>& WebExportFiles::queue()
{
    static const std::shared_ptr<SerialQueue> exporterQueue =
        std::make_shared<SerialQueue>("corvex.webexporter");
    return exporterQueue;
}

PromisePtr WebExportFiles::writeData(const QByteArray& data, const QString& path)
{
    PromisePtr promise = Promise::create();
    settleByWriting(promise, data, path);
    return promise;
}

PromisePtr WebExportFiles::saveString(const QString& text, const QString& path)
{
    return writeData(text.toUtf8(), path);
}

bool WebExportFiles::exportIdeaImages(const Idea& idea, const QString& directory)
{
    // The files are collected on this thread (the tree is read by one thread only) and
    // written by a few workers at once: each atomic save waits for the disk twice, and
    // those waits overlap.
    const QDir folder(directory);
    std::vector<std::pair<QString, QByteArray>> files;
    std::vector<const Idea*> stack{&idea};
    while (!stack.empty()) {
        const Idea* current = stack.back();
        stack.pop_back();
        const QVImage image = current->image();
        if (image.hasImage())
            files.emplace_back(folder.filePath(WebExportNames::imageNameFor(*current)), image.pngData());
        const QByteArray big = current->bigImageData();
        if (!big.isEmpty())
            files.emplace_back(folder.filePath(WebExportNames::bigImageNameFor(*current)), big);
        const auto& ideas = current->ideas();
        for (auto it = ideas.rbegin(); it != ideas.rend(); ++it)
            stack.push_back(it->get());
    }
    const std::size_t workers = std::min<std::size_t>(kImageWriters, files.size());
    auto failed = std::make_shared<std::atomic<bool>>(false);
    DispatchGroup group;
    for (std::size_t worker = 0; worker < workers; ++worker) {
        group.async([&files, failed, worker, workers] {
            for (std::size_t i = worker; i < files.size() && !failed->load(); i += workers) {
                if (!writeFileNow(files[i].first, files[i].second))
                    failed->store(true);
            }
        });
    }
    group.wait();
    return !failed->load();
}

PromisePtr WebExportFiles::exportAttachments(const IdeaPtr& idea, quint64 location, const QString& directory,
                                             const AttachmentSource& source)
{
    PromisePtr chain = Promise::promiseWithResult(QVariant());
    if (!idea || !source)
        return chain;
    // Fetched one at a time: each next fetch starts on the main queue once the previous
    // file was written.
    for (const IdeaPtr& holder : ideasWithAttachments(idea)) {
        chain = chain->thenOnMain([attachment = holder->att(), location, directory, source](const QVariant&) {
            return PromiseOutcome::waitFor(exportOneAttachment(attachment, location, directory, source));
        });
    }
    return chain;
}

WebExportFiles::AttachmentSource WebExportFiles::storageAttachmentSource()
{
    return [](const ObjectID& attachment, quint64 location, AttachmentData answer) {
        // The store takes a copyable callback: the answer is shared with it.
        PersistenceController::singleton().fetchAttachment(
            attachment, StorageLocation(location),
            [answer = std::make_shared<AttachmentData>(std::move(answer))](const QByteArray& data) {
                (*answer)(data);
            });
    };
}

} // namespace corvex
