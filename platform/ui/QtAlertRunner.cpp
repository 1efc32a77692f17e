#include "platform/ui/QtAlertRunner.h"

#include "platform/core/NativeFileName.h"
#include "platform/ui/Window.h"

#include "platform/ui/Application.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <vector>

namespace corvex {

namespace {

QMessageBox::Icon iconFor(Alert::Style style)
{
    switch (style) {
    case Alert::Style::Informational:
        return QMessageBox::Information;
    case Alert::Style::Critical:
        return QMessageBox::Critical;
    case Alert::Style::Warning:
        break;
    }
    return QMessageBox::Warning;
}

// A button title is text, not a mnemonic.
QString buttonText(const QString& title)
{
    QString text = title;
    return text.replace(QLatin1Char('&'), QStringLiteral("&&"));
}

} // namespace

std::optional<int> QtAlertRunner::present(const Alert& alert)
{
    QMessageBox box(QApplication::activeWindow());
    box.setWindowModality(Qt::ApplicationModal);
    box.setIcon(iconFor(alert.style));
    box.setWindowTitle(Window::UntitledTitle);
    box.setTextFormat(Qt::PlainText);
    box.setText(NativeFileName::forDisplay(alert.messageText));
    if (!alert.informativeText.isEmpty()) {
        box.setInformativeText(NativeFileName::forDisplay(alert.informativeText));
        // setTextFormat covers the main text only.
        if (auto* label = box.findChild<QLabel*>(QStringLiteral("qt_msgbox_informativelabel")))
            label->setTextFormat(Qt::PlainText);
    }
    std::vector<QPushButton*> buttons;
    buttons.reserve(alert.buttons.size());
    for (const Alert::Button& button : alert.buttons)
        buttons.push_back(box.addButton(buttonText(button.title), QMessageBox::ActionRole));
    if (buttons.empty())
        return std::nullopt;
    box.setDefaultButton(buttons.front());
    box.setEscapeButton(buttons[std::size_t(alert.dismissalIndex())]);
    const auto quitting = [] { return Application::instance() && Application::instance()->isQuitting(); };
    const bool quittingBefore = quitting();
    box.exec();
    // A quit that began while the alert showed ended its loop (or closed it): nobody answered.
    if (!quittingBefore && quitting())
        return EndedByQuit;

    QAbstractButton* clicked = box.clickedButton();
    for (std::size_t i = 0; i < buttons.size(); ++i) {
        if (buttons[i] == clicked)
            return int(i);
    }
    return std::nullopt;
}

} // namespace corvex
