// The golden payloads of tests/data/payload and the payload fuzz corpus, both written by
// tests/data/gen/make_payload_fixtures.py from the stored format alone: our reader must read
// each golden file to its expected tree, our writer must write the read payload back as the
// expected JSON objects, and every corpus input must be read or refused as listed.

#include "model/Globals.h"
#include "model/Idea.h"
#include "model/IdeaDocumentDataObject.h"
#include "platform/core/Base64.h"
#include "platform/core/JsonText.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QUrl>
#include <gtest/gtest.h>
#include <utility>
#include <vector>

using namespace corvex;

namespace {

QString payloadDir()
{
    return QFileInfo(QStringLiteral(__FILE__))
        .absoluteDir()
        .absoluteFilePath(QStringLiteral("../data/payload"));
}

QString corpusDir()
{
    return QFileInfo(QStringLiteral(__FILE__))
        .absoluteDir()
        .absoluteFilePath(QStringLiteral("../../fuzz/corpus/fuzz_payload"));
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
    return file.readAll();
}

Value readJson(const QString& path)
{
    auto parsed = JsonText::parse(readFile(path));
    EXPECT_TRUE(parsed.ok()) << path.toStdString() << ": " << parsed.error().toString().toStdString();
    return parsed.ok() ? parsed.value() : Value();
}

// A JSON string or null as a QString (null for null).
QString nullable(const Value& value)
{
    return value.isNull() ? QString() : value.toString();
}

std::string show(const QString& text)
{
    return text.isNull() ? std::string("(null)") : text.toStdString();
}

std::vector<std::pair<IdeaPtr, int>> preOrder(const IdeaPtr& root)
{
    std::vector<std::pair<IdeaPtr, int>> order;
    std::vector<std::pair<IdeaPtr, int>> stack{{root, 0}};
    while (!stack.empty()) {
        auto [idea, depth] = stack.back();
        stack.pop_back();
        order.emplace_back(idea, depth);
        for (auto it = idea->ideas().rbegin(); it != idea->ideas().rend(); ++it)
            stack.emplace_back(*it, depth + 1);
    }
    return order;
}

QStringList pixelList(const QImage& image)
{
    QStringList pixels;
    const QImage rgb = image.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < rgb.height(); ++y) {
        for (int x = 0; x < rgb.width(); ++x) {
            const QRgb pixel = rgb.pixel(x, y);
            pixels << QStringLiteral("#%1%2%3")
                          .arg(qRed(pixel), 2, 16, QLatin1Char('0'))
                          .arg(qGreen(pixel), 2, 16, QLatin1Char('0'))
                          .arg(qBlue(pixel), 2, 16, QLatin1Char('0'));
        }
    }
    return pixels;
}

// PNG bytes differ between writers; what must survive is the picture. Every "image" text is
// replaced by its size and pixels.
Value withPicturesDecoded(const Value& value)
{
    if (value.isArray()) {
        ValueArray elements;
        for (const Value& element : value.toArray())
            elements.push_back(withPicturesDecoded(element));
        return Value(std::move(elements));
    }
    if (!value.isDictionary())
        return value;
    ValueDictionary entries;
    for (const auto& [key, element] : value.toDictionary()) {
        if (key == QStringLiteral("image") && element.isString()) {
            const QImage image = QImage::fromData(Base64::decode(element.toString()), "PNG");
            entries.insert(key, Value(QStringLiteral("%1x%2 %3")
                                          .arg(image.width())
                                          .arg(image.height())
                                          .arg(pixelList(image).join(QLatin1Char(' ')))));
        } else {
            entries.insert(key, withPicturesDecoded(element));
        }
    }
    return Value(std::move(entries));
}

void expectDocument(const IdeaDocumentDataObject& payload, const Value& expected, const QString& context)
{
    SCOPED_TRACE(context.toStdString());
    EXPECT_EQ(payload.fileFormatVersion(), expected.value(QStringLiteral("fileFormatVersion")).toInteger());
    for (const auto& [key, date] : {std::pair(QStringLiteral("dateCreated"), payload.dateCreated()),
                                    std::pair(QStringLiteral("dateModified"), payload.dateModified())}) {
        const Value& want = expected.value(key);
        if (want.isNull()) {
            EXPECT_FALSE(date.isValid()) << key.toStdString();
        } else {
            EXPECT_EQ(date, QDateTime::fromString(want.toString(), Qt::ISODate)) << key.toStdString();
        }
    }
    EXPECT_EQ(show(payload.appInstance()), show(nullable(expected.value(QStringLiteral("appInstance")))));
}

