#include "tests/app/WindowManager.h"

#include "tests/support/RunUntil.h"
#include "tests/support/TestEnvironment.h"

#include <QFile>
#include <QStringList>

namespace corvex::test {

const char* desktopName(Desktop desktop)
{
    return desktop == Desktop::Openbox ? "Openbox" : "Bare";
}

std::string desktopTestName(const ::testing::TestParamInfo<Desktop>& info)
{
    return desktopName(info.param);
}

WindowManager::~WindowManager()
{
    if (mProcess.state() == QProcess::NotRunning)
        return;
    mProcess.terminate();
    if (!mProcess.waitForFinished(5000)) {
        mProcess.kill();
        mProcess.waitForFinished(5000);
    }
}

std::unique_ptr<WindowManager> WindowManager::startOpenbox()
{
    // Openbox runs its start-up command once it manages the screen: the file it makes says so.
    const QString ready = testDir() + QStringLiteral("/openbox-ready");
    QFile::remove(ready);
    std::unique_ptr<WindowManager> manager(new WindowManager);
    manager->mProcess.setProcessChannelMode(QProcess::MergedChannels);
    manager->mProcess.setStandardOutputFile(testDir() + QStringLiteral("/openbox.log"));
    manager->mProcess.start(
        QStringLiteral("openbox"),
        {QStringLiteral("--sm-disable"), QStringLiteral("--startup"), QStringLiteral("touch ") + ready});
    if (!manager->mProcess.waitForStarted(10000))
        return nullptr;
    if (!runUntil([&ready] { return QFile::exists(ready); }, 10.0))
        return nullptr;
    return manager;
}

} // namespace corvex::test
