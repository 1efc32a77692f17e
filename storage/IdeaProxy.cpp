#include "storage/IdeaProxy.h"

#include "model/ColorTheme.h"
#include "model/Globals.h"
#include "model/ModelCodables.h"
#include "model/PortableImage.h"
#include "platform/core/Log.h"
#include "platform/core/OnceGuard.h"
#include "storage/IdeaDocument.h"

#include <cmath>
#include <limits>

namespace corvex {

const QString IdeaProxy::ClassName = QStringLiteral("IdeaProxy");
const QString IdeaProxy::FileNameKey = QStringLiteral("filename");
const QString IdeaProxy::IdentifierKey = QStringLiteral("identifier");
const QString IdeaProxy::TextKey = QStringLiteral("text");
const QString IdeaProxy::ColorKey = QStringLiteral("color");
const QString IdeaProxy::ImageKey = QStringLiteral("image");
const QString IdeaProxy::Image2Key = QStringLiteral("image2");
const QString IdeaProxy::DateCreatedKey = QStringLiteral("dateCreated");
const QString IdeaProxy::DateModifiedKey = QStringLiteral("dateModified");
const QString IdeaProxy::ItemCountKey = QStringLiteral("itemCount");
const QString IdeaProxy::IconImageKey = QStringLiteral("iconImage");
const QString IdeaProxy::HasNoteKey = QStringLiteral("hasNote");
const QString IdeaProxy::HasWebLinkKey = QStringLiteral("hasWebLink");
const QString IdeaProxy::IdeaTypeKey = QStringLiteral("ideaType");

namespace {

// The lines this class's assertion messages carry.
constexpr int InitWithCoderAssertionLine = 97;
constexpr int ChangeLocationAssertionLine = 214;

QString iconName(const IconImagePtr& icon)
{
    return icon ? icon->name() : QString();
}

QString colorName(const ColorPtr& color)
{
    return color ? color->name() : QString();
}

QString orNull(const QString& text)
{
    return text.isNull() ? QStringLiteral("(null)") : text;
}

// NSString's lastPathComponent: trailing slashes do not count, and "/" stays "/".
QString lastPathComponent(QString path)
{
    while (path.size() > 1 && path.endsWith(QLatin1Char('/')))
        path.chop(1);
    if (path == QLatin1String("/"))
        return path;
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

qint32 clampedInt32(qint64 value)
{
    if (value > std::numeric_limits<qint32>::max())
        return std::numeric_limits<qint32>::max();
    if (value < std::numeric_limits<qint32>::min())
        return std::numeric_limits<qint32>::min();
    return qint32(value);
}

} // namespace

void IdeaProxy::registerCodable()
{
    static OnceGuard once;
    once.run([] {
        registerModelCodables();
        CodableRegistry::registerClass(ClassName,
                                       [](Decoder& coder) -> CodablePtr { return initWithCoder(coder); });
    });
}

IdeaProxyPtr IdeaProxy::init()
{
    return std::make_shared<IdeaProxy>(Private());
}

IdeaProxyPtr IdeaProxy::initWithDoc(const std::shared_ptr<IdeaDocument>& doc)
{
    IdeaProxyPtr proxy = init();
    proxy->updateWithDoc(doc);
    return proxy;
}

IdeaProxyPtr IdeaProxy::initWithProxy(IdeaProxy& other)
{
    IdeaProxyPtr proxy = init();
    other.doc();
    proxy->mIdeaIdentifier = other.mIdeaIdentifier;
    proxy->mDoc = other.mDoc;
    proxy->mHasNote = other.mHasNote;
    proxy->mHasWebLink = other.mHasWebLink;
    proxy->mIdeaType = other.mIdeaType;
    proxy->mText = other.mText;
    proxy->mDateCreated = other.mDateCreated;
    proxy->mDateModified = other.mDateModified;
    proxy->mItemCount = other.mItemCount;
    proxy->mDocIdentifier = other.mDocIdentifier;
    proxy->mColor = other.mColor;
    proxy->mImage = other.mImage;
    proxy->mIconImage = other.mIconImage;
    return proxy;
}

bool IdeaProxy::updateWithDoc(const std::shared_ptr<IdeaDocument>& doc)
{
    return updateWithDoc(doc, doc ? doc->idea() : nullptr);
}

bool IdeaProxy::updateWithDoc(const std::shared_ptr<IdeaDocument>& doc, const IdeaPtr& root)
{
    if (!doc) {
        Log::assertionFailure(QStringLiteral("-[IdeaProxy updateWithDoc:] without a document"));
        return false;
    }
    mDoc = doc;
    // A document without a root reads as an empty one, as messages to nothing answer
    // nothing.
    mIdeaIdentifier = root ? root->identifier() : QString();
    mDocIdentifier = doc->docIdentifier();
    const qint64 count = root ? root->calculateWholeTreeSize() : 0;
    const bool rootHasNote = root && root->hasNote();
    // "Has a URL": the URL is set, whatever the type (hasURL() asks for a web-link idea).
    const bool rootHasURL = root && !root->URL().isNull();
    const IdeaType rootType = root ? root->ideaType() : IdeaTypeUndefined;
    const IconImagePtr rootIcon = root ? root->iconImage() : nullptr;
    const QString rootText = root ? root->text() : QString();
    const ColorPtr rootColor = root ? root->color() : nullptr;

    const bool unchanged =
        mDateCreated.isValid() && mDateCreated == doc->dateCreated() && mDateModified.isValid() &&
        mDateModified == doc->dateModified() && mItemCount == count && mHasNote == rootHasNote &&
        mHasWebLink == rootHasURL && mIdeaType == rootType &&
        stringEquality(iconName(mIconImage), iconName(rootIcon)) && stringEquality(mText, rootText) &&
        stringEquality(colorName(mColor), colorName(rootColor));
    if (unchanged)
        return false;

    mDateCreated = doc->dateCreated();
    mDateModified = doc->dateModified();
    mItemCount = count;
    mIconImage = rootIcon;
    mText = rootText;
    mColor = rootColor;
    mImage = root ? root->image() : QVImage();
    mIdeaType = rootType;
    mHasNote = rootHasNote;
    mHasWebLink = rootHasURL;
    return true;
}

std::shared_ptr<IdeaDocument> IdeaProxy::doc()
{
    if (!mDoc)
        mDoc = IdeaDocument::initWithIdentifier(mDocIdentifier);
    return mDoc;
}

unsigned IdeaProxy::location() const
{
    return IdeaDocument::locationFromIdentifier(mDocIdentifier);
}

void IdeaProxy::changeLocation(unsigned location)
{
    if (mDoc)
        Log::assertionFailure(ChangeLocationAssertionLine, "-[IdeaProxy changeLocation:]");
    mDocIdentifier = IdeaDocument::docIdentifierFromPath(fileNameFromURLLikeString(mDocIdentifier), location);
}

QString IdeaProxy::fileNameFromURLLikeString(const QString& text)
{
    if (text.isNull())
        return QString();
    const qsizetype separator = text.indexOf(QLatin1String(":/"));
    return lastPathComponent(separator >= 0 ? text.mid(separator + 2) : text);
}

bool IdeaProxy::stringEquality(const QString& a, const QString& b)
{
    if (a.isNull() || b.isNull())
        return a.isNull() && b.isNull();
    return a == b;
}

IdeaProxyPtr IdeaProxy::findProxyInArray(const std::vector<IdeaProxyPtr>& proxies,
                                         const QString& docIdentifier)
{
    for (const IdeaProxyPtr& proxy : proxies) {
        if (proxy && !proxy->mDocIdentifier.isNull() && proxy->mDocIdentifier == docIdentifier)
            return proxy;
    }
    return nullptr;
}

QString IdeaProxy::description() const
{
    const QString desc = mText.isNull() ? QStringLiteral("(type=%1)").arg(Idea::stringFromIdeaType(mIdeaType))
                                        : QStringLiteral("(%1)").arg(mText);
    const QString format = mDoc ? QStringLiteral("<IdeaProxy id=%1 desc=%2>")
                                : QStringLiteral("<IdeaProxy (NO DOC) id=%1 desc=%2>");
    return format.arg(orNull(mDocIdentifier), desc);
}

QString IdeaProxy::className() const
{
    return ClassName;
}

QString IdeaProxy::codingDescription() const
{
    return description();
}

void IdeaProxy::encodeWithCoder(Encoder& coder) const
{
    coder.encodeString(fileNameFromURLLikeString(mDocIdentifier), FileNameKey);
    coder.encodeString(mIdeaIdentifier, IdentifierKey);
    coder.encodeString(mText, TextKey);
    if (mColor)
        coder.encodeString(mColor->name(), ColorKey);
    if (mImage.hasImage()) {
        const QByteArray png = mImage.pngData();
        if (coder.isJSONCoder())
            coder.encodeData(png, ImageKey);
        else
            coder.encodeObject(PortableImage::create(png), Image2Key);
    }
    coder.encodeDate(mDateCreated.isValid() ? mDateCreated : mDateModified, DateCreatedKey);
    coder.encodeDate(mDateModified.isValid() ? mDateModified : Globals::currentDate(), DateModifiedKey);
    coder.encodeInt(clampedInt32(mItemCount), ItemCountKey);
    coder.encodeObject(mIconImage, IconImageKey);
    coder.encodeBool(mHasNote, HasNoteKey);
    coder.encodeBool(mHasWebLink, HasWebLinkKey);
    coder.encodeInt(clampedInt32(qint64(mIdeaType)), IdeaTypeKey);
}

IdeaProxyPtr IdeaProxy::initWithCoder(Decoder& coder)
{
    IdeaProxyPtr proxy = init();
    const QDateTime readingTime = Globals::currentDate();
    proxy->mDocIdentifier = coder.decodeStringForKey(FileNameKey).value_or(QString());
    proxy->mIdeaIdentifier = coder.decodeStringForKey(IdentifierKey).value_or(QString());
    proxy->mText = coder.decodeStringForKey(TextKey).value_or(QString());
    if (const auto name = coder.decodeStringForKey(ColorKey))
        proxy->mColor = ColorTheme::colorByName(*name);

    QByteArray picture;
    if (coder.isJSONCoder()) {
        picture = coder.decodeDataForKey(ImageKey);
    } else {
        const CodedValue stored = coder.decodeObjectForKey(Image2Key);
        if (const auto portable = stored.objectAs<PortableImage>())
            picture = portable->image();
        else if (stored.isPlain() && stored.plain().isData())
            picture = stored.plain().toData();
    }
    if (!picture.isEmpty()) {
        // A PNG is kept as read and decoded when the home screen draws it; the older JPEG
        // pictures decode now, as they are encoded as PNG when written again.
        const QVImage image = QVImage::isPNG(picture) ? QVImage::initWithStoredPNGData(picture)
                                                      : QVImage::initWithJPEGData(picture);
        if (image.hasImage())
            proxy->mImage = image;
    }

    proxy->mDateModified = coder.decodeDateForKey(DateModifiedKey).value_or(readingTime);
    proxy->mDateCreated = coder.decodeDateForKey(DateCreatedKey).value_or(proxy->mDateModified);
    proxy->mItemCount = coder.decodeIntForKey(ItemCountKey);
    proxy->mIconImage = coder.decodeObjectOfClass<IconImage>(IconImageKey);
    proxy->mHasNote = coder.decodeBoolForKey(HasNoteKey);
    proxy->mHasWebLink = coder.decodeBoolForKey(HasWebLinkKey);
    proxy->mIdeaType = IdeaType(quint32(coder.decodeIntForKey(IdeaTypeKey)));
    if (proxy->mIdeaType == IdeaTypeUndefined) {
        // Written before the type was stored: inferred from what the summary holds.
        if (proxy->mHasWebLink) {
            proxy->mIdeaType = IdeaTypeURL;
        } else if (proxy->mImage.hasImage()) {
            proxy->mIdeaType = IdeaTypeImage;
            if (!proxy->mText.isNull())
                Log::assertionFailure(InitWithCoderAssertionLine, "-[IdeaProxy initWithCoder:]");
        } else {
            proxy->mIdeaType = IdeaTypeText;
            if (!proxy->mColor)
                Log::assertionFailure(InitWithCoderAssertionLine, "-[IdeaProxy initWithCoder:]");
        }
    }
    return proxy;
}

} // namespace corvex
