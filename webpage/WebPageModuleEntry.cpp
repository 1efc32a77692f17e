#include "webpage/WebPageModuleEntry.h"

#include "webpage/QtWebPageView.h"
#include "webpage/WebEngineMessages.h"
#include "webpage/WebEngineProbe.h"
#include "webpage/WebEngineSandbox.h"

namespace corvex {

namespace {

std::shared_ptr<WebPageView> makeCheckedPageView()
{
    // Decided before any page view, or the check's child, starts the engine.
    WebEngineSandbox::prepare();
    WebEngineMessages::quieten();
    // An engine that cannot start would end the process: without one, no page view, and the
    // web-link editor shows its failure.
    if (!WebEngineProbe::engineStarts())
        return nullptr;
    return std::make_shared<QtWebPageView>();
}

const WebPageModuleEntry kEntry{&makeCheckedPageView, &WebEngineProbe::runCheck};

} // namespace

} // namespace corvex

extern "C" __attribute__((visibility("default"))) const corvex::WebPageModuleEntry*
corvex_webpage_module_entry()
{
    return &corvex::kEntry;
}
