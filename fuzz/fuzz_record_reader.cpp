// The record file reader and hex decoding on arbitrary bytes. Record files are read back at
// the next launch from a folder a crashed process wrote, so they are outside bytes. Each
// input is read as a record file (with and without a filter) and hex-decoded; and it is
// written as a plain string into a record line, which must read back as one object however
// the bytes look.

#include "crash/runtime/BBXFile.h"
#include "crash/runtime/BBXFileReader.h"
#include "crash/runtime/BBXMemory.h"
#include "crash/runtime/BBXSDKLog.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace {

using namespace corvex;

[[noreturn]] void fail(const char* what)
{
    std::fprintf(stderr, "fuzz_record_reader: %s\n", what);
    std::abort();
}

QByteArray gFolder;
QByteArray gRecordPath;

void removeFolder()
{
    if (!gRecordPath.isEmpty())
        ::unlink(gRecordPath.constData());
    if (!gFolder.isEmpty())
        ::rmdir(gFolder.constData());
}

void checkHexDecoding(const QByteArray& input)
{
    const QByteArray decoded = BBXFileHexDecodeBytes(input);
    if (decoded.size() > input.size() / 2)
        fail("more bytes than digit pairs");
    if (decoded.toHex() != input.left(2 * decoded.size()).toLower())
        fail("decoded bytes differ from the digits read");
    const qsizetype next = 2 * decoded.size();
    if (next + 1 < input.size() && BBXHexDigitValue(input[next]) < 16 &&
        BBXHexDigitValue(input[next + 1]) < 16)
        fail("decoding stopped before a good pair");
    BBXFileHexDecodeString(QString::fromLatin1(input));
}

void checkWrittenLine(const QByteArray& input)
{
    BBXFile file;
    if (!BBXFileInitWithPathMode(&file, gRecordPath.constData(), false, true))
        fail("cannot open the record file");
    const std::string text = input.toStdString();
    BBXFileWriteSectionStart(&file, text.c_str());
    BBXFileWriteHashStart(&file);
    BBXFileWriteHashEntryNSString(&file, text.c_str(), text.data(), text.size());
    BBXFileWriteHashEntryHexEncodedString(&file, "hex", text.c_str());
    BBXFileWriteHashEnd(&file);
    BBXFileWriteSectionEnd(&file);
    if (!BBXFileClose(&file))
        fail("cannot close the record file");
    QFile written(QFile::decodeName(gRecordPath));
    if (!written.open(QIODevice::ReadOnly))
        fail("cannot read the record file");
    const QByteArray bytes = written.readAll();
    if (bytes.count('\n') != 1 || !bytes.endsWith('\n'))
        fail("a written record is not one line");
    const ValueArray sections = BBXFileReadSectionsFromData(bytes);
    if (sections.size() != 1 || !sections[0].isDictionary() || sections[0].toDictionary().size() != 1)
        fail("a written line does not read back as a one-member object");
    const Value& value = sections[0].toDictionary().begin()->second;
    const QByteArray hex = value.toDictionary().value(QStringLiteral("hex")).toString().toLatin1();
    // The hex text holds the string up to its first NUL, exactly.
    if (BBXFileHexDecodeBytes(hex) != QByteArray(text.c_str()))
        fail("hex does not decode to the bytes written");
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    QByteArray pattern = QFile::encodeName(QDir::tempPath()) + "/fuzz_record_reader-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr)
        fail("cannot make a folder");
    gFolder = pattern;
    gRecordPath = gFolder + "/input.bbxrecord";
    std::atexit(removeFolder);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray input(reinterpret_cast<const char*>(data), qsizetype(size));
    const ValueArray sections = BBXFileReadSectionsFromData(input);
    if (qsizetype(sections.size()) > input.count('\n') + 1)
        fail("more sections than lines");
    std::size_t objects = 0;
    const ValueArray filtered =
        BBXFileReadSectionsFromData(input, [&objects](const Value& section) -> std::optional<Value> {
            if (!section.isDictionary())
                return std::nullopt;
            ++objects;
            return section;
        });
    if (filtered.size() != objects || filtered.size() > sections.size())
        fail("the filter's answers were not what was collected");
    checkHexDecoding(input);
    checkWrittenLine(input.left(4096));
    return 0;
}
