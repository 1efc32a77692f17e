// The blurred backdrop's filter chain on a screen-sized picture: colour controls, a
// Gaussian blur of radius 15, a multiply with a faint black, cropped back to the picture.

#include "bench/BenchSupport.h"
#include "platform/gfx/FilterImage.h"
#include "platform/gfx/PlatformColor.h"

#include <QImage>
#include <QPainter>
#include <benchmark/benchmark.h>

using namespace corvex;

namespace {

QImage samplePicture(int width, int height)
{
    QImage image(width, height, QImage::Format_RGBA8888_Premultiplied);
    QPainter painter(&image);
    for (int y = 0; y < height; y += 20) {
        for (int x = 0; x < width; x += 20)
            painter.fillRect(x, y, 20, 20, QColor::fromHsv((x + y) % 360, 200, 220));
    }
    return image;
}

void backdropChain(benchmark::State& state)
{
    const int width = int(state.range(0));
    const int height = width * 3 / 4;
    const QImage picture = samplePicture(width, height);
    for (auto _ : state) {
        const FilterImage blurred = FilterImage::fromImage(picture).colorControls(1.5).gaussianBlur(15);
        const FilterImage tinted =
            FilterImage::multiplyBlend(FilterImage::constantColor(PlatformColor::deviceRGB(0, 0, 0, 0.1)),
                                       blurred)
                .cropped(Rect(0, 0, width, height));
        QImage out = tinted.render(Rect(0, 0, width, height));
        if (out.width() != width || out.height() != height) {
            state.SkipWithError("the chain drew no picture of the size");
            break;
        }
        benchmark::DoNotOptimize(out);
    }
    state.SetItemsProcessed(state.iterations() * qint64(width) * height);
}

const bench::Registration registration([] {
    auto* b = benchmark::RegisterBenchmark("FilterImage/BackdropChain", backdropChain);
    for (std::int64_t width : bench::sizes({800, 1600}, 40))
        b->Arg(width);
    b->Unit(benchmark::kMillisecond);
});

} // namespace
