#include "platform/core/NativeFileName.h"
#include "platform/core/RegularFile.h"
#include "platform/core/SaveFile.h"
#include "tests/support/TestEnvironment.h"

#include <gtest/gtest.h>
#include <limits>

namespace corvex::test {

TEST(NativeFileName, EveryByteStringComesBackAndOnlyWhatIsNotUtf8IsShownAsReplaced)
{
    struct Case
    {
        const char* name;
        QByteArray bytes;
        int replaced; // characters shown as U+FFFD
    };
    const Case cases[] = {
        {"ASCII", "/home/u/Map.corvex", 0},
        {"UTF-8 of two, three and four bytes", "/caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80", 0},
        {"a Latin-1 byte", "/caf\xE9.corvex", 1},
        {"a lone continuation byte",
         "/a\x80"
         "b",
         1},
        {"an overlong slash",
         "/a\xC0\xAF"
         "b",
         2},
        {"a surrogate spelled in UTF-8", "/\xED\xA0\x80", 3},
        {"past U+10FFFF", "/\xF4\x90\x80\x80", 4},
        {"a sequence cut at the end", "/a\xE2\x82", 2},
        {"an escape's own code point spelled in UTF-8", "/\xF4\x8F\xBE\x80", 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString decoded = NativeFileName::decode(c.bytes);
        EXPECT_EQ(NativeFileName::encode(decoded), c.bytes);
        EXPECT_EQ(NativeFileName::hasEscapes(decoded), c.replaced > 0);
        EXPECT_EQ(NativeFileName::forDisplay(decoded).count(QChar(QChar::ReplacementCharacter)), c.replaced);
        if (c.replaced == 0) {
            EXPECT_EQ(decoded, QString::fromUtf8(c.bytes));
        }
    }
}

TEST(NativeFileName, AFileWhoseNameIsNotUtf8IsSavedAndReadUnderItsOwnBytes)
{
    const QByteArray folder = testDir().toUtf8();
    const QString path = NativeFileName::decode(folder + "/caf\xE9.corvex");
    ASSERT_TRUE(SaveFile::writeAtomically(path, "written", SaveFile::Kind::UserFile).ok());
    FILE* file = ::fopen(folder + "/caf\xE9.corvex", "rb");
    ASSERT_NE(file, nullptr) << "not under its own bytes";
    ::fclose(file);
    const auto read = RegularFile::open(path, std::numeric_limits<qint64>::max());
    ASSERT_TRUE(read.ok()) << read.error().toString().toStdString();
    EXPECT_EQ(read.value().size(), 7);
}

} // namespace corvex::test
