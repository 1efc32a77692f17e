#include "bench/BenchSupport.h"

#include <QAbstractEventDispatcher>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <cstdio>

namespace corvex::bench {
namespace {

std::vector<std::function<void()>>& registrars()
{
    static std::vector<std::function<void()>> list;
    return list;
}

} // namespace

Registration::Registration(std::function<void()> registrar)
{
    registrars().push_back(std::move(registrar));
}

double processStatusBytes(const char* field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray prefix = QByteArray(field) + ':';
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(prefix))
            return line.mid(prefix.size()).trimmed().split(' ').value(0).toDouble() * 1024.0;
    }
    return 0;
}

double peakResidentMegabytes()
{
    return processStatusBytes("VmHWM") / (1024.0 * 1024.0);
}

void resetPeak()
{
    QFile refs(QStringLiteral("/proc/self/clear_refs"));
    if (!refs.open(QIODevice::WriteOnly) || refs.write("5") != 1)
        std::printf("the peak cannot be reset: VmHWM counts what came before\n");
}

QTemporaryDir& folder()
{
    static QTemporaryDir dir;
    return dir;
}

void waitFor(const std::function<bool()>& done)
{
    if (done())
        return;
    // One blocking processEvents() call may deliver the posted work that makes `done` true
    // and then go on to block for more: Qt's own dispatcher (QT_NO_GLIB=1) does, and waited
    // for ever once the last completion had run. So `done` is checked again whenever the
    // dispatcher is about to block, and a true answer interrupts it.
    QEventLoop loop;
    const QMetaObject::Connection check = QObject::connect(
        QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock, &loop, [&] {
            if (done())
                loop.quit();
        });
    while (!done())
        loop.processEvents(QEventLoop::WaitForMoreEvents);
    QObject::disconnect(check);
}

std::vector<std::int64_t> shapes(bool withoutLinks, std::int64_t ideas)
{
    std::vector<std::int64_t> list{0, 1};
    if (withoutLinks)
        list.push_back(2);
    if (ideas <= kLargestPictureRich)
        list.insert(list.end(), {3, 4});
    return list;
}

benchmark::internal::Benchmark* addShapedSizes(benchmark::internal::Benchmark* benchmark,
                                               const std::vector<std::int64_t>& sizes, const char* sizeName,
                                               bool withoutLinks)
{
    for (const std::int64_t size : sizes) {
        for (const std::int64_t shape : shapes(withoutLinks, size))
            benchmark->Args({size, shape});
    }
    return benchmark->ArgNames({sizeName, "real"});
}

void registerAll()
{
    for (const auto& registrar : registrars())
        registrar();
}

} // namespace corvex::bench
