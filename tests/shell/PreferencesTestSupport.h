#pragma once

#include "platform/core/LaunchSeams.h"
#include "storage/PersistenceStateFactory.h"
#include "tests/doubles/storage/TestFolderPersistenceState.h"
#include "tests/support/TestEnvironment.h"

#include <QDir>
#include <QImage>
#include <QUrlQuery>
#include <QWidget>
#include <memory>

namespace corvex::test {

// The sign-in service as the General pane and the shell see it: a client already signed in
// or not, a sign-in that hands its page to the caller, and a redirect recognised by its state
// and answered on the main queue as told.
class PreferencesSignInDouble final : public DropboxSignInService
{
public:
    static inline const QString State = QStringLiteral("st-42");

    bool authorized = false;
    Outcome outcome = Outcome::Success;
    int authorizations = 0;
    int unlinks = 0;

    QUrl signInPage() const
    {
        return QUrl(QStringLiteral("https://www.dropbox.com/oauth2/authorize?client_id=k&state=") + State);
    }
    bool isRedirectURL(const QUrl& url) const override
    {
        return QUrlQuery(url).queryItemValue(QStringLiteral("state")) == State;
    }
    void handleRedirectURL(const QUrl&, Completion completion) override
    {
        // The completion posts its answer to the main queue itself.
        completion(outcome, QString());
    }
    bool hasAuthorizedClient() const override { return authorized; }
    void authorizeFromControllerDesktop(std::function<void(const QUrl&)> openURL) override
    {
        ++authorizations;
        if (openURL)
            openURL(signInPage());
    }
    void unlinkAndResetClients() override
    {
        ++unlinks;
        authorized = false;
    }
};

// The in-process folder back end registered for a location while it lives; the last one made
// is kept for scripting.
class RegisteredFolderBackEnd
{
public:
    explicit RegisteredFolderBackEnd(StorageLocation location) : mLocation(location)
    {
        PersistenceStateFactory::registerMaker(location, [this]() -> PersistenceStatePtr {
            state = TestFolderPersistenceState::create(
                testDir() + QStringLiteral("/backend%1").arg(mLocation), mLocation);
            return state;
        });
    }
    ~RegisteredFolderBackEnd() { PersistenceStateFactory::registerMaker(mLocation, {}); }
    RegisteredFolderBackEnd(const RegisteredFolderBackEnd&) = delete;
    RegisteredFolderBackEnd& operator=(const RegisteredFolderBackEnd&) = delete;

    std::shared_ptr<TestFolderPersistenceState> state;

private:
    StorageLocation mLocation;
};

// Where the renderings a person looks at go: test-output/prefs/<name>.
inline QString prefsRenderingPath(const QString& name)
{
    const QString folder = testOutputDir() + QStringLiteral("/prefs");
    QDir().mkpath(folder);
    return folder + QLatin1Char('/') + name;
}

inline void savePrefsRendering(QWidget& widget, const QString& name)
{
    widget.grab().toImage().save(prefsRenderingPath(name));
}

} // namespace corvex::test
