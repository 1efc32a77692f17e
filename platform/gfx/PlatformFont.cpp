#include "platform/gfx/PlatformFont.h"

#include "platform/core/Log.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QHash>
#include <QImage>
#include <QSet>
#include <algorithm>
#include <cmath>
#include <mutex>
#include <optional>
#include <utility>

namespace corvex {

namespace {

constexpr double kDefaultPointSize = 12.0;
constexpr double kLargestPointSize = 10000.0;

// Lower case, words separated by single spaces: hyphens, underscores and camel case start
// words, so PostScript names ("Avenir-BookOblique") and display names meet.
QString faceKey(const QString& name)
{
    QString key;
    key.reserve(name.size() + 4);
    QChar previous;
    for (const QChar c : name) {
        if (c.isSpace() || c == QLatin1Char('-') || c == QLatin1Char('_')) {
            if (!key.isEmpty() && !key.endsWith(QLatin1Char(' ')))
                key += QLatin1Char(' ');
            previous = QLatin1Char(' ');
            continue;
        }
        if (c.isUpper() && previous.isLower())
            key += QLatin1Char(' ');
        key += c.toLower();
        previous = c;
    }
    if (key.endsWith(QLatin1Char(' ')))
        key.chop(1);
    return key;
}

// "Nimbus Sans [urw]" -> "Nimbus Sans": fontconfig families that several foundries provide
// carry the foundry in brackets.
QString withoutFoundry(const QString& family)
{
    const qsizetype bracket = family.indexOf(QStringLiteral(" ["));
    if (bracket > 0 && family.endsWith(QLatin1Char(']')))
        return family.left(bracket);
    return family;
}

// A face as family + style, with "Regular" implied: "Lato Light" (family "Lato Light",
// style "Regular") and "Lato" + "Light" are the same face.
QString faceIdentity(const QString& family, const QString& style)
{
    QString key = faceKey(family + QLatin1Char(' ') + style);
    if (key.endsWith(QStringLiteral(" regular")))
        key.chop(8);
    return key;
}

struct StandIn
{
    const char* face; // as faceKey() spells it
    const char* family;
    const char* style;
};

// The stand-ins of the faces the interface names. Avenir Black has no heavier Lato on
// purpose: the design decided on Heavy for both.
constexpr StandIn kStandIns[] = {
    {"avenir", "Lato", "Regular"},
    {"avenir book", "Lato", "Regular"},
    {"avenir roman", "Lato", "Regular"},
    {"avenir light", "Lato", "Light"},
    {"avenir medium", "Lato", "Medium"},
    {"avenir heavy", "Lato", "Heavy"},
    {"avenir black", "Lato", "Heavy"},
    {"avenir oblique", "Lato", "Italic"},
    {"avenir book oblique", "Lato", "Italic"},
    {"avenir roman oblique", "Lato", "Italic"},
    {"avenir light oblique", "Lato", "Light Italic"},
    {"avenir medium oblique", "Lato", "Medium Italic"},
    {"avenir heavy oblique", "Lato", "Heavy Italic"},
    {"avenir black oblique", "Lato", "Heavy Italic"},
    {"helvetica", "Nimbus Sans", "Regular"},
    {"helvetica bold", "Nimbus Sans", "Bold"},
    {"helvetica oblique", "Nimbus Sans", "Italic"},
    {"helvetica bold oblique", "Nimbus Sans", "Bold Italic"},
    {"helvetica neue", "Nimbus Sans", "Regular"},
    {"helvetica neue medium", "Nimbus Sans", "Regular"},
    {"helvetica neue bold", "Nimbus Sans", "Bold"},
    {"helvetica neue italic", "Nimbus Sans", "Italic"},
    {"helvetica neue bold italic", "Nimbus Sans", "Bold Italic"},
    {"apple color emoji", "Noto Color Emoji", "Regular"},
};

const char kFallbackFace[] = "helvetica";

// The faces every font falls back to, in this order, for characters it lacks, before any
// face the system would pick: the same glyphs on every surface and in every file written, and
// faces whose outlines PDF output embeds as text. Han, kana and Hangul come from WenQuanYi
// Micro Hei: with Noto Sans CJK, whose ideographs share their glyphs with the Kangxi
// radicals, the PDF's text would read "⽇本" for "日本". Noto Sans CJK covers what Micro Hei
// lacks.
constexpr const char* kScriptFaces[] = {"WenQuanYi Micro Hei", "Noto Sans Arabic", "Noto Sans Hebrew",
                                        "Noto Sans CJK SC"};

// The resolution Qt lays text out at when no device says otherwise (the primary screen's
// logical dpi), read through the public API: a 72-point font is that many pixels high.
int layoutDpi()
{
    static const int dpi = [] {
        QFont probe;
        probe.setPointSizeF(72.0);
        return std::max(1, QFontInfo(probe).pixelSize());
    }();
    return dpi;
}

// Qt's size for a font of `points` user-space units per em at layoutDpi(). Text is laid out
// at Qt's own resolution rather than at 72 dpi because Qt scales absolute letter spacing by
// the whole-number ratio of the two resolutions, which is 0 below the screen's (no kern).
double qtPointSize(double points)
{
    return points * 72.0 / layoutDpi();
}

QStringList familiesWithScriptFaces(const QString& family)
{
    return QStringList{family} + PlatformFont::scriptFaces();
}

QFont makeQFont(const QString& family, const QString& style, double pointSize)
{
    QFont font(family);
    font.setFamilies(familiesWithScriptFaces(family));
    if (!style.isEmpty())
        font.setStyleName(style);
    font.setPointSizeF(qtPointSize(pointSize));
    // Unhinted outlines keep advances fractional and the same at every scale, so text
    // measures alike on every screen.
    font.setHintingPreference(QFont::PreferNoHinting);
    return font;
}

bool isInstalledAs(const QString& family, const QString& style)
{
    const QFontInfo info(makeQFont(family, style, kDefaultPointSize));
    return faceIdentity(withoutFoundry(info.family()), info.styleName()) == faceIdentity(family, style);
}

struct Resolution
{
    QString family;
    QString style;
    bool missing = false;
};

// Resolves each face once per process. Thread-safe; QFontDatabase itself may be asked from
// any thread.
class FaceResolver
{
public:
    static FaceResolver& instance()
    {
        static FaceResolver resolver;
        return resolver;
    }

