#include "model/PayloadTextReader.h"

#include "model/IconImage.h"
#include "model/IdeaMembers.h"
#include "platform/core/Base64.h"
#include "platform/core/DateText.h"

#include <array>
#include <cstring>
#include <deque>
#include <iterator>
#include <limits>
#include <optional>
#include <string_view>

namespace corvex {

namespace {

// The members the reader knows, each in the one kind of object that has it.
enum class Member : quint8
{
    Unknown, // read past
    // The root object
    Payload,
    // The payload
    FileFormatVersion,
    RootIdea,
    DateCreated,
    DateModified,
    AppInstance,
    // An idea's children
    Ideas,
    // An idea's icon
    IconName,
    IconCategory,
    IconSymbol,
    // "@class": another class named, which only JSONDecoder reads
    ClassName,
    // No member: a value at the top or among the ideas
    Nowhere,
    // An idea's members: this plus their row of the members' table
    IdeaMembers,
};
static_assert(std::size_t(Member::IdeaMembers) + kIdeaMemberCount <= 64, "a frame has a bit for each member");

// The row of an idea's member; nullptr for any other member.
const IdeaMemberRow* rowOf(Member member)
{
    return member >= Member::IdeaMembers
               ? &kIdeaMemberRows[std::size_t(member) - std::size_t(Member::IdeaMembers)]
               : nullptr;
}

enum class Kind : quint8
{
    Root,
    Payload,
    Idea,
    Ideas, // an idea's children
    Icon,
};

struct Name
{
    std::string_view text;
    Member member;
};

constexpr Name kRootNames[] = {{"ideaDocumentDataObject", Member::Payload}};
constexpr Name kPayloadNames[] = {
    {"fileFormatVersion", Member::FileFormatVersion},
    {"idea", Member::RootIdea},
    {"dateCreated", Member::DateCreated},
    {"dateModified", Member::DateModified},
    {"appInstance", Member::AppInstance},
};
constexpr Name kIconNames[] = {
    {"name", Member::IconName}, {"category", Member::IconCategory}, {"symbol", Member::IconSymbol}};

template <std::size_t N> Member find(const Name (&names)[N], QByteArrayView key)
{
    for (const Name& name : names) {
        if (qsizetype(name.text.size()) == key.size() &&
            std::memcmp(name.text.data(), key.data(), name.text.size()) == 0)
            return name.member;
    }
    return Member::Unknown;
}

Member memberOf(Kind kind, QByteArrayView key)
{
    if (key.size() == 6 && std::memcmp(key.data(), "@class", 6) == 0)
        return Member::ClassName;
    switch (kind) {
    case Kind::Root:
        return find(kRootNames, key);
    case Kind::Payload:
        return find(kPayloadNames, key);
    case Kind::Idea: {
        // The members' table's hash: one comparison for a known key.
        const int row = IdeaMembers::find(std::string_view(key.data(), std::size_t(key.size())));
        if (row < 0)
            return Member::Unknown;
        if (std::size_t(row) == kIdeaMemberCount)
            return Member::Ideas;
        return kIdeaMemberRows[row].decoded ? Member(std::size_t(Member::IdeaMembers) + std::size_t(row))
                                            : Member::Unknown;
    }
    case Kind::Icon:
        return find(kIconNames, key);
    case Kind::Ideas:
        break;
    }
    return Member::Unknown;
}

// A stored 32-bit number: anything beyond reads as 0, as a keyed read of the type does.
qint32 storedInt32(qint64 value)
{
    return value < std::numeric_limits<qint32>::min() || value > std::numeric_limits<qint32>::max()
               ? 0
               : qint32(value);
}

} // namespace

// The text's events, taken as they come. Answering false stops the reading: the text is
// declined.
class PayloadTextReader::Handler final : public JsonHandler
{
public:
    explicit Handler(Parts parts) : mParts(parts), mBounds(IdeaDocumentDataObject::ideaBounds()) {}

    // The payload once read, its links resolved.
    IdeaDocumentDataObjectPtr take()
    {
        if (mLinks && mResult && mResult->idea())
            mResult->idea()->resolveLinks();
        return mResult;
    }
    Refusal refusal() const { return mRefusal; }

    bool null() override
    {
        // A known member reads as missing, an unknown one is read past.
        Member member;
        return scalarTarget(member) != nullptr || member == Member::Unknown;
    }
    bool boolean(bool) override { return readPast(); }
    bool real(double) override { return readPast(); }

