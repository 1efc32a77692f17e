#pragma once

#include <QFont>
#include <QString>
#include <QStringList>

class QPaintDevice;

namespace corvex {

// The platform font stand-in: a face asked for by name at a size in points, where one point
// is one user-space unit, whatever the screen's resolution.
//
// The faces the interface names are not installed on Linux; each one resolves to a stand-in
// once per process:
//   Avenir Book, Avenir Roman, Avenir          -> Lato Regular
//   Avenir Light / Medium                      -> Lato Light / Medium
//   Avenir Heavy, Avenir Black                 -> Lato Heavy
//   Avenir Oblique, Avenir Book Oblique        -> Lato Italic
//   Avenir <weight> Oblique                    -> the Lato italic of that weight
//   Helvetica, Helvetica Neue (Bold, Oblique)  -> Nimbus Sans (Bold, Italic)
//   Apple Color Emoji                          -> Noto Color Emoji
// Any other face is looked up among the installed fonts as "<family> <style>" (so "Lato
// Light" and "DejaVu Sans Bold" work). Characters a face lacks come from the script faces,
// in this order: WenQuanYi Micro Hei (Chinese, Japanese, Korean), Noto Sans Arabic, Noto Sans
// Hebrew, Noto Sans CJK SC (what Micro Hei lacks); scriptFaces() names them. Names compare without regard to
// case, spaces, hyphens or camel case: "Avenir-BookOblique", "avenir book oblique" and "AvenirBook Oblique"
// are one face.
//
// A face that resolves to nothing is missing: the error log gets one line for it (the first
// time only) and the font answers the fallback, the Helvetica stand-in, with isFallback().
// QFont never fails by itself, so every resolution is verified through QFontInfo.
//
// Needs a QGuiApplication. Values are cheap to copy; fonts may be made and measured on any
// thread.
class PlatformFont
{
public:
    // Helvetica 12, the platform's font for text without a font attribute.
    PlatformFont();

    static PlatformFont fontWithName(const QString& faceName, double pointSize);
    // The interface font: the Helvetica stand-in (faceName() "Helvetica" / "Helvetica-Bold").
    static PlatformFont systemFont(double pointSize);
    static PlatformFont boldSystemFont(double pointSize);
    // Whether the face resolves to an installed font (a table stand-in or an installed face);
    // asks without logging.
    static bool isFaceAvailable(const QString& faceName);
    // The families every font falls back to, in order.
    static QStringList scriptFaces();
    // `font` set in the colour emoji face (the Apple Color Emoji stand-in) at its size: the
    // face emoji clusters are shaped in, whole, so none is split across faces.
    static QFont colorEmojiFont(const QFont& font);

    // The same face at another size.
    PlatformFont withSize(double pointSize) const;

    const QString& faceName() const { return mFaceName; } // as asked
    double pointSize() const { return mPointSize; }
    bool isFallback() const { return mFallback; }
    // The family and style of the installed font that stands in ("Lato", "Light").
    const QString& familyName() const { return mFamily; }
    const QString& styleName() const { return mStyle; }
    // The Qt font, sized so that at the screen's logical resolution (Qt's default for text
    // layout) one em is pointSize() device-independent pixels: one pixel per point on a 1x
    // screen. Its Qt point size therefore differs from pointSize() unless the screen has 72
    // dpi. Measure and lay it out against pointDevice() (or no device) to get user-space units.
    const QFont& qfont() const { return mFont; }

    // Metrics in points, signed: the descender is negative (below the baseline), the others
    // positive. lineHeight() is ascender - descender + leading. They are the values text
    // layout uses: for fonts without typographic metrics (Nimbus Sans) the font engine
    // rounds ascender and descender to whole points.
    double ascender() const;
    double descender() const;
    double leading() const;
    double capHeight() const;
    double xHeight() const;
    double lineHeight() const;

    // A paint device at the resolution the fonts are sized for: text measured or laid out
    // against it comes out in points, that is in user-space units.
    static const QPaintDevice* pointDevice();

    // Same face (compared by its stand-in and name) at the same size.
    friend bool operator==(const PlatformFont& a, const PlatformFont& b);

private:
    PlatformFont(QString faceName, QString faceKey, QString family, QString style, double pointSize,
                 bool fallback);

    QString mFaceName;
    QString mFaceKey; // the name in its comparable spelling
    QString mFamily;
    QString mStyle;
    double mPointSize = 12.0;
    bool mFallback = false;
    QFont mFont;
};

} // namespace corvex
