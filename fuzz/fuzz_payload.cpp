// IdeaDocumentDataObject::readFromSomeData on arbitrary bytes (zlib and JSON, classes from the
// registry, depth limits). Whatever reads must have a root idea whose every read survives
// (links may run in cycles or point nowhere), must write in both forms, and must settle: the
// tree read back from our own output writes the same JSON objects again.

#include "fuzz/FuzzSupport.h"
#include "model/Idea.h"
#include "model/IdeaDocumentDataObject.h"
#include "platform/core/JsonText.h"
#include "platform/core/Log.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

using corvex::IdeaDocumentDataObject;
using corvex::IdeaPtr;

[[noreturn]] void fail(const char* what, const QByteArray& detail = QByteArray())
{
    std::fprintf(stderr, "fuzz_payload: %s %s\n", what, detail.left(400).constData());
    std::abort();
}

// Every read a screen or exporter makes of an idea; through links these follow the chain.
void readEverything(const corvex::IdeaDocumentDataObjectPtr& payload)
{
    qint64 visited = 0;
    payload->idea()->traverseNaturally(
        [&](const IdeaPtr& idea, qint64) {
            ++visited;
            (void)idea->text();
            (void)idea->URL();
            (void)idea->note();
            (void)idea->color();
            (void)idea->iconImage();
            (void)idea->colorTheme();
            (void)idea->exportTitle();
            (void)idea->exportFileNameForType(QStringLiteral("corvex"));
            (void)(idea->hasText() || idea->hasNote() || idea->hasColor() || idea->hasIcon() ||
                   idea->hasURL());
            (void)idea->linkedIdea();
            (void)idea->description();
        },
        0);
    if (visited != payload->idea()->calculateWholeTreeSize())
        fail("the walk and the size disagree");
    (void)payload->idea()->attachments();
}

// The JSON objects of a written payload, pictures left out: PNG pixels may settle one
// generation later than the rest (premultiplied alpha), which is no coding matter.
QByteArray withoutPictures(const QByteArray& json)
{
    auto parsed = corvex::JsonText::parse(json);
    if (!parsed.ok())
        fail("our own output does not parse:", json);
    corvex::Value root = parsed.value();
    std::vector<corvex::Value*> pending{&root};
    while (!pending.empty()) {
        corvex::Value* value = pending.back();
        pending.pop_back();
        if (auto* dictionary = value->editDictionary()) {
            dictionary->remove(QStringLiteral("image"));
            for (qsizetype i = 0; i < dictionary->size(); ++i)
                pending.push_back(dictionary->find(dictionary->entryAt(i).first));
        } else if (auto* array = value->editArray()) {
            for (corvex::Value& element : *array)
                pending.push_back(&element);
        }
    }
    return corvex::JsonText::serialize(root);
}

QByteArray write(const IdeaDocumentDataObject& payload)
{
    const auto json = payload.jsonData();
    if (!json.ok())
        fail("a read payload does not write:", json.error().toString().toUtf8());
    return json.value();
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
    const auto payload = IdeaDocumentDataObject::readFromSomeData(input);
    if (!payload)
        return 0;
    if (!payload->idea())
        fail("a payload without a root idea was read");
    if (payload->fileFormatVersion() < 1 || payload->fileFormatVersion() > 4)
        fail("a payload of another version was read");
    readEverything(payload);
    (void)payload->idea()->debugDescription();

    // Generation 1 may normalise (inferred types, values out of range); from then on the
    // tree and the objects stay the same.
    const QByteArray first = write(*payload);
    const auto second = IdeaDocumentDataObject::readFromJSONData(first);
    if (!second)
        fail("our own output does not read:", first);
    const QByteArray secondJson = write(*second);
    const auto third = IdeaDocumentDataObject::readFromJSONData(secondJson);
    if (!third)
        fail("our own output does not read:", secondJson);
    if (third->idea()->debugDescription() != second->idea()->debugDescription())
        fail("the tree changes when read back:", secondJson);
    if (withoutPictures(write(*third)) != withoutPictures(secondJson))
        fail("writing the read-back tree differs:", secondJson);

    const auto compressed = payload->corvexData();
    if (!compressed.ok())
        fail("a read payload does not compress");
    const auto fromCompressed = IdeaDocumentDataObject::readFromSomeData(compressed.value());
    if (!fromCompressed ||
        fromCompressed->idea()->calculateWholeTreeSize() != second->idea()->calculateWholeTreeSize())
        fail("the compressed form reads differently");
    return 0;
}
