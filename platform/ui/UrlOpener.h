#pragma once

#include <QUrl>
#include <memory>

namespace corvex {

// Opens web addresses in the user's browser. Only http and https addresses are opened: a
// document from elsewhere may carry any scheme ("file:", "smb:", "javascript:"), and
// handing those to the desktop would run or reveal local things. The application uses
// QtUrlOpener; tests install a recording opener with setCurrent(). Main thread only.
class UrlOpener
{
public:
    virtual ~UrlOpener();

    // Opens the address when its scheme is http or https (in any case) and it has a host;
    // answers false and does nothing for anything else, or when the desktop refused it.
    bool open(const QUrl& url);

    // Whether open() would hand the address on.
    static bool isOpenable(const QUrl& url);

    // The process-wide opener: the installed one, else a QtUrlOpener made on first use.
    static std::shared_ptr<UrlOpener> current();
    // Installs an opener (null goes back to the Qt one) and answers the one installed before
    // (null when it was the default).
    static std::shared_ptr<UrlOpener> setCurrent(std::shared_ptr<UrlOpener> opener);

protected:
    // Opens an address already found openable; answers whether that worked.
    virtual bool openCheckedUrl(const QUrl& url) = 0;
};

// The application's opener: QDesktopServices::openUrl.
class QtUrlOpener final : public UrlOpener
{
protected:
    bool openCheckedUrl(const QUrl& url) override;
};

} // namespace corvex
