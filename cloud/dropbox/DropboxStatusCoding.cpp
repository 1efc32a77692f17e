#include "cloud/dropbox/DropboxStatusCoding.h"

#include "platform/core/Log.h"

#include <algorithm>
#include <nlohmann/json.hpp>

namespace corvex {

namespace {

using Json = nlohmann::json;

const char* const TopMember = "dropboxFolderManagerState";

// The text is written directly: building a JSON tree first costs several times the dump.
void appendString(QByteArray& out, const QString& text)
{
    static const char hex[] = "0123456789abcdef";
    out.append('"');
    const QByteArray utf8 = text.toUtf8();
    const auto needsEscape = [](char byte) {
        const auto c = static_cast<unsigned char>(byte);
        return c == '"' || c == '\\' || c < 0x20;
    };
    if (std::none_of(utf8.cbegin(), utf8.cend(), needsEscape)) {
        out.append(utf8);
        out.append('"');
        return;
    }
    for (const char byte : utf8) {
        const auto c = static_cast<unsigned char>(byte);
        if (c == '"' || c == '\\') {
            out.append('\\').append(char(c));
        } else if (c < 0x20) {
            out.append("\\u00", 4).append(hex[c >> 4]).append(hex[c & 15]);
        } else {
            out.append(char(c));
        }
    }
    out.append('"');
}

void appendFileInfo(QByteArray& out, const char* slot, const QVFileInfo::Ref& info, bool& first)
{
    if (!info)
        return;
    out.append(first ? "\"" : ",\"").append(slot).append("\":{");
    first = false;
    if (info->name()) {
        out.append("\"name\":");
        appendString(out, *info->name());
    }
    if (info->rev()) {
        out.append(info->name() ? ",\"rev\":" : "\"rev\":");
        appendString(out, *info->rev());
    }
    out.append('}');
}

void appendRecord(QByteArray& out, const DocumentInfo& record)
{
    out.append('{');
    bool first = true;
    appendFileInfo(out, "input", record.input(), first);
    appendFileInfo(out, "current", record.current(), first);
    appendFileInfo(out, "output", record.output(), first);
    out.append('}');
}

std::optional<QString> stringMember(const Json& object, const char* name)
{
    const auto found = object.find(name);
    if (found == object.end() || !found->is_string())
        return std::nullopt;
    return QString::fromStdString(found->get_ref<const std::string&>());
}

QVFileInfo::Ref decodeFileInfo(const Json& object, const char* name)
{
    const auto found = object.find(name);
    if (found == object.end() || !found->is_object())
        return nullptr;
    std::optional<QString> fileName = stringMember(*found, "name");
    std::optional<QString> rev = stringMember(*found, "rev");
    if (!fileName && !rev)
        return QVFileInfo::EMPTY();
    return QVFileInfo::make(std::move(fileName), std::move(rev));
}

DocumentInfo::Ref decodeRecord(const Json& object)
{
    return DocumentInfo::make(decodeFileInfo(object, "input"), decodeFileInfo(object, "current"),
                              decodeFileInfo(object, "output"));
}

} // namespace

QByteArray DropboxStatusCoding::encode(const Persisted& persisted)
{
    QByteArray out;
    out.reserve(qsizetype(persisted.docs.size()) * 160 + 128);
    out.append("{\"").append(TopMember).append("\":{");
    bool first = true;
    const auto member = [&out, &first](const char* name) {
        out.append(first ? "\"" : ",\"").append(name).append("\":");
        first = false;
    };
    if (persisted.fileFormatVersion) {
        member("fileFormatVersion");
        appendString(out, *persisted.fileFormatVersion);
    }
    if (persisted.index) {
        member("index");
        appendRecord(out, *persisted.index);
    }
    bool firstDocument = true;
    for (const auto& [key, record] : persisted.docs) {
        if (!record || !record->containsData())
            continue;
        if (firstDocument) {
            member("documents");
            out.append('[');
        } else {
            out.append(',');
        }
        firstDocument = false;
        out.append("{\"key\":");
        appendString(out, key);
        out.append(",\"val\":");
        appendRecord(out, *record);
        out.append('}');
    }
    if (!firstDocument)
        out.append(']');
    out.append("}}");
    return out;
}

std::optional<DropboxStatusCoding::Persisted> DropboxStatusCoding::decode(const QByteArray& bytes)
{
    Json top;
    try {
        top = Json::parse(bytes.constData(), bytes.constData() + bytes.size());
    } catch (const Json::exception& error) { // a parse error, or a number out of range
        Log::error(QStringLiteral("NSJSONSerialization: Error %1").arg(QString::fromUtf8(error.what())));
        return std::nullopt;
    }
    if (!top.is_object())
        return std::nullopt;
    const auto state = top.find(TopMember);
    if (state == top.end() || !state->is_object())
        return std::nullopt;

    Persisted persisted;
    persisted.fileFormatVersion = stringMember(*state, "fileFormatVersion");
    if (const auto index = state->find("index"); index != state->end() && index->is_object())
        persisted.index = decodeRecord(*index);
    const auto documents = state->find("documents");
    if (documents == state->end() || !documents->is_array())
        return persisted;
    for (const Json& element : *documents) {
        if (!element.is_object())
            continue;
        const std::optional<QString> key = stringMember(element, "key");
        const auto val = element.find("val");
        if (!key || val == element.end() || !val->is_object())
            continue;
        persisted.docs[*key] = decodeRecord(*val);
    }
    return persisted;
}

} // namespace corvex
