#include "export/WebExportRecord.h"

#include "export/WebExportNames.h"
#include "model/DrawnColor.h"
#include "model/Idea.h"
#include "platform/core/JsonText.h"
#include "platform/core/Log.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace corvex {

namespace {

int colorByte(double component)
{
    // Stored components are whole numbers over 255; the product may land a hair below.
    const double scaled = std::floor(component * 255.0 + 1e-6);
    return int(std::clamp(scaled, 0.0, 255.0));
}

// `drawn`: the colour the idea's planet is drawn with.
ValueDictionary ownFieldsOf(const Idea& idea, const ColorPtr& drawn)
{
    ValueDictionary record;
    record.insert(QStringLiteral("elemtype"), Value(qint64(idea.ideaType())));
    record.insert(QStringLiteral("identifier"), Value(WebExportNames::safeIdentifier(idea.identifier())));
    if (idea.hasText())
        record.insert(QStringLiteral("text"), Value(idea.text()));
    // A colourless idea shows the colour its planet is drawn with, unless a picture takes
    // the disc's place.
    const bool colourless = !idea.color() && !idea.image().hasImage();
    if ((idea.hasColor() || colourless) && drawn)
        record.insert(QStringLiteral("bgcolor"), Value(WebExportRecord::hexStringForColor(*drawn)));
    if (idea.hasNote())
        record.insert(QStringLiteral("note"), Value(idea.note()));
    if (idea.hasIcon()) {
        if (const IconImagePtr icon = idea.iconImage())
            record.insert(QStringLiteral("icon"), Value(icon->name()));
    }
    if (idea.hasURL())
        record.insert(QStringLiteral("url"), Value(idea.URL()));
    if (idea.image().hasImage())
        record.insert(QStringLiteral("image"), Value(WebExportNames::imageNameFor(idea)));
    if (!idea.att().isNull())
        record.insert(QStringLiteral("bigImage"), Value(idea.att().asString()));
    else if (!idea.bigImageData().isEmpty())
        record.insert(QStringLiteral("bigImage"), Value(WebExportNames::bigImageNameFor(idea)));
    if (idea.isLink()) {
        if (const IdeaPtr target = idea.linkedIdea())
            record.insert(QStringLiteral("linkedIdea"),
                          Value(WebExportNames::safeIdentifier(target->identifier())));
    }
    return record;
}

} // namespace

QString WebExportRecord::modeForStyle(quint64 style)
{
    switch (style) {
    case 1:
        return QStringLiteral("embedded");
    case 2:
        return QStringLiteral("fullpage");
    default:
        return QStringLiteral("presentation");
    }
}

QString WebExportRecord::hexStringForColor(const Color& color)
{
    const PlatformColor& ui = color.uiColor();
    return QString::asprintf("#%02X%02X%02X", colorByte(ui.redComponent()), colorByte(ui.greenComponent()),
                             colorByte(ui.blueComponent()));
}

Value WebExportRecord::exportIdea(const Idea& idea)
{
    // Pre-order list with each idea's children by index; records are then made from the
    // last idea back, so every child's record is complete before its parent takes it.
    struct Node
    {
        const Idea* idea;
        std::vector<std::size_t> children;
        ColorPtr drawn;
    };
    std::vector<Node> nodes;
    std::vector<std::pair<const Idea*, std::size_t>> stack{{&idea, SIZE_MAX}};
    while (!stack.empty()) {
        const auto [current, parentIndex] = stack.back();
        stack.pop_back();
        const std::size_t index = nodes.size();
        const Node* parent = parentIndex != SIZE_MAX ? &nodes[parentIndex] : nullptr;
        ColorPtr drawn =
            DrawnColor::ofChild(*current, parent ? parent->idea : nullptr, parent ? parent->drawn : nullptr,
                                parent ? parent->children.size() : 0);
        nodes.push_back({current, {}, std::move(drawn)});
        if (parentIndex != SIZE_MAX)
            nodes[parentIndex].children.push_back(index);
        const auto& ideas = current->ideas();
        for (auto it = ideas.rbegin(); it != ideas.rend(); ++it)
            stack.emplace_back(it->get(), index);
    }
    std::vector<Value> records(nodes.size());
    for (std::size_t i = nodes.size(); i-- > 0;) {
        ValueDictionary record = ownFieldsOf(*nodes[i].idea, nodes[i].drawn);
        ValueArray children;
        children.reserve(nodes[i].children.size());
        for (const std::size_t child : nodes[i].children)
            children.push_back(std::move(records[child]));
        record.insert(QStringLiteral("ideas"), Value(std::move(children)));
        records[i] = Value(std::move(record));
    }
    return std::move(records.front());
}

std::optional<QByteArray> WebExportRecord::jsonSerialize(const Value& value)
{
    QByteArray json = JsonText::serialize(value);
    if (json.isEmpty()) {
        Log::error(QStringLiteral("Error serializing JSON data"));
        return std::nullopt;
    }
    // Both separators are E2 80 A8 / E2 80 A9 in UTF-8, bytes that JSON text outside a
    // string never holds.
    json.replace("\xE2\x80\xA8", "\\u2028");
    json.replace("\xE2\x80\xA9", "\\u2029");
    return json;
}

std::optional<QByteArray> WebExportRecord::createDataJS(const Value& record, quint64 style)
{
    std::optional<QByteArray> json = jsonSerialize(record);
    if (!json)
        return std::nullopt;
    QByteArray text("globalCorvexData = { \"rootIdea\": ");
    text += *json;
    text += ",\n\"mode\": \"" + modeForStyle(style).toUtf8() + "\" };";
    return text;
}

} // namespace corvex
