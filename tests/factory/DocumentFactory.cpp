#include "tests/factory/DocumentFactory.h"

#include "platform/core/Zlib.h"

#include <QHash>
#include <QStringList>
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

// The words of a title or a note in one script, and what goes between them.
struct Script
{
    QStringList words;
    QString separator;
};

const Script& latin()
{
    static const Script script{
        QStringLiteral("plan garden river budget café launch summer review naïve market outline design über "
                       "travel research draft résumé team meeting lake chapter idea Zürich goal schedule "
                       "notes product mountain recipe question answer story project winter library sketch "
                       "señor harbour forest method")
            .split(QLatin1Char(' ')),
        QStringLiteral(" ")};
    return script;
}

// The scripts of the real-shape tree's titles: Latin twice as often as each other one.
const Script& realScript(int draw)
{
    static const std::array<Script, 4> others = {
        Script{QStringLiteral("план сад река бюджет запуск лето обзор рынок дизайн поездка черновик команда "
                              "встреча озеро глава идея цель заметки продукт гора рецепт вопрос ответ ёлка")
                   .split(QLatin1Char(' ')),
               QStringLiteral(" ")},
        Script{QStringLiteral("σχέδιο κήπος ποτάμι προϋπολογισμός καλοκαίρι αγορά ταξίδι ομάδα συνάντηση "
                              "λίμνη κεφάλαιο ιδέα στόχος σημειώσεις βουνό συνταγή ερώτηση απάντηση")
                   .split(QLatin1Char(' ')),
               QStringLiteral(" ")},
        Script{QStringLiteral("计划 花园 河流 预算 夏天 市场 设计 旅行 研究 草稿 团队 会议 湖 章节 想法 目标 "
                              "笔记 产品 山 食谱 问题 答案 故事 项目 東京 図書館")
                   .split(QLatin1Char(' ')),
               QString()},
        Script{QStringLiteral("خطة حديقة نهر ميزانية صيف سوق تصميم سفر بحث مسودة فريق اجتماع بحيرة فصل "
                              "فكرة هدف ملاحظات منتج جبل وصفة سؤال جواب قصة مشروع")
                   .split(QLatin1Char(' ')),
               QStringLiteral(" ")},
    };
    return draw < 2 ? latin() : others[std::size_t(draw - 2)];
}

// Words of the script joined by its separator, cut to exactly `length` characters, never
// ending in a space.
QString makeText(Random& random, int length, const Script& script = latin())
{
    QString text;
    text.reserve(length + 16);
    while (text.size() < length) {
        if (!text.isEmpty())
            text += script.separator;
        text += script.words[random.below(int(script.words.size()))];
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

// The icon table's entry `slot` (cycling).
void giveIcon(FactoryIdea& idea, int slot)
{
    const Icon& icon = icons()[std::size_t(slot) % icons().size()];
    idea.iconName = icon.name;
    idea.iconCategory = icon.category;
    idea.iconSymbol = icon.symbol;
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
    if (!idea.linkedIdentifier.isEmpty()) {
        out.append(",\"ideaType\":4");
        appendMember(out, "linkedIdea", idea.linkedIdentifier);
        return;
    }
    out.append(idea.picture.isEmpty() ? ",\"ideaType\":1" : ",\"ideaType\":2");
    out.append(",\"colorThemeType\":0");
    appendMember(out, "text", idea.text);
    if (!idea.note.isEmpty())
        appendMember(out, "note", idea.note);
    if (!idea.colorName.isEmpty())
        appendMember(out, "color", idea.colorName);
    if (!idea.picture.isEmpty()) {
        out.append(",\"image\":\"");
        out.append(idea.picture.toBase64());
        out.append('"');
    }
    if (!idea.iconName.isEmpty()) {
        out.append(",\"iconImage\":{\"name\":");
        appendString(out, idea.iconName);
        appendMember(out, "category", idea.iconCategory);
        appendMember(out, "symbol", idea.iconSymbol);
        out.append('}');
    }
}

// CRC-32 of PNG chunks (ISO 3309, as zlib's crc32), from a table made once.
quint32 pngCrc(const QByteArray& bytes)
{
    static const std::array<quint32, 256> table = [] {
        std::array<quint32, 256> made{};
        for (quint32 n = 0; n < 256; ++n) {
            quint32 c = n;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            made[n] = c;
        }
        return made;
    }();
    quint32 crc = 0xFFFFFFFFu;
    for (const char byte : bytes)
        crc = table[(crc ^ quint8(byte)) & 0xFF] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFFu;
}

void appendBigEndian(QByteArray& out, quint32 value)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out.append(char((value >> shift) & 0xFF));
}

void appendChunk(QByteArray& out, const char* type, const QByteArray& data)
{
    appendBigEndian(out, quint32(data.size()));
    const QByteArray typed = QByteArray(type, 4) + data;
    out.append(typed);
    appendBigEndian(out, pngCrc(typed));
}

// Children listed by index, maxChildren to an idea, breadth first.
void fillBreadthFirst(std::vector<FactoryIdea>& ideas, int fanOut)
{
    for (int index = 1; index < int(ideas.size()); ++index) {
        FactoryIdea& idea = ideas[std::size_t(index)];
        idea.parent = (index - 1) / fanOut;
        ideas[std::size_t(idea.parent)].children.push_back(index);
    }
}

// As addPictures, but never on a link idea (a link has no content of its own): the next idea
// that is neither a link nor holds a picture takes it.
void givePicturesBesideLinks(std::vector<FactoryIdea>& ideas, int count, quint32 seed)
{
    const int size = int(ideas.size());
    const int candidates = size - 1;
    const int pictures = std::clamp(count, 0, std::max(0, candidates));
    for (int i = 0; i < pictures; ++i) {
        int index = 1 + int(qint64(i) * candidates / pictures);
        while (index < size && (!ideas[std::size_t(index)].linkedIdentifier.isEmpty() ||
                                !ideas[std::size_t(index)].picture.isEmpty()))
            ++index;
        if (index >= size)
            break;
        ideas[std::size_t(index)].picture = makeSmallPicturePng(seed * 100003u + quint32(i));
    }
}

} // namespace

