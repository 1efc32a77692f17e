// The compositor on a defined scene: a 1600 x 1000-point window at scale 2 (3200 x 2000
// pixels over white) with 60 cached planet layers of 280 x 280 pixels (140 points at
// contents scale 2), each at a fractional position, scaled 0.8 to 1.2 and at opacity 0.5 to
// 1. The variants store the planets' contents as ARGB32 premultiplied (what the compositor
// converts to) or in the bitmap contexts' byte order, RGBA8888 premultiplied, drawn as stored;
// "Steady" frames repeat the same scene (scaled contents are then copied from the
// compositor's device-resolution renditions), "Rescaled" frames change every planet's scale
// slightly first, so every planet is scaled again as during a zoom.
// "Drill" frames are those of opening a planet: a 0.35 s animation at 60 Hz (21 frames,
// repeated) in which every planet grows from 0.6 to 1.2 of its size while it moves and
// fades, and an orbit layer (the 1260-point square the solar-system view gives it) changes
// its radius every frame; each frame runs the display pass too. "OrbitCached" draws the
// orbit the way it was drawn before it drew directly: a 2520 x 2520-pixel cache redrawn and
// composited whole every frame.
// Goal: at most 8 ms a frame on one core (run pinned: taskset -c 0).

#include "bench/BenchSupport.h"
#include "mindmap/SolarSystemLayer.h"
#include "platform/ui/Compositor.h"
#include "platform/ui/Layer.h"

#include <QPainter>
#include <QRadialGradient>
#include <benchmark/benchmark.h>
#include <random>

using namespace corvex;

