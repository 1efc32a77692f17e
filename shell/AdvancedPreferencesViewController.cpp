#include "shell/AdvancedPreferencesViewController.h"

#include "model/Globals.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <algorithm>

namespace corvex {

namespace {

constexpr int AdvancedPaneWidth = 480;

} // namespace

AdvancedPreferencesViewController::AdvancedPreferencesViewController() = default;
AdvancedPreferencesViewController::~AdvancedPreferencesViewController() = default;

QIcon AdvancedPreferencesViewController::toolbarItemImage() const
{
    return themeIcon(QStringLiteral("preferences-other"), QStyle::SP_FileDialogDetailedView);
}

QString AdvancedPreferencesViewController::toolbarItemLabel() const
{
    return Globals::normalLocalizedStringForKey(QString(), QStringLiteral("Advanced"));
}

QWidget* AdvancedPreferencesViewController::view()
{
    if (mView)
        return mView.get();
    mView = std::make_unique<QWidget>();
    auto* form = new QFormLayout(mView.get());
    form->setContentsMargins(24, 20, 24, 20);
    form->setVerticalSpacing(12);
    mTextSizePopup = new QComboBox();
    form->addRow(QStringLiteral("Text size:"), mTextSizePopup);
    mHighContrastButton = new QCheckBox(QStringLiteral("Text colour follows the background (high contrast)"));
    form->addRow(QString(), mHighContrastButton);
    // Only the user's own choices change the settings; filling the controls does not.
    QObject::connect(mTextSizePopup.data(), &QComboBox::activated, mView.get(),
                     [this] { textSizeOptionChanged(); });
    QObject::connect(mHighContrastButton.data(), &QCheckBox::clicked, mView.get(),
                     [this] { contrastOptionChanged(); });
    awakeFromNib();
    mView->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    mView->resize(QSize(AdvancedPaneWidth, mView->sizeHint().height()));
    return mView.get();
}

void AdvancedPreferencesViewController::awakeFromNib()
{
    mTextSizeTitles.clear();
    for (const char* title : {"Tiny", "Small", "Normal", "Large", "Extra"})
        mTextSizeTitles.append(Globals::normalLocalizedStringForKey(QString(), QString::fromLatin1(title)));
    mTextSizePopup->clear();
    mTextSizePopup->addItems(mTextSizeTitles);
    mTextSizePopup->setCurrentIndex(std::clamp(Globals::fontSizeFactor() - Globals::MinFontSizeFactor, 0, 4));
    mHighContrastButton->setChecked(Globals::highContrastText());
}

void AdvancedPreferencesViewController::textSizeOptionChanged()
{
    if (!mTextSizePopup || mTextSizePopup->currentIndex() < 0)
        return;
    Globals::changeFontSizeFactor(mTextSizePopup->currentIndex() + Globals::MinFontSizeFactor);
}

void AdvancedPreferencesViewController::contrastOptionChanged()
{
    if (mHighContrastButton)
        Globals::setHighContrastText(mHighContrastButton->isChecked());
}

} // namespace corvex
