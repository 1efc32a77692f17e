// Why a file cannot be opened, as the person who opened it is told: every refusal of the
// importer answers its reason in words about the file, and an outline past the depth bound
// opens to the bound and says so.

#include "formats/ImportProblems.h"
#include "formats/DocumentFormats.h"
#include "formats/ExportImport.h"
#include "model/Idea.h"
#include "platform/core/Zlib.h"
#include "storage/DocumentImporter.h"
#include "tests/factory/DocumentFactory.h"
#include "tests/support/RunUntil.h"
#include "tests/support/TestEnvironment.h"
#include "tests/support/TestFiles.h"

#include <QFile>
#include <QtEndian>
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
    struct Row
    {
        QString name;
        std::optional<QByteArray> bytes; // none: the file is made above, or missing
        ImportProblems::Code code;
        QString reason;
    };
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
         QStringLiteral("The file is larger than 1 GiB, more than Corvex opens.")},
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
