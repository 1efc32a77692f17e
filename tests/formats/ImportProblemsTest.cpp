// Why a file cannot be opened, as the person who opened it is told: every refusal of the
// importer answers its reason in words about the file, an outline past the depth bound
// opens to the bound and says so, and a document past the bounds on ideas is refused in
// every format.

#include "formats/ImportProblems.h"
#include "formats/ArchiveImport.h"
#include "formats/DocumentFormats.h"
#include "formats/ExportImport.h"
#include "model/Idea.h"
#include "platform/core/Zlib.h"
#include "storage/DocumentImporter.h"
#include "tests/factory/DocumentFactory.h"
#include "tests/factory/ScopedIdeaBounds.h"
#include "tests/support/NonRegularFiles.h"
#include "tests/support/RunUntil.h"
#include "tests/support/TestEnvironment.h"
#include "tests/support/TestFiles.h"

#include <QFile>
#include <QtEndian>
#include <functional>
#include <gtest/gtest.h>
#include <optional>

namespace corvex::test {
namespace {

DocumentImporter::Read importedFrom(const QString& path)
{
    std::optional<DocumentImporter::Read> answer;
    ExportImport::importDocument(
        QUrl::fromLocalFile(path), [](const ObjectID&, const QByteArray&, auto stored) { stored(true); },
        [&](const DocumentImporter::Read& read) { answer = read; });
    EXPECT_TRUE(runUntil([&] { return answer.has_value(); }, 30)) << path.toStdString();
    return answer.value_or(DocumentImporter::Read(Error(QStringLiteral("test"), 0)));
}

// A stored payload of ideas nested `levels` deep (a chain), as its JSON text.
QByteArray chainOfLevels(int levels)
{
    return makePayloadJson(makeDocumentTree(levels, 1));
}

QByteArray archiveOf(const QByteArray& payload)
{
    char length[4];
    qToBigEndian<quint32>(quint32(payload.size()), length);
    return ExportImport::Magic + QByteArray(length, 4) + payload;
}

QByteArray compressed(const QByteArray& text)
{
    const auto packed = Zlib::compress(text);
    EXPECT_TRUE(packed.ok());
    return packed.valueOr(QByteArray());
}

// An outline of `ideas` ideas (the head the root), `fanOut` children an idea, breadth first.
QByteArray outlineOf(int ideas, int fanOut)
{
    QByteArray text = "<?xml version=\"1.0\"?><opml><head><title>Root</title></head><body>";
    const std::function<void(int)> write = [&](int k) {
        for (int c = fanOut * k + 1; c <= std::min(fanOut * k + fanOut, ideas - 1); ++c) {
            text += "<outline text=\"Idea " + QByteArray::number(c) + "\">";
            write(c);
            text += "</outline>";
        }
    };
    write(0);
    return text + "</body></opml>";
}

int ideasIn(const Idea& idea)
{
    int ideas = 1;
    for (const IdeaPtr& child : idea.ideas())
        ideas += ideasIn(*child);
    return ideas;
}

} // namespace

TEST(ImportProblems, EachRefusedFileSaysWhyInWordsAboutTheFile)
{
    registerDocumentFormats();
    const QString folder = testDir() + QLatin1Char('/');
    const QByteArray small = compressed(chainOfLevels(3));
    // Larger than the most read whole, yet nothing on disk: a file with a hole.
    const QString huge = folder + QStringLiteral("huge.opml");
    {
        QFile file(huge);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_TRUE(file.resize(ExportImport::MaxWholeFileSize + 1));
    }
    // Archives whose payload or picture is longer than the reader takes, holes again.
    const auto sparseArchive = [&folder](const QString& name, const QByteArray& head, qint64 claimed) {
        char length[4];
        qToBigEndian<quint32>(quint32(claimed), length);
        QFile file(folder + name);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_EQ(file.write(head + QByteArray(length, 4)), head.size() + 4);
        ASSERT_TRUE(file.resize(file.size() + claimed));
    };
    sparseArchive(QStringLiteral("long-payload.corvex"), ExportImport::Magic,
                  ArchiveImport::MaxPayloadChunkLength + 1);
    const QByteArray picture = "3c770baf6b7270062fdda7ea09bdd3949f4f6216.png";
    sparseArchive(QStringLiteral("big-picture.corvex"),
                  archiveOf(small) + QByteArray::fromHex("0000002c") + picture,
                  ArchiveImport::MaxAttachmentLength + 1);
    struct Row
    {
        QString name;
        std::optional<QByteArray> bytes; // none: the file is made above, or missing
        ImportProblems::Code code;
        QString reason;
    };
    const QString longNote =
        QStringLiteral("An idea of the document has a note longer than 2,000,000 characters, "
                       "more than Corvex opens: a note may hold at most 2,000,000.");
    const std::vector<Row> rows = {
        {QStringLiteral("deep.corvex"), archiveOf(compressed(chainOfLevels(Idea::MaxDepth + 1))),
         ImportProblems::TooDeep,
         QStringLiteral("The document's ideas are nested deeper than 1,000 levels, more than Corvex opens.")},
        {QStringLiteral("deeper.corvex"), archiveOf(compressed(chainOfLevels(5000))), ImportProblems::TooDeep,
         QStringLiteral("The document's ideas are nested deeper than 1,000 levels, more than Corvex opens.")},
        {QStringLiteral("cut.corvex"), archiveOf(small.left(small.size() - 8)), ImportProblems::CutOff,
         QStringLiteral("The document's data ends early, as if the file were cut off.")},
        {QStringLiteral("cut-in-a-picture.corvex"),
         archiveOf(small) + QByteArray::fromHex("00000010") + "abc", ImportProblems::CutOff,
         QStringLiteral("The file ends in the middle of a picture it holds, as if it were cut off.")},
        {QStringLiteral("newer.corvex"),
         archiveOf(
             compressed(chainOfLevels(2).replace("\"fileFormatVersion\":4", "\"fileFormatVersion\":9"))),
         ImportProblems::UnreadableVersion,
         QStringLiteral("The document is in a file format this version of Corvex does not read.")},
        {QStringLiteral("notes.txt"), QByteArray("Shopping: milk, bread"), ImportProblems::NotADocument,
         QStringLiteral(
             "The file is neither a Corvex document nor an OPML outline (whose names end in .opml).")},
        {QStringLiteral("empty.opml"), QByteArray("<?xml version=\"1.0\"?><opml><body/></opml>"),
         ImportProblems::NotADocument, QStringLiteral("The file holds no outline.")},
        {QStringLiteral("huge.opml"), std::nullopt, ImportProblems::TooLarge,
         QStringLiteral("The file is larger than 256 MiB, more than Corvex opens.")},
        {QStringLiteral("long-payload.corvex"), std::nullopt, ImportProblems::TooLarge,
         QStringLiteral("The document is larger than 512 MiB once unpacked, more than Corvex opens.")},
        {QStringLiteral("big-picture.corvex"), std::nullopt, ImportProblems::TooLarge,
         QStringLiteral("The file holds a picture larger than 512 MiB, more than Corvex opens.")},
        {QStringLiteral("long-note.corvex"),
         archiveOf(compressed(chainOfLevels(2).replace(
             "\"note\":\"", "\"note\":\"" + QByteArray(IdeaDocumentDataObject::MaxNoteLength, 'n')))),
         ImportProblems::TooLarge, longNote},
        {QStringLiteral("long-note.opml"),
         "<?xml version=\"1.0\"?><opml><body><outline text=\"a\" _note=\"" +
             QByteArray(IdeaDocumentDataObject::MaxNoteLength + 1, 'n') + "\"/></body></opml>",
         ImportProblems::TooLarge, longNote},
        {QStringLiteral("missing.corvex"), std::nullopt, ImportProblems::Unreadable,
         QStringLiteral("The file does not exist.")},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name.toStdString());
        if (row.bytes)
            writeFile(folder + row.name, *row.bytes);
        const DocumentImporter::Read read = importedFrom(folder + row.name);
        ASSERT_FALSE(read.ok());
        EXPECT_EQ(read.error().domain(), ImportProblems::ErrorDomain);
        EXPECT_EQ(read.error().code(), row.code) << read.error().toString().toStdString();
        EXPECT_EQ(read.error().localizedFailureReason(), row.reason);
    }
    // What is no regular file, under the name of each reader: refused with what it is, and
    // the reading worker free again (importedFrom's wait is bounded: a blocked open fails it).
    for (const QString& name : {QStringLiteral("odd.corvex"), QStringLiteral("odd.opml")}) {
        for (const NonRegularFile& special :
             makeNonRegularFiles(folder + name + QStringLiteral("-kinds"), name)) {
            SCOPED_TRACE(std::string(special.kind) + " as " + name.toStdString());
            const DocumentImporter::Read read = importedFrom(special.path);
            ASSERT_FALSE(read.ok());
            EXPECT_EQ(read.error().domain(), ImportProblems::ErrorDomain);
            EXPECT_EQ(read.error().code(), ImportProblems::Unreadable)
                << read.error().toString().toStdString();
            EXPECT_EQ(read.error().localizedFailureReason(), special.reason);
        }
    }
}

