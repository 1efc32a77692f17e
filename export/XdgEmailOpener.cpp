#include "export/XdgEmailOpener.h"

#include "platform/core/Log.h"

#include <QProcess>
#include <QStringList>

namespace corvex {

void XdgEmailOpener::openFileInMail(const QString& path, Completion completion)
{
    // The process may both fail to start and report its end: the first answers. (QProcess
    // may report a start failure inside start(); the completion posts its answer.)
    auto finish = std::make_shared<Completion>(std::move(completion));
    auto answer = [finish](bool ok) {
        if (*finish)
            std::exchange(*finish, nullptr)(ok);
    };
    // Owned by itself: it deletes itself once xdg-email has ended or could not start.
    auto* process = new QProcess();
    QObject::connect(
        process, &QProcess::finished, process,
        [process, answer, path](int exitCode, QProcess::ExitStatus status) {
            const bool ok = status == QProcess::NormalExit && exitCode == 0;
            if (!ok)
                Log::warning(
                    QStringLiteral("XdgEmailOpener: xdg-email ended with %1 for %2").arg(exitCode).arg(path));
            answer(ok);
            process->deleteLater();
        });
    QObject::connect(process, &QProcess::errorOccurred, process,
                     [process, answer](QProcess::ProcessError error) {
                         if (error != QProcess::FailedToStart)
                             return;
                         Log::warning(QStringLiteral("XdgEmailOpener: xdg-email could not be started"));
                         answer(false);
                         process->deleteLater();
                     });
    process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process->setStandardOutputFile(QProcess::nullDevice());
    process->start(QStringLiteral("xdg-email"), {QStringLiteral("--attach"), path});
}

} // namespace corvex
