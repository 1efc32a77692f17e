#pragma once

// Shared pieces of the web export tests: the payload fixture's tree, an export run to its
// end, attachments from a table, and the archive unpacked with Info-ZIP's unzip.

#include "export/WebExporter.h"
#include "model/IdeaDocumentDataObject.h"
#include "model/ObjectID.h"
#include "platform/core/MainQueue.h"
#include "tests/support/CompletionRecorder.h"
#include "tests/support/HelperProcess.h"
#include "tests/support/RunUntil.h"
#include "tests/support/TestEnvironment.h"
#include "tests/support/TestFiles.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QStandardPaths>
#include <functional>
#include <gtest/gtest.h>
#include <optional>

namespace corvex::test {

inline QString webTestDataDir()
{
    return QFileInfo(QStringLiteral(__FILE__)).absoluteDir().absoluteFilePath(QStringLiteral("../data"));
}

// The payload fixture with every idea type.
inline IdeaPtr allTypesTree()
{
    const auto payload = IdeaDocumentDataObject::readFromJSONData(
        readFile(webTestDataDir() + QStringLiteral("/payload/all_types.json")));
    return payload ? payload->idea() : nullptr;
}

// Attachments by identifier string; a missing one answers no data.
inline WebExportFiles::AttachmentSource attachmentTable(QHash<QString, QByteArray> table)
{
    return [table](const ObjectID& attachment, quint64, WebExportFiles::AttachmentData completion) {
        // The completion posts its answer to the main queue itself.
        completion(table.value(attachment.asString()));
    };
}

// The fixture's two attachments.
inline WebExportFiles::AttachmentSource allTypesAttachments()
{
    return attachmentTable(
        {{QStringLiteral("3f786850e387550fdab836ed7e6dc881de23001b.png"), QByteArray("big picture")},
         {QStringLiteral("89e6c98d92887913cadf06b2adb97f26cde4849b.png"), QByteArray("page picture")}});
}

// The export's outcome; nullopt when the completion never came. The recorder checks that it
// came once, on the main thread and not inside the call.
inline std::optional<Status> exportWithStatus(const IdeaPtr& root, quint64 style, const QString& destination,
                                              const WebExportFiles::AttachmentSource& source)
{
    CompletionRecorder recorder;
    std::optional<Status> outcome;
    WebExporter::saveWebExportFrom(
        root, 0, style, destination.isEmpty() ? QUrl() : QUrl::fromLocalFile(destination),
        recorder.expect<const Status&>(
            QStringLiteral("web export"),
            std::function<void(const Status&)>([&outcome](const Status& written) { outcome = written; })),
        source);
    EXPECT_TRUE(recorder.waitAll(30));
    return outcome;
}

// Whether the export worked; nullopt when the completion never came.
inline std::optional<bool> exportNow(const IdeaPtr& root, quint64 style, const QString& destination,
                                     const WebExportFiles::AttachmentSource& source)
{
    const std::optional<Status> outcome = exportWithStatus(root, style, destination, source);
    return outcome ? std::optional<bool>(outcome->ok()) : std::nullopt;
}

inline bool haveProgram(const char* name)
{
    return !QStandardPaths::findExecutable(QString::fromLatin1(name)).isEmpty();
}

// The archive unpacked by Info-ZIP's unzip into a fresh folder; empty on failure.
inline QString unpackWithUnzip(const QString& zip, const QString& name)
{
    const QString folder = testDir() + QStringLiteral("/unpacked-") + name;
    QDir().mkpath(folder);
    const ProgramRun run =
        runProgramToEnd(QStringLiteral("unzip"), {QStringLiteral("-q"), zip, QStringLiteral("-d"), folder});
    EXPECT_TRUE(run.ran && run.exitCode == 0) << run.output.constData();
    return run.ran && run.exitCode == 0 ? folder : QString();
}

// Every file below the folder, by path relative to it, sorted.
inline QStringList filesBelow(const QString& folder)
{
    QStringList found;
    QStringList pending{QString()};
    while (!pending.isEmpty()) {
        const QString relative = pending.takeLast();
        const QDir dir(relative.isEmpty() ? folder : folder + QLatin1Char('/') + relative);
        for (const QFileInfo& info :
             dir.entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot | QDir::System)) {
            const QString path =
                relative.isEmpty() ? info.fileName() : relative + QLatin1Char('/') + info.fileName();
            if (info.isDir() && !info.isSymLink())
                pending.append(path);
            else
                found.append(path);
        }
    }
    found.sort();
    return found;
}

} // namespace corvex::test