    Resolution resolve(const QString& faceName, bool logWhenMissing)
    {
        const QString key = faceKey(faceName);
        Resolution resolution;
        bool logNow = false;
        {
            std::lock_guard lock(mMutex);
            auto found = mCache.constFind(key);
            if (found == mCache.constEnd())
                found = mCache.insert(key, resolveLocked(key));
            resolution = *found;
            if (resolution.missing && logWhenMissing && !mLogged.contains(key)) {
                mLogged.insert(key);
                logNow = true;
            }
        }
        if (logNow)
            Log::error(
                QStringLiteral("Font face \"%1\" is not installed; using the Helvetica stand-in instead")
                    .arg(faceName));
        return resolution;
    }

private:
    Resolution resolveLocked(const QString& key)
    {
        if (const auto candidate = candidateLocked(key);
            candidate && isInstalledAs(candidate->first, candidate->second))
            return {candidate->first, candidate->second, false};
        Resolution fallback;
        fallback.missing = true;
        const auto helvetica = candidateLocked(QString::fromLatin1(kFallbackFace));
        if (helvetica && isInstalledAs(helvetica->first, helvetica->second)) {
            fallback.family = helvetica->first;
            fallback.style = helvetica->second;
        } else {
            // Not even the stand-in: fontconfig's own substitute for Helvetica.
            fallback.family = QStringLiteral("Helvetica");
        }
        return fallback;
    }

    std::optional<std::pair<QString, QString>> candidateLocked(const QString& key)
    {
        for (const StandIn& entry : kStandIns) {
            if (key == QLatin1String(entry.face))
                return std::make_pair(QString::fromLatin1(entry.family), QString::fromLatin1(entry.style));
        }
        if (key.isEmpty())
            return std::nullopt;
        if (!mInstalledScanned)
            scanInstalledLocked();
        const auto installed = mInstalled.constFind(key);
        if (installed != mInstalled.constEnd())
            return *installed;
        return std::nullopt;
    }

    // Every installed face under "<family> <style>" and, for its regular style, "<family>".
    // Shorter family names go first so that "Lato" + "Light" wins over the alias family
    // "Lato Light".
    void scanInstalledLocked()
    {
        mInstalledScanned = true;
        QStringList families = QFontDatabase::families();
        std::stable_sort(families.begin(), families.end(),
                         [](const QString& a, const QString& b) { return a.size() < b.size(); });
        for (const QString& qualified : families) {
            const QString family = withoutFoundry(qualified);
            const QStringList styles = QFontDatabase::styles(qualified);
            for (const QString& style : styles) {
                const QString key = faceKey(family + QLatin1Char(' ') + style);
                if (!mInstalled.contains(key))
                    mInstalled.insert(key, {family, style});
            }
            const QString familyKey = faceKey(family);
            if (!mInstalled.contains(familyKey) && !styles.isEmpty()) {
                const auto regular = std::find_if(styles.begin(), styles.end(), [](const QString& s) {
                    return s.compare(QLatin1String("Regular"), Qt::CaseInsensitive) == 0;
                });
                mInstalled.insert(familyKey, {family, regular != styles.end() ? *regular : styles.first()});
            }
        }
    }

