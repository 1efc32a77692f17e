#include "export/WebExporter.h"

#include "export/WebExportPreview.h"
#include "export/WebExportRecord.h"
#include "export/WebExportResources.h"
#include "formats/ZipWrapper.h"
#include "model/IdeaTreeCopy.h"
#include "platform/core/BackgroundDrawing.h"
#include "platform/core/Log.h"
#include "platform/core/MainQueue.h"
#include "platform/core/Promise.h"
#include "storage/FileUtil.h"

#include <QDir>

namespace corvex {

namespace {

// The preview is drawn from a copy cut to whole levels below this many ideas.
constexpr qint64 kPreviewIdeaLimit = 75;

struct ExportSite
{
    QString scratch; // the fresh temporary folder: resource copies
    QString top;     // the site packed into the archive
    QString files;
    QString include;
};

std::optional<ExportSite> makeSiteFolders()
{
    const QUrl scratch = FileUtil::temporaryDirectoryForFile();
    if (scratch.isEmpty())
        return std::nullopt;
    const QUrl top = FileUtil::createDirectory(QStringLiteral("site"), scratch);
    if (top.isEmpty())
        return std::nullopt;
    const QUrl include = FileUtil::createDirectory(QStringLiteral("include"), top);
    const QUrl files = FileUtil::createDirectory(QStringLiteral("files"), top);
    if (include.isEmpty() || files.isEmpty())
        return std::nullopt;
    return ExportSite{scratch.toLocalFile(), top.toLocalFile(), files.toLocalFile(), include.toLocalFile()};
}

PromiseOutcome writeText(const std::optional<QString>& text, const QString& path)
{
    if (!text) {
        Log::assertionFailure(QStringLiteral("Web export: no text to write into %1").arg(path));
        return PromiseOutcome::rejection();
    }
    return PromiseOutcome::waitFor(WebExportFiles::saveString(*text, path));
}

PromiseOutcome unpack(const QString& name, const QString& scratch, const QString& destination)
{
    const Error error = WebExportResources::unpackArchive(name, scratch, destination);
    return error.isNull() ? PromiseOutcome() : PromiseOutcome::rejection(error);
}

PromiseOutcome writePreview(const IdeaPtr& tree, const QString& path)
{
    const WebExportPreview::Renderer renderer = WebExportPreview::renderer();
    if (!renderer) {
        static std::once_flag once;
        std::call_once(once,
                       [] { Log::warning(QStringLiteral("Web export: no preview renderer registered")); });
        return PromiseOutcome();
    }
    const IdeaPtr restricted = tree->ideaByRestrictingElements(kPreviewIdeaLimit);
    QByteArray png;
    {
        // Drawn off the main thread: not once the application is on its way out.
        const BackgroundDrawing::Job drawing;
        if (!drawing.admitted())
            return PromiseOutcome::rejection();
        png = renderer(*restricted);
    }
    if (png.isEmpty()) {
        Log::error(QStringLiteral("Web export: the preview could not be drawn"));
        return PromiseOutcome::rejection();
    }
    return PromiseOutcome::waitFor(WebExportFiles::writeData(png, path));
}

} // namespace

void WebExporter::saveWebExportFrom(const IdeaPtr& root, quint64 location, quint64 style, const QUrl& url,
                                    Completion completion)
{
    saveWebExportFrom(root, location, style, url, std::move(completion),
                      WebExportFiles::storageAttachmentSource());
}

void WebExporter::saveWebExportFrom(const IdeaPtr& root, quint64 location, quint64 style, const QUrl& url,
                                    Completion completion, WebExportFiles::AttachmentSource source)
{
    const auto finish = [completion](bool ok) {
        if (completion)
            MainQueue::post([completion, ok] { completion(ok); });
    };
    if (!root || !url.isLocalFile() || url.toLocalFile().isEmpty()) {
        Log::assertionFailure(QStringLiteral("Web export without a root or a local destination"));
        finish(false);
        return;
    }
    const std::optional<ExportSite> site = makeSiteFolders();
    if (!site) {
        Log::error(QStringLiteral("Web export: the temporary folders cannot be made"));
        finish(false);
        return;
    }
    const IdeaPtr tree = IdeaTreeCopy::copyKeepingIdentifiers(*root);
    const QString title = root->exportTitle();
    const QString destination = url.toLocalFile();
    const QDir top(site->top);
    const QDir files(site->files);
    const std::shared_ptr<SerialQueue>& queue = WebExportFiles::queue();

    Promise::promiseWithResult(QVariant())
        ->thenOn(queue,
                 [tree, style, files](const QVariant&) {
                     const std::optional<QByteArray> data =
                         WebExportRecord::createDataJS(WebExportRecord::exportIdea(*tree), style);
                     if (!data || !WebExportFiles::exportIdeaImages(*tree, files.path()))
                         return PromiseOutcome::rejection();
                     return PromiseOutcome::waitFor(
                         WebExportFiles::writeData(*data, files.filePath(QStringLiteral("data.js"))));
                 })
        ->thenOnMain([tree, location, files, source](const QVariant&) {
            return PromiseOutcome::waitFor(
                WebExportFiles::exportAttachments(tree, location, files.path(), source));
        })
        ->thenOn(queue,
                 [title, top](const QVariant&) {
                     return writeText(WebExportResources::createDataIndexHtml(title),
                                      top.filePath(QStringLiteral("index.html")));
                 })
        ->thenOn(queue,
                 [site = *site](const QVariant&) {
                     return unpack(QStringLiteral("web_include"), site.scratch, site.top);
                 })
        ->thenOn(queue,
                 [site = *site, style](const QVariant&) {
                     return style == 0 ? unpack(QStringLiteral("web_twemoji"), site.scratch, site.include)
                                       : PromiseOutcome();
                 })
        ->thenOn(queue,
                 [top, style](const QVariant&) {
                     return style == 0 ? PromiseOutcome()
                                       : writeText(WebExportResources::createHowtoHtml(),
                                                   top.filePath(QStringLiteral("HOW_TO_USE.html")));
                 })
        ->thenOn(queue,
                 [tree, files](const QVariant&) {
                     return writePreview(tree, files.filePath(QStringLiteral("preview.png")));
                 })
        ->thenOn(queue,
                 [destination, top](const QVariant&) {
                     if (ZipWrapper::createZipFileAtPathWithContentsOfDirectory(destination, top.path()))
                         return PromiseOutcome();
                     Log::error(
                         QStringLiteral("Web export: the archive %1 could not be written").arg(destination));
                     return PromiseOutcome::rejection(
                         Error(WebExportResources::ErrorDomain, WebExportResources::UnpackFailedCode));
                 })
        ->thenOnMain(
            [completion](const QVariant&) {
                if (completion)
                    completion(true);
                return PromiseOutcome();
            },
            [completion](const Error&) {
                if (completion)
                    completion(false);
                return PromiseOutcome();
            });
}

} // namespace corvex
