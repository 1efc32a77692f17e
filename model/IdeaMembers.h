#pragma once

#include "model/Color.h"
#include "model/IconImage.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>
#include <array>
#include <cstddef>
#include <optional>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace corvex {

class Idea;

// ---- The table of an idea's stored members ----
//
// Every member an idea stores is one row of kIdeaMemberRows, in the order a document stores
// them: its key, its type, which ideas store it, and who takes it (the coder, a copy, search,
// the idea editor). The payload's text reader, writer and scanner, Idea's coding, the copies,
// search and the idea editor's values all read this table; none spells a key or the order
// again. A member's row is all it needs to be stored, read, copied, searched and carried by
// the editor: a member without a field of its own (`own` false) lives in the idea's general
// store. See model/README.md, "Adding a member".

// One enumerator a row, in the rows' order.
enum class IdeaMember : quint8
{
    Identifier,
    IdeaType,
    LinkedIdea,
    Text,
    Url,
    Note,
    Color,
    Att,
    Image,
    BigImageData,
    IconImage,
    ColorThemeType,
};

// How a member is stored, and the value that carries it (IdeaMemberValue).
enum class IdeaMemberType : quint8
{
    Text,      // a string: QString
    Integer,   // a number: qint64
    Data,      // bytes, stored as Base64: QByteArray
    ColorName, // a colour, stored by its name: ColorPtr
    Icon,      // an icon, stored as an object of name, category and symbol: IconImagePtr
};

// The ideas that store a member: a link idea stores its identifiers and type alone.
enum class IdeaMemberIdeas : quint8
{
    All,
    Links,
    Content, // every idea but a link
};

struct IdeaMemberRow
{
    IdeaMember member;
    std::string_view key;
    IdeaMemberType type;
    IdeaMemberIdeas ideas;
    bool decoded;  // read back, by Idea's coding and the payload reader alike
    bool copied;   // a copy of the idea takes it (identifiers are made afresh)
    bool searched; // search finds its text (an icon: its symbol)
    bool edited;   // the idea editor shows and changes it
    bool own;      // kept in a field of Idea's own; a new member lives in the general store
};

// Who takes a member, for a row: any of these joined with |.
namespace member {
enum : unsigned
{
    Decoded = 1,  // read back
    Copied = 2,   // copies take it
    Searched = 4, // search finds it
    Edited = 8,   // the idea editor carries it
    Own = 16,     // a field of Idea's own
};
} // namespace member

constexpr IdeaMemberRow ideaMemberRow(IdeaMember which, std::string_view key, IdeaMemberType type,
                                      IdeaMemberIdeas ideas, unsigned flags)
{
    return {which,
            key,
            type,
            ideas,
            (flags & member::Decoded) != 0,
            (flags & member::Copied) != 0,
            (flags & member::Searched) != 0,
            (flags & member::Edited) != 0,
            (flags & member::Own) != 0};
}

// The rows, in the order a document stores the members.
inline constexpr auto kIdeaMemberRows = [] {
    using enum IdeaMemberType;
    using enum IdeaMemberIdeas;
    using namespace member;
    using M = IdeaMember;
    // clang-format off
    return std::array{
        //            member              key               type       ideas    who takes it
        ideaMemberRow(M::Identifier,      "identifier",     Text,      All,     Decoded | Own),
        ideaMemberRow(M::IdeaType,        "ideaType",       Integer,   All,     Decoded | Copied | Own),
        ideaMemberRow(M::LinkedIdea,      "linkedIdea",     Text,      Links,   Decoded | Copied | Own),
        ideaMemberRow(M::Text,            "text",           Text,      Content, Decoded | Copied | Searched | Edited | Own),
        ideaMemberRow(M::Url,             "URL",            Text,      Content, Decoded | Copied | Own),
        ideaMemberRow(M::Note,            "note",           Text,      Content, Decoded | Copied | Searched | Edited | Own),
        ideaMemberRow(M::Color,           "color",          ColorName, Content, Decoded | Copied | Edited | Own),
        ideaMemberRow(M::Att,             "att",            Text,      Content, Decoded | Copied | Own),
        ideaMemberRow(M::Image,           "image",          Data,      Content, Decoded | Copied | Own),
        ideaMemberRow(M::BigImageData,    "bigImageData",   Data,      Content, Decoded | Copied | Own),
        ideaMemberRow(M::IconImage,       "iconImage",      Icon,      Content, Decoded | Copied | Searched | Edited | Own),
        ideaMemberRow(M::ColorThemeType,  "colorThemeType", Integer,   Content, Decoded | Copied | Edited | Own),
    };
    // clang-format on
}();