namespace {

constexpr double kWidth = 1600;
constexpr double kHeight = 1000;
constexpr double kScale = 2;
constexpr double kPlanetPoints = 140;

// A planet: a shaded disk with a rim, transparent around it, in the given format.
QImage planetImage(QImage::Format format, int hue)
{
    const int side = int(kPlanetPoints * kScale);
    QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    QRadialGradient gradient(side * 0.4, side * 0.35, side * 0.6);
    gradient.setColorAt(0, QColor::fromHsv(hue, 60, 255));
    gradient.setColorAt(1, QColor::fromHsv(hue, 220, 160));
    painter.setBrush(gradient);
    painter.setPen(QPen(QColor::fromHsv(hue, 255, 90), 6));
    painter.drawEllipse(QRectF(8, 8, side - 16, side - 16));
    painter.end();
    return image.convertToFormat(format);
}

std::shared_ptr<Layer> makeScene(QImage::Format format, int planets)
{
    auto root = Layer::createBackingLayer(false);
    root->setFrame(Rect(0, 0, kWidth, kHeight));
    std::mt19937 random(20240611);
    std::uniform_real_distribution<double> x(0, kWidth), y(0, kHeight), scale(0.8, 1.2), opacity(0.5, 1.0);
    for (int i = 0; i < planets; ++i) {
        auto planet = Layer::create();
        planet->setBounds(Rect(0, 0, kPlanetPoints, kPlanetPoints));
        planet->setContentsScale(kScale);
        planet->setContents(planetImage(format, (i * 37) % 360));
        planet->setPosition(Point(x(random), y(random)));
        const double s = scale(random);
        planet->setTransform(Transform3D::makeScale(s, s, 1));
        planet->setOpacity(float(opacity(random)));
        root->addSublayer(planet);
    }
    return root;
}

void compositeFrame(benchmark::State& state, QImage::Format contentsFormat, bool rescaled)
{
    const int planets = int(state.range(0));
    const auto root = makeScene(contentsFormat, planets);
    std::vector<double> scales;
    for (const auto& planet : root->sublayers())
        scales.push_back(planet->transform().m11);
    bool odd = false;
    QImage target(int(kWidth * kScale), int(kHeight * kScale), QImage::Format_ARGB32_Premultiplied);
    target.setDevicePixelRatio(kScale);
    Compositor::Options options;
    options.background = PlatformColor::white();
    options.convertContents = false; // measure the format as stored
    const QTransform base = Compositor::windowBase(kHeight);
    for (auto _ : state) {
        if (rescaled) {
            odd = !odd;
            for (std::size_t i = 0; i < scales.size(); ++i) {
                const double s = scales[i] * (odd ? 1.0001 : 1.0);
                root->sublayers()[i]->setTransform(Transform3D::makeScale(s, s, 1));
            }
        }
        QPainter painter(&target);
        Compositor::paint(painter, *root, base, options);
        painter.end();
        benchmark::DoNotOptimize(target.constBits());
        benchmark::ClobberMemory();
    }
    state.counters["planets"] = planets;
}

// The orbit as it was drawn before: cached contents of the whole square.
class CachedOrbitLayer : public SolarSystemLayer
{
public:
    CachedOrbitLayer() { setDrawsDirectly(false); }
};

void drillFrames(benchmark::State& state, bool cachedOrbit)
{
    const int planets = int(state.range(0));
    const auto root = makeScene(QImage::Format_ARGB32_Premultiplied, planets);
    std::shared_ptr<SolarSystemLayer> orbit =
        cachedOrbit ? std::static_pointer_cast<SolarSystemLayer>(BaseLayer::make<CachedOrbitLayer>())
                    : SolarSystemLayer::create();
    orbit->setFrame(Rect(0, 0, 1260, 1260));
    orbit->setContentsScale(kScale);
    root->insertSublayer(orbit, 0);
    struct Start
    {
        Point position;
        double scale;
        float opacity;
    };
    std::vector<Start> starts;
    for (const auto& planet : root->sublayers()) {
        if (planet != orbit)
            starts.push_back({planet->position(), planet->transform().m11, planet->opacity()});
    }
    QImage target(int(kWidth * kScale), int(kHeight * kScale), QImage::Format_ARGB32_Premultiplied);
    target.setDevicePixelRatio(kScale);
    Compositor::Options options;
    options.background = PlatformColor::white();
    const QTransform base = Compositor::windowBase(kHeight);
    const Point centre(kWidth / 2, kHeight / 2);
    constexpr int kFrames = 21; // 0.35 s at 60 Hz
    int frame = 0;
    for (auto _ : state) {
        const double t = double(frame) / (kFrames - 1);
        frame = (frame + 1) % kFrames;
        const double grow = 0.6 + 0.6 * t;
        orbit->setPosition(centre);
        orbit->setRadius(SolarSystemLayer::naturalRadius() * grow);
        orbit->setOpacity(float(0.4 + 0.6 * t));
        for (std::size_t i = 0; i < starts.size(); ++i) {
            Layer& planet = *root->sublayers()[i + 1];
            const Start& s = starts[i];
            // Out from the centre as the system opens.
            planet.setPosition(Point(centre.x + (s.position.x - centre.x) * grow,
                                     centre.y + (s.position.y - centre.y) * grow));
            planet.setTransform(Transform3D::makeScale(s.scale * grow, s.scale * grow, 1));
            planet.setOpacity(float(s.opacity * (0.5 + 0.5 * t)));
        }
        Compositor::prepareFrame(*root);
        QPainter painter(&target);
        Compositor::paint(painter, *root, base, options);
        painter.end();
        benchmark::DoNotOptimize(target.constBits());
        benchmark::ClobberMemory();
    }
    state.counters["planets"] = planets;
}

void steadyArgb32(benchmark::State& state)
{
    compositeFrame(state, QImage::Format_ARGB32_Premultiplied, false);
}

void steadyRgba8888(benchmark::State& state)
{
    compositeFrame(state, QImage::Format_RGBA8888_Premultiplied, false);
}

void rescaledArgb32(benchmark::State& state)
{
    compositeFrame(state, QImage::Format_ARGB32_Premultiplied, true);
}

void rescaledRgba8888(benchmark::State& state)
{
    compositeFrame(state, QImage::Format_RGBA8888_Premultiplied, true);
}

void drillOrbitDirect(benchmark::State& state)
{
    drillFrames(state, false);
}

void drillOrbitCached(benchmark::State& state)
{
    drillFrames(state, true);
}

const bench::Registration registration([] {
    for (auto [name, function] :
         {std::pair{"Compositor/PlanetsFrame/Steady/ARGB32Premultiplied", &steadyArgb32},
          std::pair{"Compositor/PlanetsFrame/Steady/RGBA8888Premultiplied", &steadyRgba8888},
          std::pair{"Compositor/PlanetsFrame/Rescaled/ARGB32Premultiplied", &rescaledArgb32},
          std::pair{"Compositor/PlanetsFrame/Rescaled/RGBA8888Premultiplied", &rescaledRgba8888},
          std::pair{"Compositor/DrillFrame/OrbitDrawnDirectly", &drillOrbitDirect},
          std::pair{"Compositor/DrillFrame/OrbitCached", &drillOrbitCached}}) {
        auto* b = benchmark::RegisterBenchmark(name, function);
        for (std::int64_t planets : bench::sizes({60}, 2))
            b->Arg(planets);
        // Qt spreads large fills over its thread pool: count the CPU time of every thread,
        // which is the cost on one core.
        b->MeasureProcessCPUTime();
        b->Unit(benchmark::kMillisecond);
    }
});

} // namespace
