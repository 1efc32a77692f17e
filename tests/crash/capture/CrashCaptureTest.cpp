// Real crashes of probe children (CrashProbes.cpp): each must end by its own signal and
// leave a record that Python's json reads line by line, with the probe in the crashed
// thread's stack. Skipped under the sanitizers, whose own handlers take these signals.

#include "crash/capture/BBXSignal.h"
#include "tests/crash/AllocationMarks.h"
#include "tests/support/HelperProcess.h"
#include "tests/support/TestEnvironment.h"
#include "tests/support/TestFiles.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <sys/ptrace.h>
#include <sys/wait.h>

namespace corvex::test {
namespace {

#define CORVEX_SKIP_UNDER_SANITIZERS()                                                                       \
    do {                                                                                                     \
        if (corvex::test::isSanitized())                                                                     \
            GTEST_SKIP() << "the sanitizers' own signal handlers take the probes' crashes";                  \
    } while (0)

struct ProbeRun
{
    int status = 0;    // minus the signal that ended the child
    QByteArray bias;   // the executable's load bias the child printed
    QByteArray output; // the rest of its stdout
    QString directory; // its report folder
    qint64 milliseconds = 0;
};

ProbeRun runProbe(const QString& helper, QStringList args, const QString& name)
{
    ProbeRun run;
    run.directory = testDir() + QLatin1Char('/') + name;
    QDir().mkpath(run.directory);
    if (helper == QStringLiteral("crash_probe"))
        args.append(run.directory);
    else
        args.prepend(run.directory);
    QElapsedTimer timer;
    timer.start();
    std::unique_ptr<HelperProcess> child = HelperProcess::start(helper, args);
    if (!child)
        return run;
    const std::optional<QByteArray> first = child->readLine(10.0);
    if (first && first->startsWith("bias "))
        run.bias = first->mid(5);
    run.output = child->readAll();
    run.status = child->wait();
    run.milliseconds = timer.elapsed();
    return run;
}

// check_crash.py's verdict: "ok" or the first fault.
QByteArray checkRecord(const QString& record, const ProbeRun& run, const char* symbol, const char* where,
                       const QStringList& extra = {})
{
    const QStringList arguments = QStringList{QStringLiteral(CORVEX_CRASH_CAPTURE_TEST_DIR "/check_crash.py"),
                                              record,
                                              selfExecutable(),
                                              QString::fromLatin1(run.bias),
                                              QString::fromLatin1(symbol),
                                              QString::fromLatin1(where)} +
                                  extra;
    const ProgramRun check = runProgramToEnd(QStringLiteral("/usr/bin/python3"), arguments);
    return check.output.trimmed();
}

struct CrashCase
{
    const char* kind;
    int signal;
    const char* symbol;
    const char* where;
    bool repeated;
};

void PrintTo(const CrashCase& crash, std::ostream* out)
{
    *out << crash.kind;
}

class CrashCapture : public ::testing::TestWithParam<CrashCase>
{};

TEST_P(CrashCapture, childDiesByItsSignalWithTheProbeInTheCrashedThread)
{
    CORVEX_SKIP_UNDER_SANITIZERS();
    const CrashCase& crash = GetParam();
    const ProbeRun run = runProbe(QStringLiteral("crash_probe"), {QString::fromLatin1(crash.kind)},
                                  QString::fromLatin1(crash.kind));
    ASSERT_EQ(run.status, -crash.signal) << run.output.constData();
    ASSERT_FALSE(run.bias.isEmpty());
    const QStringList extra = crash.repeated ? QStringList{QStringLiteral("--repeated")} : QStringList{};
    EXPECT_EQ(checkRecord(run.directory + QStringLiteral("/signal.bbxrecord"), run, crash.symbol, crash.where,
                          extra),
              "ok");
    const QByteArray signalLine =
        readFile(run.directory + QStringLiteral("/signal.bbxrecord")).split('\n').value(0);
    EXPECT_TRUE(signalLine.contains("\"number\":" + QByteArray::number(crash.signal) + ","))
        << signalLine.constData();
    EXPECT_TRUE(signalLine.contains(QByteArray("\"name\":\"") + strsignal(crash.signal) + "\"") ||
                signalLine.contains("\"name\":\"SIG"))
        << signalLine.constData();
    // A fault has the address the kernel gave; a signal a process sent (kill, abort) has none,
    // its information holding the sender's pid there.
    const QByteArray kind(crash.kind);
    if (kind == "kill" || kind == "abrt") {
        EXPECT_TRUE(signalLine.contains("\"address\":0,")) << signalLine.constData();
    }
    if (kind == "bus" || kind == "fpe" || kind == "ill") {
        EXPECT_FALSE(signalLine.contains("\"address\":0,")) << signalLine.constData();
    }
    EXPECT_TRUE(readFile(run.directory + QStringLiteral("/sdk.log"))
                    .contains("Signal: " + QByteArray::number(crash.signal)));
    // The set-up's own record: who wrote the report, about what.
    QByteArrayList sections;
    for (const QByteArray& line : readFile(run.directory + QStringLiteral("/metadata.bbxrecord")).split('\n'))
        sections.append(line.split('"').value(1));
    EXPECT_EQ(sections, (QByteArrayList{"identity", "host", "application", "executable", ""}));
}

INSTANTIATE_TEST_SUITE_P(
    Probes, CrashCapture,
    ::testing::Values(CrashCase{"segv", SIGSEGV, "corvex_probe_segv", "frame0", false},
                      CrashCase{"bus", SIGBUS, "corvex_probe_bus", "frame0", false},
                      CrashCase{"fpe", SIGFPE, "corvex_probe_fpe", "frame0", false},
                      CrashCase{"ill", SIGILL, "corvex_probe_ill", "frame0", false},
                      CrashCase{"trap", SIGTRAP, "corvex_probe_trap", "frame0", false},
                      CrashCase{"abrt", SIGABRT, "corvex_probe_abrt", "anywhere", false},
                      CrashCase{"kill", SIGSEGV, "corvex_probe_kill", "anywhere", false},
                      CrashCase{"overflow", SIGSEGV, "corvex_probe_recurse", "frame0", true},
                      CrashCase{"queue-overflow", SIGSEGV, "corvex_probe_recurse", "frame0", true},
                      CrashCase{"thread-overflow", SIGSEGV, "corvex_probe_recurse", "frame0", true},
                      CrashCase{"qthread-overflow", SIGSEGV, "corvex_probe_recurse", "frame0", true},
                      CrashCase{"pool-overflow", SIGSEGV, "corvex_probe_recurse", "frame0", true},
                      CrashCase{"early-thread-overflow", SIGSEGV, "corvex_probe_recurse", "frame0", true}),
    [](const ::testing::TestParamInfo<CrashCase>& info) {
        QByteArray name(info.param.kind);
        name.replace('-', '_');
        return name.toStdString();
    });

// What the kernel fills in for a sent signal (sigqueue's SI_QUEUE is not among the probes'
// crashes): the sender's pid lies where a fault's address would.
TEST(CrashCaptureSignal, aSignalAProcessSentHasAddressZeroAndAFaultKeepsItsAddress)
{
    for (const int code : {SI_USER, SI_QUEUE, SI_TKILL}) {
        siginfo_t sent{};
        sent.si_signo = SIGSEGV;
        sent.si_code = code;
        sent.si_pid = 4321;
        sent.si_uid = 1000;
        EXPECT_EQ(BBXSignalFaultAddress(&sent), 0u) << code;
    }
    siginfo_t fault{};
    fault.si_signo = SIGSEGV;
    fault.si_code = SEGV_MAPERR;
    fault.si_addr = reinterpret_cast<void*>(std::uintptr_t(0x10d2));
    EXPECT_EQ(BBXSignalFaultAddress(&fault), 0x10d2u);
}

void handOverMarker(int) {}

// The hand-over on this process's own actions (kept and put back around it): the defaults,
// then the one previous action the context holds, and a plain "no" for a context that is none.
TEST(CrashCaptureSignal, theHandOverPutsDefaultsAndPreviousActionsBackAndSaysWhetherItDid)
{
    struct sigaction kept[BBXHandledSignalCount];
    for (std::size_t i = 0; i < BBXHandledSignalCount; ++i)
        ASSERT_EQ(::sigaction(BBXHandledSignals[i], nullptr, &kept[i]), 0);
    const auto handlerOf = [](int signal) {
        struct sigaction current
        {};
        ::sigaction(signal, nullptr, &current);
        return current.sa_handler;
    };

    BBXSignalContext context;
    context.previous[1] = {};
    context.previous[1].sa_handler = handOverMarker;
    sigemptyset(&context.previous[1].sa_mask);
    context.hasPrevious[1] = true;
    EXPECT_TRUE(BBXSignalSafeInstallPreexistingHandlers(&context));
    for (std::size_t i = 0; i < BBXHandledSignalCount; ++i)
        EXPECT_EQ(handlerOf(BBXHandledSignals[i]), i == 1 ? handOverMarker : SIG_DFL) << BBXHandledSignals[i];

    EXPECT_TRUE(BBXSignalSafeRemoveHandlers());
    for (const int signal : BBXHandledSignals)
        EXPECT_EQ(handlerOf(signal), SIG_DFL) << signal;
    EXPECT_FALSE(BBXSignalSafeInstallPreexistingHandlers(nullptr));

    for (std::size_t i = 0; i < BBXHandledSignalCount; ++i)
        ::sigaction(BBXHandledSignals[i], &kept[i], nullptr);
}

TEST(CrashCaptureException, uncaughtRuntimeErrorIsRecordedAsCppAndThenAborts)
{
    CORVEX_SKIP_UNDER_SANITIZERS();
    const ProbeRun run =
        runProbe(QStringLiteral("crash_probe"), {QStringLiteral("throw")}, QStringLiteral("throw"));
    ASSERT_EQ(run.status, -SIGABRT) << run.output.constData();
    const QString exceptionRecord = run.directory + QStringLiteral("/exception.bbxrecord");
    EXPECT_EQ(checkRecord(exceptionRecord, run, "corvex_probe_throw", "anywhere",
                          {QStringLiteral("--first"), QStringLiteral("exception")}),
              "ok");
    const QByteArray line = readFile(exceptionRecord).split('\n').value(0);
    EXPECT_TRUE(line.startsWith("{\"exception\":{\"type\":\"c++\",\"name\":\"" +
                                QByteArray("std::runtime_error").toHex() + "\",\"reason\":\"" +
                                QByteArray("probe's uncaught error").toHex() + "\",\"time\":"))
        << line.constData();
    // The abort that follows is a crash of its own, recorded through the signal.
    EXPECT_EQ(checkRecord(run.directory + QStringLiteral("/signal.bbxrecord"), run, "corvex_probe_throw",
                          "anywhere"),
              "ok");
}

TEST(CrashCaptureException, anExceptionTheApplicationReportsIsRecordedAndTheProcessGoesOn)
{
    CORVEX_SKIP_UNDER_SANITIZERS();
    const ProbeRun run = runProbe(QStringLiteral("report_exception"), {}, QStringLiteral("report-exception"));
    ASSERT_EQ(run.status, 0) << run.output.constData();
    const QString record = run.directory + QStringLiteral("/exception.bbxrecord");
    EXPECT_EQ(checkRecord(record, run, "main", "anywhere",
                          {QStringLiteral("--first"), QStringLiteral("exception")}),
              "ok");
    EXPECT_TRUE(readFile(record).startsWith("{\"exception\":{\"type\":\"objective-c\",\"name\":\"" +
                                            QByteArray("ProbeException").toHex() + "\",\"reason\":\"" +
                                            QByteArray("reported").toHex() + "\""));
}

TEST(CrashContext, withoutAReportPathNothingIsInstalled)
{
    const ProbeRun run = runProbe(QStringLiteral("context_without_path"), {}, QStringLiteral("no-path"));
    EXPECT_EQ(run.status, 0) << run.output.constData();
}

TEST(CrashContext, underATracerNoHandlerIsInstalledNoneIsWarnedAboutAndTheRestIsSetUp)
{
    if (corvex::test::isSanitized())
        GTEST_SKIP() << "the leak checker traces the child itself at its end";
    const QString directory = testDir() + QStringLiteral("/traced");
    QDir().mkpath(directory);
    std::unique_ptr<HelperProcess> child =
        HelperProcess::start(QStringLiteral("context_traced"), {directory});
    ASSERT_TRUE(child);
    ASSERT_EQ(child->readLine(10.0).value_or(QByteArray()), "ready");
    // Attached without stopping it: the child only sees TracerPid change.
    ASSERT_EQ(ptrace(PTRACE_SEIZE, child->pid(), nullptr, nullptr), 0) << strerror(errno);
    // As a debugger does, every stop passes its signal on; the child's end is left for wait().
    siginfo_t info{};
    while (waitid(P_PID, id_t(child->pid()), &info, WEXITED | WSTOPPED | WNOWAIT) == 0 &&
           (info.si_code == CLD_TRAPPED || info.si_code == CLD_STOPPED)) {
        int stopped = 0;
        waitpid(child->pid(), &stopped, 0);
        ptrace(PTRACE_CONT, child->pid(), nullptr, reinterpret_cast<void*>(std::intptr_t(WSTOPSIG(stopped))));
    }
    const int status = child->wait();
    const QByteArray output = child->readAll();
    EXPECT_EQ(status, 0) << output.constData();
    EXPECT_FALSE(output.contains("non-Blackbox handler")) << output.constData();
    EXPECT_FALSE(output.contains("std::get_terminate is")) << output.constData();
    EXPECT_TRUE(readFile(directory + QStringLiteral("/sdk.log"))
                    .contains("Debugger present - not installing handlers\n"));
    EXPECT_TRUE(QFile::exists(directory + QStringLiteral("/metadata.bbxrecord")));
    EXPECT_TRUE(QFile::exists(directory + QStringLiteral("/binary_images.bbxrecord")))
        << QDir(directory).entryList(QDir::Files).join(QLatin1Char(' ')).toStdString()
        << readFile(directory + QStringLiteral("/sdk.log")).constData();
}

TEST(CrashContext, handlersTakenOverAfterSetUpAreReported)
{
    const ProbeRun run = runProbe(QStringLiteral("check_handlers"), {}, QStringLiteral("check"));
    ASSERT_EQ(run.status, 0) << run.output.constData();
    const QByteArray text = run.output;
    EXPECT_EQ(text.count("[Blackbox] The signal "), 1) << text.constData();
    EXPECT_TRUE(text.contains("[Blackbox] The signal SIGBUS has a non-Blackbox handler ("));
    EXPECT_TRUE(text.contains("[Blackbox:Crash] Warning: NSApplicationCrashOnExceptions is not set."));
    EXPECT_TRUE(text.contains("[Blackbox:Crash] Warning: std::get_terminate is '")) << text.constData();
}

TEST(CrashContext, theReadOnlyPartRefusesWritesOnceSetUpIsOver)
{
    CORVEX_SKIP_UNDER_SANITIZERS();
    const ProbeRun run = runProbe(QStringLiteral("context_protected"), {}, QStringLiteral("protected"));
    ASSERT_EQ(run.status, -SIGSEGV) << run.output.constData();
    EXPECT_EQ(run.output.trimmed(), QFile::encodeName(run.directory + QStringLiteral("/signal.bbxrecord")));
    EXPECT_TRUE(readFile(run.directory + QStringLiteral("/signal.bbxrecord")).contains("\"crashed\":true"));
}

TEST(CrashContext, aScriptErrorIsRecordedAsACustomException)
{
    const ProbeRun run = runProbe(QStringLiteral("script_exception"), {}, QStringLiteral("script"));
    ASSERT_EQ(run.status, 0) << run.output.constData();
    const QByteArray line = readFile(run.directory + QStringLiteral("/custom_exception_a.bbxrecord"));
    EXPECT_TRUE(line.startsWith("{\"exception\":{\"type\":\"javascript\",\"name\":\"" +
                                QByteArray("exception").toHex() + "\",\"reason\":\"" +
                                QByteArray("script failed").toHex() + "\",\"time\":"))
        << line.constData();
    EXPECT_EQ(line.count('\n'), 1);
}

TEST(CrashCaptureThreads, everyThreadOfTheChildsListIsRecordedInOneOrder)
{
    CORVEX_SKIP_UNDER_SANITIZERS();
    const ProbeRun run = runProbe(QStringLiteral("crash_threads"), {}, QStringLiteral("threads"));
    ASSERT_EQ(run.status, -SIGSEGV) << run.output.constData();
    EXPECT_EQ(checkRecord(run.directory + QStringLiteral("/signal.bbxrecord"), run, "corvex_probe_segv",
                          "frame0",
                          {QStringLiteral("--tids"), run.directory + QStringLiteral("/threads.txt"),
                           QStringLiteral("--names"), QStringLiteral("20"), QStringLiteral("--labels"),
                           QStringLiteral("com.corvex.probe.q0,com.corvex.probe.q1,com.corvex.probe.q2,"
                                          "com.corvex.probe.q3,com.corvex.probe.q4"),
                           QStringLiteral("--empty-stack-name"), QStringLiteral("probe-blocked")}),
              "ok");
}

// Runs the helper `runs` times; each child must die by SIGSEGV within 10 s and leave a record
// whose crashed thread holds corvex_probe_segv in frame 0; `check` adds its own assertions.
void soakCrashLoop(const QString& helper, const std::function<void(const ProbeRun&, int)>& check)
{
    const int runs = soakRuns(50, 3, 0);
    qint64 slowest = 0;
    for (int i = 0; i < runs; ++i) {
        const ProbeRun run = runProbe(helper, {}, QStringLiteral("%1-%2").arg(helper).arg(i));
        ASSERT_EQ(run.status, -SIGSEGV) << "run " << i << run.output.constData();
        ASSERT_LT(run.milliseconds, 10000) << "run " << i;
        slowest = std::max(slowest, run.milliseconds);
        ASSERT_EQ(checkRecord(run.directory + QStringLiteral("/signal.bbxrecord"), run, "corvex_probe_segv",
                              "frame0"),
                  "ok")
            << "run " << i;
        check(run, i);
    }
    reportSoak(QStringLiteral("%1 runs, slowest %2 ms").arg(runs).arg(slowest));
}

TEST(CrashCaptureSoak, twoThreadsCrashingAtOnceLeaveOneCompleteReport)
{
    CORVEX_SKIP_UNDER_SANITIZERS();
    soakCrashLoop(QStringLiteral("crash_pair"), [](const ProbeRun& run, int i) {
        EXPECT_EQ(readFile(run.directory + QStringLiteral("/signal.bbxrecord")).count("{\"signal\":"), 1)
            << "run " << i;
    });
}

TEST(CrashCaptureSoak, threadsLoopingInMallocNeitherMarkNorHang)
{
    CORVEX_SKIP_UNDER_SANITIZERS();
#if !CORVEX_TEST_OWN_MALLOC
    GTEST_SKIP() << "the malloc family cannot be replaced in this tree";
#endif
    soakCrashLoop(QStringLiteral("crash_malloc"), [](const ProbeRun& run, int i) {
        EXPECT_EQ(run.output.trimmed(), "marks 0") << "run " << i;
    });
}

} // namespace
} // namespace corvex::test