inline constexpr std::size_t kIdeaMemberCount = kIdeaMemberRows.size();
// The key of an idea's children, stored after every member: not a member (the tree's shape).
inline constexpr std::string_view kIdeaChildrenKey = "ideas";

// ---- Values ----

// One member's value; monostate when it is missing. The alternative is the row's type's.
using IdeaMemberValue = std::variant<std::monostate, QString, qint64, QByteArray, ColorPtr, IconImagePtr>;

// The value as T; a missing value, or one of another type, reads as T's empty value (a null
// text, 0, null data, no colour, no icon).
template <class T> T memberValueAs(const IdeaMemberValue& value)
{
    const T* held = std::get_if<T>(&value);
    return held ? *held : T();
}

// How a row's type is held among an idea's stored values (IdeaStoredValues).
enum class IdeaMemberStorage : quint8
{
    Text, // Text and ColorName: the text as stored
    Integer,
    Data,
    Icon,
};

// What the class below builds from the table at compile time: the hash of the keys and each
// row's place among the rows held alike.
struct IdeaMemberKeys
{
    static constexpr IdeaMemberStorage storage(IdeaMemberType type)
    {
        switch (type) {
        case IdeaMemberType::Text:
        case IdeaMemberType::ColorName:
            return IdeaMemberStorage::Text;
        case IdeaMemberType::Integer:
            return IdeaMemberStorage::Integer;
        case IdeaMemberType::Data:
            return IdeaMemberStorage::Data;
        case IdeaMemberType::Icon:
            break;
        }
        return IdeaMemberStorage::Icon;
    }

    static constexpr std::size_t kHashSize = 64;
    static_assert(kIdeaMemberCount + 1 < kHashSize / 2, "the key hash stays sparse");

    static constexpr std::string_view keyOf(std::size_t entry)
    {
        return entry == kIdeaMemberCount ? kIdeaChildrenKey : kIdeaMemberRows[entry].key;
    }
    static constexpr std::size_t hash(std::string_view key)
    {
        return (key.size() * 7 + std::size_t(quint8(key.front())) * 3 + std::size_t(quint8(key.back()))) %
               kHashSize;
    }
    static constexpr std::array<int, kHashSize> makeKeyHash()
    {
        std::array<int, kHashSize> table{};
        for (int& entry : table)
            entry = -1;
        for (std::size_t entry = 0; entry <= kIdeaMemberCount; ++entry) {
            std::size_t at = hash(keyOf(entry));
            while (table[at] >= 0)
                at = (at + 1) % kHashSize;
            table[at] = int(entry);
        }
        return table;
    }
    static constexpr std::array<quint8, kIdeaMemberCount> makeSlots()
    {
        std::array<quint8, kIdeaMemberCount> made{};
        for (std::size_t i = 0; i < kIdeaMemberCount; ++i) {
            for (std::size_t before = 0; before < i; ++before)
                made[i] += storage(kIdeaMemberRows[before].type) == storage(kIdeaMemberRows[i].type) ? 1 : 0;
        }
        return made;
    }
};

class IdeaMembers
{
public:
    static constexpr std::size_t count() { return kIdeaMemberCount; }
    static constexpr const IdeaMemberRow& row(IdeaMember member)
    {
        return kIdeaMemberRows[std::size_t(member)];
    }

    static constexpr IdeaMemberStorage storage(IdeaMemberType type) { return IdeaMemberKeys::storage(type); }

    // How many rows are held as `storage`, and a row's place among them.
    static constexpr std::size_t slotCount(IdeaMemberStorage kind)
    {
        std::size_t n = 0;
        for (const IdeaMemberRow& row : kIdeaMemberRows)
            n += storage(row.type) == kind ? 1 : 0;
        return n;
    }
    static constexpr std::size_t slot(IdeaMember member) { return kSlots[std::size_t(member)]; }

    // Whether an idea stores the row: a link (`link`) or any other idea.
    static constexpr bool storedBy(const IdeaMemberRow& row, bool link)
    {
        return row.ideas == IdeaMemberIdeas::All || (row.ideas == IdeaMemberIdeas::Links) == link;
    }

