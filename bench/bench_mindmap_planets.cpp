// Drawing planets: a planet of each type (three-line title, icon, dots, note badge) and its
// picture variant drawn into its layer's cache at contents scale 2 (goal: at most 2 ms a
// planet on one core; run pinned: taskset -c 2), and the typesetter that sets a title inside a planet's text
// area, alone and drawn at scale 2.

#include "bench/BenchSupport.h"
#include "mindmap/PlanetLayer.h"
#include "model/Color.h"
#include "model/IconImage.h"
#include "platform/gfx/AttributedString.h"
#include "platform/gfx/GraphicsContext.h"
#include "platform/gfx/Path.h"
#include "platform/gfx/TextFrame.h"

#include <QString>
#include <QStringList>
#include <benchmark/benchmark.h>
#include <cmath>

using namespace corvex;

namespace {

// The text area of a type-0 planet without an icon: the disc of radius t = 53 around (t, t)
// cut 0.55 t below its centre and 0.7 t above it.
Path typeZeroTextArea()
{
    constexpr double t = 53;
    const double pi = std::acos(-1.0);
    Path path;
    path.addArc(Point(t, t), t, pi - std::asin(0.7), -(pi - std::asin(0.55)), false);
    path.addArc(Point(t, t), t, -std::asin(0.55), std::asin(0.7), false);
    path.closeSubpath();
    return path;
}

AttributedString planetTitle(const QString& text)
{
    TextAttributes attributes;
    attributes.font = PlatformFont::fontWithName(QStringLiteral("Helvetica"), 11);
    attributes.foregroundColor = PlatformColor::white();
    attributes.paragraphStyle.alignment = TextAlignment::Center;
    attributes.paragraphStyle.lineSpacing = 2;
    attributes.paragraphStyle.minimumLineHeight = 11;
    attributes.paragraphStyle.maximumLineHeight = 11;
    return AttributedString(text, attributes);
}

// 0: a three-line title; 1: forty short words (more than the area holds); 2 and 3: titles of
// 10,000 characters, in words and as one word, which must cost no more than the area they fill.
QString typesetTitle(std::int64_t which)
{
    switch (which) {
    case 0:
        return QStringLiteral("Plan the launch of the new garden website");
    case 1: {
        QStringList words;
        for (int i = 0; i < 40; ++i)
            words << QStringLiteral("word%1").arg(i % 10);
        return words.join(QLatin1Char(' '));
    }
    case 3:
        return QString(10000, QLatin1Char('w'));
    default: {
        QString text;
        for (int i = 0; i < 2000; ++i)
            text += QStringLiteral("long ");
        return text;
    }
    }
}

void BM_TextFrameTypeset(benchmark::State& state)
{
    const AttributedString title = planetTitle(typesetTitle(state.range(0)));
    const Path area = typeZeroTextArea();
    std::size_t lines = 0;
    for (auto _ : state) {
        const TextFrame frame = TextFrame::typeset(title, area);
        lines = frame.lines().size();
        benchmark::DoNotOptimize(lines);
    }
    state.counters["lines"] = double(lines);
}

void BM_TextFrameTypesetAndDraw(benchmark::State& state)
{
    const AttributedString title = planetTitle(typesetTitle(state.range(0)));
    const Path area = typeZeroTextArea();
    auto context = GraphicsContext::createBitmap(2 * 106, 2 * 106);
    context->scaleCTM(2, 2);
    for (auto _ : state) {
        const TextFrame frame = TextFrame::typeset(title, area);
        context->saveGState();
        context->translateCTM(0, textFrameCentringOffset(frame, 0.55 * 53, 0, 1.25 * 53));
        frame.draw(*context);
        context->restoreGState();
    }
}

const bench::Registration textFrameRegistration([] {
    for (auto [name, function] :
         {std::pair{"TextFrame/Typeset", &BM_TextFrameTypeset},
          std::pair{"TextFrame/TypesetAndDrawAtScale2", &BM_TextFrameTypesetAndDraw}}) {
        auto* b = benchmark::RegisterBenchmark(name, function);
        for (std::int64_t which : bench::sizes({0, 1, 2, 3}, 2))
            b->Arg(which);
        b->Unit(benchmark::kMicrosecond);
    }
});

// A planet layer of the type as the mind map fills it: colour (or picture), a three-line
// title, an emoji icon, the sub-idea dots and a note number.
std::shared_ptr<PlanetLayer> benchPlanet(quint64 type, bool picture)
{
    auto layer = PlanetLayer::create(type);
    layer->setContentsScale(2);
    layer->setBaseColor(Color::withRGB(QStringLiteral("bench"), RGBA{51, 128, 204, 1}));
    if (picture) {
        QImage pixels(320, 240, QImage::Format_ARGB32);
        for (int y = 0; y < pixels.height(); ++y)
            for (int x = 0; x < pixels.width(); ++x)
                pixels.setPixel(x, y, qRgb(x % 256, y % 256, (x + y) % 256));
        layer->setImage(QVImage(pixels));
        layer->setShowWebLink(true);
    }
    layer->setText(QStringLiteral("Plan the launch of the new garden website"));
    layer->setIconImage(IconImage::initWithName(QStringLiteral("rocket"), QStringLiteral("travel"),
                                                QString::fromUtf8("\xF0\x9F\x9A\x80")));
    layer->setShowOrbit(true);
    layer->planetDrawer()->setNoteNumber(42);
    return layer;
}

void BM_PlanetLayerDisplay(benchmark::State& state)
{
    const quint64 type = quint64(state.range(0));
    const bool picture = state.range(1) != 0;
    auto layer = benchPlanet(type, picture);
    layer->display(); // the icon's picture is made once per icon, outside the loop
    for (auto _ : state) {
        layer->setNeedsDisplay();
        layer->display();
        benchmark::DoNotOptimize(layer->contents().constBits());
    }
}

const bench::Registration planetRegistration([] {
    auto* b = benchmark::RegisterBenchmark("PlanetLayer/DisplayAtScale2", &BM_PlanetLayerDisplay);
    for (std::int64_t type : bench::sizes({0, 1, 2, 3, 4, 5, 6}, 0))
        for (std::int64_t picture : {0, 1})
            b->Args({type, picture});
    b->ArgNames({"type", "picture"});
    b->Unit(benchmark::kMicrosecond);
});

} // namespace
