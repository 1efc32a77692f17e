#pragma once

#include "platform/core/Coder.h"
#include "platform/gfx/PlatformImage.h"

#include <QString>
#include <memory>
#include <mutex>

namespace corvex {

class IconImage;
using IconImagePtr = std::shared_ptr<IconImage>;

// The emoji icon of an idea: the symbol text with its catalogue name and category, and a
// picture of the symbol made on first use. Held by shared pointer; ideas and their copies
// share one icon. Name, category and symbol never change after creation; the picture is
// made under the icon's own lock, so any thread may ask for it, and concurrent first calls
// make it once.
class IconImage : public Codable
{
public:
    // A new icon.
    static IconImagePtr initWithName(const QString& name, const QString& category, const QString& symbol);
    // Reads "name", "category" and "symbol"; missing keys (or keys of another type) stay null.
    // Decoded icons are shared: while one with the same name, category and symbol lives
    // (null and empty texts told apart), decoding answers it again, so a document's many
    // uses of a few icons cost one object and one picture each.
    static IconImagePtr initWithCoder(Decoder& coder);
    // That sharing, for any maker of icons from stored values.
    static IconImagePtr sharedIcon(const QString& name, const QString& category, const QString& symbol);

    const QString& symbol() const { return mSymbol; }
    const QString& name() const { return mName; }
    const QString& category() const { return mCategory; }

    // The symbol's picture, made on the first call and cached; the null image when the icon
    // has no symbol.
    PlatformImage image() const;
    // A picture of the symbol in the emoji face at 20 points, drawn at twice the resolution
    // into a square a little larger than the text (see the .cpp). The null image for an
    // empty symbol.
    static PlatformImage createSymbolImage(const QString& symbol);

    QString className() const override;
    void encodeWithCoder(Encoder& coder) const override;

private:
    // Only the class can make one: the explicit constructor refuses a bare "{}".
    struct Private
    {
        explicit Private() = default;
    };

public:
    // Use the factories; public only for std::make_shared.
    IconImage(Private, QString name, QString category, QString symbol);

private:
    QString mSymbol;
    QString mName;
    QString mCategory;
    mutable std::mutex mMutex;
    // Made on first use (guarded by mMutex); most icons of a document are never drawn.
    mutable std::unique_ptr<const PlatformImage> mImage;
};

} // namespace corvex
