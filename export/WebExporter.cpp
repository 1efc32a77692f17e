#include "export/WebExporter.h"

#include "export/WebExportPreview.h"
#include "export/WebExportRecord.h"
#include "export/WebExportResources.h"
#include "formats/ExportProblems.h"
#include "formats/ZipWrapper.h"
#include "model/IdeaTreeCopy.h"
#include "platform/core/BackgroundDrawing.h"
#include "platform/core/Log.h"
#include "platform/core/Promise.h"
#include "storage/FileUtil.h"

#include <QDir>
#include <QFileInfo>

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

// Why a step failed, for the error of the whole export.
PromiseOutcome failedBecause(ExportProblems::Code code, const QString& reason)
{
    return PromiseOutcome::rejection(Error(ExportProblems::ErrorDomain, code, reason));
}

// The error of the whole export: the destination, and the reason of the step that failed.
Error exportFailure(const QString& destination, const Error& reason)
{
    if (reason.isNull())
        return ExportProblems::make(ExportProblems::NotMade, destination,
                                    QStringLiteral("the web site could not be made."));
    // A file that could not be written, here or by the packer, says so in its own words.
    const bool written = reason.domain() == Error::PosixDomain || reason.domain() == ZipWrapper::ErrorDomain;
    const auto code = reason.domain() == ExportProblems::ErrorDomain ? ExportProblems::Code(reason.code())
                      : written                                      ? ExportProblems::NotWritten
                                                                     : ExportProblems::NotMade;
    return ExportProblems::make(code, destination, reason.localizedDescription(), reason);
}

PromiseOutcome writeText(const std::optional<QString>& text, const QString& path)
{
    if (!text) {
        Log::assertionFailure(QStringLiteral("Web export: no text to write into %1").arg(path));
        return failedBecause(
            ExportProblems::NotMade,
            QStringLiteral("the page %1 could not be made.").arg(QFileInfo(path).fileName()));
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
            return failedBecause(ExportProblems::NotMade, QStringLiteral("Corvex is quitting."));
        png = renderer(*restricted);
    }
    if (png.isEmpty()) {
        Log::error(QStringLiteral("Web export: the preview could not be drawn"));
        return failedBecause(ExportProblems::NotMade, QStringLiteral("the preview could not be drawn."));
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
    // One answer, shared by the roads that may give it.
    auto answer = std::make_shared<Completion>(std::move(completion));
    const auto finish = [answer](const Error& failure) { (*answer)(Status(failure)); };
    if (!root || !url.isLocalFile() || url.toLocalFile().isEmpty()) {
        Log::assertionFailure(QStringLiteral("Web export without a root or a local destination"));
        finish(!root ? ExportProblems::make(ExportProblems::NothingToExport, url.toString(),
                                            QStringLiteral("there are no ideas to export."))
                     : ExportProblems::notALocalFile(url));
        return;
    }
    const std::optional<ExportSite> site = makeSiteFolders();
    if (!site) {
        Log::error(QStringLiteral("Web export: the temporary folders cannot be made"));
        finish(ExportProblems::make(ExportProblems::NotWritten, url.toLocalFile(),
                                    QStringLiteral("the temporary folders for the site cannot be made.")));
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
                         return failedBecause(
                             ExportProblems::NotMade,
                             QStringLiteral("the map's data or pictures could not be written."));
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
                     Error packing;
                     if (ZipWrapper::createZipFileAtPathWithContentsOfDirectory(destination, top.path(),
                                                                                false, QString(), &packing))
                         return PromiseOutcome();
                     Log::error(
                         QStringLiteral("Web export: the archive %1 could not be written").arg(destination));
                     return PromiseOutcome::rejection(packing);
                 })
        ->thenOnMain(
            [answer](const QVariant&) {
                (*answer)(Status::success());
                return PromiseOutcome();
            },
            [answer, destination](const Error& reason) {
                (*answer)(exportFailure(destination, reason));
                return PromiseOutcome();
            });
}

} // namespace corvex
