#include "formats/OPMLParser.h"

#include "model/ColorTheme.h"
#include "model/ColorThemeType.h"
#include "model/Idea.h"
#include "model/IdeaDocumentDataObject.h"
#include "platform/core/Log.h"

#include <QHash>
#include <QLocale>
#include <QXmlStreamReader>
#include <algorithm>

namespace corvex {

namespace {

// For each declared entity, a bound on what one reference to it can cost: its value as the
// reader keeps it (character references already resolved, the predefined entities still
// written out) plus, for every reference to another declared entity inside it, that
// entity's bound, capped at `cap`. This bounds both the text a reference expands to and the
// reader's own count against its expansion limit (which adds up the values of the
// entities it walks through), so a document whose entities all stay within the limit is
// never stopped halfway by the reader. A reference cycle, or nesting deeper than the reader
// could follow, counts as the cap.
class EntityLengths
{
public:
    EntityLengths(const QXmlStreamEntityDeclarations& declarations, qint64 cap) : mCap(cap)
    {
        for (const QXmlStreamEntityDeclaration& declaration : declarations) {
            // External entities are never read, so they expand to nothing.
            if (declaration.systemId().isEmpty() && declaration.publicId().isEmpty())
                mValues.insert(declaration.name().toString(), declaration.value().toString());
        }
    }

    // The bound of one entity; 0 for an external or undeclared one.
    qint64 of(const QString& name) { return lengthOf(name, 0); }

    qint64 longest()
    {
        qint64 longest = 0;
        for (auto it = mValues.cbegin(); it != mValues.cend(); ++it)
            longest = std::max(longest, lengthOf(it.key(), 0));
        return longest;
    }

private:
    static constexpr int MaxNesting = 32;

    qint64 lengthOf(const QString& name, int nesting)
    {
        if (const auto known = mLengths.constFind(name); known != mLengths.cend())
            return *known;
        if (nesting > MaxNesting)
            return mCap;
        const auto value = mValues.constFind(name);
        if (value == mValues.cend())
            return 0;
        // Seen while it is being measured: a cycle.
        mLengths.insert(name, mCap);
        const QString& text = *value;
        qint64 length = text.size();
        qsizetype i = text.indexOf(QLatin1Char('&'));
        while (i >= 0 && length < mCap) {
            const qsizetype end = text.indexOf(QLatin1Char(';'), i + 1);
            if (end < 0)
                break;
            length += lengthOf(text.mid(i + 1, end - i - 1), nesting + 1);
            i = text.indexOf(QLatin1Char('&'), end + 1);
        }
        length = std::min(length, mCap);
        mLengths.insert(name, length);
        return length;
    }

