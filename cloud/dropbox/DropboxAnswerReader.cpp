#include "cloud/dropbox/DropboxAnswerReader.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdint>

namespace corvex {

namespace {

using AnswerJson = nlohmann::json;

// Route replies are small; a body this deep is hostile.
constexpr int MaxErrorDepth = 16;

std::optional<AnswerJson> parseAnswer(const QByteArray& bytes)
{
    AnswerJson parsed =
        AnswerJson::parse(bytes.constData(), bytes.constData() + bytes.size(), nullptr, false);
    if (parsed.is_discarded())
        return std::nullopt;
    return parsed;
}

std::optional<QString> answerString(const AnswerJson& object, const char* name)
{
    if (!object.is_object())
        return std::nullopt;
    const auto found = object.find(name);
    if (found == object.end() || !found->is_string())
        return std::nullopt;
    return QString::fromStdString(found->get_ref<const std::string&>());
}

// `impliedTag`: the type the route names when the object carries no ".tag".
std::optional<DropboxAnswerReader::Entry> readEntry(const AnswerJson& object,
                                                    const char* impliedTag = nullptr)
{
    std::optional<QString> tag = answerString(object, ".tag");
    if (!tag && impliedTag != nullptr && object.is_object() && !object.contains(".tag"))
        tag = QString::fromLatin1(impliedTag);
    if (!tag)
        return std::nullopt;
    DropboxAnswerReader::Entry entry;
    entry.tag = *tag;
    entry.pathLower = answerString(object, "path_lower").value_or(QString());
    if (entry.tag == QLatin1String("file")) {
        const std::optional<QString> rev = answerString(object, "rev");
        if (!rev || rev->isEmpty() || entry.pathLower.isEmpty())
            return std::nullopt;
        entry.rev = *rev;
        entry.contentHash = answerString(object, "content_hash").value_or(QString());
        const auto size = object.find("size");
        if (size != object.end() && size->is_number_unsigned())
            entry.size = qint64(std::min<std::uint64_t>(size->get<std::uint64_t>(), INT64_MAX));
    }
    return entry;
}

} // namespace

std::optional<DropboxAnswerReader::ListPage> DropboxAnswerReader::listPage(const QByteArray& body)
{
    const std::optional<AnswerJson> parsed = parseAnswer(body);
    if (!parsed || !parsed->is_object())
        return std::nullopt;
    const auto entries = parsed->find("entries");
    const auto hasMore = parsed->find("has_more");
    const std::optional<QString> cursor = answerString(*parsed, "cursor");
    if (entries == parsed->end() || !entries->is_array() || hasMore == parsed->end() ||
        !hasMore->is_boolean())
        return std::nullopt;
    ListPage page;
    page.hasMore = hasMore->get<bool>();
    page.cursor = cursor.value_or(QString());
    if (page.hasMore && page.cursor.isEmpty())
        return std::nullopt;
    for (const AnswerJson& element : *entries) {
        const std::optional<Entry> entry = readEntry(element);
        const bool file = entry && entry->tag == QLatin1String("file");
        const bool deleted = entry && entry->tag == QLatin1String("deleted") && !entry->pathLower.isEmpty();
        if (file || deleted)
            page.entries.push_back(*entry);
    }
    return page;
}

std::optional<DropboxAnswerReader::Entry> DropboxAnswerReader::metadata(const QByteArray& json, bool wrapped)
{
    const std::optional<AnswerJson> parsed = parseAnswer(json);
    if (!parsed || !parsed->is_object())
        return std::nullopt;
    if (!wrapped)
        return readEntry(*parsed);
    const auto inner = parsed->find("metadata");
    if (inner == parsed->end())
        return std::nullopt;
    return readEntry(*inner);
}

std::optional<DropboxAnswerReader::Entry> DropboxAnswerReader::fileMetadata(const QByteArray& json)
{
    const std::optional<AnswerJson> parsed = parseAnswer(json);
    if (!parsed || !parsed->is_object())
        return std::nullopt;
    std::optional<Entry> entry = readEntry(*parsed, "file");
    if (!entry || entry->tag != QLatin1String("file"))
        return std::nullopt;
    return entry;
}

QStringList DropboxAnswerReader::errorTags(const QByteArray& body)
{
    QStringList tags;
    const std::optional<AnswerJson> parsed = parseAnswer(body);
    if (!parsed || !parsed->is_object())
        return tags;
    const auto error = parsed->find("error");
    if (error == parsed->end())
        return tags;
    const AnswerJson* level = &*error;
    while (tags.size() < MaxErrorDepth) {
        const std::optional<QString> tag = answerString(*level, ".tag");
        if (!tag)
            break;
        tags.append(*tag);
        const std::string key = tag->toStdString();
        const auto byTag = level->find(key);
        const auto reason = level->find("reason");
        if (byTag != level->end() && byTag->is_object())
            level = &*byTag;
        else if (reason != level->end() && reason->is_object())
            level = &*reason;
        else
            break;
    }
    return tags;
}

bool DropboxAnswerReader::errorIs(const QByteArray& body, const QString& prefix)
{
    const QStringList wanted = prefix.split(QLatin1Char('/'));
    const QStringList tags = errorTags(body);
    return tags.size() >= wanted.size() && tags.mid(0, wanted.size()) == wanted;
}

} // namespace corvex