    bool integer(qint64 value) override
    {
        Member member;
        Frame* frame = scalarTarget(member);
        if (frame == nullptr)
            return member == Member::Unknown;
        switch (member) {
        case Member::FileFormatVersion:
            frame->version = storedInt32(value);
            return true;
        default:
            break;
        }
        const IdeaMemberRow* row = rowOf(member);
        if (row == nullptr || row->type != IdeaMemberType::Integer)
            return false;
        frame->fields.integers[IdeaMembers::slot(row->member)] = value;
        return true;
    }

    bool string(QByteArrayView utf8) override
    {
        Member member;
        Frame* frame = scalarTarget(member);
        if (frame == nullptr)
            return member == Member::Unknown;
        if (const IdeaMemberRow* row = rowOf(member)) {
            const std::size_t at = IdeaMembers::slot(row->member);
            switch (IdeaMembers::storage(row->type)) {
            case IdeaMemberStorage::Data:
                if (mParts == Parts::Whole)
                    frame->fields.data[at] = Base64::decode(utf8);
                return true;
            case IdeaMemberStorage::Text:
                if (row->member == IdeaMember::Note && tooLongForANote(utf8)) {
                    mRefusal = Refusal::NoteTooLong;
                    return false;
                }
                // The attachment is no text: not made when only the texts are asked for.
                if (row->member != IdeaMember::Att || mParts != Parts::Texts)
                    frame->fields.texts[at] = JsonText::stringFromUtf8(utf8);
                return true;
            case IdeaMemberStorage::Integer:
            case IdeaMemberStorage::Icon:
                break;
            }
            return false;
        }
        std::optional<QString>* text = textOf(*frame, member);
        if (text == nullptr)
            return false;
        *text = JsonText::stringFromUtf8(utf8);
        return true;
    }

    bool key(QByteArrayView utf8) override
    {
        if (mSkip > 0)
            return true;
        Frame& frame = *top();
        const Member member = memberOf(frame.kind, utf8);
        if (member == Member::ClassName)
            return false;
        ++frame.keys;
        frame.pending = member;
        if (member == Member::Unknown) {
            frame.unknownKeys = true;
            // The root's first member names the class of the whole text.
            return frame.kind != Kind::Root || frame.keys > 1;
        }
        // A repeated member takes the last value in the first place: the decoder's to read.
        const quint64 bit = quint64(1) << unsigned(member);
        if ((frame.seen & bit) != 0)
            return false;
        frame.seen |= bit;
        return true;
    }

    bool startObject() override
    {
        if (skipped(1))
            return true;
        if (mDepth == 0) {
            push(Kind::Root);
            return true;
        }
        Frame& parent = *top();
        if (parent.kind == Kind::Ideas)
            return pushIdea(mFrames[mDepth - 2].level + 1);
        const Member member = takeMember();
        switch (member) {
        case Member::Unknown:
            mSkip = 1;
            return true;
        case Member::Payload:
            push(Kind::Payload);
            return true;
        case Member::RootIdea:
            return pushIdea(1);
        default:
            break;
        }
        const IdeaMemberRow* row = rowOf(member);
        if (row == nullptr || row->type != IdeaMemberType::Icon)
            return false;
        parent.iconSlot = int(IdeaMembers::slot(row->member));
        push(Kind::Icon);
        return true;
    }

    bool startArray() override
    {
        if (skipped(1))
            return true;
        switch (takeMember()) {
        case Member::Unknown:
            mSkip = 1;
            return true;
        case Member::Ideas:
            push(Kind::Ideas);
            return true;
        default:
            return false;
        }
    }

    bool endObject() override
    {
        if (skipped(-1))
            return true;
        Frame& frame = *top();
        --mDepth;
        switch (frame.kind) {
        case Kind::Root:
            mResult = std::move(frame.payload);
            return true;
        case Kind::Payload:
            top()->payload = makePayload(frame);
            return true;
        case Kind::Idea:
            return finishIdea(frame);
        case Kind::Icon: {
            Frame& idea = *top();
            idea.iconName = std::move(frame.iconName);
            idea.iconCategory = std::move(frame.iconCategory);
            idea.iconSymbol = std::move(frame.iconSymbol);
            return true;
        }
        case Kind::Ideas:
            break;
        }
        return false;
    }

