// Pictures keep the bytes they were read with: a save writes a stored document's pictures
// back byte for byte instead of encoding them again, and a changed picture is encoded once
// however often it is saved.

#include "platform/core/Zlib.h"
#include "platform/gfx/ImageCodec.h"
#include "tests/storage/IdeaDocumentTestSupport.h"
#include "tests/support/VirtualScheduler.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>

using namespace corvex;
using namespace corvex::test;

namespace {

void collectStoredPictures(const QJsonObject& idea, std::vector<QByteArray>& pictures)
{
    if (idea.contains(QStringLiteral("image")))
        pictures.push_back(QByteArray::fromBase64(idea.value(QStringLiteral("image")).toString().toLatin1()));
    for (const QJsonValue child : idea.value(QStringLiteral("ideas")).toArray())
        collectStoredPictures(child.toObject(), pictures);
}

// The "image" bytes of a stored document file's ideas, in pre-order, read from its text
// (not through the model, which would answer the bytes it read).
std::vector<QByteArray> storedPictures(const QString& path)
{
    const auto text = Zlib::inflate(fileBytes(path));
    EXPECT_TRUE(text.ok()) << path.toStdString();
    const QJsonObject payload = QJsonDocument::fromJson(text.valueOr(QByteArray())).object();
    std::vector<QByteArray> pictures;
    collectStoredPictures(payload.value(QStringLiteral("ideaDocumentDataObject"))
                              .toObject()
                              .value(QStringLiteral("idea"))
                              .toObject(),
                          pictures);
    return pictures;
}

// A stored document of 40 factory ideas, 5 of them with pictures, the last of which is
// damaged (its header whole, its pixel data cut short); answers its file and the pictures'
// bytes in pre-order.
QString writePictureDocument(std::vector<QByteArray>& pictures)
{
    auto tree = makeDocumentTree(40);
    addPictures(tree, 5);
    for (auto idea = tree.rbegin(); idea != tree.rend(); ++idea) {
        if (!idea->picture.isEmpty()) {
            idea->picture.chop(idea->picture.size() / 2);
            break;
        }
    }
    const QString path = documentPath(QStringLiteral("pictures.crvx"));
    const auto stored = IdeaDocumentDataObject::storedForm(makePayloadJson(tree), false);
    EXPECT_TRUE(stored.ok());
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(stored.value());
    file.close();
    pictures = storedPictures(path);
    EXPECT_EQ(pictures.size(), 5u);
    return path;
}

IdeaPtr firstPictureIdea(const IdeaPtr& root)
{
    IdeaPtr found;
    root->traverseNaturally(
        [&found](const IdeaPtr& idea, qint64) {
            if (!found && idea->image().hasImage())
                found = idea;
        },
        0);
    return found;
}

} // namespace

TEST(DocumentPictures, APictureReadFromADocumentIsSavedBackByteForByte)
{
    ScopedVirtualTime time;
    std::vector<QByteArray> written;
    const QString path = writePictureDocument(written);
    ASSERT_FALSE(written.empty());
    const QImage decoded = ImageCodec::decodePNG(written.front());
    ASSERT_FALSE(decoded.isNull());
    ASSERT_NE(ImageCodec::encodePNG(decoded), written.front())
        << "an encoding of the pixels would give other bytes, so the save must not encode";

    auto document = IdeaDocument::initWithFileName(QStringLiteral("pictures.crvx"), 0);
    const quint64 decodes = ImageCodec::decodeCount();
    const qint64 token = openDocument(*document, fileUrl(path));
    ASSERT_GT(token, 0);
    ASSERT_TRUE(updateDocument(*document, token));
    EXPECT_EQ(ImageCodec::decodeCount(), decodes) << "opening and saving decode no picture";
    const std::vector<QByteArray> saved = storedPictures(path);
    ASSERT_EQ(saved.size(), written.size());
    for (std::size_t i = 0; i < saved.size(); ++i)
        EXPECT_TRUE(saved[i] == written[i]) << "picture " << i << " was written anew";

    // The damaged picture, once drawn, shows nothing and is still saved as it was read.
    const auto damagedBytes = std::find_if(written.begin(), written.end(), [](const QByteArray& bytes) {
        return ImageCodec::decodePNG(bytes).isNull();
    });
    ASSERT_NE(damagedBytes, written.end());
    IdeaPtr damaged;
    document->idea()->traverseNaturally(
        [&](const IdeaPtr& idea, qint64) {
            if (idea->image().pngData() == *damagedBytes)
                damaged = idea;
        },
        0);
    ASSERT_NE(damaged, nullptr);
    EXPECT_TRUE(damaged->image().cgImage().isNull());
    ASSERT_TRUE(updateDocument(*document, token));
    EXPECT_TRUE(storedPictures(path) == written);
    closeDocument(*document, token);
}

TEST(DocumentPictures, AChangedPictureIsEncodedOnceForAllItsSaves)
{
    ScopedVirtualTime time;
    std::vector<QByteArray> written;
    const QString path = writePictureDocument(written);
    auto document = IdeaDocument::initWithFileName(QStringLiteral("pictures.crvx"), 0);
    const qint64 token = openDocument(*document, fileUrl(path));
    ASSERT_GT(token, 0);
    const IdeaPtr idea = firstPictureIdea(document->idea());
    ASSERT_NE(idea, nullptr);

    QImage replacement(320, 200, QImage::Format_RGBA8888_Premultiplied);
    replacement.fill(QColor(30, 160, 90));
    idea->updateImage(QVImage(replacement), ObjectID());
    ASSERT_TRUE(updateDocument(*document, token));
    const QByteArray encoded = idea->image().pngData();
    const std::vector<QByteArray> first = storedPictures(path);
    ASSERT_TRUE(updateDocument(*document, token));
    const std::vector<QByteArray> second = storedPictures(path);

    ASSERT_EQ(first.size(), written.size());
    EXPECT_TRUE(first.front() != written.front()) << "the changed picture is stored, not the one read";
    EXPECT_TRUE(first.front() == encoded);
    EXPECT_TRUE(second.front() == encoded);
    EXPECT_EQ(idea->image().pngData().constData(), encoded.constData())
        << "the second save used the first save's encoding";
    const QVImage back = QVImage::initWithPNGData(second.front());
    EXPECT_EQ(back.pixelSize(), Size(Idea::SmallPictureSize, Idea::SmallPictureSize));
    for (std::size_t i = 1; i < written.size(); ++i)
        EXPECT_TRUE(second[i] == written[i]) << "picture " << i << " was written anew";
    closeDocument(*document, token);
}