TEST(ImportProblems, AnOutlinePastTheDepthBoundOpensToTheBoundAndSaysWhyTheRestIsMissing)
{
    registerDocumentFormats();
    QByteArray opml = "<?xml version=\"1.0\"?><opml><head><title>Deep</title></head><body>";
    for (int level = 0; level < Idea::MaxDepth + 5; ++level)
        opml += "<outline text=\"L\">";
    for (int level = 0; level < Idea::MaxDepth + 5; ++level)
        opml += "</outline>";
    opml += "</body></opml>";
    const QString path = testDir() + QStringLiteral("/deep.opml");
    writeFile(path, opml);
    const DocumentImporter::Read read = importedFrom(path);
    ASSERT_TRUE(read.ok()) << read.error().toString().toStdString();
    EXPECT_EQ(read.value()->idea()->subtreeDepth(), Idea::MaxDepth);
    EXPECT_EQ(
        read.value()->incompleteReading(),
        QStringLiteral("The outline goes deeper than 1,000 levels, more than Corvex shows; the ideas below "
                       "that level are left out."));

    // Read whole: nothing to say.
    const QString plain = testDir() + QStringLiteral("/plain.opml");
    writeFile(plain, "<?xml version=\"1.0\"?><opml><head><title>P</title></head><body><outline text=\"a\"/>"
                     "</body></opml>");
    const DocumentImporter::Read whole = importedFrom(plain);
    ASSERT_TRUE(whole.ok());
    EXPECT_TRUE(whole.value()->incompleteReading().isEmpty());
}

} // namespace corvex::test