QByteArray makeSmallPicturePng(quint32 seed)
{
    return makePicturePng(160, seed);
}

QByteArray makePicturePng(int side, quint32 seed)
{
    Random random(0x5049435455524531ull ^ quint64(seed) * 0x9E3779B97F4A7C15ull);
    // A gradient between two colours of the seed, one value in eight a level off.
    int from[3], to[3];
    for (int channel = 0; channel < 3; ++channel) {
        from[channel] = random.below(256);
        to[channel] = random.below(256);
    }
    QByteArray rows;
    rows.reserve(side * (1 + 3 * side));
    for (int y = 0; y < side; ++y) {
        rows.append(char(0)); // filter type None
        for (int x = 0; x < side; ++x) {
            const int weight = (x + y) * 255 / (2 * side - 2);
            for (int channel = 0; channel < 3; ++channel) {
                int level = from[channel] + (to[channel] - from[channel]) * weight / 255;
                if (random.below(8) == 0)
                    level += random.below(3) - 1;
                rows.append(char(std::clamp(level, 0, 255)));
            }
        }
    }
    const auto compressed = Zlib::compress(rows);
    if (!compressed)
        return QByteArray();
    QByteArray header;
    appendBigEndian(header, side);
    appendBigEndian(header, side);
    header.append(char(8)); // bit depth
    header.append(char(2)); // colour type: RGB
    header.append(char(0)); // compression
    header.append(char(0)); // filter method
    header.append(char(0)); // no interlace
    QByteArray png = QByteArray::fromHex("89504e470d0a1a0a");
    appendChunk(png, "IHDR", header);
    appendChunk(png, "IDAT", QByteArray(*compressed));
    appendChunk(png, "IEND", QByteArray());
    return png;
}

void addPictures(std::vector<FactoryIdea>& ideas, int count, quint32 seed)
{
    const int candidates = int(ideas.size()) - 1;
    const int pictures = std::clamp(count, 0, std::max(0, candidates));
    for (int i = 0; i < pictures; ++i) {
        // Evenly over indexes 1 .. size - 1.
        const int index = 1 + int(qint64(i) * candidates / pictures);
        ideas[std::size_t(index)].picture = makeSmallPicturePng(seed * 100003u + quint32(i));
    }
}

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
        if (index % 3 == 0)
            giveIcon(idea, index / 3);
    }
    fillBreadthFirst(ideas, fanOut);
    return ideas;
}

