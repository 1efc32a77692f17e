// The crash reporter's pieces in the process: the report tree, settings, the report reader
// on damaged directories, the file symbol table, demangling, packaging, and the upload's
// retries on virtual time against the vendor-service stand-in.

#include "crash/BBXCrashReportingController.h"
#include "crash/BBXFileManager.h"
#include "crash/BBXInternalReport.h"
#include "crash/BBXReportsController.h"
#include "crash/BBXSettings.h"
#include "crash/Blackbox.h"
#include "crash/processing/BBXDemangleOperation.h"
#include "crash/processing/BBXElfSymbolTable.h"
#include "crash/processing/BBXPackageReportOperation.h"
#include "crash/processing/BBXProcessReportOperation.h"
#include "crash/processing/BBXSymbolResolver.h"
#include "crash/runtime/BBXBinaryImages.h"
#include "crash/runtime/BBXHostSetup.h"
#include "kit/core/LOMNetworkOperation.h"
#include "kit/core/Loom.h"
#include "kit/sys/HostFunctions.h"
#include "platform/core/ElfImage.h"
#include "platform/core/OperationQueue.h"
#include "platform/core/Paths.h"
#include "tallykit/TLYSettings.h"
#include "tests/crash/reports/ControllerTestSupport.h"
#include "tests/crash/reports/ReportTestSupport.h"
#include "tests/support/CompletionRecorder.h"
#include "tests/support/FaultShim.h"
#include "tests/support/HelperProcess.h"
#include "tests/support/LogCapture.h"
#include "tests/support/RunUntil.h"
#include "tests/support/TestEnvironment.h"
#include "tests/support/VirtualScheduler.h"
#include "tests/support/net/VendorServiceStandIn.h"

#include <QDir>
#include <QFile>
#include <cerrno>
#include <cstring>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <link.h>
#include <zlib.h>

