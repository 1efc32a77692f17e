#include "model/IconImage.h"

#include "graphics/ImageBuilder.h"
#include "platform/gfx/AttributedString.h"
#include "platform/gfx/GraphicsContext.h"
#include "platform/gfx/PlatformFont.h"

#include <QHashFunctions>
#include <QTextBoundaryFinder>
#include <algorithm>
#include <cmath>
#include <functional>
#include <unordered_map>

namespace corvex {

IconImage::IconImage(Private, QString name, QString category, QString symbol)
    : mSymbol(std::move(symbol)), mName(std::move(name)), mCategory(std::move(category))
{}

IconImagePtr IconImage::initWithName(const QString& name, const QString& category, const QString& symbol)
{
    return std::make_shared<IconImage>(Private{}, name, category, symbol);
}

namespace {

// Icons by their three texts, held weakly. Expired entries are swept whenever the table has
// doubled since the last sweep, so it stays in proportion to the icons alive.
class IconTable
{
public:
    IconImagePtr find(const QString& name, const QString& category, const QString& symbol,
                      const std::function<IconImagePtr()>& make)
    {
        const Key key{name, category, symbol};
        std::lock_guard lock(mMutex);
        const auto it = mIcons.find(key);
        if (it != mIcons.end()) {
            if (IconImagePtr alive = it->second.lock())
                return alive;
        }
        IconImagePtr icon = make();
        mIcons[key] = icon;
        if (mIcons.size() >= mSweepAt) {
            std::erase_if(mIcons, [](const auto& entry) { return entry.second.expired(); });
            mSweepAt = std::max<std::size_t>(64, 2 * mIcons.size());
        }
        return icon;
    }

private:
    struct Key
    {
        QString name;
        QString category;
        QString symbol;

        static bool same(const QString& a, const QString& b) { return a == b && a.isNull() == b.isNull(); }
        bool operator==(const Key& other) const
        {
            return same(name, other.name) && same(category, other.category) && same(symbol, other.symbol);
        }
    };
    struct KeyHash
    {
        std::size_t operator()(const Key& key) const
        {
            return qHashMulti(0, key.name, key.category, key.symbol, key.name.isNull(), key.category.isNull(),
                              key.symbol.isNull());
        }
    };

    std::mutex mMutex;
    std::unordered_map<Key, std::weak_ptr<IconImage>, KeyHash> mIcons;
    std::size_t mSweepAt = 64;
};

IconTable& iconTable()
{
    // Never destroyed: icons may be decoded during static destruction.
    static IconTable* table = new IconTable;
    return *table;
}

} // namespace

IconImagePtr IconImage::sharedIcon(const QString& name, const QString& category, const QString& symbol)
{
    return iconTable().find(name, category, symbol, [&] { return initWithName(name, category, symbol); });
}

IconImagePtr IconImage::initWithCoder(Decoder& coder)
{
    return sharedIcon(coder.decodeStringForKey(QStringLiteral("name")).value_or(QString()),
                      coder.decodeStringForKey(QStringLiteral("category")).value_or(QString()),
                      coder.decodeStringForKey(QStringLiteral("symbol")).value_or(QString()));
}

QString IconImage::className() const
{
    return QStringLiteral("IconImage");
}

void IconImage::encodeWithCoder(Encoder& coder) const
{
    coder.encodeString(mName, QStringLiteral("name"));
    coder.encodeString(mCategory, QStringLiteral("category"));
    coder.encodeString(mSymbol, QStringLiteral("symbol"));
}

PlatformImage IconImage::image() const
{
    std::lock_guard lock(mMutex);
    if (!mImage)
        mImage = std::make_unique<const PlatformImage>(createSymbolImage(mSymbol));
    return *mImage;
}

PlatformImage IconImage::createSymbolImage(const QString& symbol)
{
    if (symbol.isEmpty())
        return PlatformImage();

    // The emoji face covers the whole first character: a font change inside a surrogate
    // pair or an emoji sequence would split the glyph.
    QTextBoundaryFinder graphemes(QTextBoundaryFinder::Grapheme, symbol);
    qsizetype firstLength = graphemes.toNextBoundary();
    if (firstLength <= 0)
        firstLength = 1;

    AttributedString text(symbol);
    text.setFont(PlatformFont::fontWithName(QStringLiteral("Apple Color Emoji"), 20.0), 0, firstLength);

    const Size measured = text.size();
    const double w = measured.width;
    const double h = measured.height;
    const float s = float(std::max(w, h) + 2.0);

    // Drawing happens in an s x s square at double resolution.
    ImageBuilder builder;
    GraphicsContext* context = builder.startWithSize(2.0 * s, 2.0 * s);
    if (context) {
        context->scaleCTM(2.0, 2.0);
        const float x = std::round(float((s - w) / 2.0));
        const float y = std::round(float((s - h) / 2.0));
        text.drawAtPoint(*context, Point(x, y));
    }
    return builder.consumeImage();
}

} // namespace corvex
