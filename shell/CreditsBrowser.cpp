#include "shell/CreditsBrowser.h"

#include "platform/core/Log.h"
#include "platform/ui/UrlOpener.h"

namespace corvex {

CreditsBrowser::CreditsBrowser()
{
    setOpenLinks(false);
    setOpenExternalLinks(false);
    setFrameShape(QFrame::NoFrame);
    setReadOnly(true);
    setUndoRedoEnabled(false);
    connect(this, &QTextBrowser::anchorClicked, this, [](const QUrl& url) {
        if (!UrlOpener::current()->open(url))
            Log::info(QStringLiteral("A credits link that is no web address was not opened"));
    });
}

CreditsBrowser::~CreditsBrowser() = default;

QVariant CreditsBrowser::loadResource(int, const QUrl&)
{
    return QVariant();
}

} // namespace corvex
