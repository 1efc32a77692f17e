// The web-link editor's page picture of a page 1,000 points wide and 30,000 tall (its top
// square red, the rest blue), through PageCapture over a page view that draws what it is
// asked for as an engine would. The goal: the memory the capture takes at its peak under
// twice the top square's bitmap (2 x 1,000 x 1,000 x 4 bytes). Measured as heap in use above
// the start, sampled where the capture holds most (the drawing made, the picture scaled),
// and as the growth of VmHWM (reset through /proc/self/clear_refs before each capture).

#include "bench/BenchSupport.h"
#include "editor/PageCapture.h"
#include "editor/WebPageView.h"

#include <QFile>
#include <QPainter>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <malloc.h>

namespace {

using corvex::Size;

// A page view whose page is drawn on demand: red down to its width, blue below.
class PaintedPageView : public corvex::WebPageView
{
public:
    explicit PaintedPageView(Size page) : mPage(page) {}
    std::shared_ptr<corvex::View> view() override { return nullptr; }
    void setClient(std::weak_ptr<corvex::WebPageViewClient>) override {}
    void loadBypassingCaches(const QUrl&) override {}
    bool canGoBack() const override { return false; }
    void goBack() override {}
    QUrl mainDocumentURL() const override { return {}; }
    Size contentsSize() const override { return mPage; }
    void renderTopOfPage(Size area, CaptureCompletion completion) override
    {
        QImage drawing(int(area.width), int(area.height), QImage::Format_ARGB32_Premultiplied);
        QPainter painter(&drawing);
        const int red = int(std::min(area.height, mPage.width));
        painter.fillRect(0, 0, drawing.width(), red, Qt::red);
        painter.fillRect(0, red, drawing.width(), drawing.height() - red, Qt::blue);
        painter.end();
        drawnBytes = double(drawing.sizeInBytes());
        sample();
        completion(drawing);
    }
    void loadBlankPage() override {}

    void sample() { peakHeap = std::max(peakHeap, heapInUse()); }

    // Arena chunks in use and the large blocks malloc maps on their own (big bitmaps).
    static double heapInUse()
    {
        const struct mallinfo2 info = ::mallinfo2();
        return double(info.uordblks) + double(info.hblkhd);
    }

    double peakHeap = 0;
    double drawnBytes = 0;

private:
    Size mPage;
};

void pageCapture(benchmark::State& state)
{
    const Size page(1000, double(state.range(0)));
    const double topSquareBytes = page.width * std::min(page.width, page.height) * 4;
    double heapPeak = 0;
    double hwmGrowth = 0;
    double drawn = 0;
    bool ok = true;
    for (auto _ : state) {
        ::malloc_trim(0);
        corvex::bench::resetPeak();
        const double rssBefore = corvex::bench::processStatusBytes("VmRSS");
        const double heapBefore = PaintedPageView::heapInUse();
        PaintedPageView view(page);
        view.peakHeap = heapBefore;
        corvex::QVImage picture;
        bool captured = false;
        corvex::PageCapture::captureTopSquare(view, [&](const corvex::QVImage& made) {
            view.sample();
            picture = made;
            captured = true;
        });
        // The picture is handed over on a later turn.
        corvex::bench::waitFor([&] { return captured; });
        ok = ok && picture.pixelSize() == Size(64, 64) &&
             picture.cgImage().pixelColor(32, 63) == QColor(Qt::red);
        heapPeak = std::max(heapPeak, view.peakHeap - heapBefore);
        hwmGrowth = std::max(hwmGrowth, corvex::bench::processStatusBytes("VmHWM") - rssBefore);
        drawn = view.drawnBytes;
    }
    if (!ok)
        state.SkipWithError("the picture is not the red top square, 64 x 64");
    state.counters["top_square_bytes"] = topSquareBytes;
    state.counters["drawn_bytes"] = drawn;
    state.counters["heap_peak_bytes"] = heapPeak;
    state.counters["hwm_growth_bytes"] = hwmGrowth;
    state.counters["peak_per_top_square"] = std::max(heapPeak, hwmGrowth) / topSquareBytes;
    std::printf("page 1000 x %lld: drew %.1f MB, heap peak %.1f MB, VmHWM growth %.1f MB; "
                "%.2f x the top square (%.1f MB), goal under 2\n",
                static_cast<long long>(state.range(0)), drawn / 1e6, heapPeak / 1e6, hwmGrowth / 1e6,
                std::max(heapPeak, hwmGrowth) / topSquareBytes, topSquareBytes / 1e6);
}

const corvex::bench::Registration registration([] {
    benchmark::RegisterBenchmark("PageCapture/top_square", pageCapture)
        ->Arg(corvex::bench::tiny() ? 3000 : 30000)
        ->ArgName("page_height")
        ->Unit(benchmark::kMillisecond);
});

} // namespace