    qint64 mCap;
    QHash<QString, QString> mValues;
    QHash<QString, qint64> mLengths;
};

// The reader's message as part of a sentence: "Invalid character reference." becomes
// "invalid character reference".
QString readerMessage(const QXmlStreamReader& reader)
{
    QString message = reader.errorString().trimmed();
    if (message.endsWith(QLatin1Char('.')))
        message.chop(1);
    if (!message.isEmpty())
        message[0] = message[0].toLower();
    return message;
}

// The theme's colour at `index` modulo its size; nullptr without a theme or colours.
ColorPtr colorOf(const std::shared_ptr<ColorTheme>& theme, qint64 index)
{
    if (!theme || theme->colors().empty())
        return nullptr;
    return theme->colors()[std::size_t(index % qint64(theme->colors().size()))];
}

} // namespace

OPMLParser::OPMLParser() = default;

OPMLParser::~OPMLParser() = default;

void OPMLParser::reset()
{
    mRoot.reset();
    mCurrent.reset();
    mCurrentLevel = 0;
    mElementContent.clear();
    mIgnoreRest = false;
    mIdeaCount = 0;
    mRefusal.clear();
    mTooDeep = false;
}

std::shared_ptr<Idea> OPMLParser::parseIdeaFromOPMLData(const QByteArray& data)
{
    reset();
    mProblem.clear();
    mPassedBound = PassedBound::None;
    const IdeaDocumentDataObject::IdeaBounds bounds = IdeaDocumentDataObject::ideaBounds();
    mMaxIdeas = bounds.ideas;
    mMaxChildren = bounds.children;
    QXmlStreamReader reader(data);
    reader.setNamespaceProcessing(false);
    reader.setEntityExpansionLimit(int(EntityExpansionLimit));
    // Once the root outline has closed nothing more is read, so stopping is the same as
    // ignoring the rest.
    while (!mIgnoreRest && !reader.atEnd()) {
        switch (reader.readNext()) {
        case QXmlStreamReader::DTD:
            checkEntityDeclarations(reader, data);
            break;
        case QXmlStreamReader::StartElement:
            didStartElement(reader);
            break;
        case QXmlStreamReader::EndElement:
            didEndElement(reader.qualifiedName().toString().toLower());
            break;
        case QXmlStreamReader::Characters:
            foundCharacters(reader.text());
            break;
        default:
            break;
        }
    }
    if (!mRefusal.isEmpty()) {
        // Refused as a whole: nothing of it is kept, whatever was read.
        Log::error(QStringLiteral("OPMLParser: the document is refused: ") + mRefusal);
        reset();
        return nullptr;
    }
    if (!mIgnoreRest && reader.hasError()) {
        const QString where = QStringLiteral("line %1, column %2: %3")
                                  .arg(reader.lineNumber())
                                  .arg(reader.columnNumber())
                                  .arg(reader.errorString());
        mProblem = problemOfReader(reader);
        if (mRoot) {
            // One substitution pass: the reader's message may quote the input.
            Log::warning(
                QStringLiteral("OPMLParser: reading stopped at %1; the %2 ideas read before it are kept")
                    .arg(where, QString::number(mIdeaCount)));
        } else {
            Log::warning(QStringLiteral("OPMLParser: no outline read; reading stopped at ") + where);
        }
    } else if (!mRoot) {
        mProblem = QStringLiteral("The file holds no outline.");
    }
    std::shared_ptr<Idea> root = std::move(mRoot);
    reset();
    return root;
}

QString OPMLParser::problemOfReader(const QXmlStreamReader& reader) const
{
    if (mTooDeep)
        return QStringLiteral("The outline goes deeper than %1 levels, more than Corvex shows; the ideas "
                              "below that level are left out.")
            .arg(QLocale(QLocale::English).toString(Idea::MaxDepth));
    if (!mRoot)
        return QStringLiteral("The file is not an OPML outline (line %1, column %2: %3).")
            .arg(reader.lineNumber())
            .arg(reader.columnNumber())
            .arg(readerMessage(reader));
    if (reader.error() == QXmlStreamReader::PrematureEndOfDocumentError)
        return QStringLiteral("The file ends before its outline does, as if it were cut off after line %1.")
            .arg(reader.lineNumber());
    return QStringLiteral("The file is damaged at line %1, column %2 (%3).")
        .arg(reader.lineNumber())
        .arg(reader.columnNumber())
        .arg(readerMessage(reader));
}

void OPMLParser::checkEntityDeclarations(QXmlStreamReader& reader, const QByteArray& data)
{
    const QXmlStreamEntityDeclarations declarations = reader.entityDeclarations();
    if (declarations.isEmpty())
        return;
    EntityLengths lengths(declarations, EntityExpansionLimit + 1);
    // In the order of the document, so that the same file always names the same entity.
    for (const QXmlStreamEntityDeclaration& declaration : declarations) {
        const QString name = declaration.name().toString();
        if (lengths.of(name) > EntityExpansionLimit) {
            refuse(reader, QStringLiteral("the entity \"%1\" could expand to more than %2 characters, the "
                                          "entity expansion limit")
                               .arg(name.left(100))
                               .arg(EntityExpansionLimit));
            return;
        }
    }
    const qint64 longest = lengths.longest();
    if (longest == 0)
        return;
    // Every "&" byte may start a reference in any encoding the reader takes (a UTF-16 "&"
    // holds one too), so their count bounds the references.
    const qint64 references = qint64(std::count(data.cbegin(), data.cend(), '&'));
    if (references > EntityExpansionBudget / longest)
        refuse(reader, QStringLiteral("the declared entities could expand beyond %1 characters")
                           .arg(EntityExpansionBudget));
}

void OPMLParser::refuse(QXmlStreamReader& reader, const QString& reason)
{
    reader.raiseError(reason);
    mProblem = QStringLiteral("The file is not opened: %1.").arg(reason);
    mRefusal = QStringLiteral("line %1, column %2: %3")
                   .arg(reader.lineNumber())
                   .arg(reader.columnNumber())
                   .arg(reason);
}

void OPMLParser::didStartElement(QXmlStreamReader& reader)
{
    mElementContent.clear();
    const QString name = reader.qualifiedName().toString().toLower();
    if ((name == QLatin1String("head") || name == QLatin1String("outline")) && refusedPastBounds(reader))
        return;
    if (name == QLatin1String("head")) {
        if (!appendNewIdeaAsCurrent(QString()))
            stopAtMaximumDepth(reader);
    } else if (name == QLatin1String("outline")) {
        // Attribute names are compared exactly; a missing attribute reads as null. Values
        // the document type supplies as defaults are not the outline's own: taking them
        // would let a few bytes of declaration give every outline a long text.
        QString text;
        QString note;
        bool hasNote = false;
        for (const QXmlStreamAttribute& attribute : reader.attributes()) {
            if (attribute.isDefault())
                continue;
            if (attribute.qualifiedName() == QLatin1String("text")) {
                text = attribute.value().toString();
            } else if (attribute.qualifiedName() == QLatin1String("_note")) {
                note = attribute.value().toString();
                hasNote = true;
            }
        }
        if (!appendNewIdeaAsCurrent(text)) {
            stopAtMaximumDepth(reader);
            return;
        }
        if (hasNote)
            mCurrent->setNote(note);
    }
}

bool OPMLParser::refusedPastBounds(QXmlStreamReader& reader)
{
    // Counted before the idea is made: a refused outline never costs more than the bound.
    if (mIdeaCount >= mMaxIdeas) {
        mPassedBound = PassedBound::Ideas;
        refuse(reader, QStringLiteral("the outline has more than %1 ideas").arg(mMaxIdeas));
        return true;
    }
    if (mCurrent && qint64(mCurrent->ideas().size()) >= mMaxChildren) {
        mPassedBound = PassedBound::Children;
        refuse(reader,
               QStringLiteral("an idea of the outline has more than %1 ideas below it").arg(mMaxChildren));
        return true;
    }
    return false;
}

void OPMLParser::stopAtMaximumDepth(QXmlStreamReader& reader)
{
    mTooDeep = true;
    reader.raiseError(QStringLiteral("the outline is deeper than %1 levels").arg(Idea::MaxDepth));
}

void OPMLParser::didEndElement(const QString& name)
{
    if (name == QLatin1String("outline")) {
        if (!mCurrent)
            return;
        std::shared_ptr<Idea> parent = mCurrent->parent();
        if (!parent) {
            mIgnoreRest = true;
            return;
        }
        mCurrent = std::move(parent);
        --mCurrentLevel;
    } else if (name == QLatin1String("title")) {
        if (mCurrent && mCurrent == mRoot)
            mRoot->setText(QString(mElementContent));
    }
}

void OPMLParser::foundCharacters(QStringView text)
{
    mElementContent.append(text);
}

bool OPMLParser::appendNewIdeaAsCurrent(const QString& text)
{
    if (mRoot && mCurrentLevel >= Idea::MaxDepth)
        return false;
    std::shared_ptr<Idea> idea = Idea::initWithText(text);
    idea->setColorThemeType(ColorThemeTypeVaryingColors);
    const auto& themes = ColorTheme::standardThemes();
    if (!mRoot) {
        idea->setColor(themes.empty() ? nullptr : colorOf(themes.front(), 0));
        mRoot = idea;
        mCurrent = std::move(idea);
        mCurrentLevel = 1;
        ++mIdeaCount;
        return true;
    }
    const qint64 k = qint64(mCurrent->ideas().size()) + 1;
    if (!mCurrent->parent())
        idea->setColor(themes.empty() ? nullptr : colorOf(themes[std::size_t(k % qint64(themes.size()))], 0));
    else
        idea->setColor(colorOf(mCurrent->colorTheme(), k));
    if (!mCurrent->addIdea(idea))
        return false;
    mCurrent = std::move(idea);
    ++mCurrentLevel;
    ++mIdeaCount;
    return true;
}

} // namespace corvex
