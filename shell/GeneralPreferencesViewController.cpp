#include "shell/GeneralPreferencesViewController.h"

#include "model/Globals.h"
#include "platform/core/LaunchSeams.h"
#include "platform/core/Log.h"
#include "platform/core/UserDefaults.h"
#include "platform/gfx/PlatformImage.h"
#include "platform/ui/UrlOpener.h"
#include "platform/ui/Window.h"
#include "resources/ArtworkResources.h"
#include "storage/IdeaDocument.h"
#include "storage/PersistenceController.h"
#include "storage/PersistenceStateFactory.h"
#include "toolkit/CustomAlertView.h"

#include <QGridLayout>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>

namespace corvex {

namespace {

constexpr int GeneralPaneWidth = 480;
constexpr int GeneralButtonWidth = 130;

const QString& iCloudWorkspaceText()
{
    static const QString text =
        QStringLiteral("Workspace for storing documents in iCloud (syncs with iOS devices)");
    return text;
}

const QString& dropboxWorkspaceText()
{
    static const QString text = QStringLiteral("Workspace in Dropbox (multiple platforms)");
    return text;
}

QIcon generalIconForImageNamed(const QString& name)
{
    QIcon icon;
    const PlatformImage image = PlatformImage::imageNamed(name);
    for (const QImage& representation : image.representations())
        icon.addPixmap(QPixmap::fromImage(representation));
    return icon;
}

QLabel* generalAddTitle(QGridLayout& grid, const QString& text, int row)
{
    auto* title = new QLabel(text);
    QFont font = title->font();
    font.setBold(true);
    title->setFont(font);
    grid.addWidget(title, row, 0);
    return title;
}

} // namespace

GeneralPreferencesViewController::GeneralPreferencesViewController()
{
    initArtworkResources();
    NotificationCenter& center = NotificationCenter::defaultCenter();
    mStateObserver = center.addObserver(PersistenceController::StateChangeNotification, nullptr,
                                        [this](const NotificationCenter::Notification&) { refresh(); });
    mDefaultsObserver = center.addObserver(UserDefaults::DidChangeNotification, nullptr,
                                           [this](const NotificationCenter::Notification&) { refresh(); });
}

GeneralPreferencesViewController::~GeneralPreferencesViewController()
{
    NotificationCenter::defaultCenter().removeObserver(mStateObserver);
    NotificationCenter::defaultCenter().removeObserver(mDefaultsObserver);
}

QIcon GeneralPreferencesViewController::toolbarItemImage() const
{
    return themeIcon(QStringLiteral("preferences-system"), QStyle::SP_ComputerIcon);
}

QString GeneralPreferencesViewController::toolbarItemLabel() const
{
    return Globals::normalLocalizedStringForKey(QString(), QStringLiteral("General"));
}

QWidget* GeneralPreferencesViewController::view()
{
    if (mView)
        return mView.get();
    mView = std::make_unique<QWidget>();
    auto* grid = new QGridLayout(mView.get());
    grid->setContentsMargins(24, 20, 24, 20);
    grid->setHorizontalSpacing(16);
    grid->setVerticalSpacing(6);
    grid->setColumnStretch(0, 1);

    auto addLocation = [&](const QString& title, int row, QPointer<QPushButton>& button,
                           QPointer<QLabel>& footer, void (GeneralPreferencesViewController::*pressed)()) {
        generalAddTitle(*grid, title, row);
        button = new QPushButton(ConnectTitle);
        button->setFixedWidth(GeneralButtonWidth);
        grid->addWidget(button, row, 1, 2, 1, Qt::AlignRight | Qt::AlignVCenter);
        footer = new QLabel();
        footer->setWordWrap(true);
        footer->setForegroundRole(QPalette::PlaceholderText);
        grid->addWidget(footer, row + 1, 0);
        QObject::connect(button.data(), &QPushButton::clicked, mView.get(),
                         [this, pressed] { (this->*pressed)(); });
    };
    addLocation(QStringLiteral("iCloud"), 0, mICloudConnectButton, mICloudFooterText,
                &GeneralPreferencesViewController::iCloudButtonPressed);
    grid->setRowMinimumHeight(2, 18);
    addLocation(QStringLiteral("Dropbox"), 3, mDropboxConnectButton, mDropboxFooterText,
                &GeneralPreferencesViewController::dropboxButtonPressed);
    refresh();
    mView->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    mView->resize(QSize(GeneralPaneWidth, mView->sizeHint().height()));
    return mView.get();
}

void GeneralPreferencesViewController::refresh()
{
    ensureDropboxChoiceValue();
    ensureICloudChoiceValue();
}

void GeneralPreferencesViewController::ensureICloudChoiceValue()
{
    showChoice(mICloudConnectButton, mICloudFooterText, IdeaDocument::ICloudLocation,
               Globals::userHasOptedForICloud(), iCloudWorkspaceText(),
               QStringLiteral("Note: Last iCloud operation did not succeed."));
}

void GeneralPreferencesViewController::ensureDropboxChoiceValue()
{
    showChoice(mDropboxConnectButton, mDropboxFooterText, IdeaDocument::DropboxLocation,
               Globals::userHasOptedForDropbox(), dropboxWorkspaceText(),
               QStringLiteral("Note: Last Dropbox operation did not succeed."));
}

void GeneralPreferencesViewController::showChoice(QPushButton* button, QLabel* footer, unsigned location,
                                                  bool opted, const QString& workspaceText,
                                                  const QString& errorText)
{
    // The controls exist once the view is made.
    if (!button || !footer)
        return;
    if (!opted) {
        button->setText(ConnectTitle);
        button->setIcon(QIcon());
        button->setProperty(ImageNameProperty, QString());
        footer->setText(workspaceText);
        return;
    }
    button->setText(DeactivateTitle);
    setCloudImageForButton(*button, location);
    footer->setText(statusForLocation(location) == WorkspaceStatus::Error ? errorText : workspaceText);
}

WorkspaceStatus GeneralPreferencesViewController::statusForLocation(unsigned location)
{
    // Until a back end serves the location, the choice cannot work: say so.
    if (!PersistenceStateFactory::hasMaker(location))
        return WorkspaceStatus::Error;
    return PersistenceController::singleton().statusForLocation(location);
}

QString GeneralPreferencesViewController::imageNameForStatus(WorkspaceStatus status)
{
    switch (status) {
    case WorkspaceStatus::Starting:
    case WorkspaceStatus::Synchronising:
        return QStringLiteral("sync");
    case WorkspaceStatus::Error:
        return QStringLiteral("error");
    case WorkspaceStatus::Unavailable:
    case WorkspaceStatus::InSync:
        break;
    }
    return QStringLiteral("cloud");
}

void GeneralPreferencesViewController::setCloudImageForButton(QPushButton& button, unsigned location)
{
    const QString name = imageNameForStatus(statusForLocation(location));
    if (button.property(ImageNameProperty).toString() == name)
        return;
    button.setIcon(generalIconForImageNamed(name));
    button.setProperty(ImageNameProperty, name);
}

void GeneralPreferencesViewController::iCloudButtonPressed()
{
    if (!mICloudConnectButton)
        return;
    const bool opted = Globals::userHasOptedForICloud();
    if (mICloudConnectButton->text() == ConnectTitle && !opted)
        Globals::optForICloud(true);
    else if (mICloudConnectButton->text() != ConnectTitle && opted)
        Globals::optForICloud(false);
    refresh();
}

void GeneralPreferencesViewController::showSignInAddress(const QUrl& url)
{
    Log::error(QStringLiteral("The Dropbox sign-in page could not be opened"));
    auto alert = CustomAlertView::create(
        SignInWithoutBrowserTitle,
        QStringLiteral("Corvex could not start a web browser to sign in to Dropbox. Open this address in a "
                       "browser by hand; once you have signed in, Dropbox hands you back to Corvex:\n\n%1")
            .arg(url.toString(QUrl::FullyEncoded)));
    alert->addButton(Globals::normalLocalizedStringForKey(QStringLiteral("Choice.Close"), QString()), 1, {});
    alert->showFromWindow(Window::keyWindow());
}

void GeneralPreferencesViewController::dropboxButtonPressed()
{
    if (!mDropboxConnectButton)
        return;
    const bool opted = Globals::userHasOptedForDropbox();
    const std::shared_ptr<DropboxSignInService> service = DropboxSignInService::registered();
    if (mDropboxConnectButton->text() == ConnectTitle && !opted) {
        if (!service) {
            Log::error(QStringLiteral("No Dropbox sign-in service: Dropbox cannot be connected"));
        } else if (service->hasAuthorizedClient()) {
            Globals::optForDropbox(true);
        } else {
            // The redirect comes back through the application (URL event), which opts in.
            // Without a browser (none installed, or one that will not run as root) the user
            // gets the address to open by hand.
            service->authorizeFromControllerDesktop([](const QUrl& url) {
                UrlOpener::current()->openWatchingStart(url, [url] { showSignInAddress(url); });
            });
        }
    } else if (mDropboxConnectButton->text() != ConnectTitle && opted) {
        Globals::optForDropbox(false);
        if (service)
            service->unlinkAndResetClients();
    }
    refresh();
}

} // namespace corvex
