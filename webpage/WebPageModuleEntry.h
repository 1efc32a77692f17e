#pragma once

#include <memory>

namespace corvex {

class WebPageView;

// What the web page module offers the program that opens it. The module
// (kWebPageModuleFileName, the Qt WebEngine page view with Qt Quick and QML beneath it) is
// built with the program and lies beside its executable; it is opened with dlopen when the
// first page view is asked for (app/WebPageModule) and takes everything else of Corvex from
// the program, which exports its symbols. Its one exported function, kWebPageModuleEntrySymbol,
// answers this table. Main thread only.
struct WebPageModuleEntry
{
    // A page view: the engine's sandbox decided and the engine checked in a child first (once
    // per process); null when the engine cannot start here.
    std::shared_ptr<WebPageView> (*makePageView)();
    // In the child that checks the engine: starts it on an empty page, without a display, and
    // answers the exit code (0: it started). Makes the application object itself.
    int (*runEngineCheck)(int argc, char** argv);
};

inline constexpr const char* kWebPageModuleFileName = "libcorvex_webpage.so";
inline constexpr const char* kWebPageModuleEntrySymbol = "corvex_webpage_module_entry";

} // namespace corvex

extern "C" const corvex::WebPageModuleEntry* corvex_webpage_module_entry();