    // The row of a key, by a hash made from the table at compile time (one comparison for a
    // known key); count() for the children's key, -1 for any other.
    static constexpr int find(std::string_view key)
    {
        if (key.empty())
            return -1;
        for (std::size_t at = hash(key);; at = (at + 1) % kHashSize) {
            const int entry = kKeyHash[at];
            if (entry < 0)
                return -1;
            if (keyOf(std::size_t(entry)) == key)
                return entry;
        }
    }
    static constexpr std::string_view keyOf(std::size_t entry) { return IdeaMemberKeys::keyOf(entry); }

    // The key as the coders take it, made once.
    static const QString& codingKey(IdeaMember member);

    // The value the idea stores, as a document holds it (a link's own, never its target's);
    // missing when the idea does not store it. Texts and data are missing when null.
    static IdeaMemberValue stored(const Idea& idea, IdeaMember member);
    // The value the idea shows (a link shows its target's content), as the editor and search
    // read it.
    static IdeaMemberValue shown(const Idea& idea, IdeaMember member);
    // Sets what the idea shows, through its setters (which may refuse, as on a link).
    static void setShown(Idea& idea, IdeaMember member, const IdeaMemberValue& value);

    // Whether two values of a row are the same to the editor: texts of length 0 alike, colours
    // and icons by name.
    static bool sameForEditor(IdeaMemberType type, const IdeaMemberValue& a, const IdeaMemberValue& b);

    // The texts search finds in what the idea shows, in the table's order, empty ones left
    // out.
    template <class F> static void forEachSearched(const Idea& idea, F&& take)
    {
        for (const IdeaMemberRow& row : kIdeaMemberRows) {
            if (!row.searched)
                continue;
            const IdeaMemberValue value = shown(idea, row.member);
            if (const QString* text = std::get_if<QString>(&value); text && !text->isEmpty())
                take(*text);
            else if (const IconImagePtr* icon = std::get_if<IconImagePtr>(&value);
                     icon && *icon && !(*icon)->symbol().isEmpty())
                take((*icon)->symbol());
        }
    }

private:
    static constexpr std::size_t kHashSize = IdeaMemberKeys::kHashSize;
    static constexpr std::size_t hash(std::string_view key) { return IdeaMemberKeys::hash(key); }
    static constexpr std::array<int, kHashSize> kKeyHash = IdeaMemberKeys::makeKeyHash();
    static constexpr std::array<quint8, kIdeaMemberCount> kSlots = IdeaMemberKeys::makeSlots();
};

// The rows are in the enumeration's order, and their keys tell them apart.
static_assert([] {
    for (std::size_t i = 0; i < kIdeaMemberCount; ++i) {
        if (std::size_t(kIdeaMemberRows[i].member) != i ||
            IdeaMembers::find(kIdeaMemberRows[i].key) != int(i))
            return false;
    }
    return IdeaMembers::find(kIdeaChildrenKey) == int(kIdeaMemberCount);
}());

// An idea's members as a document stores them, before an idea is made of them: what Idea's
// coding and the payload reader read, one place a row (IdeaMembers::slot). Missing texts are
// nothing, missing numbers 0, missing data null.
struct IdeaStoredValues
{
    std::array<std::optional<QString>, IdeaMembers::slotCount(IdeaMemberStorage::Text)> texts;
    std::array<qint64, IdeaMembers::slotCount(IdeaMemberStorage::Integer)> integers{};
    std::array<QByteArray, IdeaMembers::slotCount(IdeaMemberStorage::Data)> data;
    std::array<IconImagePtr, IdeaMembers::slotCount(IdeaMemberStorage::Icon)> icons;

    std::optional<QString>& text(IdeaMember member) { return texts[IdeaMembers::slot(member)]; }
    qint64& integer(IdeaMember member) { return integers[IdeaMembers::slot(member)]; }
    QByteArray& bytes(IdeaMember member) { return data[IdeaMembers::slot(member)]; }
    IconImagePtr& icon(IdeaMember member) { return icons[IdeaMembers::slot(member)]; }

    // The row's value as read, missing when it was not.
    IdeaMemberValue value(const IdeaMemberRow& row) const;
};

// The general store: the members an idea keeps without a field of its own, each once.
using IdeaKeptValues = std::vector<std::pair<IdeaMember, IdeaMemberValue>>;

} // namespace corvex
