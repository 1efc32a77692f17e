#include "tests/factory/DocumentFactory.h"

#include <algorithm>
#include <array>

namespace corvex::test {
namespace {

// SplitMix64: small, fast and the same on every platform (the standard distributions are
// not), so that a seed gives the same tree everywhere.
class Random
{
public:
    explicit Random(quint64 seed) : mState(seed) {}
    quint64 next()
    {
        quint64 z = (mState += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    int below(int bound) { return int(next() % quint64(bound)); }

private:
    quint64 mState;
};

const QString& word(int index)
{
    static const std::array<QString, 40> words = {
        QStringLiteral("plan"),     QStringLiteral("garden"),  QStringLiteral("river"),
        QStringLiteral("budget"),   QStringLiteral("café"),    QStringLiteral("launch"),
        QStringLiteral("summer"),   QStringLiteral("review"),  QStringLiteral("naïve"),
        QStringLiteral("market"),   QStringLiteral("outline"), QStringLiteral("design"),
        QStringLiteral("über"),     QStringLiteral("travel"),  QStringLiteral("research"),
        QStringLiteral("draft"),    QStringLiteral("résumé"),  QStringLiteral("team"),
        QStringLiteral("meeting"),  QStringLiteral("lake"),    QStringLiteral("chapter"),
        QStringLiteral("idea"),     QStringLiteral("Zürich"),  QStringLiteral("goal"),
        QStringLiteral("schedule"), QStringLiteral("notes"),   QStringLiteral("product"),
        QStringLiteral("mountain"), QStringLiteral("recipe"),  QStringLiteral("question"),
        QStringLiteral("answer"),   QStringLiteral("story"),   QStringLiteral("project"),
        QStringLiteral("winter"),   QStringLiteral("library"), QStringLiteral("sketch"),
        QStringLiteral("señor"),    QStringLiteral("harbour"), QStringLiteral("forest"),
        QStringLiteral("method"),
    };
    return words[std::size_t(index) % words.size()];
}

// Words joined by spaces, cut to exactly `length` characters, never ending in a space.
QString makeText(Random& random, int length)
{
    QString text;
    text.reserve(length + 16);
    while (text.size() < length) {
        if (!text.isEmpty())
            text += QLatin1Char(' ');
        text += word(random.below(40));
    }
    text.truncate(length);
    text[0] = text[0].toUpper();
    if (text.endsWith(QLatin1Char(' ')))
        text[length - 1] = QLatin1Char('.');
    return text;
}

struct Icon
{
    QString name;
    QString category;
    QString symbol;
};

const std::vector<Icon>& icons()
{
    static const std::vector<Icon> table = {
        {QStringLiteral("grinning face"), QStringLiteral("Smileys & People"), QStringLiteral("\U0001F600")},
        {QStringLiteral("red heart"), QStringLiteral("Smileys & People"), QStringLiteral("\u2764\uFE0F")},
        {QStringLiteral("thumbs up"), QStringLiteral("Smileys & People"), QStringLiteral("\U0001F44D")},
        {QStringLiteral("dog face"), QStringLiteral("Animals & Nature"), QStringLiteral("\U0001F436")},
        {QStringLiteral("deciduous tree"), QStringLiteral("Animals & Nature"), QStringLiteral("\U0001F333")},
        {QStringLiteral("red apple"), QStringLiteral("Food & Drink"), QStringLiteral("\U0001F34E")},
        {QStringLiteral("hot beverage"), QStringLiteral("Food & Drink"), QStringLiteral("\u2615")},
        {QStringLiteral("rocket"), QStringLiteral("Travel & Places"), QStringLiteral("\U0001F680")},
        {QStringLiteral("house"), QStringLiteral("Travel & Places"), QStringLiteral("\U0001F3E0")},
        {QStringLiteral("light bulb"), QStringLiteral("Objects"), QStringLiteral("\U0001F4A1")},
        {QStringLiteral("books"), QStringLiteral("Objects"), QStringLiteral("\U0001F4DA")},
        {QStringLiteral("check mark button"), QStringLiteral("Symbols"), QStringLiteral("\u2705")},
    };
    return table;
}

QString colorName(int index)
{
    static const char* const families[] = {"green", "blue", "red", "violet"};
    const int slot = index % 28;
    return QLatin1String(families[slot / 7]) + QString::number(slot % 7);
}

void appendString(QByteArray& out, const QString& text)
{
    static constexpr char kHex[] = "0123456789abcdef";
    out.append('"');
    for (const char c : text.toUtf8()) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte == '"' || byte == '\\') {
            out.append('\\');
            out.append(c);
        } else if (byte == '\n') {
            out.append("\\n", 2);
        } else if (byte < 0x20) {
            const char escape[6] = {'\\', 'u', '0', '0', kHex[byte >> 4], kHex[byte & 0xF]};
            out.append(escape, 6);
        } else {
            out.append(c);
        }
    }
    out.append('"');
}

void appendMember(QByteArray& out, const char* key, const QString& text)
{
    out.append(",\"");
    out.append(key);
    out.append("\":");
    appendString(out, text);
}

// Everything of an idea object up to its children.
void openIdea(QByteArray& out, const FactoryIdea& idea)
{
    out.append("{\"identifier\":");
    appendString(out, idea.identifier);
    out.append(",\"ideaType\":1,\"colorThemeType\":0");
    appendMember(out, "text", idea.text);
    if (!idea.note.isEmpty())
        appendMember(out, "note", idea.note);
    if (!idea.colorName.isEmpty())
        appendMember(out, "color", idea.colorName);
    if (!idea.iconName.isEmpty()) {
        out.append(",\"iconImage\":{\"name\":");
        appendString(out, idea.iconName);
        appendMember(out, "category", idea.iconCategory);
        appendMember(out, "symbol", idea.iconSymbol);
        out.append('}');
    }
}

} // namespace

std::vector<FactoryIdea> makeDocumentTree(int ideaCount, int maxChildren, quint32 seed)
{
    const int count = std::max(1, ideaCount);
    const int fanOut = std::max(1, maxChildren);
    std::vector<FactoryIdea> ideas(static_cast<std::size_t>(count));
    const QString seedText = QString::number(seed);
    for (int index = 0; index < count; ++index) {
        FactoryIdea& idea = ideas[std::size_t(index)];
        // Each idea draws from its own stream, so its content does not depend on the size
        // of the tree.
        Random random((quint64(seed) << 32) ^ quint64(index) * 0x2545F4914F6CDD1Dull);
        idea.identifier = QStringLiteral("id") + QString::number(index) + QLatin1Char('_') + seedText;
        idea.text = makeText(random, 40);
        if (index % 5 == 0)
            idea.note = makeText(random, 99) + QLatin1Char('\n') + makeText(random, 100);
        idea.colorName = colorName(index);
        if (index % 3 == 0) {
            const Icon& icon = icons()[std::size_t(index / 3) % icons().size()];
            idea.iconName = icon.name;
            idea.iconCategory = icon.category;
            idea.iconSymbol = icon.symbol;
        }
        if (index > 0) {
            idea.parent = (index - 1) / fanOut;
            ideas[std::size_t(idea.parent)].children.push_back(index);
        }
    }
    return ideas;
}

QByteArray makePayloadJson(const std::vector<FactoryIdea>& ideas)
{
    QByteArray out;
    out.reserve(qsizetype(ideas.size()) * 220 + 256);
    out.append("{\"ideaDocumentDataObject\":{\"fileFormatVersion\":4,\"idea\":");
    if (ideas.empty()) {
        out.append("{}");
    } else {
        struct Frame
        {
            int idea;
            std::size_t nextChild;
        };
        std::vector<Frame> stack;
        const auto open = [&](int index) {
            const FactoryIdea& idea = ideas[std::size_t(index)];
            openIdea(out, idea);
            if (idea.children.empty()) {
                out.append('}');
            } else {
                out.append(",\"ideas\":[");
                stack.push_back(Frame{index, 0});
            }
        };
        open(0);
        while (!stack.empty()) {
            Frame& frame = stack.back();
            const FactoryIdea& idea = ideas[std::size_t(frame.idea)];
            if (frame.nextChild == idea.children.size()) {
                stack.pop_back();
                out.append("]}");
                continue;
            }
            if (frame.nextChild > 0)
                out.append(',');
            const int child = idea.children[frame.nextChild++];
            open(child);
        }
    }
    out.append(",\"dateCreated\":\"2024-01-02 03:04:00 GMT\",\"dateModified\":\"2024-01-02 03:04:00 GMT\","
               "\"appInstance\":\"MAC_1704164640.000000\"}}");
    return out;
}

} // namespace corvex::test