namespace corvex::test {

TEST(ImportProblems, EveryFormatOpensADocumentAtTheIdeaBoundsAndRefusesOnePastThem)
{
    registerDocumentFormats();
    const ScopedIdeaBounds bounds(30, 6);
    const QString tooMany =
        QStringLiteral("The document has more than 30 ideas, more than Corvex opens: a document may have at "
                       "most 30 ideas.");
    const QString tooWide = QStringLiteral("An idea of the document has more than 6 ideas directly below it, "
                                           "more than Corvex opens: one idea may have at most 6.");
    // Each format of a tree of `ideas` ideas, `fanOut` children an idea.
    const std::vector<std::pair<QString, std::function<QByteArray(int, int)>>> formats = {
        {QStringLiteral("archive.corvex"),
         [](int ideas, int fanOut) {
             return archiveOf(compressed(makePayloadJson(makeDocumentTree(ideas, fanOut))));
         }},
        {QStringLiteral("older.corvex"),
         [](int ideas, int fanOut) { return compressed(makePayloadJson(makeDocumentTree(ideas, fanOut))); }},
        {QStringLiteral("outline.opml"), &outlineOf},
    };
    struct Case
    {
        int ideas;
        int fanOut;
        std::optional<QString> refusal; // none: it opens whole
    };
    const std::vector<Case> cases = {
        {30, 6, std::nullopt}, {31, 6, tooMany}, {7, 6, std::nullopt}, {8, 7, tooWide}};
    for (const auto& [name, bytesOf] : formats) {
        for (const Case& c : cases) {
            SCOPED_TRACE(QStringLiteral("%1: %2 ideas, %3 an idea")
                             .arg(name)
                             .arg(c.ideas)
                             .arg(c.fanOut)
                             .toStdString());
            const QString path = testDir() + QLatin1Char('/') + name;
            writeFile(path, bytesOf(c.ideas, c.fanOut));
            const DocumentImporter::Read read = importedFrom(path);
            if (!c.refusal) {
                ASSERT_TRUE(read.ok()) << read.error().toString().toStdString();
                EXPECT_EQ(ideasIn(*read.value()->idea()), c.ideas);
                EXPECT_TRUE(read.value()->incompleteReading().isEmpty());
                continue;
            }
            ASSERT_FALSE(read.ok());
            EXPECT_EQ(read.error().domain(), ImportProblems::ErrorDomain);
            EXPECT_EQ(read.error().code(), ImportProblems::TooManyIdeas)
                << read.error().toString().toStdString();
            EXPECT_EQ(read.error().localizedFailureReason(), *c.refusal);
        }
    }
}

} // namespace corvex::test
