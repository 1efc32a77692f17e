#pragma once

#include "model/IconImage.h"
#include "model/Idea.h"
#include "model/IdeaDocumentDataObject.h"

#include <QByteArray>
#include <optional>
#include <string_view>

namespace corvex {

// Writes a document payload's JSON text straight from its tree, one idea after another with
// an explicit stack: the same bytes JSONEncoder writes for it (the members of each idea in
// the order Idea::encodeWithCoder writes them, nothing for null texts and data), without a
// coder between the tree and the text. Any thread that may read the tree.
class PayloadTextWriter
{
public:
    // The text; nothing for a tree deeper than the model allows (which JSONEncoder refuses,
    // saying why) and for a payload of a class of its own (which may write more).
    static std::optional<QByteArray> write(const IdeaDocumentDataObject& payload);

private:
    class Text;
    // Writes the idea and its subtree; false when it is deeper than the model allows.
    static bool writeTree(Text& out, const Idea& root);
    // An idea's own members, after its opening brace.
    static void writeOwnMembers(Text& out, const Idea& idea);
    static void writeIcon(Text& out, std::string_view key, const IconImage& icon, bool& first);
};

} // namespace corvex
