#include "app/WebPageModule.h"

#include "editor/WebPageView.h"
#include "platform/core/Log.h"
#include "platform/core/StartupTrace.h"
#include "webpage/WebEngineProbe.h"
#include "webpage/WebPageModuleEntry.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QOpenGLContext>
#include <dlfcn.h>

QT_BEGIN_NAMESPACE
// Qt's global share context, which QGuiApplication makes at its start when
// Qt::AA_ShareOpenGLContexts is set; exported by QtGui without a public setter.
Q_GUI_EXPORT void qt_gl_set_global_share_context(QOpenGLContext* context);
QT_END_NAMESPACE

namespace corvex {

namespace {

void dropGlobalShareContext()
{
    QOpenGLContext* context = QOpenGLContext::globalShareContext();
    qt_gl_set_global_share_context(nullptr);
    delete context;
}

// What the engine needs of the application before it loads: Qt's global share context, which
// the engine draws its pages through. Qt::AA_ShareOpenGLContexts set before the application
// object would have that object make it at every launch, starting the OpenGL driver for a page
// most launches never show; made here, as the application object would make it, only the
// first page view pays. The attribute itself is not set now: Qt refuses it, with a warning,
// once the application object exists, and the engine asks only for the context.
void prepareForEngine()
{
    if (QOpenGLContext::globalShareContext() || !qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        return;
    auto* context = new QOpenGLContext;
    context->setFormat(QSurfaceFormat::defaultFormat());
    if (!context->create()) {
        // The engine then draws without the GPU.
        Log::info(
            QStringLiteral("No OpenGL context to share with the web engine: its pages are drawn without "
                           "the GPU"));
        delete context;
        return;
    }
    qt_gl_set_global_share_context(context);
    // Gone with the application object, before its platform, as the one it makes itself.
    qAddPostRoutine(dropGlobalShareContext);
}

const WebPageModuleEntry* openModule()
{
    StartupTrace::mark("web page module opening");
    const QString file = WebPageModule::path();
    // Every symbol bound now: a module that does not fit this program fails here, not later.
    void* handle = ::dlopen(QFile::encodeName(file).constData(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* reason = ::dlerror();
        Log::error(QStringLiteral("The web page module could not be opened (%1): the web-link editor shows "
                                  "no pages")
                       .arg(QString::fromLocal8Bit(reason ? reason : "no reason given")));
        return nullptr;
    }
    using EntryFunction = const WebPageModuleEntry* (*)();
    auto entryFunction = reinterpret_cast<EntryFunction>(::dlsym(handle, kWebPageModuleEntrySymbol));
    const WebPageModuleEntry* entry = entryFunction ? entryFunction() : nullptr;
    if (!entry || !entry->makePageView || !entry->runEngineCheck) {
        Log::error(QStringLiteral("The web page module %1 has no entry: the web-link editor shows no pages")
                       .arg(file));
        return nullptr;
    }
    StartupTrace::mark("web page module opened");
    return entry;
}

} // namespace

QString WebPageModule::path()
{
    // /proc/self/exe: the executable itself, whatever link started it.
    const QString executable = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
    return QFileInfo(executable).absolutePath() + QLatin1Char('/') + QLatin1String(kWebPageModuleFileName);
}

const WebPageModuleEntry* WebPageModule::entry()
{
    static const WebPageModuleEntry* const opened = [] {
        prepareForEngine();
        return openModule();
    }();
    return opened;
}

std::optional<int> WebPageModule::runEngineCheckIfAsked(int argc, char** argv)
{
    if (!WebEngineProbe::isProbeRun(argc, argv))
        return std::nullopt;
    // No application object yet: the check makes its own, with what the engine needs set first.
    const WebPageModuleEntry* entry = openModule();
    return entry ? entry->runEngineCheck(argc, argv) : 1;
}

void registerWebPageView()
{
    WebPageView::setFactory([]() -> std::shared_ptr<WebPageView> {
        const WebPageModuleEntry* entry = WebPageModule::entry();
        return entry ? entry->makePageView() : nullptr;
    });
}

} // namespace corvex
