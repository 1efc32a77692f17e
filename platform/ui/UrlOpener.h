#pragma once

#include <QUrl>
#include <functional>
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

    // As open(), for a page the user must see (a sign-in): `failed` runs once, later on the
    // main thread, when no browser could be started for it: the address is not openable, the
    // desktop refused it, or the desktop's opener failed to start or ended with an error (a
    // browser that will not run as root). Nothing runs when the browser came up.
    void openWatchingStart(const QUrl& url, std::function<void()> failed);

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
    // Opens an address already found openable and calls `failed` at most once, on the main
    // thread and never inside this call, when no browser came up. By default: openCheckedUrl.
    virtual void openCheckedUrlWatchingStart(const QUrl& url, std::function<void()> failed);
};

// The application's opener: QDesktopServices::openUrl. A watched start runs the desktop's
// opener ("xdg-open", looked up in PATH) itself, so that its exit status is seen; it is left
// running when Corvex quits first (it may be the browser itself).
class QtUrlOpener final : public UrlOpener
{
protected:
    bool openCheckedUrl(const QUrl& url) override;
    void openCheckedUrlWatchingStart(const QUrl& url, std::function<void()> failed) override;
};

} // namespace corvex
