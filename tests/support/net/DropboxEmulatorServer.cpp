// The Dropbox emulator as a process of its own, for runs of the real application: it serves
// on 127.0.0.1, holds a few documents in the application folder as another machine put them
// there, prints "<base URL>" on one line once it answers, and serves until SIGTERM or SIGINT.
// It knows the application key Corvex signs in with (CORVEX_DROPBOX_APP_KEY, as Corvex reads it)
// and that key's redirect URI.
//
//   corvex_dropbox_emulator_server [TITLE...]   (default: three documents)

#include "model/ColorTheme.h"
#include "model/Idea.h"
#include "model/IdeaDocumentDataObject.h"
#include "platform/core/LaunchSeams.h"
#include "platform/net/DropboxRedirect.h"
#include "tests/support/net/DropboxEmulator.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QStringList>
#include <csignal>
#include <cstdio>
#include <pthread.h>

int main(int argc, char** argv)
{
    // Blocked before the server's threads start, so only sigwait below sees the signals.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    QCoreApplication application(argc, argv);
    QStringList titles = application.arguments().mid(1);
    if (titles.isEmpty())
        titles = {QStringLiteral("Garden plans"), QStringLiteral("Reading list"),
                  QStringLiteral("Trip to Lisbon")};

    corvex::test::DropboxEmulator emulator;
    if (!emulator.start()) {
        std::fprintf(stderr, "dropbox emulator: no port on 127.0.0.1\n");
        return 1;
    }
    const QString appKey = corvex::DropboxSignInService::appKey();
    emulator.registerApp(appKey, {corvex::DropboxRedirect::redirectUri(QStringLiteral("db-") + appKey)});
    const QDateTime now = QDateTime::currentDateTimeUtc();
    for (int i = 0; i < titles.size(); ++i) {
        // Coloured as the application colours a new document's central idea.
        static const char* const colours[] = {"blue4", "green6", "red4"};
        const corvex::IdeaPtr root = corvex::Idea::initWithText(titles.at(i));
        root->setColor(corvex::ColorTheme::colorByName(QString::fromLatin1(colours[i % 3])));
        const auto payload = corvex::IdeaDocumentDataObject::payloadForWriting(root, now, now);
        const QByteArray bytes = payload ? payload->corvexData().valueOr(QByteArray()) : QByteArray();
        if (bytes.isEmpty()) {
            std::fprintf(stderr, "dropbox emulator: document %d could not be written\n", i + 1);
            return 1;
        }
        emulator.putFile(QStringLiteral("/document-%1.crvx").arg(i + 1), bytes);
    }
    std::printf("%s\n", qPrintable(emulator.baseUrl()));
    std::fflush(stdout);

    int received = 0;
    sigwait(&stopSignals, &received);
    return 0;
}
