#include "webpage/WebEngineProbe.h"

#include "platform/core/Log.h"
#include "webpage/WebEngineMessages.h"

#include <QApplication>
#include <QProcess>
#include <QTimer>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <cstdlib>

namespace corvex {

namespace {

// What the child's exit tells.
QString probeOutcome(const QProcess& child, bool finished)
{
    if (!finished)
        return QStringLiteral("it did not end within %1 s").arg(WebEngineProbe::kProbeMilliseconds / 1000);
    if (child.exitStatus() == QProcess::CrashExit)
        return QStringLiteral("it ended abnormally");
    return QStringLiteral("it ended with %1").arg(child.exitCode());
}

bool probeInChild()
{
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.setStandardOutputFile(QProcess::nullDevice());
    child.start(QCoreApplication::applicationFilePath(), {QLatin1String(WebEngineProbe::kProbeArgument)});
    if (!child.waitForStarted(5000)) {
        Log::error(
            QStringLiteral("The web engine's check could not start: the web-link editor shows no pages"));
        return false;
    }
    const bool finished = child.waitForFinished(WebEngineProbe::kProbeMilliseconds);
    if (finished && child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0)
        return true;
    Log::error(QStringLiteral("The web engine cannot start here (%1): the web-link editor shows no pages")
                   .arg(probeOutcome(child, finished)));
    if (!finished)
        child.kill();
    return false;
}

} // namespace

bool WebEngineProbe::engineStarts()
{
    static const bool starts = probeInChild();
    return starts;
}

int WebEngineProbe::runCheck(int, char** argv)
{
    // No window is shown: the check needs no display.
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    WebEngineMessages::quieten();
    // The engine shares its surfaces through Qt's global OpenGL context, made with the
    // application object when this is set first.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    int count = 1;
    QApplication application(count, argv);
    QWebEngineProfile profile;
    QWebEnginePage page(&profile);
    int code = 2;
    QObject::connect(&page, &QWebEnginePage::loadFinished, &application, [&code](bool ok) {
        code = ok ? 0 : 1;
        QCoreApplication::quit();
    });
    QObject::connect(&page, &QWebEnginePage::renderProcessTerminated, &application, [&code] {
        code = 1;
        QCoreApplication::quit();
    });
    QTimer::singleShot(kProbeMilliseconds, &application, [] { QCoreApplication::quit(); });
    page.setHtml(QStringLiteral("<!DOCTYPE html><p>probe</p>"));
    QApplication::exec();
    return code;
}

} // namespace corvex
