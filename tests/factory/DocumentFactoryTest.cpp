#include "tests/factory/DocumentFactory.h"
#include "model/Idea.h"
#include "model/IdeaDocumentDataObject.h"
#include "platform/core/JsonText.h"

#include <QSet>
#include <algorithm>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

using namespace corvex;
using corvex::test::FactoryIdea;
using corvex::test::makeDocumentTree;
using corvex::test::makePayloadJson;

namespace {

// Counts the idea objects of a parsed payload and checks each against the factory's idea.
int checkPayloadIdeas(const Value& root, const std::vector<FactoryIdea>& ideas)
{
    QHash<QString, const FactoryIdea*> byIdentifier;
    for (const FactoryIdea& idea : ideas)
        byIdentifier.insert(idea.identifier, &idea);
    int seen = 0;
    std::vector<const Value*> pending{
        &root.value(QStringLiteral("ideaDocumentDataObject")).value(QStringLiteral("idea"))};
    while (!pending.empty()) {
        const Value& object = *pending.back();
        pending.pop_back();
        ++seen;
        const QString identifier = object.value(QStringLiteral("identifier")).toString();
        const FactoryIdea* idea = byIdentifier.value(identifier);
        if (idea == nullptr) {
            ADD_FAILURE() << "unknown identifier " << identifier.toStdString();
            continue;
        }
        EXPECT_EQ(object.value(QStringLiteral("text")).toString(), idea->text) << identifier.toStdString();
        EXPECT_EQ(object.value(QStringLiteral("note")).toString(), idea->note) << identifier.toStdString();
        EXPECT_EQ(object.toDictionary().contains(QStringLiteral("note")), !idea->note.isEmpty());
        EXPECT_EQ(object.value(QStringLiteral("color")).toString(), idea->colorName);
        EXPECT_EQ(object.value(QStringLiteral("ideaType")).toInteger(), 1);
        EXPECT_EQ(object.value(QStringLiteral("iconImage")).value(QStringLiteral("symbol")).toString(),
                  idea->iconSymbol);
        const Value& children = object.value(QStringLiteral("ideas"));
        EXPECT_EQ(object.toDictionary().contains(QStringLiteral("ideas")), !idea->children.empty())
            << identifier.toStdString();
        EXPECT_EQ(std::size_t(children.size()), idea->children.size()) << identifier.toStdString();
        for (const Value& child : children.toArray())
            pending.push_back(&child);
    }
    return seen;
}

} // namespace

TEST(DocumentFactory, MakesTheRequestedNumberOfIdeasFilledBreadthFirst)
{
    const auto ideas = makeDocumentTree(1000, 8, 7);
    ASSERT_EQ(ideas.size(), 1000u);
    EXPECT_EQ(ideas[0].parent, -1);
    std::size_t childLinks = 0;
    for (int i = 0; i < 1000; ++i) {
        const FactoryIdea& idea = ideas[std::size_t(i)];
        EXPECT_LE(idea.children.size(), 8u) << i;
        childLinks += idea.children.size();
        for (int child : idea.children)
            EXPECT_EQ(ideas[std::size_t(child)].parent, i) << child;
        if (i > 0) {
            EXPECT_LT(idea.parent, i) << "breadth first: a parent comes before its children";
            EXPECT_EQ(idea.parent, (i - 1) / 8) << i;
        }
    }
    EXPECT_EQ(childLinks, 999u);
    EXPECT_EQ(makeDocumentTree(0).size(), 1u) << "there is always a root";
}

TEST(DocumentFactory, HasTheFixedMixOfTextsNotesColoursAndIcons)
{
    const auto ideas = makeDocumentTree(500);
    QSet<QString> identifiers;
    QSet<QString> texts;
    for (int i = 0; i < 500; ++i) {
        const FactoryIdea& idea = ideas[std::size_t(i)];
        EXPECT_EQ(idea.text.size(), 40) << i << ": " << idea.text.toStdString();
        EXPECT_FALSE(idea.text.endsWith(QLatin1Char(' '))) << i;
        EXPECT_EQ(idea.note.size(), i % 5 == 0 ? 200 : 0) << i;
        EXPECT_EQ(idea.identifier, QStringLiteral("id%1_1").arg(i));
        const char* families[] = {"green", "blue", "red", "violet"};
        EXPECT_EQ(idea.colorName, QString::fromLatin1(families[(i % 28) / 7]) + QString::number(i % 7)) << i;
        EXPECT_EQ(!idea.iconSymbol.isEmpty(), i % 3 == 0) << i;
        EXPECT_EQ(!idea.iconName.isEmpty(), i % 3 == 0) << i;
        EXPECT_EQ(!idea.iconCategory.isEmpty(), i % 3 == 0) << i;
        identifiers.insert(idea.identifier);
        texts.insert(idea.text);
    }
    EXPECT_EQ(identifiers.size(), 500);
    EXPECT_GT(texts.size(), 490) << "texts vary";
    EXPECT_EQ(ideas[0].iconName, QStringLiteral("grinning face"));
    EXPECT_EQ(ideas[0].iconCategory, QStringLiteral("Smileys & People"));
    EXPECT_EQ(ideas[0].iconSymbol, QStringLiteral("\U0001F600"));
}

