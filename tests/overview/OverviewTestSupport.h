#pragma once

// Shared helpers of the overview tests: small idea trees, the layout fixtures written by
// tests/data/gen/make_overview_layouts.py, trees from the document factory.

#include "model/Color.h"
#include "model/ColorMatrix.h"
#include "model/Idea.h"
#include "model/IdeaDocumentDataObject.h"
#include "tests/factory/DocumentFactory.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>
#include <gtest/gtest.h>
#include <vector>

namespace corvex::test {

inline IdeaPtr textIdea(const QString& id)
{
    return Idea::initWithText(id, id);
}

inline void attach(const IdeaPtr& parent, const IdeaPtr& child)
{
    const bool added = parent->addIdea(child);
    EXPECT_TRUE(added) << child->identifier().toStdString();
}

inline QJsonObject overviewLayoutFixture()
{
    QFile file(QFileInfo(QString::fromUtf8(__FILE__)).absolutePath() +
               QStringLiteral("/../data/overview/layouts.json"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(file.readAll()).object();
}

// The ideas of a fixture tree (pre-order, "parent" indices), links made once all exist.
inline std::vector<IdeaPtr> ideasFromFixture(const QJsonArray& ideas)
{
    std::vector<IdeaPtr> made;
    for (const auto& value : ideas) {
        const QJsonObject o = value.toObject();
        const QString id = o.value(QStringLiteral("id")).toString();
        IdeaPtr idea;
        const int link = o.value(QStringLiteral("link")).toInt();
        if (link >= 0)
            idea = Idea::initWithLinkToIdea(ideas[link].toObject().value(QStringLiteral("id")).toString());
        else
            idea = Idea::initWithText(id, id);
        if (o.value(QStringLiteral("note")).toBool())
            idea->setNote(QStringLiteral("note of ") + id);
        const int parent = o.value(QStringLiteral("parent")).toInt();
        if (parent >= 0)
            attach(made[std::size_t(parent)], idea);
        made.push_back(idea);
    }
    return made;
}

// A document-factory tree as ideas (index 0 the root), without recursion.
inline std::vector<IdeaPtr> ideasFromFactory(const std::vector<FactoryIdea>& tree)
{
    std::vector<IdeaPtr> made(tree.size());
    for (std::size_t i = 0; i < tree.size(); ++i) {
        made[i] = Idea::initWithText(tree[i].text, tree[i].identifier);
        if (!tree[i].note.isEmpty())
            made[i]->setNote(tree[i].note);
        if (!tree[i].colorName.isEmpty())
            made[i]->setColor(ColorMatrix::classicColorMatrix().colorWithName(tree[i].colorName));
    }
    for (std::size_t i = 0; i < tree.size(); ++i)
        for (const int child : tree[i].children)
            attach(made[i], made[std::size_t(child)]);
    return made;
}

// The root idea of a document-factory tree read back from its stored JSON form, as a
// document file would give it (colours, notes and icons included).
inline IdeaPtr documentTree(const std::vector<FactoryIdea>& tree)
{
    const auto payload = IdeaDocumentDataObject::decodeSomeData(makePayloadJson(tree));
    return payload.ok() && payload.value() ? payload.value()->idea() : nullptr;
}

} // namespace corvex::test
