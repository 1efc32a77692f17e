#include "formats/TextExporter.h"

#include "model/Idea.h"
#include "model/StringExtensions.h"
#include "platform/core/SaveFile.h"

#include <utility>
#include <vector>

namespace corvex {

namespace {

// Pre-order over the subtree with each idea's level; children are read after `visit` has
// run on their parent.
template <class Visit> void walkPreOrder(const Idea& start, qint64 level, Visit visit)
{
    std::vector<std::pair<const Idea*, qint64>> stack{{&start, level}};
    while (!stack.empty()) {
        const auto [idea, depth] = stack.back();
        stack.pop_back();
        visit(*idea, depth);
        const auto& children = idea->ideas();
        for (auto it = children.rbegin(); it != children.rend(); ++it)
            stack.emplace_back(it->get(), depth + 1);
    }
}

// White space as the platform's regular expressions read "\s": tab, line feed, form feed,
// carriage return and the separators (spaces, line and paragraph separators).
bool isRegexSpace(QChar c)
{
    switch (c.unicode()) {
    case u'\t':
    case u'\n':
    case u'\f':
    case u'\r':
        return true;
    default:
        return c.category() == QChar::Separator_Space || c.category() == QChar::Separator_Line ||
               c.category() == QChar::Separator_Paragraph;
    }
}

QString withoutLeadingSpace(const QString& text)
{
    qsizetype start = 0;
    while (start < text.size() && isRegexSpace(text.at(start)))
        ++start;
    return start == 0 ? text : text.mid(start);
}

void appendNoteNumber(const char* format, qint64 number, QString& buffer)
{
    buffer += QLatin1String(format);
    buffer += QString::number(number);
}

} // namespace

void TextExporter::addLevelTabs(qint64 level, QString& buffer)
{
    if (level > 0)
        buffer.resize(buffer.size() + level, QLatin1Char('\t'));
}

QString TextExporter::textExportTitleFor(const std::shared_ptr<Idea>& idea)
{
    return idea ? withoutLeadingSpace(idea->exportTitle()) : QString();
}

void TextExporter::outlineIdea(const std::shared_ptr<Idea>& idea, qint64 level, qint64* nextNote,
                               QString& buffer)
{
    if (!idea)
        return;
    walkPreOrder(*idea, level, [&](const Idea& node, qint64 depth) {
        addLevelTabs(depth, buffer);
        buffer += withoutLeadingSpace(node.exportTitle());
        if (nextNote && node.hasNote()) {
            buffer += QLatin1Char('\n');
            addLevelTabs(depth + 1, buffer);
            appendNoteNumber("(Note ", (*nextNote)++, buffer);
            buffer += QLatin1Char(')');
        }
        buffer += QLatin1Char('\n');
    });
}

void TextExporter::addNotesFrom(const std::shared_ptr<Idea>& idea, qint64 level, qint64* nextNote,
                                QString& buffer)
{
    if (!idea || !nextNote)
        return;
    walkPreOrder(*idea, level, [&](const Idea& node, qint64) {
        if (!node.hasNote())
            return;
        appendNoteNumber("\nNote ", (*nextNote)++, buffer);
        buffer += QLatin1String(": ");
        buffer += withoutLeadingSpace(node.exportTitle());
        buffer += QLatin1String("\n\n");
        buffer += node.note();
        buffer += QLatin1Char('\n');
    });
}

QString TextExporter::ideaAsTextOutline(const std::shared_ptr<Idea>& idea, bool includeNotes)
{
    QString buffer;
    if (!includeNotes) {
        outlineIdea(idea, 0, nullptr, buffer);
    } else {
        qint64 nextNote = 1;
        outlineIdea(idea, 0, &nextNote, buffer);
        if (nextNote >= 2) {
            nextNote = 1;
            buffer += QLatin1Char('\n');
            addNotesFrom(idea, 0, &nextNote, buffer);
        }
    }
    if (!buffer.isEmpty())
        buffer.chop(1);
    return buffer;
}

void TextExporter::appendIdeaIntoHTML(const std::shared_ptr<Idea>& idea, bool includeNotes, QString& buffer)
{
    if (!idea)
        return;
    auto open = [&](const Idea& node) {
        buffer += QLatin1String("<p>");
        buffer += StringExtensions::xmlSimpleEscapeString(node.exportTitle());
        buffer += QLatin1String("</p>");
        if (includeNotes && node.hasNote()) {
            buffer += QLatin1String("\n<pre>");
            buffer += StringExtensions::xmlSimpleEscapeString(node.note());
            buffer += QLatin1String("</pre>");
        }
        if (!node.ideas().empty())
            buffer += QLatin1String("\n<ul>");
    };
    struct Frame
    {
        const Idea* idea;
        std::size_t next; // the next child to write
    };
    std::vector<Frame> stack;
    open(*idea);
    stack.push_back({idea.get(), 0});
    while (!stack.empty()) {
        Frame& top = stack.back();
        const auto& children = top.idea->ideas();
        if (top.next < children.size()) {
            const Idea& child = *children[top.next++];
            buffer += QLatin1String("\n<li>");
            open(child);
            // `top` may dangle once the stack grows.
            stack.push_back({&child, 0});
            continue;
        }
        if (!children.empty())
            buffer += QLatin1String("</ul>");
        stack.pop_back();
        if (!stack.empty())
            buffer += QLatin1String("</li>");
    }
}

QString TextExporter::ideaAsNestedHTMLList(const std::shared_ptr<Idea>& idea, bool includeNotes)
{
    QString buffer = QStringLiteral(
        "<!DOCTYPE html><html><head><meta charset=utf-8><title>Corvex document</title></head><body>");
    appendIdeaIntoHTML(idea, includeNotes, buffer);
    buffer += QLatin1String("</body></html>");
    return buffer;
}

Status TextExporter::writeToFile(const QString& text, const QString& path)
{
    return SaveFile::writeAtomically(path, text.toUtf8(), SaveFile::Kind::UserFile);
}

} // namespace corvex
