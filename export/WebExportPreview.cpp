#include "export/WebExportPreview.h"

#include <mutex>

namespace corvex {

namespace {

std::mutex& rendererMutex()
{
    static std::mutex mutex;
    return mutex;
}

WebExportPreview::Renderer& registeredRenderer()
{
    static WebExportPreview::Renderer renderer;
    return renderer;
}

} // namespace

void WebExportPreview::registerRenderer(Renderer renderer)
{
    const std::lock_guard lock(rendererMutex());
    registeredRenderer() = std::move(renderer);
}

WebExportPreview::Renderer WebExportPreview::renderer()
{
    const std::lock_guard lock(rendererMutex());
    return registeredRenderer();
}

} // namespace corvex