TEST(DocumentFactory, IsDeterministicForASeedAndVariesWithIt)
{
    const auto first = makeDocumentTree(50, 4, 3);
    const auto again = makeDocumentTree(50, 4, 3);
    const auto other = makeDocumentTree(50, 4, 4);
    int differentTexts = 0;
    for (std::size_t i = 0; i < 50; ++i) {
        EXPECT_EQ(first[i].text, again[i].text) << i;
        EXPECT_EQ(first[i].note, again[i].note) << i;
        differentTexts += first[i].text != other[i].text ? 1 : 0;
    }
    EXPECT_GT(differentTexts, 45);
    // An idea's content does not depend on the size of the tree.
    EXPECT_EQ(makeDocumentTree(10, 4, 3)[7].text, first[7].text);
}

TEST(DocumentFactory, PayloadJsonParsesInTheStoredDocumentShape)
{
    const auto ideas = makeDocumentTree(300, 5);
    const QByteArray payload = makePayloadJson(ideas);

    // An independent reader agrees that it is JSON.
    EXPECT_TRUE(nlohmann::ordered_json::accept(payload.constData(), payload.constData() + payload.size()));

    const auto parsed = JsonText::parse(payload);
    ASSERT_TRUE(parsed.ok()) << parsed.error().toString().toStdString();
    const Value& root = *parsed;
    EXPECT_EQ(root.toDictionary().keys(), QStringList{QStringLiteral("ideaDocumentDataObject")});
    const Value& data = root.value(QStringLiteral("ideaDocumentDataObject"));
    EXPECT_EQ(data.toDictionary().keys(),
              (QStringList{QStringLiteral("fileFormatVersion"), QStringLiteral("idea"),
                           QStringLiteral("dateCreated"), QStringLiteral("dateModified"),
                           QStringLiteral("appInstance")}));
    EXPECT_EQ(data.value(QStringLiteral("fileFormatVersion")), Value(4));
    EXPECT_EQ(data.value(QStringLiteral("dateCreated")).toString(),
              QStringLiteral("2024-01-02 03:04:00 GMT"));
    EXPECT_EQ(data.value(QStringLiteral("appInstance")).toString(), QStringLiteral("MAC_1704164640.000000"));

    const Value& rootIdea = data.value(QStringLiteral("idea"));
    EXPECT_EQ(rootIdea.toDictionary().keys(),
              (QStringList{QStringLiteral("identifier"), QStringLiteral("ideaType"),
                           QStringLiteral("colorThemeType"), QStringLiteral("text"), QStringLiteral("note"),
                           QStringLiteral("color"), QStringLiteral("iconImage"), QStringLiteral("ideas")}));
    EXPECT_EQ(rootIdea.value(QStringLiteral("iconImage")).toDictionary().keys(),
              (QStringList{QStringLiteral("name"), QStringLiteral("category"), QStringLiteral("symbol")}));
    EXPECT_EQ(checkPayloadIdeas(root, ideas), 300);
}

TEST(DocumentFactory, PayloadOfAChainDeeperThanTheParseLimitIsWrittenWithoutRecursion)
{
    const int count = 5000;
    const auto ideas = makeDocumentTree(count, 1);
    ASSERT_EQ(ideas[count - 1].parent, count - 2);
    const QByteArray payload = makePayloadJson(ideas);
    // Each level is an idea object and its "ideas" array.
    const auto refused = JsonText::parse(payload);
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.error().code(), JsonText::TooDeep);
    const auto parsed = JsonText::parse(payload, 2 * count + 2);
    ASSERT_TRUE(parsed.ok()) << parsed.error().toString().toStdString();
    EXPECT_EQ(checkPayloadIdeas(*parsed, ideas), count);
}