    bool endArray() override
    {
        if (skipped(-1))
            return true;
        Frame& list = *top();
        --mDepth;
        // One element of one member is the old wrapped form of a list ([{"key": value}]),
        // which only the decoder reads; an element with members not known might be one.
        if (list.elements.size() == 1 && (list.firstKeys < 2 || list.firstUnknownKeys))
            return false;
        // Exactly sized: the list lives on in its idea.
        top()->children = std::vector<IdeaPtr>(std::make_move_iterator(list.elements.begin()),
                                               std::make_move_iterator(list.elements.end()));
        list.elements.clear();
        return true;
    }

private:
    struct Frame
    {
        Kind kind = Kind::Root;
        Member pending = Member::Unknown; // what the next value is read as
        quint64 seen = 0;                 // the known members read, one bit each
        int keys = 0;
        bool unknownKeys = false;
        // Payload
        qint32 version = 0;
        std::optional<QString> dateCreated;
        std::optional<QString> dateModified;
        std::optional<QString> appInstance;
        IdeaPtr rootIdea;
        // Root: the payload once made
        IdeaDocumentDataObjectPtr payload;
        // Idea (its level: the root idea is 1)
        int level = 0;
        Fields fields;
        int iconSlot = -1; // the icon member read, by its place among the icons
        std::optional<QString> iconName;
        std::optional<QString> iconCategory;
        std::optional<QString> iconSymbol;
        std::vector<IdeaPtr> children; // exactly as many as its list had
        // Ideas: the elements so far, and the first one's members
        std::vector<IdeaPtr> elements;
        int firstKeys = 0;
        bool firstUnknownKeys = false;
    };

    Frame* top() { return mDepth == 0 ? nullptr : &mFrames[mDepth - 1]; }

    // The object a scalar fills a known member of, and the member; nullptr when the scalar
    // is read past (member Unknown) or stands where no member is (Nowhere).
    Frame* scalarTarget(Member& member)
    {
        member = mSkip > 0 ? Member::Unknown : takeMember();
        return member == Member::Unknown || member == Member::Nowhere ? nullptr : top();
    }

    // A scalar no known member takes: read past when it belongs to an unknown one.
    bool readPast()
    {
        Member member;
        scalarTarget(member);
        return member == Member::Unknown;
    }

    // Whether a container opening (1) or closing (-1) belongs to a value read past, counted.
    bool skipped(int step)
    {
        if (mSkip == 0)
            return false;
        mSkip += step;
        return true;
    }

    // The member the value now read fills, no longer pending; Nowhere for a value at the top
    // or among the ideas.
    Member takeMember()
    {
        Frame* frame = top();
        if (frame == nullptr || frame->kind == Kind::Ideas)
            return Member::Nowhere;
        return std::exchange(frame->pending, Member::Unknown);
    }

    Frame& push(Kind kind)
    {
        if (mDepth == mFrames.size())
            mFrames.emplace_back();
        Frame& frame = mFrames[mDepth++];
        frame.kind = kind;
        frame.pending = Member::Unknown;
        frame.seen = 0;
        frame.keys = 0;
        frame.unknownKeys = false;
        switch (kind) {
        case Kind::Root:
            frame.payload.reset();
            break;
        case Kind::Payload:
            frame.version = 0;
            frame.dateCreated.reset();
            frame.dateModified.reset();
            frame.appInstance.reset();
            frame.rootIdea.reset();
            break;
        case Kind::Idea:
            frame.fields = Fields();
            frame.iconSlot = -1;
            frame.children.clear();
            [[fallthrough]];
        case Kind::Icon:
            frame.iconName.reset();
            frame.iconCategory.reset();
            frame.iconSymbol.reset();
            break;
        case Kind::Ideas:
            frame.elements.clear();
            frame.firstKeys = 0;
            frame.firstUnknownKeys = false;
            break;
        }
        return frame;
    }

    // A UTF-8 character is one to three bytes a UTF-16 unit, so only a text between the bound
    // and three times it needs decoding to tell.
    static bool tooLongForANote(QByteArrayView utf8)
    {
        constexpr qsizetype bound = IdeaDocumentDataObject::MaxNoteLength;
        if (utf8.size() <= bound)
            return false;
        return utf8.size() > 3 * bound || JsonText::stringFromUtf8(utf8).size() > bound;
    }