    std::mutex mMutex;
    QHash<QString, Resolution> mCache;
    QSet<QString> mLogged;
    QHash<QString, std::pair<QString, QString>> mInstalled;
    bool mInstalledScanned = false;
};

double saneSize(double pointSize)
{
    if (!(pointSize > 0) || !std::isfinite(pointSize))
        return kDefaultPointSize;
    return std::min(pointSize, kLargestPointSize);
}

// Resolved once: default fonts are made for every attribute set without a font.
const PlatformFont& defaultFont()
{
    static const PlatformFont font =
        PlatformFont::fontWithName(QStringLiteral("Helvetica"), kDefaultPointSize);
    return font;
}

QFontMetricsF metricsOf(const QFont& font)
{
    return QFontMetricsF(font, PlatformFont::pointDevice());
}

} // namespace

PlatformFont::PlatformFont() : PlatformFont(defaultFont()) {}

PlatformFont::PlatformFont(QString faceName, QString faceKey, QString family, QString style, double pointSize,
                           bool fallback)
    : mFaceName(std::move(faceName)), mFaceKey(std::move(faceKey)), mFamily(std::move(family)),
      mStyle(std::move(style)), mPointSize(saneSize(pointSize)), mFallback(fallback),
      mFont(makeQFont(mFamily, mStyle, mPointSize))
{}

PlatformFont PlatformFont::fontWithName(const QString& faceName, double pointSize)
{
    const Resolution resolution = FaceResolver::instance().resolve(faceName, true);
    return PlatformFont(faceName, faceKey(faceName), resolution.family, resolution.style, pointSize,
                        resolution.missing);
}

PlatformFont PlatformFont::systemFont(double pointSize)
{
    return fontWithName(QStringLiteral("Helvetica"), pointSize);
}

PlatformFont PlatformFont::boldSystemFont(double pointSize)
{
    return fontWithName(QStringLiteral("Helvetica-Bold"), pointSize);
}

bool PlatformFont::isFaceAvailable(const QString& faceName)
{
    return !FaceResolver::instance().resolve(faceName, false).missing;
}

QStringList PlatformFont::scriptFaces()
{
    static const QStringList faces = [] {
        QStringList list;
        for (const char* face : kScriptFaces)
            list.append(QString::fromLatin1(face));
        return list;
    }();
    return faces;
}

QFont PlatformFont::colorEmojiFont(const QFont& font)
{
    static const QString family =
        FaceResolver::instance().resolve(QStringLiteral("Apple Color Emoji"), true).family;
    QFont emoji = font;
    emoji.setFamilies({family});
    emoji.setStyleName(QString());
    emoji.setWeight(QFont::Normal);
    emoji.setItalic(false);
    // Merging would hand the selectors and the keycap mark, which the face shapes but does not
    // map alone, to other faces and break the sequence apart.
    emoji.setStyleStrategy(QFont::StyleStrategy(emoji.styleStrategy() | QFont::NoFontMerging));
    return emoji;
}

PlatformFont PlatformFont::withSize(double pointSize) const
{
    PlatformFont font = *this;
    font.mPointSize = saneSize(pointSize);
    font.mFont.setPointSizeF(qtPointSize(font.mPointSize));
    return font;
}

double PlatformFont::ascender() const
{
    return metricsOf(mFont).ascent();
}

double PlatformFont::descender() const
{
    return -metricsOf(mFont).descent();
}

double PlatformFont::leading() const
{
    return metricsOf(mFont).leading();
}

double PlatformFont::capHeight() const
{
    return metricsOf(mFont).capHeight();
}

double PlatformFont::xHeight() const
{
    return metricsOf(mFont).xHeight();
}

double PlatformFont::lineHeight() const
{
    const QFontMetricsF metrics = metricsOf(mFont);
    return metrics.ascent() + metrics.descent() + metrics.leading();
}

const QPaintDevice* PlatformFont::pointDevice()
{
    static const QImage device = [] {
        QImage image(1, 1, QImage::Format_ARGB32_Premultiplied);
        const int dotsPerMeter = int(std::lround(layoutDpi() / 0.0254));
        image.setDotsPerMeterX(dotsPerMeter);
        image.setDotsPerMeterY(dotsPerMeter);
        return image;
    }();
    return &device;
}

bool operator==(const PlatformFont& a, const PlatformFont& b)
{
    return a.mPointSize == b.mPointSize && a.mFaceKey == b.mFaceKey && a.mFamily == b.mFamily &&
           a.mStyle == b.mStyle && a.mFallback == b.mFallback;
}

} // namespace corvex
