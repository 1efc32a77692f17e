// OPMLParser on arbitrary bytes (XML, encodings, entities, depth). Whatever reads must stay
// within the model's depth and the entity budget, must be exportable as OPML, text and HTML,
// and must settle: our OPML of the read tree is well-formed XML, reads back to a tree whose
// OPML is the same text again.

#include "formats/OPMLParser.h"
#include "formats/OPMLWriter.h"
#include "formats/TextExporter.h"
#include "model/Idea.h"
#include "platform/core/Log.h"

#include <QXmlStreamReader>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

using corvex::Idea;
using corvex::IdeaPtr;
using corvex::OPMLParser;
using corvex::OPMLWriter;

[[noreturn]] void fail(const char* what, const QByteArray& detail = QByteArray())
{
    std::fprintf(stderr, "fuzz_opml: %s %s\n", what, detail.left(400).constData());
    std::abort();
}

void checkWellFormed(const QByteArray& data)
{
    QXmlStreamReader reader(data);
    while (!reader.atEnd())
        reader.readNext();
    if (reader.hasError())
        fail("our OPML is not well-formed:", reader.errorString().toUtf8() + " in " + data);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // Damaged inputs are logged one line each; the fuzzer needs none of them.
    corvex::Log::setSink([](corvex::LogLevel, const QString&) {});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray input = QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
    OPMLParser parser;
    const IdeaPtr root = parser.parseIdeaFromOPMLData(input);
    if (!root)
        return 0;
    if (root->parent())
        fail("the root has a parent");
    if (root->subtreeDepth() > Idea::MaxDepth)
        fail("a tree deeper than the maximum was read");
    qint64 characters = 0;
    root->traverseNaturally(
        [&](const IdeaPtr& idea, qint64) {
            if (idea->ideaType() != corvex::IdeaTypeText)
                fail("a read idea is not a text idea");
            characters += idea->text().size() + idea->note().size();
        },
        0);
    if (characters > OPMLParser::EntityExpansionBudget + qint64(size))
        fail("entities expanded beyond the budget");

    (void)corvex::TextExporter::ideaAsTextOutline(root, true);
    (void)corvex::TextExporter::ideaAsNestedHTMLList(root, true);

    const QByteArray first = OPMLWriter::ideaAsOPML(root).toUtf8();
    checkWellFormed(first);
    const IdeaPtr again = parser.parseIdeaFromOPMLData(first);
    if (!again)
        fail("our own OPML does not read:", first);
    const QByteArray second = OPMLWriter::ideaAsOPML(again).toUtf8();
    if (second != first)
        fail("the tree changes when read back:", first);
    return 0;
}