void expectIdea(const Idea& idea, int depth, const Value& want)
{
    SCOPED_TRACE("idea " + show(idea.identifier()));
    EXPECT_EQ(depth, want.value(QStringLiteral("depth")).toInteger());
    EXPECT_EQ(show(idea.identifier()), show(nullable(want.value(QStringLiteral("identifier")))));
    EXPECT_EQ(qint64(idea.ideaType()), want.value(QStringLiteral("ideaType")).toInteger());
    EXPECT_EQ(qint64(idea.ideas().size()), want.value(QStringLiteral("childCount")).toInteger());
    if (idea.isLink()) {
        EXPECT_EQ(show(idea.linkedIdentifier()), show(nullable(want.value(QStringLiteral("linkedIdea")))));
        // The target was found in the read tree: the link reads its text.
        EXPECT_EQ(show(idea.text()), show(nullable(want.value(QStringLiteral("forwardedText")))));
        return;
    }
    EXPECT_EQ(show(idea.text()), show(nullable(want.value(QStringLiteral("text")))));
    EXPECT_EQ(show(idea.URL()), show(nullable(want.value(QStringLiteral("URL")))));
    EXPECT_EQ(show(idea.note()), show(nullable(want.value(QStringLiteral("note")))));
    EXPECT_EQ(show(idea.color() ? idea.color()->name() : QString()),
              show(nullable(want.value(QStringLiteral("color")))));
    EXPECT_EQ(qint64(idea.colorThemeType()), want.value(QStringLiteral("colorThemeType")).toInteger());
    EXPECT_EQ(show(idea.att().isNull() ? QString() : idea.att().asString()),
              show(nullable(want.value(QStringLiteral("att")))));

    const Value& icon = want.value(QStringLiteral("icon"));
    ASSERT_EQ(idea.iconImage() != nullptr, !icon.isNull());
    if (idea.iconImage()) {
        EXPECT_EQ(show(idea.iconImage()->name()), show(nullable(icon.value(QStringLiteral("name")))));
        EXPECT_EQ(show(idea.iconImage()->category()), show(nullable(icon.value(QStringLiteral("category")))));
        EXPECT_EQ(show(idea.iconImage()->symbol()), show(nullable(icon.value(QStringLiteral("symbol")))));
    }

    const Value& picture = want.value(QStringLiteral("image"));
    const QVImage small = idea.image();
    ASSERT_EQ(small.hasImage(), !picture.isNull());
    if (small.hasImage()) {
        const QImage image = small.cgImage();
        EXPECT_EQ(image.width(), picture.value(QStringLiteral("width")).toInteger());
        EXPECT_EQ(image.height(), picture.value(QStringLiteral("height")).toInteger());
        QStringList pixels;
        for (const Value& pixel : picture.value(QStringLiteral("pixels")).toArray())
            pixels << pixel.toString();
        EXPECT_EQ(pixelList(image), pixels);
    }
    const Value& big = want.value(QStringLiteral("bigImageData"));
    EXPECT_EQ(idea.bigImageData(), big.isNull() ? QByteArray() : Base64::decode(big.toString()));
}

} // namespace

TEST(PayloadGoldenFixtures, EachFixtureReadsToItsExpectedTree)
{
    const Value manifest = readJson(payloadDir() + QStringLiteral("/fixtures.json"));
    const ValueArray& fixtures = manifest.value(QStringLiteral("fixtures")).toArray();
    ASSERT_GE(fixtures.size(), 10u);
    for (const Value& fixture : fixtures) {
        const QString file = fixture.value(QStringLiteral("file")).toString();
        SCOPED_TRACE(file.toStdString());
        const Value expected =
            readJson(payloadDir() + QLatin1Char('/') + fixture.value(QStringLiteral("expected")).toString());
        const QByteArray bytes = readFile(payloadDir() + QLatin1Char('/') + file);

        const auto payload = IdeaDocumentDataObject::readFromSomeData(bytes);
        ASSERT_NE(payload, nullptr);
        ASSERT_NE(payload->idea(), nullptr);
        EXPECT_EQ(payload->idea()->debugDescription().toStdString(),
                  expected.value(QStringLiteral("debugDescription")).toString().toStdString());
        EXPECT_EQ(payload->idea()->calculateWholeTreeSize(),
                  expected.value(QStringLiteral("treeSize")).toInteger());
        expectDocument(*payload, expected.value(QStringLiteral("document")), file);

        const auto ideas = preOrder(payload->idea());
        const ValueArray& wanted = expected.value(QStringLiteral("ideas")).toArray();
        ASSERT_EQ(ideas.size(), wanted.size());
        for (std::size_t i = 0; i < ideas.size(); ++i)
            expectIdea(*ideas[i].first, ideas[i].second, wanted[i]);

        // The same bytes under a document's file name go the same way.
        const auto again = IdeaDocumentDataObject::readFromUnknownData(
            bytes, QUrl::fromLocalFile(QStringLiteral("/documents/") + file));
        ASSERT_NE(again, nullptr);
        EXPECT_EQ(again->idea()->debugDescription(), payload->idea()->debugDescription());
    }
}