namespace corvex {
namespace {

// Internal linkage on purpose: only the file's .symtab names it.
__attribute__((noinline)) int piecesStaticFunction(int value)
{
    return value * 3 + 1;
}

QString reportRoot()
{
    return Paths::caches() + QStringLiteral("/com.blackbox.data/") + LOMEscapedBundleIdentifier();
}

TEST(Blackbox, OneObjectDebugModeSetsWhatItIsGivenAndNothingIsRecordedBeforeTheStart)
{
    EXPECT_EQ(Blackbox::sharedInstance(), Blackbox::sharedInstance());
    Blackbox::sharedInstance()->setDebugMode(true);
    EXPECT_TRUE(Loom::sharedSDK().debug());
    // Debug mode skips certificate pinning: "off" must turn it off.
    Blackbox::sharedInstance()->setDebugMode(false);
    EXPECT_FALSE(Loom::sharedSDK().debug());
    EXPECT_FALSE(Blackbox::sharedInstance()->isBlackboxStarted());
    Blackbox::sharedInstance()->recordError(Error(QStringLiteral("d"), 1));
    test::LogCapture log;
    EXPECT_FALSE(Blackbox::sharedInstance()->developmentPlatformName());
    EXPECT_TRUE(log.contains(QStringLiteral("[Blackbox] developmentPlatformName is write-only")));
}

// Without an application delegate every earlier report is sent, and the controller hears so
// on a later turn, never inside the hand-over.
TEST(Blackbox, AReportHandedOverIsApprovedOnALaterTurn)
{
    test::CompletionRecorder recorder;
    bool submitted = false;
    Blackbox::sharedInstance()->reportingControllerDidDetectReportForLastExecution(
        nullptr, recorder.expect<bool>(QStringLiteral("submit"), [&](bool submit) { submitted = submit; }));
    EXPECT_FALSE(submitted);
    ASSERT_TRUE(recorder.waitAll());
    EXPECT_TRUE(submitted);
}

TEST(BBXFileManager, HiddenEntriesAreNeverListedMovedOrRemovedAndMissingFoldersListEmpty)
{
    BBXFileManager tree(reportRoot());
    ASSERT_TRUE(tree.prepareForNewLaunch());
    ASSERT_TRUE(test::writeReportFile(tree.activePath() + QStringLiteral("/run/.lock"), "x"));
    ASSERT_TRUE(test::writeReportFile(tree.activePath() + QStringLiteral("/.hidden"), "x"));
    EXPECT_EQ(tree.activePathContents(), QStringList{tree.activePath() + QStringLiteral("/run")});
    // pending was never made: emptying it still succeeds.
    EXPECT_TRUE(tree.removeContentsOfAllPaths());
    EXPECT_TRUE(QFile::exists(tree.activePath() + QStringLiteral("/.hidden")));
    EXPECT_FALSE(QFile::exists(tree.activePath() + QStringLiteral("/run")));
    test::LogCapture log;
    EXPECT_FALSE(tree.removeItemAtPath(tree.activePath() + QStringLiteral("/gone")));
    EXPECT_TRUE(log.contains(QStringLiteral("[FileManager] Failed to remove file")));
}

TEST(BBXFileManager, ALegacyMarkerRemovesTheWholeRootBeforeTheNewTreeIsMade)
{
    BBXFileManager tree(reportRoot());
    ASSERT_TRUE(tree.prepareForNewLaunch());
    ASSERT_TRUE(test::writeReportFile(tree.legacyMarkerPath(), QByteArray()));
    test::LogCapture log;
    tree.removeLegacyDirectories();
    EXPECT_FALSE(QFileInfo::exists(tree.structurePath()));
    EXPECT_TRUE(log.contains(QStringLiteral("[Blackbox:FileManager] Removed legacy structure at")));
    EXPECT_TRUE(tree.prepareForNewLaunch());
    // The new tree holds crash records: the user's alone.
    EXPECT_EQ(QFileInfo(tree.activePath()).permissions() & (QFile::ReadGroup | QFile::ReadOther), 0);
}

TEST(BBXSettings, DefaultsEnvironmentOverridesAndFeatureSwitches)
{
    const BBXSettings none{Value(), QVariantMap()};
    EXPECT_TRUE(none.crashReportingEnabled());
    EXPECT_TRUE(none.errorReportingEnabled());
    EXPECT_FALSE(none.userPromptEnabled());
    EXPECT_EQ(none.logBufferSize(), 65536u);
    EXPECT_EQ(none.maxCustomKeys(), 16u);
    EXPECT_EQ(none.maxCustomExceptions(), 16u);
    EXPECT_EQ(none.betaSuspendDuration(), 3600.0);
    EXPECT_EQ(none.interactivePromptCancelTitle(), QStringLiteral("Don't Send"));
    EXPECT_TRUE(none.reportsEndpoint().endsWith(QStringLiteral(".invalid")));

    const Value settings = Value::fromVariant(QVariantMap{
        {QStringLiteral("features"), QVariantMap{{QStringLiteral("collect_logged_exceptions"), false}}},
        {QStringLiteral("prompt"), QVariantMap{{QStringLiteral("title"), QStringLiteral("Tell us?")}}}});
    const BBXSettings configured(
        settings,
        QVariantMap{{QStringLiteral("Blackbox"), QVariantMap{{QStringLiteral("SubmitReports"), false}}}});
    EXPECT_FALSE(configured.errorReportingEnabled());
    EXPECT_FALSE(configured.customExceptionsEnabled());
    EXPECT_FALSE(configured.shouldSubmitReports());
    EXPECT_EQ(configured.interactivePromptTitle(), QStringLiteral("Tell us?"));
    qputenv("BlackboxSubmitReports", "YES");
    test::LogCapture log;
    EXPECT_TRUE(configured.shouldSubmitReports());
    EXPECT_TRUE(log.contains(QStringLiteral("[Blackbox:Crash] override: 'SubmitReports' => 'YES'")));
    qunsetenv("BlackboxSubmitReports");
}

// The kit's requests, analytics' metadata, the crash reporter's requests and the block its
// handler writes from all say the same locale, taken in the C library's order whether or not
// that locale is installed.
TEST(LocaleIdentifier, TheThreeKitsGiveTheSameIdentifier)
{
    struct KitRequest : LOMNetworkOperation
    {
        KitRequest() : LOMNetworkOperation(QStringLiteral("key")) {}
    };
    const struct
    {
        QByteArray all, messages, lang, expected;
    } cases[] = {
        {{}, {}, "C", "en_US_POSIX"},
        {{}, {}, "POSIX", "en_US_POSIX"},
        {{}, {}, "C.UTF-8", "en_US_POSIX"},
        {{}, {}, "de_DE.UTF-8", "de_DE"},
        {"C", {}, "de_DE.UTF-8", "en_US_POSIX"},
        {{}, "fr_FR.UTF-8", "de_DE.UTF-8", "fr_FR"},
        {{}, {}, {}, "en_US_POSIX"},
    };
    const QByteArray names[] = {"LC_ALL", "LC_MESSAGES", "LANG"};
    QByteArray saved[3];
    for (int i = 0; i < 3; ++i)
        saved[i] = qgetenv(names[i].constData());
    BBXReportsController reports(nullptr, {}, nullptr, nullptr);
    for (const auto& c : cases) {
        SCOPED_TRACE((c.all + "|" + c.messages + "|" + c.lang).constData());
        const QByteArray values[] = {c.all, c.messages, c.lang};
        for (int i = 0; i < 3; ++i) {
            if (values[i].isNull())
                qunsetenv(names[i].constData());
            else
                qputenv(names[i].constData(), values[i]);
        }
        const QUrl url(QStringLiteral("http://127.0.0.1:9/"));
        EXPECT_EQ(
            KitRequest().mutableRequestWithDefaultHTTPHeadersForURL(url, 1).headers.value("Accept-Language"),
            c.expected);
        EXPECT_EQ(TLYMetadata(Loom::sharedSDK(), std::nullopt).locale.toUtf8(), c.expected);
        EXPECT_EQ(reports.mutableRequestWithURL(url, 1).headers.value("Accept-Language"), c.expected);
        BBXHostContext host;
        ASSERT_TRUE(BBXHostSetup(&host));
        EXPECT_EQ(QByteArray(host.locale), c.expected);
    }
    for (int i = 0; i < 3; ++i) {
        if (saved[i].isNull())
            qunsetenv(names[i].constData());
        else
            qputenv(names[i].constData(), saved[i]);
    }
}

TEST(BBXInternalReport, DamagedDirectoriesReadAsFarAsTheyGo)
{
    const QString base = reportRoot() + QStringLiteral("/reader");
    // No session identifier: no report.
    test::writeReportFile(base + QStringLiteral("/a/metadata.bbxrecord"),
                          "{\"identity\":{\"api_key\":\"k\"}}\n");
    test::LogCapture log;
    EXPECT_EQ(BBXInternalReport::reportWithPath(base + QStringLiteral("/a")), nullptr);
    EXPECT_TRUE(log.contains(QStringLiteral("[Blackbox:Crash] Unable to read identifier at path")));
    // A torn second line and junk: the identity still reads, the host does not.
    test::writeReportFile(
        base + QStringLiteral("/b/metadata.bbxrecord"),
        "{\"identity\":{\"session_id\":\"b1\",\"started_at\":1767000000}}\n{\"host\":{\"os_disp");
    test::writeReportFile(base + QStringLiteral("/b/errors_a.bbxrecord"), "{\"error\":{}}\n");
    auto torn = BBXInternalReport::reportWithPath(base + QStringLiteral("/b"));
    ASSERT_NE(torn, nullptr);
    EXPECT_EQ(torn->identifier(), QStringLiteral("b1"));
    EXPECT_FALSE(torn->OSVersion());
    EXPECT_TRUE(torn->needsToBeSubmitted());
    EXPECT_FALSE(torn->isCrash());
    EXPECT_FALSE(torn->crashedOnDate());
    EXPECT_EQ(torn->dateCreated()->toSecsSinceEpoch(), 1767000000);
    // Both crash files: the crash time comes from the exception-port record.
    test::writeReportFile(base + QStringLiteral("/b/signal.bbxrecord"), "{\"signal\":{\"time\":5}}\n");
    test::writeReportFile(base + QStringLiteral("/b/mach_exception.bbxrecord"),
                          "{\"mach_exception\":{\"time\":9}}\n");
    EXPECT_TRUE(torn->isCrash());
    EXPECT_EQ(torn->crashedOnDate()->toSecsSinceEpoch(), 9);
}

TEST(BBXElfSymbolTable, NamesStaticFunctionsOfTheRunningFileAndRefusesWhatIsNoRegularElfFile)
{
    const Result<ElfImageInfo>& self = ElfImage::currentExecutable();
    ASSERT_TRUE(self);
    std::optional<BBXElfSymbolTable> table = BBXElfSymbolTable::readFile(self.value().path);
    ASSERT_TRUE(table);
    EXPECT_EQ(table->uuidText(), self.value().uuid.toHex());
    Dl_info info{};
    ASSERT_NE(dladdr(reinterpret_cast<void*>(&piecesStaticFunction), &info), 0);
    const std::uint64_t bias = reinterpret_cast<std::uintptr_t>(info.dli_fbase);
    const auto address = std::uint64_t(reinterpret_cast<std::uintptr_t>(&piecesStaticFunction)) - bias;
    EXPECT_EQ(table->imageStart(), std::optional<std::uint64_t>(0));
    const BBXElfSymbolTable::Symbol* symbol = table->symbolContaining(address + 1);
    ASSERT_NE(symbol, nullptr);
    EXPECT_TRUE(symbol->name.contains("piecesStaticFunction")) << symbol->name.toStdString();
    const BBXElfSymbolTable::Symbol* next = table->symbolContaining(symbol->value + symbol->size);
    EXPECT_TRUE(next == nullptr || next->value >= symbol->value + symbol->size);
    EXPECT_EQ(piecesStaticFunction(1), 4);

    EXPECT_FALSE(BBXElfSymbolTable::readFile(QStringLiteral("/dev/zero")));
    EXPECT_FALSE(BBXElfSymbolTable::readFile(QDir::tempPath()));
    // A file cut short after its header: every read is bounded, nothing is read past it.
    QFile whole(self.value().path);
    ASSERT_TRUE(whole.open(QIODevice::ReadOnly));
    const QString cut = reportRoot() + QStringLiteral("/cut.elf");
    ASSERT_TRUE(test::writeReportFile(cut, whole.read(4096)));
    EXPECT_FALSE(BBXElfSymbolTable::readFile(cut));
}

TEST(BBXElfSymbolTable, ReadsTheGeneratedFixtureAsReadelfDoes)
{
    std::optional<BBXElfSymbolTable> table = BBXElfSymbolTable::readFile(
        QStringLiteral(CORVEX_CRASH_REPORTS_TEST_DIR "/../../../fuzz/corpus/fuzz_elf_symbol_table/symtab"));
    ASSERT_TRUE(table);
    EXPECT_EQ(table->uuidText(), QByteArray(32, '1'));
    EXPECT_EQ(table->size(), 4u);
    EXPECT_EQ(table->imageStart(), std::optional<std::uint64_t>(0));
    ASSERT_NE(table->symbolContaining(0x1015), nullptr);
    EXPECT_EQ(table->symbolContaining(0x1015)->name, QByteArray("static_helper"));
    EXPECT_EQ(table->symbolContaining(0xfff), nullptr);
    // main holds 16 bytes, its label none: past main's end there is no name, at the label
    // main's own.
    ASSERT_NE(table->symbolContaining(0x1028), nullptr);
    EXPECT_EQ(table->symbolContaining(0x1028)->name, QByteArray("main"));
    EXPECT_EQ(table->symbolContaining(0x1030), nullptr);
    EXPECT_EQ(table->symbolContaining(0x1fff), nullptr);
}

int findVdso(dl_phdr_info* info, std::size_t, void* out)
{
    if (info->dlpi_name == nullptr || std::strcmp(info->dlpi_name, "linux-vdso.so.1") != 0)
        return 0;
    return BBXBinaryImageFillInSections(static_cast<BBXBinaryImageDetails*>(out), info) ? 1 : 0;
}

TEST(BBXSymbolResolver, FramesKeepTheirLibraryAndNamesComeOnlyFromSymbolsHoldingTheAddress)
{
    // An image of another build: its frames keep their library and offset, and no name.
    BBXBinaryImageDetails vdso;
    ASSERT_EQ(dl_iterate_phdr(findVdso, &vdso), 1);
    const QString directory = reportRoot() + QStringLiteral("/resolver");
    test::writeReportFile(
        directory + QStringLiteral("/binary_images.bbxrecord"),
        "{\"load\":{\"path\":\"/usr/lib/old.so\",\"uuid\":\"00112233445566778899aabbccddeeff\","
        "\"base\":4096,\"size\":8192}}\n{\"unload\":{\"base\":4096}}\n"
        "{\"load\":{\"path\":\"linux-vdso.so.1\",\"uuid\":\"" +
            QByteArray(vdso.uuid) + "\",\"base\":" + QByteArray::number(vdso.node.baseAddress) +
            ",\"size\":" + QByteArray::number(vdso.node.size) + "}}\n");
    BBXSymbolResolver resolver;
    ASSERT_TRUE(resolver.loadBinaryImagesFromFile(directory + QStringLiteral("/binary_images.bbxrecord")));
    ASSERT_NE(resolver.loadedBinaryImageForPC(5000), nullptr);
    EXPECT_EQ(resolver.loadedBinaryImageForPC(4096 + 8192), nullptr);
    const std::optional<BBXStackFrame> old = resolver.frameForAddress(5000);
    ASSERT_TRUE(old);
    EXPECT_EQ(old->library, QStringLiteral("old.so"));
    EXPECT_FALSE(old->symbol);
    EXPECT_EQ(old->offset, 904u);
    EXPECT_FALSE(resolver.frameForAddress(4096 + 8192));
    EXPECT_FALSE(resolver.frameForAddress(0));

    // The vdso has no file: dladdr's answer names it inside the extent of the symbol found.
    void* handle = dlopen("linux-vdso.so.1", RTLD_LAZY | RTLD_NOLOAD);
    ASSERT_NE(handle, nullptr);
    const auto clock = std::uint64_t(reinterpret_cast<std::uintptr_t>(dlsym(handle, "__vdso_clock_gettime")));
    dlclose(handle);
    ASSERT_NE(clock, 0u);
    BBXStackFrame inside = BBXStackFrame::stackFrameWithAddress(clock + 9);
    inside.exactAddress = true;
    ASSERT_TRUE(resolver.updateStackFrame(inside));
    EXPECT_TRUE(inside.symbol == QStringLiteral("clock_gettime") ||
                inside.symbol == QStringLiteral("__vdso_clock_gettime"))
        << inside.symbol.value_or(QStringLiteral("(none)")).toStdString();
    EXPECT_EQ(inside.offset, 9u);
    EXPECT_EQ(inside.library, QStringLiteral("linux-vdso.so.1"));
}

TEST(BBXDemangleOperation, BlocksAndPlainNames)
{
    EXPECT_EQ(BBXDemangleOperation::demangleSymbol("_ZN6corvex3fooEv").value_or(QString()),
              QStringLiteral("corvex::foo()"));
    EXPECT_EQ(BBXDemangleOperation::demangleSymbol("__ZN6corvex3fooEv_block_invoke_2").value_or(QString()),
              QStringLiteral("corvex::foo()_block_invoke_2"));
    EXPECT_FALSE(BBXDemangleOperation::demangleSymbol("__Z1_block_invoke"));
    EXPECT_FALSE(BBXDemangleOperation::demangleSymbol("main"));
    EXPECT_FALSE(BBXDemangleOperation::demangleSymbol(nullptr));
}

TEST(BBXProcessReportOperation, UnresolvedFramesAreWrittenWithNullsBesideTheCrashFile)
{
    const QString directory = reportRoot() + QStringLiteral("/process");
    test::writeMinimalReport(directory, "p1", false);
    test::writeReportFile(directory + QStringLiteral("/binary_images.bbxrecord"),
                          "{\"load\":{\"base\":1,\"size\":1}}\n");
    test::writeReportFile(
        directory + QStringLiteral("/signal.bbxrecord"),
        "{\"signal\":{\"time\":1}}\n{\"threads\":[{\"stacktrace\":[16,32],\"crashed\":true}]}\n");
    auto report = BBXInternalReport::reportWithPath(directory);
    ASSERT_NE(report, nullptr);
    std::make_shared<BBXProcessReportOperation>(report, std::make_shared<BBXSymbolResolver>())->start();
    QFile named(directory + QStringLiteral("/signal.bbxrecord.symbolicated"));
    ASSERT_TRUE(named.open(QIODevice::ReadOnly));
    EXPECT_EQ(named.readAll(),
              QByteArray("{\"threads\":[[{\"symbol\":null,\"raw_symbol\":null,\"offset\":0,"
                         "\"library\":null},{\"symbol\":null,\"raw_symbol\":null,\"offset\":0,"
                         "\"library\":null}]]}\n"));
}

TEST(BBXPackageReportOperation, APackageHoldsEveryFileGzippedAndAFailedWriteLeavesNoPackage)
{
    auto tree = std::make_shared<BBXFileManager>(reportRoot());
    ASSERT_TRUE(tree->prepareForNewLaunch());
    const QString directory = tree->processingPath() + QStringLiteral("/r1");
    test::writeMinimalReport(directory, "r1", true);
    test::writeReportFile(directory + QStringLiteral("/empty.bbxrecord"), QByteArray());
    test::writeReportFile(directory + QStringLiteral("/errors_a.bbxrecord.gz"), "stale");
    auto report = BBXInternalReport::reportWithPath(directory);
    ASSERT_NE(report, nullptr);
    {
        test::FaultShim shim;
        shim.failFrom(test::FaultShim::Op::Write, 3, ENOSPC);
        auto failing = std::make_shared<BBXPackageReportOperation>(report, tree);
        failing->start();
        EXPECT_FALSE(failing->finalPath());
    }
    EXPECT_TRUE(tree->preparedPathContents().isEmpty());
    EXPECT_TRUE(QDir(tree->preparedPath()).entryList(QDir::Files | QDir::Hidden).isEmpty());

    test::LogCapture log;
    auto package = std::make_shared<BBXPackageReportOperation>(report, tree);
    package->start();
    ASSERT_TRUE(package->finalPath());
    EXPECT_TRUE(log.contains(QStringLiteral("Error: unable to read data for compression: empty.bbxrecord")));
    QFile file(*package->finalPath());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray body = file.readAll();
    const QByteArray boundary = QFileInfo(file.fileName()).completeBaseName().toLatin1();
    EXPECT_TRUE(body.startsWith("MIME-Version: 1.0\r\n--" + boundary + "\r\n"));
    EXPECT_TRUE(body.endsWith("--" + boundary + "--\r\n"));
    EXPECT_EQ(body.count("filename=\"errors_a.bbxrecord.gz\""), 1);
    EXPECT_EQ(body.count("filename=\"metadata.bbxrecord.gz\""), 1);
    EXPECT_FALSE(body.contains("empty.bbxrecord"));
    EXPECT_TRUE(body.contains("name=\"report_id\"\r\nContent-Type: text/plain\r\n\r\nr1\r\n"));
}

TEST(BBXUploadSoak, ServerFailuresRetryElevenTimesThenWait600SecondsAndA202RemovesThePackage)
{
    test::VendorServiceStandIn service(LOMEscapedBundleIdentifier().toUtf8());
    ASSERT_TRUE(service.start());
    test::VendorServiceStandIn::Answer failure = test::VendorServiceStandIn::jsonAnswer("{}");
    failure.status = 500;
    service.setDefaultAnswer(test::VendorServiceStandIn::Route::Reports, failure);
    test::ScopedVirtualTime time;
    auto tree = std::make_shared<BBXFileManager>(reportRoot());
    ASSERT_TRUE(tree->prepareForNewLaunch());
    const QString directory = tree->processingPath() + QStringLiteral("/u1");
    test::writeMinimalReport(directory, "u1", true);
    auto delegate = std::make_shared<test::TestControllerDelegate>(QString::fromUtf8(service.baseUrl()));
    auto controller = BBXCrashReportingController::create(tree, delegate);
    auto report = BBXInternalReport::reportWithPath(directory);
    ASSERT_TRUE(controller->reportsController()->prepareAndSubmitReport(report, false, false));
    const auto requests = [&] {
        return int(service.requests(test::VendorServiceStandIn::Route::Reports).size());
    };
    // The second start of the same package while it is under way starts nothing.
    ASSERT_EQ(tree->preparedPathContents().size(), 1);
    const QString package = tree->preparedPathContents().front();
    controller->reportsController()->uploadPackagedReportAtPath(package, false);
    // Two virtual hours of 500 answers in the soak; one round of retries in CI.
    const int rounds = test::soakRuns(6, 1, 1);
    const double started = time.now();
    for (int round = 0; round < rounds; ++round) {
        double previousGap = 0;
        for (int attempt = 1; attempt <= 11; ++attempt) {
            ASSERT_TRUE(test::runUntil([&] { return requests() == round * 11 + attempt; }))
                << round << " " << attempt;
            if (attempt == 11)
                break;
            ASSERT_TRUE(test::runUntil([&] { return time.scheduler().nextDeadline().has_value(); }));
            const double gap = *time.scheduler().nextDeadline() - time.now();
            EXPECT_GE(gap, previousGap * 0.8) << attempt;
            previousGap = gap;
            time.advance(gap);
        }
        // Spent: the controller's own 600 s retry is what waits now.
        ASSERT_TRUE(test::runUntil([&] {
            const auto next = time.scheduler().nextDeadline();
            return next && *next - time.now() > 599.0 && *next - time.now() <= 600.0;
        }));
        EXPECT_EQ(requests(), (round + 1) * 11);
        EXPECT_TRUE(QFile::exists(package));
        if (round + 1 < rounds)
            time.advance(600.0);
    }
    if (rounds > 1) {
        EXPECT_GE(time.now() - started, 2 * 3600.0);
    }
    test::VendorServiceStandIn::Answer accepted = test::VendorServiceStandIn::jsonAnswer("{}");
    accepted.status = 202;
    service.setDefaultAnswer(test::VendorServiceStandIn::Route::Reports, accepted);
    time.advance(600.0);
    ASSERT_TRUE(test::runUntil([&] { return !QFile::exists(package); }));
    EXPECT_EQ(requests(), rounds * 11 + 1);
    test::reportSoak(
        QStringLiteral("%1 virtual s of 500 answers: %2 requests in %3 rounds of at most 11, then a 202")
            .arg(time.now() - started, 0, 'f', 0)
            .arg(requests())
            .arg(rounds));
    controller->operationQueue()->waitUntilAllOperationsAreFinished();
}

TEST(BBXReportsController, AnEmptyPackageIsRemovedAndNotSent)
{
    auto tree = std::make_shared<BBXFileManager>(reportRoot());
    ASSERT_TRUE(tree->prepareForNewLaunch());
    const QString empty = tree->preparedPath() + QStringLiteral("/E.multipartmime");
    ASSERT_TRUE(test::writeReportFile(empty, QByteArray()));
    auto delegate = std::make_shared<test::TestControllerDelegate>(QStringLiteral("http://127.0.0.1:9"));
    auto controller = BBXCrashReportingController::create(tree, delegate);
    EXPECT_FALSE(controller->reportsController()->uploadPackagedReportAtPath(empty, false));
    EXPECT_FALSE(QFile::exists(empty));
}

} // namespace
} // namespace corvex
