#pragma once

#include "platform/core/CrossProcessLock.h"
#include "platform/core/InstanceMessage.h"

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

class QLocalServer;
class QLocalSocket;

namespace corvex {

// One instance per user. The first launch takes an exclusive CrossProcessLock in the
// instance folder (folder(): "com.tallowfen.corvex" under $XDG_RUNTIME_DIR, else the cache
// folder, made 0700; a wider mode is narrowed) and listens on a local socket there; a
// socket file left by a crashed instance is removed first (the lock proves nobody serves
// it). A later launch finds the lock held and sends its arguments to the socket as
// InstanceMessage lines. What arrives is parsed with InstanceMessageParser, refusals logged,
// and each accepted message handed to the callback on the main thread.
class SingleInstance : public QObject
{
public:
    enum class Role
    {
        Primary,   // this process serves the instance
        Secondary, // another process does
        Failed     // neither: the folder, lock or socket could not be made (logged)
    };

    explicit SingleInstance(QStringList acceptedUrlSchemes, QString folder = QString());
    ~SingleInstance() override;

    // $XDG_RUNTIME_DIR/com.tallowfen.corvex, else the cache folder's.
    static QString defaultFolder();
    // The socket lies in the instance folder, or where a too deep folder cannot hold it, in a
    // private folder of its own under /tmp.
    QString socketFolder() const;
    QString socketPath() const;
    QString lockPath() const;

    // Takes the lock and listens (Primary), or finds the lock held (Secondary).
    Role claim();
    Role role() const { return mRole; }

    void setMessageHandler(std::function<void(const InstanceMessage&)> handler)
    {
        mHandler = std::move(handler);
    }

    // Secondary: sends the lines to the primary, waiting for it up to `timeoutSeconds` of
    // real time (it may be starting); answers whether all bytes were written.
    bool send(const QByteArray& lines, double timeoutSeconds = 5.0);

private:
    void acceptConnections();
    void readFrom(QLocalSocket* socket);

    QString mFolder;
    QStringList mSchemes;
    std::unique_ptr<CrossProcessLock> mLock;
    QPointer<QLocalServer> mServer;
    std::function<void(const InstanceMessage&)> mHandler;
    Role mRole = Role::Failed;
};

} // namespace corvex
