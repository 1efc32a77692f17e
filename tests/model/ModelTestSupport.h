#pragma once

// Shared pieces of the idea tests: ideas with fixed identifiers, children by position, ideas
// read back from the in-memory coder, and trees written and read back by the payload's
// readers.

#include "model/Idea.h"
#include "model/IdeaDocumentDataObject.h"
#include "model/JSONDecoder.h"
#include "model/ModelCodables.h"
#include "tests/model/MemoryCoder.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <cstddef>
#include <functional>
#include <memory>
#include <vector>

namespace corvex::test {

// A text idea with the given identifier.
inline IdeaPtr idea(const char* text, const char* identifier)
{
    return Idea::initWithText(QString::fromUtf8(text), QString::fromUtf8(identifier));
}

// The child at `index` of `parent`.
inline IdeaPtr child(const IdeaPtr& parent, int index)
{
    return parent->ideas().at(std::size_t(index));
}

// The idea a memory record decodes to (the model's classes registered first); null when the
// record holds something else.
inline IdeaPtr decodeIdea(const std::shared_ptr<MemoryRecord>& record)
{
    registerModelCodables();
    return std::dynamic_pointer_cast<Idea>(MemoryCoder::decode(record));
}

// The ideas of the tree, in pre-order, that `wanted` takes.
inline std::vector<IdeaPtr> ideasWhere(const IdeaPtr& root, const std::function<bool(const Idea&)>& wanted)
{
    std::vector<IdeaPtr> found;
    root->traverseNaturally(
        [&](const IdeaPtr& idea, qint64) {
            if (wanted(*idea))
                found.push_back(idea);
        },
        0);
    return found;
}

// The payload text of a tree.
inline QByteArray written(const IdeaPtr& root)
{
    return IdeaDocumentDataObject::payloadForWriting(root, QDateTime(), QDateTime())->jsonData().value();
}

// The tree the older decoder makes of the text, without the text reader before it.
inline IdeaPtr decodedByTheDecoder(const QByteArray& json)
{
    JSONDecoder decoder(json, IdeaDocumentDataObject::textDecodingOptions());
    const auto payload = decoder.decodeObject().objectAs<IdeaDocumentDataObject>();
    return payload ? payload->idea() : nullptr;
}

// The tree a document's reading makes of the bytes (the text, or its compressed form).
inline IdeaPtr readByTheTextReader(const QByteArray& data)
{
    const auto payload = IdeaDocumentDataObject::decodeSomeData(data);
    return payload.ok() ? payload.value()->idea() : nullptr;
}

} // namespace corvex::test
