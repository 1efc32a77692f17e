#include "formats/OPMLWriter.h"

#include "model/Globals.h"
#include "model/Idea.h"
#include "platform/core/SaveFile.h"

#include <vector>

namespace corvex {

namespace {

enum class Place
{
    Attribute,
    Text
};

// The replacement of one character at `place`: itself (nullptr, keep = true), an entity or
// character reference, or nothing (keep = false).
const char* replacementFor(char16_t c, Place place, bool& keep)
{
    keep = true;
    switch (c) {
    case u'&':
        return "&amp;";
    case u'"':
        return "&quot;";
    case u'\'':
        return "&#x27;";
    case u'>':
        return "&gt;";
    case u'<':
        return "&lt;";
    case u'\t':
        return place == Place::Attribute ? "&#9;" : nullptr;
    case u'\n':
        return place == Place::Attribute ? "&#10;" : nullptr;
    case u'\r':
        return "&#13;";
    case 0xFFFE:
    case 0xFFFF:
        keep = false;
        return nullptr;
    default:
        if (c < 0x20)
            keep = false;
        return nullptr;
    }
}

void appendEscaped(QStringView text, QString& buffer, Place place)
{
    buffer.reserve(buffer.size() + text.size());
    // Runs of characters that need nothing are copied at once.
    qsizetype runStart = 0;
    const qsizetype size = text.size();
    for (qsizetype i = 0; i < size; ++i) {
        const char16_t c = text[i].unicode();
        if (c >= 0x20 && c < 0xD800 && c != u'&' && c != u'"' && c != u'\'' && c != u'<' && c != u'>')
            continue;
        if (QChar::isHighSurrogate(c) && i + 1 < size && QChar::isLowSurrogate(text[i + 1].unicode())) {
            ++i;
            continue;
        }
        bool keep = true;
        const char* replacement = nullptr;
        if (QChar::isSurrogate(c))
            keep = false; // unpaired
        else
            replacement = replacementFor(c, place, keep);
        if (keep && !replacement)
            continue;
        buffer.append(text.mid(runStart, i - runStart));
        if (replacement)
            buffer.append(QLatin1String(replacement));
        runStart = i + 1;
    }
    buffer.append(text.mid(runStart));
}

} // namespace

void OPMLWriter::appendEscapedAttributeValue(QStringView text, QString& buffer)
{
    appendEscaped(text, buffer, Place::Attribute);
}

void OPMLWriter::appendEscapedText(QStringView text, QString& buffer)
{
    appendEscaped(text, buffer, Place::Text);
}

QString OPMLWriter::ideaAsOPML(const std::shared_ptr<Idea>& root)
{
    QString buffer =
        QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<opml version=\"1.0\"><head><title>");
    if (root)
        appendEscapedText(root->exportTitle(), buffer);
    buffer += QLatin1String("</title></head><body>\n");
    if (root) {
        for (const std::shared_ptr<Idea>& child : root->ideas())
            appendIdeaIntoOPML(child, 1, buffer);
    }
    buffer += QLatin1String("</body></opml>");
    return buffer;
}

void OPMLWriter::appendIdeaIntoOPML(const std::shared_ptr<Idea>& idea, int level, QString& buffer)
{
    if (!idea)
        return;
    struct Frame
    {
        const Idea* idea;
        int level;
        std::size_t next; // the next child to write
    };
    auto open = [&buffer](const Idea& node, int depth) {
        buffer.resize(buffer.size() + depth, QLatin1Char('\t'));
        buffer += QLatin1String("<outline text=\"");
        appendEscapedAttributeValue(node.exportTitle(), buffer);
        buffer += QLatin1Char('"');
        const QString note = node.note();
        if (!note.isNull()) {
            buffer += QLatin1String(" _note=\"");
            appendEscapedAttributeValue(note, buffer);
            buffer += QLatin1Char('"');
        }
        buffer += node.ideas().empty() ? QLatin1String(" />\n") : QLatin1String(">\n");
    };
    std::vector<Frame> stack;
    open(*idea, level);
    stack.push_back({idea.get(), level, 0});
    while (!stack.empty()) {
        Frame& top = stack.back();
        const auto& children = top.idea->ideas();
        if (top.next < children.size()) {
            const Idea& child = *children[top.next++];
            const int childLevel = top.level + 1;
            open(child, childLevel);
            // `top` may dangle once the stack grows.
            stack.push_back({&child, childLevel, 0});
            continue;
        }
        if (!children.empty()) {
            buffer.resize(buffer.size() + top.level, QLatin1Char('\t'));
            buffer += QLatin1String("</outline>\n");
        }
        stack.pop_back();
    }
}

Status OPMLWriter::saveToFile(const std::shared_ptr<Idea>& root, const QString& path)
{
    if (!root)
        return Error(Globals::ErrorDomain, -1, QStringLiteral("There is no idea to export."));
    return SaveFile::writeAtomically(path, ideaAsOPML(root).toUtf8(), SaveFile::Kind::UserFile);
}

} // namespace corvex
