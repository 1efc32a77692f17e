#pragma once

// Every writer that replaces a file through SaveFile, behind one call, for the tests that
// treat them alike: injected failures and kills between naming a temporary and the rename.

#include "formats/ExportImport.h"
#include "formats/OPMLWriter.h"
#include "formats/TextExporter.h"
#include "formats/ZipWrapper.h"
#include "model/Idea.h"
#include "storage/AttachmentDocument.h"
#include "storage/IdeaDocument.h"
#include "storage/IdeaProxy.h"
#include "storage/IndexDocument.h"
#include "storage/IndexJSONDocument.h"
#include "tests/storage/IdeaDocumentTestSupport.h"
#include "tests/support/RunUntil.h"
#include "tests/support/TestFiles.h"

#include <QDir>
#include <QFileInfo>
#include <QUrl>
#include <cctype>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace corvex::test::writers {

enum class Writer
{
    Document,      // IdeaDocument::writeToLocalFileAt
    Attachment,    // AttachmentDocument::saveBinaryData
    BinaryIndex,   // IndexDocument::saveBinaryToURL
    JsonIndex,     // IndexJSONDocument::writeToLocalFileAt
    ArchiveExport, // ExportImport::exportDocument
    OpmlExport,    // OPMLWriter::saveToFile
    TextExport,    // TextExporter::writeToFile
    ZipPack,       // ZipWrapper::createZipFileAtPathWithContentsOfDirectory
};

struct WriterCase
{
    Writer writer;
    const char* name;     // for messages and helper arguments
    const char* fileName; // of the file it replaces
};

inline const std::vector<WriterCase>& allWriters()
{
    static const std::vector<WriterCase> writers{
        {Writer::Document, "document", "id1796638500_1.crvx"},
        {Writer::Attachment, "attachment", "0123456789abcdef0123456789abcdef01234567.png"},
        {Writer::BinaryIndex, "binary-index", "index.crvxindex"},
        {Writer::JsonIndex, "json-index", "index.json"},
        {Writer::ArchiveExport, "archive-export", "Export.corvex"},
        {Writer::OpmlExport, "opml-export", "Export.opml"},
        {Writer::TextExport, "text-export", "Export.txt"},
        {Writer::ZipPack, "zip-pack", "Export.zip"},
    };
    return writers;
}

inline void PrintTo(const WriterCase& writer, std::ostream* out)
{
    *out << writer.name;
}

// A test name made of the text's letters and digits, with '_' for anything else.
inline std::string testNameOf(const std::string& text)
{
    std::string name = text;
    for (char& c : name) {
        if (!std::isalnum(static_cast<unsigned char>(c)))
            c = '_';
    }
    return name;
}

inline std::optional<WriterCase> writerNamed(const QString& name)
{
    for (const WriterCase& writer : allWriters()) {
        if (name == QLatin1String(writer.name))
            return writer;
    }
    return std::nullopt;
}

// A tree of about `ideas` ideas whose content depends on `variant`, so successive saves
// differ.
inline IdeaPtr variantTree(int ideas, int variant)
{
    IdeaPtr root = factoryTree(ideas, quint32(variant) + 1);
    if (root)
        root->setText(QStringLiteral("variant %1").arg(variant));
    return root;
}

// Waits for a completion that answers a bool on the main queue (or inside the call).
template <class Start> bool answeredYes(Start start)
{
    std::optional<bool> answer;
    start([&answer](bool ok) { answer = ok; });
    const bool answered = runUntil([&answer] { return answer.has_value(); }, 120);
    return answered && *answer;
}

inline std::vector<IdeaProxyPtr> variantSummaries(int count, int variant)
{
    std::vector<IdeaProxyPtr> proxies;
    for (int i = 0; i < count; ++i) {
        IdeaProxyPtr proxy = IdeaProxy::init();
        proxy->setDocIdentifier(QStringLiteral("iCloud:/id%1_%2.crvx").arg(1796638500 + i).arg(variant));
        proxy->setText(QStringLiteral("Summary %1 of variant %2").arg(i).arg(variant));
        proxy->setItemCount(i + variant);
        proxy->setIdeaType(IdeaTypeText);
        proxy->setDateCreated(QDateTime(QDate(2026, 12, 1), QTime(9, 30), Qt::UTC));
        proxy->setDateModified(QDateTime(QDate(2026, 12, 7), QTime(10, i % 60), Qt::UTC));
        proxies.push_back(proxy);
    }
    return proxies;
}

// The folder a zip pack takes its files from: beside the archive's folder, never inside it.
inline QString zipSourceFor(const QString& path)
{
    return QFileInfo(path).absolutePath() + QStringLiteral("-zip-source");
}

// Replaces the file at `path` once with the writer, with content made from `variant` at
// about `size` (ideas, summaries, kilobytes). Main thread; waits for the answer.
inline bool saveWith(Writer writer, const QString& path, int variant, int size)
{
    const QUrl url = QUrl::fromLocalFile(path);
    switch (writer) {
    case Writer::Document: {
        auto document =
            IdeaDocument::initWithFileName(QFileInfo(path).fileName(), IdeaDocument::LocalFileLocation);
        document->setIdea(variantTree(size, variant));
        return answeredYes([&](auto done) { document->writeToLocalFileAt(url, done); });
    }
    case Writer::Attachment: {
        auto attachment = AttachmentDocument::initWithFileURL(url);
        QByteArray bytes(size * 1024, char('a' + variant % 26));
        return answeredYes([&](auto done) { attachment->saveBinaryData(bytes, done); });
    }
    case Writer::BinaryIndex: {
        auto index = IndexDocument::initWithFileURL(url);
        index->setIdeaProxyList(variantSummaries(size, variant));
        return answeredYes([&](auto done) { index->saveBinaryToURL(url, done); });
    }
    case Writer::JsonIndex: {
        auto index = IndexJSONDocument::initWithFileURL(url);
        index->setIdeaProxyList(variantSummaries(size, variant));
        return answeredYes([&](auto done) { index->writeToLocalFileAt(url, done); });
    }
    case Writer::ArchiveExport: {
        auto document = IdeaDocument::initWithFileName(QString(), IdeaDocument::TemporaryLocation);
        document->setIdea(variantTree(size, variant));
        return answeredYes([&](auto done) {
            ExportImport::exportDocument(document, url,
                                         [done](const Status& written) { done(written.ok()); });
        });
    }
    case Writer::OpmlExport:
        return OPMLWriter::saveToFile(variantTree(size, variant), path).ok();
    case Writer::TextExport:
        return TextExporter::writeToFile(TextExporter::ideaAsTextOutline(variantTree(size, variant), true),
                                         path)
            .ok();
    case Writer::ZipPack: {
        const QString source = zipSourceFor(path);
        QDir(source).removeRecursively();
        writeFile(source + QStringLiteral("/notes.txt"), QByteArray(size * 512, char('a' + variant % 26)));
        writeFile(source + QStringLiteral("/sub/variant.txt"), QByteArray::number(variant));
        return ZipWrapper::createZipFileAtPathWithContentsOfDirectory(path, source);
    }
    }
    return false;
}

// The named temporaries of `fileName` in `folder`.
inline QStringList temporariesOf(const QString& folder, const QString& fileName)
{
    return QDir(folder).entryList({fileName + QStringLiteral(".corvex-tmp-*")},
                                  QDir::Files | QDir::Hidden | QDir::System);
}

} // namespace corvex::test::writers
