// The program whose crashes the symbol test compares with gdb: built with -g and without
// optimisation, run from a stripped copy, its functions exported as the application's are.
//
//   corvex_crash_symbol_probe crash <static|thread|abort|library> <report folder> <library>
//   corvex_crash_symbol_probe symbolicate <report folder>
//
// "crash" sets up the crash context in the folder and crashes the way its name says;
// "symbolicate" names the frames of the crash files there, as the next launch does (the
// library is never loaded by it).

#include "crash/BBXInternalReport.h"
#include "crash/capture/BBXContext.h"
#include "crash/processing/BBXProcessReportOperation.h"
#include "crash/processing/BBXSymbolResolver.h"

#include <QFile>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <sys/resource.h>
#include <thread>

extern "C" {
volatile int* gCorvexSymbolProbeNull = nullptr;
volatile int gCorvexSymbolProbeSink = 0;

// Exported, and laid out just before the static functions below: a lookup that answers the
// nearest exported symbol names their frames after it.
__attribute__((noinline)) void corvex_symbol_probe_enter(void (*next)(int), int depth)
{
    gCorvexSymbolProbeSink = depth;
    next(depth + 1);
    gCorvexSymbolProbeSink = 0;
}
}

namespace {

__attribute__((noinline)) void probeStaticCrash(int depth)
{
    *gCorvexSymbolProbeNull = depth;
    gCorvexSymbolProbeSink = 2;
}

__attribute__((noinline)) void probeStaticAbort(int depth)
{
    gCorvexSymbolProbeSink = depth;
    std::abort();
}

__attribute__((noinline)) void probeThreadBody()
{
    corvex_symbol_probe_enter(probeStaticCrash, 10);
}

using LibraryCrash = void (*)(int);

// Waits (bounded) until the image list holds the library, written on its own queue.
bool probeImageListHolds(const QString& folder, const QByteArray& name)
{
    QFile images(folder + QStringLiteral("/binary_images.bbxrecord"));
    for (int attempt = 0; attempt < 500; ++attempt) {
        if (images.open(QIODevice::ReadOnly)) {
            const bool holds = images.readAll().contains(name);
            images.close();
            if (holds)
                return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

int probeCrash(const char* kind, const char* folder, const char* library)
{
    rlimit none{0, 0};
    setrlimit(RLIMIT_CORE, &none);
    corvex::BBXContextInitParams params;
    params.reportDirectory = folder;
    params.reportIdentifier = "symbolprobe";
    corvex::BBXContextInitialize(&params);
    for (int attempt = 0; attempt < 500 && !corvex::BBXContextIsInitialized(); ++attempt)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (std::strcmp(kind, "static") == 0) {
        corvex_symbol_probe_enter(probeStaticCrash, 1);
    } else if (std::strcmp(kind, "abort") == 0) {
        corvex_symbol_probe_enter(probeStaticAbort, 1);
    } else if (std::strcmp(kind, "thread") == 0) {
        std::thread(probeThreadBody).join();
    } else if (std::strcmp(kind, "library") == 0) {
        void* handle = dlopen(library, RTLD_NOW | RTLD_LOCAL);
        auto crash =
            handle ? reinterpret_cast<LibraryCrash>(dlsym(handle, "corvex_symbol_library_crash")) : nullptr;
        const QByteArray name = QByteArray(library).mid(QByteArray(library).lastIndexOf('/') + 1);
        if (crash == nullptr || !probeImageListHolds(QFile::decodeName(folder), name)) {
            std::fprintf(stderr, "the library did not load: %s\n", dlerror());
            return 3;
        }
        crash(5);
    }
    return 2; // still alive: the crash did not happen
}

int probeSymbolicate(const char* folder)
{
    const std::shared_ptr<corvex::BBXInternalReport> report =
        corvex::BBXInternalReport::reportWithPath(QFile::decodeName(folder));
    if (!report)
        return 3;
    corvex::BBXProcessReportOperation(report, std::make_shared<corvex::BBXSymbolResolver>()).start();
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc >= 5 && std::strcmp(argv[1], "crash") == 0)
        return probeCrash(argv[2], argv[3], argv[4]);
    if (argc >= 3 && std::strcmp(argv[1], "symbolicate") == 0)
        return probeSymbolicate(argv[2]);
    std::fprintf(stderr, "usage: %s crash <kind> <folder> <library> | symbolicate <folder>\n", argv[0]);
    return 64;
}
