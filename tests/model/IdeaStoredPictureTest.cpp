// Pictures read from a document stay the bytes they were stored as until something draws
// them: reading decodes none, by any reader, writing gives the very bytes back, and a copy
// of an idea shares its picture's one decode.

#include "model/Idea.h"
#include "platform/core/Zlib.h"
#include "platform/gfx/ImageCodec.h"
#include "tests/factory/DocumentFactory.h"
#include "tests/model/ModelTestSupport.h"

#include <QByteArray>
#include <algorithm>
#include <functional>
#include <gtest/gtest.h>
#include <vector>

using namespace corvex;
using test::decodedByTheDecoder;
using test::readByTheTextReader;
using test::written;

namespace {

std::vector<IdeaPtr> pictureIdeas(const IdeaPtr& root)
{
    return test::ideasWhere(root, [](const Idea& idea) { return idea.image().hasImage(); });
}

} // namespace

TEST(IdeaStoredPicture, ReadingDecodesNoPictureAndWritingGivesItsBytesBack)
{
    // A real-shape tree of 1,500 ideas holds 3 pictures, whose bytes Qt's encoder would not make.
    const auto tree = test::makeRealShapeTree(1500);
    std::vector<QByteArray> stored;
    for (const auto& idea : tree)
        if (!idea.picture.isEmpty())
            stored.push_back(idea.picture);
    ASSERT_EQ(stored.size(), 3u);
    const QByteArray json = test::makePayloadJson(tree);
    const struct
    {
        const char* what;
        std::function<IdeaPtr()> read;
    } roads[] = {
        {"the text reader", [&] { return readByTheTextReader(json); }},
        {"the compressed form", [&] { return readByTheTextReader(Zlib::compress(json).value()); }},
        {"the older decoder", [&] { return decodedByTheDecoder(json); }},
    };
    for (const auto& road : roads) {
        SCOPED_TRACE(road.what);
        const quint64 before = ImageCodec::decodeCount();
        const IdeaPtr root = road.read();
        ASSERT_TRUE(root);
        const std::vector<IdeaPtr> pictures = pictureIdeas(root);
        ASSERT_EQ(pictures.size(), stored.size());
        const QByteArray again = written(root);
        EXPECT_EQ(ImageCodec::decodeCount(), before) << "neither reading nor writing decodes";
        std::vector<QByteArray> read;
        for (const IdeaPtr& picture : pictures) {
            EXPECT_EQ(picture->image().pixelSize(), Size(64, 64));
            EXPECT_FALSE(picture->image().isDecoded());
            read.push_back(picture->image().pngData());
        }
        std::sort(read.begin(), read.end());
        std::sort(stored.begin(), stored.end());
        EXPECT_EQ(read, stored);
        for (std::size_t i = 0; i < stored.size(); ++i)
            EXPECT_TRUE(again.contains(stored[i].toBase64())) << "picture " << i << " was written anew";
    }
}

TEST(IdeaStoredPicture, DrawingOnePictureDecodesItAloneOnceForItsCopies)
{
    const IdeaPtr root = readByTheTextReader(test::makePayloadJson(test::makeRealShapeTree(1500)));
    ASSERT_TRUE(root);
    const std::vector<IdeaPtr> pictures = pictureIdeas(root);
    ASSERT_EQ(pictures.size(), 3u);
    const IdeaPtr copy = root->deepCopyWithNewIdentifiersNoExternalLinks();
    const quint64 before = ImageCodec::decodeCount();
    EXPECT_FALSE(pictures[1]->image().cgImage().isNull());
    EXPECT_EQ(ImageCodec::decodeCount(), before + 1);
    EXPECT_FALSE(pictures[0]->image().isDecoded());
    EXPECT_FALSE(pictures[2]->image().isDecoded());
    const std::vector<IdeaPtr> copied = pictureIdeas(copy);
    ASSERT_EQ(copied.size(), 3u);
    EXPECT_TRUE(copied[1]->image().isDecoded()) << "the copy shares the decoded picture";
    EXPECT_EQ(copied[1]->image().cgImage().constBits(), pictures[1]->image().cgImage().constBits());
    EXPECT_EQ(ImageCodec::decodeCount(), before + 1);
}
