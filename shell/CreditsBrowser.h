#pragma once

#include <QTextBrowser>

namespace corvex {

// The about window's credits page: rich text that fetches nothing (no image, style sheet or
// any other resource from the network or the disk) and runs nothing; a clicked link goes to
// the user's browser through the UrlOpener (http and https only), never into the page.
// Main thread only.
class CreditsBrowser final : public QTextBrowser
{
public:
    CreditsBrowser();
    ~CreditsBrowser() override;

    // Every resource the page names is answered with nothing.
    QVariant loadResource(int type, const QUrl& name) override;
};

} // namespace corvex
