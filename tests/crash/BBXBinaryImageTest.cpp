#include "crash/runtime/BBXBinaryImages.h"
#include "crash/runtime/BBXFileReader.h"
#include "platform/core/ElfImage.h"
#include "platform/core/SerialQueue.h"
#include "tests/crash/CrashTestSupport.h"

#include <gtest/gtest.h>

#include <QFileInfo>
#include <atomic>
#include <dlfcn.h>
#include <memory>
#include <thread>

using namespace corvex;
using namespace corvex::test;

namespace {

BBXBinaryImageRuntimeNode crashTestNode(std::uint64_t base, std::uint64_t size)
{
    BBXBinaryImageRuntimeNode node;
    node.baseAddress = base;
    node.size = size;
    node.ehFrame = base + 16;
    return node;
}

// Image tracking for the scope, into "<test dir>/binary_images.bbxrecord".
class ScopedImageTracking
{
public:
    ScopedImageTracking()
        : mPath(crashTestPath("binary_images.bbxrecord")), mQueue("com.loomworks.blackbox.mac.binary-images"),
          mState(std::make_unique<BBXBinaryImageState>())
    {
        mOk = BBXBinaryImageInit(mState.get(), mPath.constData(), &mQueue);
    }
    ~ScopedImageTracking() { BBXBinaryImageStop(); }
    ScopedImageTracking(const ScopedImageTracking&) = delete;
    ScopedImageTracking& operator=(const ScopedImageTracking&) = delete;

    bool ok() const { return mOk; }
    // The lines written so far (after the queue has written them).
    ValueArray lines()
    {
        mQueue.sync([] {});
        return BBXFileReadSectionsFromData(readFile(QFile::decodeName(mPath)));
    }

private:
    QByteArray mPath;
    SerialQueue mQueue;
    std::unique_ptr<BBXBinaryImageState> mState;
    bool mOk = false;
};

QString crashUuidText(const QByteArray& uuid)
{
    return QString::fromLatin1(uuid.toHex());
}

int crashTestImageFunction()
{
    return 1;
}

} // namespace

TEST(BBXBinaryImageTable, FindsAnAddressOnlyInsideALoadedImage)
{
    auto table = std::make_unique<BBXBinaryImageTable>();
    BBXBinaryImageTableClear(table.get());
    ASSERT_TRUE(BBXBinaryImageTableAdd(table.get(), crashTestNode(0x10000, 0x1000)));
    BBXBinaryImageRuntimeNode node;
    EXPECT_TRUE(BBXBinaryImageTableFind(table.get(), 0x10000, &node));
    EXPECT_EQ(node.ehFrame, 0x10010u);
    EXPECT_TRUE(BBXBinaryImageTableFind(table.get(), 0x10fff, &node));
    EXPECT_FALSE(BBXBinaryImageTableFind(table.get(), 0x11000, &node)) << "base + size is outside";
    EXPECT_FALSE(BBXBinaryImageTableFind(table.get(), 0xffff, &node));
    EXPECT_FALSE(BBXBinaryImageNodeHasUnwindInfo(&node));

    ASSERT_TRUE(BBXBinaryImageTableRemove(table.get(), 0x10000));
    EXPECT_FALSE(BBXBinaryImageTableFind(table.get(), 0x10000, &node));
    EXPECT_FALSE(BBXBinaryImageTableRemove(table.get(), 0x10000));

    // Every slot in use: the next load is not tracked; a freed slot serves again.
    for (std::uint64_t i = 0; i < BBXBinaryImageSlotCount; ++i)
        ASSERT_TRUE(BBXBinaryImageTableAdd(table.get(), crashTestNode(0x100000 + i * 0x1000, 0x1000)));
    EXPECT_FALSE(BBXBinaryImageTableAdd(table.get(), crashTestNode(0x900000, 0x1000)));
    ASSERT_TRUE(BBXBinaryImageTableRemove(table.get(), 0x100000 + 7 * 0x1000));
    EXPECT_TRUE(BBXBinaryImageTableAdd(table.get(), crashTestNode(0x900000, 0x1000)));
    EXPECT_TRUE(BBXBinaryImageTableFind(table.get(), 0x900800, &node));
}

