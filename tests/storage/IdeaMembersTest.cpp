#include "model/IdeaMembers.h"
#include "model/ColorTheme.h"
#include "model/Globals.h"
#include "model/Idea.h"
#include "model/IdeaDocumentDataObject.h"
#include "model/IdeaValues.h"
#include "model/JSONDecoder.h"
#include "model/JSONEncoder.h"
#include "model/PayloadTextReader.h"
#include "model/PayloadTextWriter.h"
#include "platform/core/JsonText.h"
#include "storage/PayloadTextScanner.h"
#include "storage/SearchCache.h"

#include <QImage>
#include <gtest/gtest.h>

using namespace corvex;

// Every member of the members' table, each row as its columns say: the text below is made
// from the table alone, so a row added to it is covered here without a change.

namespace {

QByteArray pngSample()
{
    QImage image(4, 4, QImage::Format_RGBA8888_Premultiplied);
    image.fill(Qt::darkGreen);
    return QVImage(image).pngData();
}

QString colorSample()
{
    return ColorTheme::standardThemes().front()->colors().front()->name();
}

// The sample of a row, as a document stores it: texts "sample.<key>" (which an attachment's
// name reads too), numbers 2 (a link's type 4), pictures and data a PNG.
QByteArray sampleJson(const IdeaMemberRow& row, bool link)
{
    QByteArray text;
    switch (row.type) {
    case IdeaMemberType::Text:
        JsonText::appendString(text, QStringLiteral("sample.") +
                                         QString::fromLatin1(row.key.data(), row.key.size()));
        return text;
    case IdeaMemberType::Integer:
        return row.member == IdeaMember::IdeaType && link ? "4" : "2";
    case IdeaMemberType::Data:
        return '"' + pngSample().toBase64() + '"';
    case IdeaMemberType::ColorName:
        JsonText::appendString(text, colorSample());
        return text;
    case IdeaMemberType::Icon:
        break;
    }
    return R"({"name":"Sample Name","category":"Sample Category","symbol":"Sample Symbol"})";
}

// An idea storing every member the table gives its kind, in the table's order.
QByteArray ideaJson(bool link, const QByteArray& children)
{
    QByteArray text = "{";
    for (const IdeaMemberRow& row : kIdeaMemberRows) {
        if (!IdeaMembers::storedBy(row, link))
            continue;
        text += (text.size() > 1 ? ",\"" : "\"") + QByteArray(row.key.data(), qsizetype(row.key.size())) +
                "\":" + sampleJson(row, link);
    }
    if (!children.isEmpty())
        text += ",\"ideas\":[" + children + "]";
    return text + "}";
}

// A root with every member of a content idea, and a link child with every member of a link.
QByteArray payloadJson()
{
    QByteArray appInstance;
    JsonText::appendString(appInstance, Globals::appInstance());
    return R"({"ideaDocumentDataObject":{"fileFormatVersion":4,"idea":)" +
           ideaJson(false, ideaJson(true, {})) + R"(,"appInstance":)" + appInstance + "}}";
}

// A value in words, the same for equal values whoever made them.
QString described(const IdeaMemberValue& value)
{
    if (const QString* text = std::get_if<QString>(&value))
        return QStringLiteral("text ") + *text;
    if (const qint64* number = std::get_if<qint64>(&value))
        return QStringLiteral("number %1").arg(*number);
    if (const QByteArray* data = std::get_if<QByteArray>(&value))
        return QStringLiteral("data ") + QString::fromLatin1(data->toBase64());
    if (const ColorPtr* color = std::get_if<ColorPtr>(&value); color && *color)
        return QStringLiteral("colour ") + (*color)->name();
    if (const IconImagePtr* icon = std::get_if<IconImagePtr>(&value); icon && *icon)
        return QStringLiteral("icon %1/%2/%3").arg((*icon)->name(), (*icon)->category(), (*icon)->symbol());
    return QStringLiteral("missing");
}

// The idea of a payload that stores `row`: the root, or its link.
const Idea& holder(const IdeaDocumentDataObject& payload, const IdeaMemberRow& row)
{
    const Idea& root = *payload.idea();
    return IdeaMembers::storedBy(row, false) ? root : *root.ideas().front();
}

// The map's strings, one a line.
QString searchKeys(const IdeaTextMap& map)
{
    QStringList keys;
    for (qsizetype i = 0; i < map.count(); ++i)
        keys.append(map.keyAt(i));
    return keys.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

} // namespace

TEST(IdeaMembers, EveryMemberIsReadWrittenSearchedCopiedAndEditedAsItsRowSays)
{
    const QByteArray json = payloadJson();
    const IdeaDocumentDataObjectPtr read =
        PayloadTextReader::read(json, IdeaDocumentDataObject::textDecodingOptions().readOptions());
    ASSERT_TRUE(read) << "the payload reader takes every member";
    JSONDecoder decoder(json, IdeaDocumentDataObject::textDecodingOptions());
    const auto decoded = decoder.decodeObject().objectAs<IdeaDocumentDataObject>();
    ASSERT_TRUE(decoded) << decoder.errorString().toStdString();

    // Both writers write the members back in the table's order, byte for byte.
    EXPECT_EQ(PayloadTextWriter::write(*read).value_or(QByteArray()), json);
    JSONEncoder encoder;
    ASSERT_TRUE(encoder.encodeObject(*decoded));
    EXPECT_EQ(encoder.data().value_or(QByteArray()), json);

    // The scanner reads the writer's shape through, member by member as the table has them.
    PayloadTextScanner::Report report;
    const std::optional<IdeaTextMap> scanned =
        PayloadTextScanner::scan(json, PayloadTextScanner::Steps::Widest, &report);
    ASSERT_TRUE(scanned) << report.describe().toStdString();
    EXPECT_EQ(report.skippedMembers, 0);
    IdeaTextMap fromTree;
    SearchCache::addIdeaTreeToMap(fromTree, read->idea(), 0);
    const QString keys = searchKeys(*scanned);
    EXPECT_EQ(keys.toStdString(), searchKeys(fromTree).toStdString());

    const IdeaPtr copy = read->idea()->deepCopyWithNewIdentifiersPreservingExternalLinks(true);
    const IdeaPtr edited = Idea::initWithText(QString());
    IdeaValues::editedOf(*read->idea()).applyTo(*edited);

    for (const IdeaMemberRow& row : kIdeaMemberRows) {
        SCOPED_TRACE(std::string(row.key));
        const QString value = described(IdeaMembers::stored(holder(*read, row), row.member));
        EXPECT_NE(value, QStringLiteral("missing")) << "the reader reads it";
        EXPECT_EQ(value, described(IdeaMembers::stored(holder(*decoded, row), row.member)))
            << "the reader and the older decoder agree";

        const IdeaMemberValue shown = IdeaMembers::shown(holder(*read, row), row.member);
        QString searchedText = std::holds_alternative<QString>(shown) ? std::get<QString>(shown) : QString();
        if (const IconImagePtr* icon = std::get_if<IconImagePtr>(&shown); icon && *icon)
            searchedText = (*icon)->symbol();
        if (!searchedText.isEmpty()) {
            EXPECT_EQ((QLatin1Char('\n') + keys)
                          .contains(QLatin1Char('\n') + searchedText.toLower() + QLatin1Char('\n')),
                      row.searched)
                << "search finds it when searched";
        }

        const Idea& copied = IdeaMembers::storedBy(row, false) ? *copy : *copy->ideas().front();
        EXPECT_EQ(described(IdeaMembers::stored(copied, row.member)) == value, row.copied)
            << "a copy takes it";

        if (IdeaMembers::storedBy(row, false)) {
            EXPECT_EQ(described(IdeaMembers::shown(*edited, row.member)) ==
                          described(IdeaMembers::shown(*read->idea(), row.member)),
                      row.edited)
                << "the editor's values carry it";
        }
    }
}
