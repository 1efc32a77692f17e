// A stored document that cannot be read: the facade answers as it always did (token 0), and
// the presenter's log line and read result carry the payload reader's own reason instead of a
// generic one.
// Identifiers of ideas and names of documents take the same injected clock.

#include "model/Globals.h"
#include "model/Idea.h"
#include "storage/IdeaDocument.h"
#include "storage/IdeaFilePresenter.h"
#include "tests/storage/IdeaDocumentTestSupport.h"
#include "tests/support/LogCapture.h"
#include "tests/support/RunUntil.h"

#include <QFile>
#include <gtest/gtest.h>
#include <optional>

using namespace corvex;

TEST(DocumentReadReason, AnUnreadableVersionAnswersTokenZeroAndTheLogNamesTheVersion)
{
    const QString path = test::documentPath(QStringLiteral("version5.crvx"));
    QByteArray json = test::makePayloadJson(test::makeDocumentTree(4));
    ASSERT_TRUE(json.contains("\"fileFormatVersion\":4"));
    json.replace("\"fileFormatVersion\":4", "\"fileFormatVersion\":5");
    for (const bool compressed : {true, false}) {
        {
            QFile file(path);
            ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
            const QByteArray stored =
                IdeaDocumentDataObject::storedForm(json, !compressed).valueOr(QByteArray());
            ASSERT_EQ(file.write(stored), stored.size());
        }
        test::LogCapture log;
        auto document = IdeaDocument::initWithFileName(QStringLiteral("version5.crvx"), 1);
        EXPECT_EQ(test::openDocument(*document, test::fileUrl(path)), 0) << "compressed " << compressed;
        EXPECT_EQ(document->filePresenter(), nullptr);
        const QStringList lines = log.lines().filter(QStringLiteral("IdeaFilePresenter: cannot read"));
        ASSERT_EQ(lines.size(), 1) << log.lines().join(u'\n').toStdString();
        EXPECT_TRUE(lines.front().contains(path)) << lines.front().toStdString();
        EXPECT_TRUE(lines.front().contains(QStringLiteral("file format version 5")))
            << lines.front().toStdString();
        EXPECT_FALSE(lines.front().contains(QStringLiteral("cannot be decoded")))
            << lines.front().toStdString();

        // The presenter's own read answers the same reason.
        auto presenter = IdeaFilePresenter::initWithFileURL(test::fileUrl(path), document);
        std::optional<IdeaFilePresenter::PayloadResult> read;
        presenter->readPayloadWithCompletionHandler(
            [&](const IdeaFilePresenter::PayloadResult& r) { read = r; });
        ASSERT_TRUE(test::runUntil([&] { return read.has_value(); }));
        ASSERT_FALSE(read->ok());
        EXPECT_TRUE(read->error().toString().contains(QStringLiteral("file format version 5")))
            << read->error().toString().toStdString();
        presenter->close();
    }
}

TEST(DocumentReadReason, IdentifiersAndDocumentNamesTakeTheSameInjectedClock)
{
    const test::ScopedWallClock clock(1796638500.6);
    const QString identifier = Idea::createIdentifier();
    const QString name = IdeaDocument::createNewDocFileName();
    EXPECT_TRUE(identifier.startsWith(QStringLiteral("id1796638501_"))) << identifier.toStdString();
    EXPECT_EQ(identifier.section(u'_', 0, 0), name.section(u'_', 0, 0)) << name.toStdString();
}