TEST(BBXBinaryImages, SetUpRecordsEveryLoadedImageWithItsBuildId)
{
    const auto& executable = ElfImage::currentExecutable();
    ASSERT_TRUE(executable.ok());
    ScopedImageTracking tracking;
    ASSERT_TRUE(tracking.ok());

    BBXBinaryImageRuntimeNode node;
    const auto code = reinterpret_cast<std::uint64_t>(&crashTestImageFunction);
    ASSERT_TRUE(BBXBinaryImageSafeFindImageForAddress(code, &node));
    EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(node.uuid), 16), executable.value().uuid);
    EXPECT_LT(node.baseAddress, node.ehFrameHdr);
    EXPECT_LT(node.ehFrameHdr, node.baseAddress + node.size);
    EXPECT_NE(node.ehFrame, 0u);

    const ValueArray lines = tracking.lines();
    ASSERT_GE(lines.size(), 3u);
    bool sawExecutable = false;
    for (const Value& line : lines) {
        const Value& load = line.toDictionary().value(QStringLiteral("load"));
        ASSERT_TRUE(load.isDictionary());
        EXPECT_EQ(load.toDictionary().keys(), (QStringList{QStringLiteral("path"), QStringLiteral("uuid"),
                                                           QStringLiteral("base"), QStringLiteral("size")}));
        if (load.toDictionary().value(QStringLiteral("base")).toInteger() == qint64(node.baseAddress)) {
            sawExecutable = true;
            EXPECT_EQ(load.toDictionary().value(QStringLiteral("path")).toString(),
                      QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath());
            EXPECT_EQ(load.toDictionary().value(QStringLiteral("uuid")).toString(),
                      crashUuidText(executable.value().uuid));
        }
    }
    EXPECT_TRUE(sawExecutable);

    BBXBinaryImageDetails details;
    ASSERT_TRUE(BBXBinaryImageFindImageForUUID(crashUuidText(executable.value().uuid).toLatin1().constData(),
                                               &details));
    EXPECT_EQ(details.node.baseAddress, node.baseAddress);
    EXPECT_FALSE(BBXBinaryImageFindImageForUUID("00000000000000000000000000000000", &details));

    const QByteArray metadata = crashTestPath("metadata.bbxrecord");
    BBXFile file;
    ASSERT_TRUE(BBXFileInitWithPathMode(&file, metadata.constData(), false, false));
    EXPECT_TRUE(BBXBinaryImageRecordMainExecutable(&file));
    ASSERT_TRUE(BBXFileClose(&file));
    EXPECT_EQ(
        readFile(QFile::decodeName(metadata)),
        "{\"executable\":{\"architecture\":\"" + executable.value().architecture.toUtf8() + "\",\"uuid\":\"" +
            executable.value().uuid.toHex() + "\",\"base\":" + QByteArray::number(qint64(node.baseAddress)) +
            ",\"size\":" + QByteArray::number(qint64(node.size)) +
            ",\"encrypted\":false,\"minimum_sdk_version\":\"0.0.0\",\"built_sdk_version\":\"0.0.0\"}}\n");
}

TEST(BBXBinaryImages, LookupsDuringLoadsAndUnloadsAnswerTheLibraryOrNothing)
{
    const auto probe = ElfImage::readFile(QStringLiteral(CORVEX_CRASH_IMAGE_PROBE));
    ASSERT_TRUE(probe.ok());
    ScopedImageTracking tracking;
    ASSERT_TRUE(tracking.ok());

    std::atomic<std::uint64_t> published{0};
    std::atomic<bool> done{false};
    std::atomic<int> found{0};
    std::atomic<int> wrong{0};
    std::thread lookups([&] {
        while (!done.load()) {
            const std::uint64_t address = published.load();
            BBXBinaryImageRuntimeNode node;
            if (address == 0 || !BBXBinaryImageSafeFindImageForAddress(address, &node))
                continue;
            const bool whole = node.baseAddress <= address && address < node.baseAddress + node.size &&
                               node.ehFrameHdr > node.baseAddress && node.ehFrame != 0 && node.hasUuid &&
                               QByteArray(reinterpret_cast<const char*>(node.uuid), 16) == probe.value().uuid;
            ++(whole ? found : wrong);
        }
    });
    std::uint64_t lastAddress = 0;
    for (int round = 0; round < 100; ++round) {
        void* handle = ::dlopen(CORVEX_CRASH_IMAGE_PROBE, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(handle, nullptr) << ::dlerror();
        lastAddress = reinterpret_cast<std::uint64_t>(::dlsym(handle, "corvexCrashImageProbe"));
        ASSERT_NE(lastAddress, 0u);
        BBXBinaryImageRuntimeNode node;
        ASSERT_TRUE(BBXBinaryImageSafeFindImageForAddress(lastAddress, &node)) << "round " << round;
        published.store(lastAddress);
        for (int spin = 0; spin < 200 && found.load() == 0; ++spin)
            std::this_thread::yield();
        ASSERT_EQ(::dlclose(handle), 0);
    }
    done.store(true);
    lookups.join();
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_GT(found.load(), 0);
    BBXBinaryImageRuntimeNode node;
    EXPECT_FALSE(BBXBinaryImageSafeFindImageForAddress(lastAddress, &node)) << "gone after the last unload";

    int loads = 0;
    int unloads = 0;
    const QString probePath = QFileInfo(QStringLiteral(CORVEX_CRASH_IMAGE_PROBE)).canonicalFilePath();
    for (const Value& line : tracking.lines()) {
        const ValueDictionary& entry = line.toDictionary();
        const bool load = entry.contains(QStringLiteral("load"));
        const ValueDictionary& image =
            entry.value(load ? QStringLiteral("load") : QStringLiteral("unload")).toDictionary();
        if (QFileInfo(image.value(QStringLiteral("path")).toString()).canonicalFilePath() != probePath &&
            image.value(QStringLiteral("path")).toString() != QStringLiteral(CORVEX_CRASH_IMAGE_PROBE))
            continue;
        EXPECT_EQ(image.value(QStringLiteral("uuid")).toString(), crashUuidText(probe.value().uuid));
        ++(load ? loads : unloads);
    }
    EXPECT_EQ(loads, 100);
    EXPECT_EQ(unloads, 100);
}
