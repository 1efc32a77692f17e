#pragma once

#include <QString>
#include <optional>

namespace corvex {

struct WebPageModuleEntry;

// The web-link editor's page view lives in a module of its own (webpage/, Qt WebEngine with Qt
// Quick and QML beneath it), opened with dlopen when the first page view is asked for, so that
// no launch loads the engine before. The module lies beside the executable. Main thread only.
class WebPageModule
{
public:
    // Beside the running executable, its symbolic links resolved (a launch through a link on
    // PATH finds the module beside the real file).
    static QString path();

    // The module's entry, the module opened on the first call (later calls answer the first
    // answer). Before it opens, Qt's global OpenGL context, which the engine shares its
    // surfaces through, is made as the application object makes it when asked at its start.
    // Null, with one log line, when the module cannot be opened. Needs the application object.
    static const WebPageModuleEntry* entry();

    // When the arguments make this process the web engine's check (WebEngineProbe): the
    // module opened and the check run, answering the exit code (1 when the module cannot be
    // opened); nothing for any other arguments. The program asks first, before anything else.
    static std::optional<int> runEngineCheckIfAsked(int argc, char** argv);
};

// Fills the web-link editor's page view seam (start-up, from the assembly) with page views of
// the module, which opens at the first one; without the module, or with an engine that
// cannot start, there is no page view and the editor shows its failure.
void registerWebPageView();

} // namespace corvex