TEST(DocumentFactory, RealShapeTreeHasItsSharesAndItsLinksResolve)
{
    IdeaDocumentDataObject::registerCodables();
    for (const auto& [count, fanOut] : {std::pair{1, 8}, {100, 8}, {999, 3}, {20000, 8}}) {
        SCOPED_TRACE(count);
        const auto ideas = test::makeRealShapeTree(count, fanOut, 5);
        ASSERT_EQ(int(ideas.size()), count);
        const int shares = count > 1 ? 1 : 0;
        int links = 0, pictures = 0, notes = 0;
        QSet<QString> identifiers;
        QSet<QChar::Script> scripts;
        for (const FactoryIdea& idea : ideas) {
            identifiers.insert(idea.identifier);
            notes += idea.note.isEmpty() ? 0 : 1;
            if (!idea.linkedIdentifier.isEmpty()) {
                ++links;
                EXPECT_TRUE(idea.children.empty() && idea.text.isEmpty() && idea.note.isEmpty());
                continue;
            }
            EXPECT_GE(idea.text.size(), 5);
            EXPECT_LE(idea.text.size(), 40);
            scripts.insert(idea.text.at(0).script());
            if (!idea.picture.isEmpty()) {
                ++pictures;
                // IHDR: 64 x 64.
                EXPECT_EQ(idea.picture.mid(16, 8).toHex(), QByteArray("0000004000000040"));
            }
        }
        EXPECT_EQ(identifiers.size(), count);
        EXPECT_EQ(links, shares * (count + 199) / 200);
        EXPECT_EQ(pictures, shares * (count + 499) / 500);
        EXPECT_EQ(notes, (count + 9) / 10);
        if (count >= 999) { // Latin, Cyrillic, Greek, Han, Arabic
            EXPECT_EQ(scripts.size(), 5);
        }

        // The model reads it, and every link finds an idea of the tree that is not a link.
        const QByteArray payload = makePayloadJson(ideas);
        const auto read = IdeaDocumentDataObject::readFromJSONData(payload);
        ASSERT_TRUE(read && read->idea());
        EXPECT_EQ(read->idea()->calculateWholeTreeSize(), count);
        int resolved = 0;
        read->idea()->traverseNaturally(
            [&](const IdeaPtr& idea, qint64) {
                if (!idea->isLink())
                    return;
                const IdeaPtr target = idea->linkedIdea();
                resolved += target && !target->isLink() && target != idea ? 1 : 0;
            },
            0);
        EXPECT_EQ(resolved, links);
        EXPECT_EQ(payload, makePayloadJson(test::makeRealShapeTree(count, fanOut, 5))) << "deterministic";

        // Without links: the same tree, each link a plain idea with its target's title.
        const auto plain = test::makeTree(test::TreeShape::RealWithoutLinks, count, fanOut, 5);
        ASSERT_EQ(plain.size(), ideas.size());
        int turned = 0;
        for (std::size_t i = 0; i < ideas.size(); ++i) {
            EXPECT_TRUE(plain[i].linkedIdentifier.isEmpty());
            EXPECT_EQ(plain[i].identifier, ideas[i].identifier);
            if (ideas[i].linkedIdentifier.isEmpty()) {
                EXPECT_EQ(plain[i].text, ideas[i].text);
                continue;
            }
            ++turned;
            const auto target = std::find_if(ideas.begin(), ideas.end(), [&](const FactoryIdea& idea) {
                return idea.identifier == ideas[i].linkedIdentifier;
            });
            ASSERT_NE(target, ideas.end());
            EXPECT_EQ(plain[i].text, target->text);
        }
        EXPECT_EQ(turned, links);
        if (count > 1) {
            EXPECT_NE(payload, makePayloadJson(test::makeRealShapeTree(count, fanOut, 6)));
        }
    }
}

TEST(DocumentFactory, PictureRichShapeAndItsTwinDifferOnlyInPictures)
{
    for (const auto& [count, fanOut] : {std::pair{1, 8}, {2, 8}, {100, 8}, {5000, 3}}) {
        SCOPED_TRACE(count);
        const auto real = test::makeRealShapeTree(count, fanOut, 5);
        const auto rich = test::makeTree(test::TreeShape::PictureRich, count, fanOut, 5);
        const auto twin = test::makeTree(test::TreeShape::PictureRichWithoutPictures, count, fanOut, 5);
        ASSERT_EQ(rich.size(), real.size());
        ASSERT_EQ(twin.size(), real.size());
        int pictures = 0;
        int lastPicture = 0;
        for (std::size_t i = 0; i < real.size(); ++i) {
            // The real shape's tree, idea for idea, but for the pictures.
            for (const auto* shape : {&rich, &twin}) {
                const FactoryIdea& idea = (*shape)[i];
                EXPECT_EQ(idea.identifier, real[i].identifier);
                EXPECT_EQ(idea.text, real[i].text);
                EXPECT_EQ(idea.linkedIdentifier, real[i].linkedIdentifier);
                EXPECT_EQ(idea.children, real[i].children);
            }
            EXPECT_TRUE(twin[i].picture.isEmpty());
            if (rich[i].picture.isEmpty())
                continue;
            ++pictures;
            EXPECT_NE(i, 0u) << "not on the root";
            EXPECT_TRUE(rich[i].linkedIdentifier.isEmpty()) << "not on a link";
            // IHDR: 160 x 160.
            EXPECT_EQ(rich[i].picture.mid(16, 8).toHex(), QByteArray("000000a0000000a0"));
            // Spread evenly: no picture far from the one in 56 after the last.
            EXPECT_LE(int(i) - lastPicture, 56 + 8);
            lastPicture = int(i);
        }
        EXPECT_EQ(pictures, count > 1 ? (count + 55) / 56 : 0);
        EXPECT_EQ(makePayloadJson(rich),
                  makePayloadJson(test::makeTree(test::TreeShape::PictureRich, count, fanOut, 5)))
            << "deterministic";
    }
}