TEST(PayloadGoldenFixtures, OurWriterWritesTheReadPayloadAsTheExpectedJsonObjects)
{
    const Value manifest = readJson(payloadDir() + QStringLiteral("/fixtures.json"));
    for (const Value& fixture : manifest.value(QStringLiteral("fixtures")).toArray()) {
        const QString file = fixture.value(QStringLiteral("file")).toString();
        SCOPED_TRACE(file.toStdString());
        const Value expected =
            readJson(payloadDir() + QLatin1Char('/') + fixture.value(QStringLiteral("expected")).toString());
        const auto payload =
            IdeaDocumentDataObject::readFromSomeData(readFile(payloadDir() + QLatin1Char('/') + file));
        ASSERT_NE(payload, nullptr);

        const auto written = payload->jsonData();
        ASSERT_TRUE(written.ok()) << written.error().toString().toStdString();
        auto parsed = JsonText::parse(written.value());
        ASSERT_TRUE(parsed.ok());

        // The writer always names the running instance.
        Value canonical = expected.value(QStringLiteral("canonical"));
        ValueDictionary* top = canonical.editDictionary();
        ASSERT_NE(top, nullptr);
        ValueDictionary* body = top->find(QStringLiteral("ideaDocumentDataObject"))->editDictionary();
        ASSERT_NE(body, nullptr);
        body->insert(QStringLiteral("appInstance"), Value(Globals::appInstance()));

        const Value ours = withPicturesDecoded(parsed.value());
        const Value theirs = withPicturesDecoded(canonical);
        EXPECT_TRUE(ours == theirs) << "written:  " << JsonText::serialize(ours).toStdString()
                                    << "\nexpected: " << JsonText::serialize(theirs).toStdString();
    }
}

TEST(PayloadGoldenFixtures, TheCanonicalFixtureIsWrittenBackAsTheSameJsonObjects)
{
    // all_types.json is in the writer's own form: reading and writing it gives the file's
    // objects again (pictures compared by their pixels, the instance by the running one).
    const QByteArray bytes = readFile(payloadDir() + QStringLiteral("/all_types.json"));
    const auto payload = IdeaDocumentDataObject::readFromJSONData(bytes);
    ASSERT_NE(payload, nullptr);
    auto original = JsonText::parse(bytes);
    ASSERT_TRUE(original.ok());
    Value file = original.value();
    file.editDictionary()
        ->find(QStringLiteral("ideaDocumentDataObject"))
        ->editDictionary()
        ->insert(QStringLiteral("appInstance"), Value(Globals::appInstance()));
    auto written = JsonText::parse(payload->jsonData().value());
    ASSERT_TRUE(written.ok());
    EXPECT_TRUE(withPicturesDecoded(written.value()) == withPicturesDecoded(file));
}

TEST(PayloadFuzzCorpus, EveryInputIsReadOrRefusedAsListed)
{
    const Value expectations =
        readJson(payloadDir() + QStringLiteral("/corpus.json")).value(QStringLiteral("files"));
    const QStringList files = QDir(corpusDir()).entryList(QDir::Files, QDir::Name);
    ASSERT_GE(files.size(), 60);
    EXPECT_EQ(qsizetype(files.size()), expectations.size()) << "corpus and list disagree; rerun the script";
    int refused = 0;
    for (const QString& file : files) {
        SCOPED_TRACE(file.toStdString());
        const Value& expectation = expectations.value(file);
        ASSERT_TRUE(expectation.isDictionary()) << "not listed in corpus.json";
        const auto payload =
            IdeaDocumentDataObject::readFromSomeData(readFile(corpusDir() + QLatin1Char('/') + file));
        const bool accept = expectation.value(QStringLiteral("accept")).toBool();
        ASSERT_EQ(payload != nullptr, accept);
        if (!accept) {
            ++refused;
            continue;
        }
        ASSERT_NE(payload->idea(), nullptr);
        if (expectation.toDictionary().contains(QStringLiteral("debugDescription"))) {
            EXPECT_EQ(payload->idea()->debugDescription().toStdString(),
                      expectation.value(QStringLiteral("debugDescription")).toString().toStdString());
        }
        EXPECT_EQ(payload->idea()->calculateWholeTreeSize(),
                  expectation.value(QStringLiteral("treeSize")).toInteger());
        expectDocument(*payload, expectation.value(QStringLiteral("document")), file);
    }
    EXPECT_GE(refused, 40) << "the corpus is mostly failure classes";
}