    bool pushIdea(int level)
    {
        // Deeper trees fail in the decoder, which says why.
        if (level > Idea::MaxDepth)
            return false;
        // Counted as they begin, so that reading stops before the idea past a bound is made.
        if (++mIdeas > mBounds.ideas) {
            mRefusal = Refusal::TooManyIdeas;
            return false;
        }
        if (Frame* list = top();
            list->kind == Kind::Ideas && qint64(list->elements.size()) >= mBounds.children) {
            mRefusal = Refusal::TooManyChildren;
            return false;
        }
        push(Kind::Idea).level = level;
        return true;
    }

    static std::optional<QString>* textOf(Frame& frame, Member member)
    {
        switch (member) {
        case Member::DateCreated:
            return &frame.dateCreated;
        case Member::DateModified:
            return &frame.dateModified;
        case Member::AppInstance:
            return &frame.appInstance;
        case Member::IconName:
            return &frame.iconName;
        case Member::IconCategory:
            return &frame.iconCategory;
        case Member::IconSymbol:
            return &frame.iconSymbol;
        default:
            return nullptr;
        }
    }

    bool finishIdea(Frame& frame)
    {
        Fields& fields = frame.fields;
        const bool link = IdeaType(fields.integer(IdeaMember::IdeaType)) == IdeaTypeLink;
        if (frame.iconSlot >= 0 && !link)
            fields.icons[std::size_t(frame.iconSlot)] = IconImage::sharedIcon(
                frame.iconName.value_or(QString()), frame.iconCategory.value_or(QString()),
                frame.iconSymbol.value_or(QString()));
        IdeaPtr idea = makeIdea(std::move(fields));
        mLinks = mLinks || link;
        // A link's stored children are never read.
        if (!link && !frame.children.empty())
            adoptChildren(idea, std::move(frame.children));
        frame.children.clear();
        Frame& parent = *top();
        if (parent.kind == Kind::Payload) {
            parent.rootIdea = std::move(idea);
            return true;
        }
        if (parent.elements.empty()) {
            parent.firstKeys = frame.keys;
            parent.firstUnknownKeys = frame.unknownKeys;
        }
        parent.elements.push_back(std::move(idea));
        return true;
    }

    static IdeaDocumentDataObjectPtr makePayload(Frame& frame)
    {
        const auto date = [](const std::optional<QString>& text) {
            return text ? DateText::parse(*text).value_or(QDateTime()) : QDateTime();
        };
        auto payload = IdeaDocumentDataObject::create();
        payload->setFileFormatVersion(frame.version);
        payload->setIdea(std::move(frame.rootIdea));
        payload->setDateCreated(date(frame.dateCreated));
        payload->setDateModified(date(frame.dateModified));
        if (frame.appInstance)
            payload->setAppInstance(*frame.appInstance);
        return payload;
    }

    const Parts mParts;
    const IdeaDocumentDataObject::IdeaBounds mBounds;
    qint64 mIdeas = 0;
    bool mLinks = false; // a link idea was read
    Refusal mRefusal = Refusal::None;
    std::deque<Frame> mFrames; // reused by depth; a deque keeps references to them valid
    std::size_t mDepth = 0;
    int mSkip = 0; // the depth of the unknown member's value being read past
    IdeaDocumentDataObjectPtr mResult;
};

IdeaDocumentDataObjectPtr PayloadTextReader::read(const QByteArray& utf8, const JsonReadOptions& options,
                                                  Parts parts, Refusal* refusal)
{
    Handler handler(parts);
    const bool ok = JsonText::read(utf8, handler, options).ok();
    if (refusal)
        *refusal = handler.refusal();
    return ok ? handler.take() : nullptr;
}

IdeaDocumentDataObjectPtr PayloadTextReader::read(JsonSource& source, const JsonReadOptions& options,
                                                  Parts parts, Refusal* refusal)
{
    Handler handler(parts);
    const bool ok = JsonText::read(source, handler, options).ok();
    if (refusal)
        *refusal = handler.refusal();
    return ok ? handler.take() : nullptr;
}

void PayloadTextReader::adoptChildren(const IdeaPtr& idea, std::vector<IdeaPtr>&& children)
{
    // A change like any insertion, for whoever keeps a picture of a tree.
    Idea::noteChange();
    for (const IdeaPtr& child : children)
        child->mParent = idea;
    idea->mIdeas = std::move(children);
}

} // namespace corvex
