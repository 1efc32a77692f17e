#include "tests/app/XServerInput.h"

#include "tests/support/RunUntil.h"

#include <QProcess>

namespace corvex::test {

bool XServerInput::run(const QStringList& arguments, QString* output, double seconds)
{
    QProcess xdotool;
    xdotool.start(QStringLiteral("xdotool"), arguments);
    if (!xdotool.waitForStarted(5000))
        return false;
    const bool ended = runUntil([&xdotool] { return xdotool.state() == QProcess::NotRunning; }, seconds);
    if (!ended) {
        xdotool.kill();
        xdotool.waitForFinished(5000);
        return false;
    }
    if (output)
        *output = QString::fromUtf8(xdotool.readAllStandardOutput());
    return xdotool.exitStatus() == QProcess::NormalExit && xdotool.exitCode() == 0;
}

bool XServerInput::moveTo(QPoint global)
{
    // From wherever the pointer is, in a few steps: windows under the way hear it pass.
    QString where;
    if (!run({QStringLiteral("getmouselocation"), QStringLiteral("--shell")}, &where))
        return false;
    QPoint from = global;
    for (const QString& line : where.split(QLatin1Char('\n'))) {
        if (line.startsWith(QLatin1String("X=")))
            from.setX(line.mid(2).toInt());
        else if (line.startsWith(QLatin1String("Y=")))
            from.setY(line.mid(2).toInt());
    }
    QStringList steps;
    constexpr int kSteps = 6;
    for (int i = 1; i <= kSteps; ++i) {
        const QPoint p = from + (global - from) * i / kSteps;
        steps << QStringLiteral("mousemove") << QString::number(p.x()) << QString::number(p.y())
              << QStringLiteral("sleep") << QStringLiteral("0.02");
    }
    return run(steps);
}

bool XServerInput::click(QPoint global, int count, int button)
{
    if (!moveTo(global))
        return false;
    return run({QStringLiteral("click"), QStringLiteral("--repeat"), QString::number(count),
                QStringLiteral("--delay"), QStringLiteral("90"), QString::number(button)});
}

bool XServerInput::key(const QString& chord)
{
    return run({QStringLiteral("key"), QStringLiteral("--delay"), QStringLiteral("60"), chord});
}

bool XServerInput::type(const QString& text)
{
    return run({QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("40"), text});
}

std::optional<qulonglong> XServerInput::findWindow(const QStringList& criteria, double seconds)
{
    std::optional<qulonglong> found;
    runUntil(
        [&] {
            QString listed;
            run(QStringList{QStringLiteral("search"), QStringLiteral("--onlyvisible")} + criteria, &listed);
            bool ok = false;
            const qulonglong id = listed.section(QLatin1Char('\n'), 0, 0).trimmed().toULongLong(&ok);
            if (ok)
                found = id;
            return found.has_value();
        },
        seconds);
    return found;
}

} // namespace corvex::test
