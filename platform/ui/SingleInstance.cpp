#include "platform/ui/SingleInstance.h"

#include "platform/core/Log.h"
#include "platform/core/Paths.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>
#include <sys/stat.h>

namespace corvex {

namespace {

constexpr qsizetype kMaxSocketPathBytes = 107; // sockaddr_un's path, less its terminator

// The folder must be ours and private: anyone who could write into it could serve the
// socket in our place and receive the paths a second launch hands over.
bool prepareInstanceFolder(const QString& folder)
{
    const Status made = Paths::makePath(folder, 0700);
    if (!made.ok()) {
        Log::error(QStringLiteral("Instance folder cannot be made: ") + folder);
        return false;
    }
    struct stat info = {};
    const QByteArray native = QFile::encodeName(folder);
    if (::lstat(native.constData(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != ::geteuid()) {
        Log::error(QStringLiteral("Instance folder is not a folder of this user: ") + folder);
        return false;
    }
    if ((info.st_mode & 077) != 0 && ::chmod(native.constData(), 0700) != 0) {
        Log::error(QStringLiteral("Instance folder cannot be made private: ") + folder);
        return false;
    }
    return true;
}

} // namespace

SingleInstance::SingleInstance(QStringList acceptedUrlSchemes, QString folder)
    : mFolder(folder.isEmpty() ? defaultFolder() : std::move(folder)), mSchemes(std::move(acceptedUrlSchemes))
{}

SingleInstance::~SingleInstance()
{
    if (mServer) {
        mServer->close();
        delete mServer.data();
    }
}

QString SingleInstance::defaultFolder()
{
    return Paths::runtime() + QLatin1Char('/') + Paths::appFolderName();
}

QString SingleInstance::socketFolder() const
{
    // A Unix socket's path holds at most 107 bytes. Under a deeper folder the socket lies in a
    // private folder of its own under /tmp, named after the user and the instance folder.
    const QString inFolder = mFolder + QStringLiteral("/instance.socket");
    if (QFile::encodeName(inFolder).size() <= kMaxSocketPathBytes)
        return mFolder;
    const QByteArray digest =
        QCryptographicHash::hash(QFile::encodeName(mFolder), QCryptographicHash::Sha256).toHex().left(16);
    return QStringLiteral("/tmp/corvex-%1-%2").arg(::geteuid()).arg(QString::fromLatin1(digest));
}

QString SingleInstance::socketPath() const
{
    return socketFolder() + QStringLiteral("/instance.socket");
}

QString SingleInstance::lockPath() const
{
    return mFolder + QStringLiteral("/instance.lock");
}

SingleInstance::Role SingleInstance::claim()
{
    if (mRole == Role::Primary)
        return mRole;
    mRole = Role::Failed;
    if (!prepareInstanceFolder(mFolder) ||
        (socketFolder() != mFolder && !prepareInstanceFolder(socketFolder())))
        return mRole;
    mLock = std::make_unique<CrossProcessLock>(lockPath(), QStringLiteral("The running instance"));
    if (!mLock->tryLock(CrossProcessLock::Mode::Exclusive)) {
        if (mLock->error().domain() == CrossProcessLock::ErrorDomain) {
            mRole = Role::Secondary;
        } else {
            Log::error(QStringLiteral("Instance lock failed: ") + mLock->errorString());
        }
        mLock.reset();
        return mRole;
    }
    // Holding the lock proves that whatever socket file is there was left by an instance
    // that is gone.
    if (QFileInfo::exists(socketPath()) || QFileInfo(socketPath()).isSymLink()) {
        Log::info(QStringLiteral("Removing a stale instance socket"));
        QLocalServer::removeServer(socketPath());
        QFile::remove(socketPath());
    }
    auto* server = new QLocalServer(this);
    server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server->listen(socketPath())) {
        Log::error(QStringLiteral("Instance socket cannot listen: ") + server->errorString());
        delete server;
        mLock.reset();
        return mRole;
    }
    mServer = server;
    connect(server, &QLocalServer::newConnection, this, [this] { acceptConnections(); });
    mRole = Role::Primary;
    return mRole;
}

void SingleInstance::acceptConnections()
{
    while (mServer && mServer->hasPendingConnections()) {
        QLocalSocket* socket = mServer->nextPendingConnection();
        if (!socket)
            break;
        auto parser = std::make_shared<InstanceMessageParser>(mSchemes);
        // Stops a connection that neither sends nor closes from staying forever.
        socket->setReadBufferSize(InstanceMessageParser::MaxLineBytes * 2);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket, parser] {
            while (socket->bytesAvailable() > 0 && !parser->shouldClose()) {
                const QByteArray bytes = socket->read(64 * 1024);
                if (bytes.isEmpty())
                    break;
                for (const InstanceMessage& message : parser->feed(bytes)) {
                    if (mHandler)
                        mHandler(message);
                }
            }
            if (parser->shouldClose()) {
                socket->readAll();
                socket->abort();
            }
        });
        connect(socket, &QLocalSocket::disconnected, this, [this, socket, parser] {
            if (!parser->shouldClose()) {
                const QByteArray rest = socket->readAll();
                std::vector<InstanceMessage> messages = parser->feed(rest);
                for (InstanceMessage& message : parser->finish())
                    messages.push_back(std::move(message));
                for (const InstanceMessage& message : messages) {
                    if (mHandler)
                        mHandler(message);
                }
            }
            socket->deleteLater();
        });
    }
}

bool SingleInstance::send(const QByteArray& lines, double timeoutSeconds)
{
    const QDeadlineTimer deadline(qint64(std::max(0.0, timeoutSeconds) * 1000));
    // The running instance may hold the lock before it listens: try until the deadline, in
    // real time, since the wait is for another process.
    int pause = 10;
    while (true) {
        QLocalSocket socket;
        socket.connectToServer(socketPath());
        if (socket.waitForConnected(int(std::max<qint64>(1, deadline.remainingTime())))) {
            qint64 written = 0;
            while (written < lines.size()) {
                const qint64 n = socket.write(lines.constData() + written, lines.size() - written);
                if (n < 0)
                    break;
                written += n;
                if (!socket.waitForBytesWritten(int(std::max<qint64>(1, deadline.remainingTime()))))
                    break;
            }
            socket.disconnectFromServer();
            if (socket.state() != QLocalSocket::UnconnectedState)
                socket.waitForDisconnected(int(std::max<qint64>(1, deadline.remainingTime())));
            if (written == lines.size())
                return true;
            Log::error(QStringLiteral("Instance socket: the arguments could not be handed over"));
            return false;
        }
        if (deadline.hasExpired()) {
            Log::error(QStringLiteral("Instance socket: no answer from the running instance: ") +
                       socket.errorString());
            return false;
        }
        QThread::msleep(static_cast<unsigned long>(std::min<qint64>(pause, deadline.remainingTime())));
        pause = std::min(pause * 2, 200);
    }
}

} // namespace corvex
