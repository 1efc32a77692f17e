#pragma once

#include "platform/core/NotificationCenter.h"
#include "shell/PreferencesViewController.h"
#include "storage/WorkspaceDelegate.h"

#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QUrl>
#include <memory>

namespace corvex {

// The General pane: opting in to and out of the iCloud (2) and Dropbox (3) locations, each
// with a button that says what a press does ("Connect", "Deactivate") and shows the
// location's status image ("cloud", "sync", "error"), and a footer text. Dropbox goes
// through the registered DropboxSignInService; when no browser comes up for its sign-in page,
// an alert gives the page's address. It follows the choices and statuses while it
// exists: on "PersistenceStateChangeNotification", on every change of the user defaults, and
// when its view is made. Main thread only.
class GeneralPreferencesViewController final : public PreferencesViewController
{
public:
    static inline const QString Identifier = QStringLiteral("GeneralPreferences");
    static inline const QString ConnectTitle = QStringLiteral("Connect");
    static inline const QString DeactivateTitle = QStringLiteral("Deactivate");
    // The alert's title when no browser came up for the Dropbox sign-in.
    static inline const QString SignInWithoutBrowserTitle =
        QStringLiteral("No browser for the Dropbox sign-in");
    // The dynamic property of a button naming the image it shows (empty: none).
    static constexpr const char* ImageNameProperty = "corvexImageName";

    GeneralPreferencesViewController();
    ~GeneralPreferencesViewController() override;

    QString identifier() const override { return Identifier; }
    QIcon toolbarItemImage() const override;
    QString toolbarItemLabel() const override;
    QWidget* view() override;

    QPushButton* iCloudConnectButton() const { return mICloudConnectButton; }
    QPushButton* dropboxConnectButton() const { return mDropboxConnectButton; }
    QLabel* iCloudFooterText() const { return mICloudFooterText; }
    QLabel* dropboxFooterText() const { return mDropboxFooterText; }

    void iCloudButtonPressed();
    void dropboxButtonPressed();
    void ensureICloudChoiceValue();
    void ensureDropboxChoiceValue();
    // The image of the location's status: in sync and unavailable "cloud", starting and
    // synchronising "sync", error "error". An opted-in location no back end serves counts as
    // an error.
    void setCloudImageForButton(QPushButton& button, unsigned location);
    static WorkspaceStatus statusForLocation(unsigned location);
    static QString imageNameForStatus(WorkspaceStatus status);

private:
    void refresh();
    // One alert per sign-in whose browser did not come up, with the address to open by hand.
    static void showSignInAddress(const QUrl& url);
    // "Connect" and the workspace text, or "Deactivate" with the status image and the text
    // the status calls for.
    void showChoice(QPushButton* button, QLabel* footer, unsigned location, bool opted,
                    const QString& workspaceText, const QString& errorText);

    std::unique_ptr<QWidget> mView;
    QPointer<QPushButton> mICloudConnectButton;
    QPointer<QPushButton> mDropboxConnectButton;
    QPointer<QLabel> mICloudFooterText;
    QPointer<QLabel> mDropboxFooterText;
    NotificationCenter::ObserverToken mStateObserver;
    NotificationCenter::ObserverToken mDefaultsObserver;
};

} // namespace corvex
