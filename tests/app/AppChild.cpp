#include "tests/app/AppChild.h"

#include "app/ApplicationAssembly.h"
#include "tests/app/UserFiles.h"
#include "tests/support/TestEnvironment.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTimer>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <unistd.h>
#include <vector>

namespace corvex::test {

namespace {

std::map<QString, AppChild::Script>& scripts()
{
    static std::map<QString, AppChild::Script> registered;
    return registered;
}

QString gScriptName;
QStringList gScriptArguments;

// Run from the application object's constructor: the script starts once the event loop runs.
void scheduleScript()
{
    QTimer::singleShot(0, QCoreApplication::instance(), [] {
        const auto found = scripts().find(gScriptName);
        if (found != scripts().end())
            found->second(gScriptArguments);
    });
}

// argv for the application: its name and the launch files. Kept for the process's life, as
// Qt keeps references to them.
char** applicationArguments(const QStringList& files, int& count)
{
    static std::vector<QByteArray> storage;
    static std::vector<char*> argv;
    storage = {QByteArrayLiteral("corvex")};
    for (const QString& file : files)
        storage.push_back(file.toLocal8Bit());
    argv.clear();
    for (QByteArray& item : storage)
        argv.push_back(item.data());
    argv.push_back(nullptr);
    count = int(storage.size());
    return argv.data();
}

// Sends this process's stderr to a file of the test's folder.
void stderrTo(const QString& name)
{
    const QByteArray log = QFile::encodeName(testDir() + QLatin1Char('/') + name);
    const int fd = ::open(log.constData(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd >= 0)
        ::dup2(fd, STDERR_FILENO);
}

// Arguments of the script helper: the script's name, the file its stderr goes to (empty: the
// test's stderr), how many script arguments follow, them, then the launch files.
CORVEX_TEST_HELPER_WITHOUT_APPLICATION(corvex_with_script)
{
    if (args.size() < 3)
        return 2;
    gScriptName = args[0];
    if (!args[1].isEmpty())
        stderrTo(args[1]);
    const int count = args[2].toInt();
    gScriptArguments = args.mid(3, count);
    qAddPreRoutine(&scheduleScript);
    static int argc = 0;
    char** argv = applicationArguments(args.mid(3 + count), argc);
    return runCorvex(argc, argv);
}

// The corvex executable, its log in the test's folder.
CORVEX_TEST_HELPER_WITHOUT_APPLICATION(corvex_binary)
{
    stderrTo(QStringLiteral("corvex.log"));
    return execProgram(QByteArrayLiteral(CORVEX_APP_BINARY), args);
}

} // namespace

QString AppEnding::describe() const
{
    QString text;
    if (!ended)
        text = QStringLiteral("still running, killed");
    else if (signal != 0)
        text = QStringLiteral("ended by signal %1 (%2)")
                   .arg(signal)
                   .arg(QString::fromLocal8Bit(::strsignal(signal)));
    else
        text = QStringLiteral("exit %1").arg(exitCode);
    if (!crashRecords.isEmpty())
        text += QStringLiteral("; crash records: ") + crashRecords.join(QStringLiteral(", "));
    if (!leftovers.isEmpty())
        text += QStringLiteral("; left: ") + leftovers.join(QStringLiteral(", "));
    return text;
}

AppChild::ScriptRegistration::ScriptRegistration(const char* name, Script script)
{
    scripts()[QString::fromLatin1(name)] = std::move(script);
}

AppChild::~AppChild()
{
    if (mProcess && !mProcess->waitFor(0).has_value()) {
        mProcess->kill(SIGKILL);
        mProcess->wait();
    }
}

std::unique_ptr<AppChild> AppChild::startScript(const QString& script, const QStringList& arguments,
                                                const QStringList& files, const QString& stderrFile)
{
    QStringList helperArguments{script, stderrFile, QString::number(arguments.size())};
    helperArguments << arguments << files;
    auto process = HelperProcess::start(QStringLiteral("corvex_with_script"), helperArguments);
    return process ? std::unique_ptr<AppChild>(new AppChild(std::move(process))) : nullptr;
}

std::unique_ptr<AppChild> AppChild::startBinary(const QStringList& arguments)
{
    auto process = HelperProcess::start(QStringLiteral("corvex_binary"), arguments);
    return process ? std::unique_ptr<AppChild>(new AppChild(std::move(process))) : nullptr;
}

AppEnding AppChild::waitForEnd(double seconds)
{
    AppEnding ending;
    std::optional<int> status = mProcess->waitFor(seconds);
    ending.ended = status.has_value();
    if (!status) {
        mProcess->kill(SIGKILL);
        status = mProcess->wait();
    }
    if (*status < 0)
        ending.signal = -*status;
    else
        ending.exitCode = *status;
    ending.crashRecords = crashRecords();
    ending.leftovers = leftovers();
    return ending;
}

QStringList AppChild::crashRecords()
{
    QStringList records;
    const QString cache = qEnvironmentVariable("XDG_CACHE_HOME");
    for (const QString& file : UserFiles::filesBelow(cache)) {
        const QString name = QFileInfo(file).fileName();
        if (name == QLatin1String("signal.bbxrecord") || name == QLatin1String("exception.bbxrecord") ||
            name == QLatin1String("mach_exception.bbxrecord"))
            records << file;
    }
    return records;
}

QStringList AppChild::leftovers()
{
    QStringList left;
    for (const QString& file : UserFiles::filesBelow(testDir())) {
        const QString name = QFileInfo(file).fileName();
        if (name == QLatin1String("instance.socket") || name.contains(QLatin1String(".corvex-tmp-")) ||
            file.startsWith(QLatin1String("tmp/")))
            left << file;
    }
    return left;
}

void AppChild::tell(const QByteArray& line)
{
    std::fwrite(line.constData(), 1, std::size_t(line.size()), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void AppChild::fail(const QByteArray& reason)
{
    tell(reason);
    std::fflush(stderr);
    std::_Exit(FailedScriptExit);
}

} // namespace corvex::test
