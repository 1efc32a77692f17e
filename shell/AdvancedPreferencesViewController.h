#pragma once

#include "shell/PreferencesViewController.h"

#include <QCheckBox>
#include <QComboBox>
#include <QPointer>
#include <QStringList>
#include <memory>

namespace corvex {

// The Advanced pane: the text size (a pop-up of five sizes for the factors 3 to 7) and the
// high-contrast text setting, both kept by Globals, which tells the views to redraw. Main
// thread only.
class AdvancedPreferencesViewController final : public PreferencesViewController
{
public:
    static inline const QString Identifier = QStringLiteral("AdvancedPreferences");

    AdvancedPreferencesViewController();
    ~AdvancedPreferencesViewController() override;

    QString identifier() const override { return Identifier; }
    QIcon toolbarItemImage() const override;
    QString toolbarItemLabel() const override;
    QWidget* view() override;

    QComboBox* textSizePopup() const { return mTextSizePopup; }
    QCheckBox* highContrastButton() const { return mHighContrastButton; }
    // "Tiny", "Small", "Normal", "Large", "Extra".
    const QStringList& textSizeTitles() const { return mTextSizeTitles; }

    void textSizeOptionChanged();
    void contrastOptionChanged();

private:
    // Fills the controls from the stored settings.
    void awakeFromNib();

    std::unique_ptr<QWidget> mView;
    QPointer<QComboBox> mTextSizePopup;
    QPointer<QCheckBox> mHighContrastButton;
    QStringList mTextSizeTitles;
};

} // namespace corvex
