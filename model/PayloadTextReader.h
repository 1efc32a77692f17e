#pragma once

#include "model/Idea.h"
#include "model/IdeaDocumentDataObject.h"
#include "platform/core/JsonText.h"

#include <QByteArray>
#include <vector>

namespace corvex {

// Reads a document payload straight from its JSON text: each idea is made from its members
// as the text goes by, with nothing in between (no coder, no class registry, no plain
// values), and handed its children whole.
//
// It takes the payloads the encoder writes: the payload's and ideas' own members of the
// expected JSON types or null (null reads as missing), members it does not know (read past
// as JSONDecoder leaves them unread), trees within the model's depth. Anything else (a
// class named by "@class", a member of another type, a repeated member, a list in the old
// wrapped form, a deeper tree, text that is no JSON) it declines, and JSONDecoder reads the
// text instead: for every text the two make the same payload, or the decoder tells why there
// is none. One reader per thread.
class PayloadTextReader
{
public:
    // What of each idea is made (IdeaDocumentDataObject::Parts). Texts are taken and
    // declined alike for both.
    using Parts = IdeaDocumentDataObject::Parts;

    // Why a text was refused rather than declined: reading stopped at the first idea past
    // IdeaDocumentDataObject::ideaBounds(), in all or among one idea's children, or at the
    // first note longer than IdeaDocumentDataObject::MaxNoteLength.
    enum class Refusal
    {
        None,
        TooManyIdeas,
        TooManyChildren,
        NoteTooLong, // an idea's note past IdeaDocumentDataObject::MaxNoteLength
    };

    // The payload the text holds; nullptr when this reader declines or refuses it (then
    // `refusal`, when given, says which bound). The version and the root idea are the
    // caller's to check, as for a payload JSONDecoder made.
    static IdeaDocumentDataObjectPtr read(const QByteArray& utf8, const JsonReadOptions& options,
                                          Parts parts = Parts::Whole, Refusal* refusal = nullptr);
    static IdeaDocumentDataObjectPtr read(JsonSource& source, const JsonReadOptions& options,
                                          Parts parts = Parts::Whole, Refusal* refusal = nullptr);

private:
    class Handler;
    using Fields = Idea::StoredFields;

    static IdeaPtr makeIdea(Fields&& fields) { return Idea::fromStoredFields(std::move(fields)); }
    // Gives the idea its children, made from the text and so neither anyone else's nor deeper
    // than the reader allows.
    static void adoptChildren(const IdeaPtr& idea, std::vector<IdeaPtr>&& children);
};

} // namespace corvex
