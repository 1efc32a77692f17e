#include "model/PayloadTextWriter.h"

#include "model/Globals.h"
#include "model/Idea.h"
#include "model/IdeaMembers.h"
#include "model/IdeaStoredMembers.h"
#include "platform/core/Base64.h"
#include "platform/core/DateText.h"
#include "platform/core/JsonText.h"
#include "platform/core/OutputBuffer.h"

#include <charconv>
#include <cstring>
#include <string_view>
#include <type_traits>
#include <typeinfo>
#include <utility>
#include <vector>

namespace corvex {

namespace {

// The longest member key with its quotes, comma and colon, and the longest integer.
constexpr qsizetype kKeyRoom = 24;
constexpr qsizetype kIntegerRoom = 24;

qsizetype textRoom(const QString& text)
{
    return kKeyRoom + JsonText::writtenStringBound(text.size());
}

qsizetype dataRoom(const QByteArray& data)
{
    return kKeyRoom + Base64::encodedSize(data.size()) + 2;
}

} // namespace

// The text being written, with a cursor of its own: the bytes are written where they go,
// after room for a whole idea was made at once.
class PayloadTextWriter::Text
{
public:
    // Room for `more` bytes at the cursor.
    void reserve(qsizetype more)
    {
        if (mEnd - mAt >= more)
            return;
        const qsizetype used = size();
        mBytes.resize(used);
        mBuffer.reserveMore(mBytes, more);
        mBytes.resize(mBytes.capacity());
        mAt = mBytes.data() + used;
        mEnd = mBytes.data() + mBytes.size();
    }

    void raw(std::string_view bytes)
    {
        std::memcpy(mAt, bytes.data(), bytes.size());
        mAt += bytes.size();
    }
    void raw(char c) { *mAt++ = c; }

    // A member's key: `"key":`, after a comma unless it is the object's first.
    void key(std::string_view key, bool& first)
    {
        if (!first)
            *mAt++ = ',';
        first = false;
        *mAt++ = '"';
        raw(key);
        *mAt++ = '"';
        *mAt++ = ':';
    }

    void string(const QString& text) { mAt = JsonText::writeString(mAt, text); }
    void integer(qint64 value) { mAt = std::to_chars(mAt, mAt + kIntegerRoom, value).ptr; }
    void data(const QByteArray& bytes)
    {
        *mAt++ = '"';
        mAt = Base64::encodeInto(mAt, bytes.constData(), bytes.size());
        *mAt++ = '"';
    }

    // A text member, left out when the text is null.
    void text(std::string_view name, const QString& value, bool& first)
    {
        if (value.isNull())
            return;
        key(name, first);
        string(value);
    }

    QByteArray take()
    {
        mBytes.resize(size());
        mAt = mEnd = nullptr;
        return std::move(mBytes);
    }

private:
    qsizetype size() const { return mAt == nullptr ? 0 : qsizetype(mAt - mBytes.constData()); }

    QByteArray mBytes;
    OutputBuffer mBuffer;
    char* mAt = nullptr;
    char* mEnd = nullptr;
};

std::optional<QByteArray> PayloadTextWriter::write(const IdeaDocumentDataObject& payload)
{
    // A payload of another class may write more than these members.
    if (typeid(payload) != typeid(IdeaDocumentDataObject))
        return std::nullopt;
    Text out;
    const QString appInstance = Globals::appInstance();
    out.reserve(256 + JsonText::writtenStringBound(appInstance.size()));
    out.raw(R"({"ideaDocumentDataObject":{"fileFormatVersion":)");
    out.integer(payload.fileFormatVersion());
    if (const IdeaPtr& root = payload.idea()) {
        out.raw(R"(,"idea":)");
        if (!writeTree(out, *root))
            return std::nullopt;
    }
    bool first = false;
    const auto date = [&](std::string_view name, const QDateTime& value) {
        if (!value.isValid())
            return;
        const QString text = DateText::format(value);
        out.reserve(textRoom(text));
        out.text(name, text, first);
    };
    date("dateCreated", payload.dateCreated());
    date("dateModified", payload.dateModified());
    out.reserve(textRoom(appInstance) + 2);
    out.text("appInstance", appInstance, first);
    out.raw("}}");
    return out.take();
}

bool PayloadTextWriter::writeTree(Text& out, const Idea& root)
{
    // The ideas whose children are being written, and the next child of each.
    struct Open
    {
        const Idea* idea;
        std::size_t next;
        bool written; // a child was written already
    };
    std::vector<Open> open;
    const auto begin = [&](const Idea& idea) {
        writeOwnMembers(out, idea);
        if (idea.isLink() || idea.mIdeas.empty()) {
            out.raw('}');
            return true;
        }
        // The coder's bound: the root is the first level.
        if (open.size() + 1 >= std::size_t(Idea::MaxDepth))
            return false;
        out.raw(R"(,"ideas":[)");
        open.push_back(Open{&idea, 0, false});
        return true;
    };
    if (!begin(root))
        return false;
    while (!open.empty()) {
        Open& top = open.back();
        const std::vector<IdeaPtr>& children = top.idea->mIdeas;
        // Null children are left out, as the coder leaves out null objects of a list.
        while (top.next < children.size() && !children[top.next])
            ++top.next;
        if (top.next == children.size()) {
            out.reserve(2);
            out.raw("]}");
            open.pop_back();
            continue;
        }
        const Idea& child = *children[top.next++];
        if (std::exchange(top.written, true)) {
            out.reserve(1);
            out.raw(',');
        }
        if (!begin(child))
            return false;
    }
    return true;
}

void PayloadTextWriter::writeOwnMembers(Text& out, const Idea& idea)
{
    // Room for the brace, and for "ideas" and the brackets around the children.
    out.reserve(1 + kKeyRoom + 16);
    bool first = true;
    out.raw('{');
    // The table's members in its order, each when the idea stores it.
    IdeaStoredMembers::forEach(idea, [&](const IdeaMemberRow& row, const auto& value) {
        using Value = std::decay_t<decltype(value)>;
        if constexpr (std::is_same_v<Value, QString>) {
            out.reserve(textRoom(value));
            out.text(row.key, value, first);
        } else if constexpr (std::is_same_v<Value, qint64>) {
            out.reserve(kKeyRoom + kIntegerRoom);
            out.key(row.key, first);
            out.integer(qint32(value));
        } else if constexpr (std::is_same_v<Value, QByteArray>) {
            out.reserve(dataRoom(value));
            out.key(row.key, first);
            out.data(value);
        } else if constexpr (std::is_same_v<Value, ColorPtr>) {
            const QString& name = value->name();
            out.reserve(textRoom(name));
            out.text(row.key, name, first);
        } else {
            writeIcon(out, row.key, *value, first);
        }
    });
    out.reserve(1 + kKeyRoom + 16);
}

void PayloadTextWriter::writeIcon(Text& out, std::string_view key, const IconImage& icon, bool& first)
{
    out.reserve(kKeyRoom + 2 + textRoom(icon.name()) + textRoom(icon.category()) + textRoom(icon.symbol()));
    out.key(key, first);
    bool firstOfIcon = true;
    out.raw('{');
    out.text("name", icon.name(), firstOfIcon);
    out.text("category", icon.category(), firstOfIcon);
    out.text("symbol", icon.symbol(), firstOfIcon);
    out.raw('}');
}

} // namespace corvex