std::vector<FactoryIdea> makeRealShapeTree(int ideaCount, int maxChildren, quint32 seed)
{
    const int count = std::max(1, ideaCount);
    const int fanOut = std::max(1, maxChildren);
    std::vector<FactoryIdea> ideas(static_cast<std::size_t>(count));
    const QString stamp = QStringLiteral("id%1_").arg(qint64(1704164640) + qint64(seed));
    for (int index = 0; index < count; ++index) {
        FactoryIdea& idea = ideas[std::size_t(index)];
        Random random((quint64(seed) << 32) ^ quint64(index) * 0x9FB21C651E98DF25ull);
        idea.identifier = stamp + QString::number(index + 1);
        const Script& script = realScript(random.below(6));
        idea.text = makeText(random, 5 + random.below(36), script);
        if (index % 10 == 0)
            idea.note = makeText(random, 99, script) + QLatin1Char('\n') + makeText(random, 100, script);
        if (index % 4 == 0)
            idea.colorName = colorName(index / 4);
        if (index % 20 == 0)
            giveIcon(idea, index / 20);
    }
    fillBreadthFirst(ideas, fanOut);
    if (count == 1)
        return ideas;

    const int pictures = (count + 499) / 500;
    for (int i = 0; i < pictures; ++i)
        ideas[std::size_t(1 + qint64(i) * (count - 1) / pictures)].picture =
            makePicturePng(64, seed * 100003u + quint32(i));

    // Links are leaves (a link's children are never read), spread evenly over the leaves that
    // hold no note and no picture, so that every share stays exact.
    const int firstLeaf = (count - 2) / fanOut + 1;
    const int leaves = count - firstLeaf;
    const int links = (count + 199) / 200;
    std::vector<int> linkIndexes;
    std::vector<bool> isLink(std::size_t(count), false);
    for (int i = 0, next = firstLeaf; i < links; ++i) {
        int index = std::max(next, firstLeaf + int(qint64(i) * leaves / links));
        while (index < count && (index % 10 == 0 || !ideas[std::size_t(index)].picture.isEmpty()))
            ++index;
        if (index >= count)
            break;
        FactoryIdea bare; // a link has no content of its own
        bare.identifier = ideas[std::size_t(index)].identifier;
        bare.parent = ideas[std::size_t(index)].parent;
        ideas[std::size_t(index)] = std::move(bare);
        isLink[std::size_t(index)] = true;
        linkIndexes.push_back(index);
        next = index + 1;
    }
    Random targets(quint64(seed) * 0x9E3779B97F4A7C15ull ^ 0x4C494E4Bull);
    for (const int index : linkIndexes) {
        int target = targets.below(count);
        while (isLink[std::size_t(target)])
            target = (target + 1) % count;
        ideas[std::size_t(index)].linkedIdentifier = ideas[std::size_t(target)].identifier;
    }
    return ideas;
}

std::vector<FactoryIdea> makeTree(TreeShape shape, int ideaCount, int maxChildren, quint32 seed)
{
    if (shape == TreeShape::Plain)
        return makeDocumentTree(ideaCount, maxChildren, seed);
    std::vector<FactoryIdea> ideas = makeRealShapeTree(ideaCount, maxChildren, seed);
    if (shape == TreeShape::PictureRich || shape == TreeShape::PictureRichWithoutPictures) {
        for (FactoryIdea& idea : ideas)
            idea.picture.clear();
        if (shape == TreeShape::PictureRich)
            givePicturesBesideLinks(ideas, (int(ideas.size()) + 55) / 56, seed);
    }
    if (shape == TreeShape::RealWithoutLinks) {
        QHash<QString, int> byIdentifier;
        for (std::size_t i = 0; i < ideas.size(); ++i)
            byIdentifier.insert(ideas[i].identifier, int(i));
        for (FactoryIdea& idea : ideas) {
            if (idea.linkedIdentifier.isEmpty())
                continue;
            idea.text = ideas[std::size_t(byIdentifier.value(idea.linkedIdentifier))].text;
            idea.linkedIdentifier.clear();
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
            if (idea.children.empty() || !idea.linkedIdentifier.isEmpty()) {
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
