#pragma once

// Shared by the OPML and outline tests: the fixture folders written by
// tests/data/gen/make_opml_fixtures.py, trees made from the fixtures' JSON, and tree dumps
// that show what the formats carry.

#include "model/Idea.h"
#include "model/ObjectID.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QRegularExpression>
#include <gtest/gtest.h>
#include <utility>
#include <vector>

namespace corvex::test::outline {

inline QString opmlDataDir()
{
    return QFileInfo(QStringLiteral(__FILE__)).absoluteDir().absoluteFilePath(QStringLiteral("../data/opml"));
}

inline QString opmlCorpusDir()
{
    return QFileInfo(QStringLiteral(__FILE__))
        .absoluteDir()
        .absoluteFilePath(QStringLiteral("../../fuzz/corpus/fuzz_opml"));
}

inline QByteArray readBytes(const QString& path)
{
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
    return file.readAll();
}

inline QJsonValue readJson(const QString& path)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(readBytes(path), &error);
    EXPECT_EQ(error.error, QJsonParseError::NoError)
        << path.toStdString() << ": " << error.errorString().toStdString();
    return document.isArray() ? QJsonValue(document.array()) : QJsonValue(document.object());
}

inline QString nullableString(const QJsonValue& value)
{
    return value.isString() ? value.toString() : QString();
}

// A tree from the fixtures' description: "type" (text, image, url, link), "id" (or a fresh
// one), "text", "note", "url", "linkTo" (the target's "id") and "ideas".
inline IdeaPtr ideaTreeFromJson(const QJsonObject& description)
{
    auto make = [](const QJsonObject& node) {
        const QString type = node.value(QStringLiteral("type")).toString(QStringLiteral("text"));
        IdeaPtr idea;
        if (type == QStringLiteral("image")) {
            idea = Idea::initWithImageAttachment(QVImage(), ObjectID());
        } else if (type == QStringLiteral("url")) {
            idea = Idea::initWithURL(nullableString(node.value(QStringLiteral("url"))), QVImage());
        } else if (type == QStringLiteral("link")) {
            idea = Idea::initWithLinkToIdea(node.value(QStringLiteral("linkTo")).toString());
        } else {
            const QString id = nullableString(node.value(QStringLiteral("id")));
            const QString text = nullableString(node.value(QStringLiteral("text")));
            idea = id.isEmpty() ? Idea::initWithText(text) : Idea::initWithText(text, id);
        }
        idea->setNote(nullableString(node.value(QStringLiteral("note"))));
        return idea;
    };
    IdeaPtr root = make(description);
    std::vector<std::pair<IdeaPtr, QJsonObject>> pending{{root, description}};
    while (!pending.empty()) {
        auto [idea, node] = pending.back();
        pending.pop_back();
        for (const QJsonValue& child : node.value(QStringLiteral("ideas")).toArray()) {
            IdeaPtr made = make(child.toObject());
            EXPECT_TRUE(idea->addIdea(made));
            pending.emplace_back(made, child.toObject());
        }
    }
    return root;
}

inline QString shown(const QString& text)
{
    return text.isNull() ? QStringLiteral("(null)") : QLatin1Char('[') + text + QLatin1Char(']');
}

// One line per idea in pre-order: indentation, text, note and colour name. What an OPML
// import gives, without identifiers.
inline QString importDump(const IdeaPtr& root)
{
    QString dump;
    std::vector<std::pair<IdeaPtr, int>> stack{{root, 0}};
    while (!stack.empty()) {
        auto [idea, depth] = stack.back();
        stack.pop_back();
        dump += QString(2 * depth, QLatin1Char(' ')) + QStringLiteral("text=") + shown(idea->text()) +
                QStringLiteral(" note=") + shown(idea->note()) + QStringLiteral(" color=") +
                (idea->color() ? idea->color()->name() : QStringLiteral("(none)")) + QLatin1Char('\n');
        for (auto it = idea->ideas().rbegin(); it != idea->ideas().rend(); ++it)
            stack.emplace_back(*it, depth + 1);
    }
    return dump;
}

// The same dump from a fixture's expected tree ("text", "note", "color", "ideas").
inline QString expectedImportDump(const QJsonObject& expected)
{
    QString dump;
    std::vector<std::pair<QJsonObject, int>> stack{{expected, 0}};
    while (!stack.empty()) {
        auto [node, depth] = stack.back();
        stack.pop_back();
        const QJsonValue color = node.value(QStringLiteral("color"));
        dump += QString(2 * depth, QLatin1Char(' ')) + QStringLiteral("text=") +
                shown(nullableString(node.value(QStringLiteral("text")))) + QStringLiteral(" note=") +
                shown(nullableString(node.value(QStringLiteral("note")))) + QStringLiteral(" color=") +
                (color.isString() ? color.toString() : QStringLiteral("(none)")) + QLatin1Char('\n');
        const QJsonArray children = node.value(QStringLiteral("ideas")).toArray();
        for (auto it = children.end(); it != children.begin();) {
            --it;
            stack.emplace_back((*it).toObject(), depth + 1);
        }
    }
    return dump;
}

// The model's tree dump (debugDescription) without identifiers, then the notes of every idea
// below the root in pre-order: what an OPML round trip must keep.
inline QString roundTripDump(const IdeaPtr& root)
{
    static const QRegularExpression identifiers(QStringLiteral("( i=\\S*|identifier=\\[[^\\]]*\\] )"));
    QString dump = root->debugDescription().remove(identifiers);
    dump += QStringLiteral("\nnotes:\n");
    root->traverseNaturally(
        [&](const IdeaPtr& idea, qint64 depth) {
            if (depth > 0)
                dump += QString::number(depth) + QLatin1Char(' ') + shown(idea->note()) + QLatin1Char('\n');
        },
        0);
    return dump;
}

} // namespace corvex::test::outline
