#include "bench/BenchSupport.h"

#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>

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

QTemporaryDir& folder()
{
    static QTemporaryDir dir;
    return dir;
}

void waitFor(const std::function<bool()>& done)
{
    QEventLoop loop;
    while (!done())
        loop.processEvents(QEventLoop::WaitForMoreEvents);
}

void registerAll()
{
    for (const auto& registrar : registrars())
        registrar();
}

} // namespace corvex::bench
