// The payload's own text reader and writer against JSONDecoder and JSONEncoder on arbitrary
// bytes: whatever PayloadTextReader reads (from the whole text, and from a source handing it
// over a few bytes at a time, alike), JSONDecoder reads as the same payload; and for every
// payload JSONDecoder reads, PayloadTextWriter writes the very bytes JSONEncoder writes (or
// both refuse the tree).

#include "fuzz/FuzzSupport.h"
#include "model/Idea.h"
#include "model/IdeaDocumentDataObject.h"
#include "model/JSONDecoder.h"
#include "model/JSONEncoder.h"
#include "model/PayloadTextReader.h"
#include "model/PayloadTextWriter.h"
#include "platform/core/Log.h"
#include "tests/support/PieceSource.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>

namespace {

using corvex::IdeaDocumentDataObject;
using corvex::IdeaDocumentDataObjectPtr;

[[noreturn]] void fail(const char* what, const QByteArray& detail = QByteArray())
{
    std::fprintf(stderr, "fuzz_payload_text: %s %s\n", what, detail.left(400).constData());
    std::abort();
}

// What JSONEncoder writes for the payload; nothing when it refuses.
std::optional<QByteArray> encoded(const IdeaDocumentDataObject& payload)
{
    corvex::JSONEncoder encoder;
    if (!encoder.encodeObject(payload))
        return std::nullopt;
    return encoder.data();
}

// Everything a payload holds, as text.
QByteArray contents(const IdeaDocumentDataObject& payload)
{
    const std::optional<QByteArray> text = encoded(payload);
    return text.value_or(QByteArray("(refused)")) + '\n' + payload.appInstance().toUtf8() +
           (payload.appInstance().isNull() ? "(null)" : "");
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    corvex::fuzz::silenceLog();
    IdeaDocumentDataObject::registerCodables();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray input = corvex::fuzz::inputBytes(data, size);
    const corvex::JSONDecoder::TextOptions options = IdeaDocumentDataObject::textDecodingOptions();

    corvex::JSONDecoder decoder(input, options);
    IdeaDocumentDataObjectPtr decoded;
    if (decoder.isValid()) {
        const corvex::CodedValue value = decoder.decodeObject();
        if (!decoder.failed())
            decoded = value.objectAs<IdeaDocumentDataObject>();
    }

    const IdeaDocumentDataObjectPtr read = corvex::PayloadTextReader::read(input, options.readOptions());
    corvex::test::PieceSource pieces(input, 1 + qsizetype(size % 7));
    const IdeaDocumentDataObjectPtr readInPieces =
        corvex::PayloadTextReader::read(pieces, options.readOptions());
    if (bool(read) != bool(readInPieces))
        fail("the text in pieces reads otherwise than whole");
    if (read) {
        if (!decoded)
            fail("read what the decoder refuses:", input);
        const QByteArray expected = contents(*decoded);
        if (contents(*read) != expected || contents(*readInPieces) != expected)
            fail("read otherwise than the decoder:", input);
    }

    if (decoded) {
        const std::optional<QByteArray> written = corvex::PayloadTextWriter::write(*decoded);
        const std::optional<QByteArray> coded = encoded(*decoded);
        if (written != coded)
            fail("written otherwise than the encoder:", coded.value_or(QByteArray("(refused)")));
    }
    return 0;
}
