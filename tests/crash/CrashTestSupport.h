#pragma once

// Helpers shared by the crash runtime's test files (one unity batch may hold several).

#include "crash/runtime/BBXMemory.h"
#include "crash/runtime/BBXSDKLog.h"
#include "tests/support/HelperProcess.h"
#include "tests/support/TestEnvironment.h"
#include "tests/support/TestFiles.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QStringList>
#include <unistd.h>

namespace corvex::test {

inline QByteArray crashTestPath(const char* name)
{
    return QFile::encodeName(testDir()) + '/' + name;
}

// Installs a kit log at "<test dir>/sdk.log" for the scope.
class ScopedSdkLog
{
public:
    ScopedSdkLog() : mPath(crashTestPath("sdk.log"))
    {
        mState.path = mPath.constData();
        BBXSDKLogInstall(&mState);
    }
    ~ScopedSdkLog()
    {
        BBXSDKLogInstall(nullptr);
        const int fd = mState.descriptor.load();
        if (fd >= 0)
            ::close(fd);
    }
    ScopedSdkLog(const ScopedSdkLog&) = delete;
    ScopedSdkLog& operator=(const ScopedSdkLog&) = delete;

    BBXSDKLogState& state() { return mState; }
    QByteArray text() const { return readFile(QFile::decodeName(mPath)); }

private:
    QByteArray mPath;
    BBXSDKLogState mState;
};

// The safe-read mechanism for the scope; the default one again afterwards.
class ScopedSafeReadMechanism
{
public:
    explicit ScopedSafeReadMechanism(BBXSafeReadMechanism mechanism)
    {
        mOk = BBXSafeReadSetup(mechanism == BBXSafeReadMechanism::Pipe) &&
              BBXSafeReadCurrentMechanism() == mechanism;
    }
    ~ScopedSafeReadMechanism() { BBXSafeReadSetup(false); }
    ScopedSafeReadMechanism(const ScopedSafeReadMechanism&) = delete;
    ScopedSafeReadMechanism& operator=(const ScopedSafeReadMechanism&) = delete;
    bool ok() const { return mOk; }

private:
    bool mOk = false;
};

inline const char* crashMechanismName(BBXSafeReadMechanism mechanism)
{
    return mechanism == BBXSafeReadMechanism::Pipe ? "pipe" : "process_vm_readv";
}

} // namespace corvex::test
