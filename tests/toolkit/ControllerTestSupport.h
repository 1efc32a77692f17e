#pragma once

// Shared pieces of the controller, alert and transition tests: scripted runners installed
// for a test's scope, and a controller whose view is a given one.

#include "platform/ui/Runners.h"
#include "platform/ui/View.h"
#include "platform/ui/ViewController.h"
#include "tests/doubles/ui/ScriptedAlertRunner.h"
#include "tests/doubles/ui/ScriptedFilePanelRunner.h"
#include "tests/doubles/ui/ScriptedMenuRunner.h"

#include <QStringList>
#include <memory>

namespace corvex::test {

// Installs scripted alert, menu and open-panel runners; the Qt defaults come back at the end.
class ScriptedRunners
{
public:
    ScriptedRunners()
    {
        Runners::setAlertRunner(alerts);
        Runners::setMenuRunner(menus);
        Runners::setFilePanelRunner(panels);
    }
    ~ScriptedRunners() { Runners::reset(); }
    ScriptedRunners(const ScriptedRunners&) = delete;
    ScriptedRunners& operator=(const ScriptedRunners&) = delete;

    const std::shared_ptr<ScriptedAlertRunner> alerts = std::make_shared<ScriptedAlertRunner>();
    const std::shared_ptr<ScriptedMenuRunner> menus = std::make_shared<ScriptedMenuRunner>();
    const std::shared_ptr<ScriptedFilePanelRunner> panels = std::make_shared<ScriptedFilePanelRunner>();
};

// The button titles of an alert as shown.
inline QStringList buttonTitles(const Alert& alert)
{
    QStringList titles;
    for (const Alert::Button& button : alert.buttons)
        titles.append(button.title);
    return titles;
}

// A controller whose loadView installs the view it was given.
template <class Base = ViewController> class GivenViewController : public Base
{
public:
    explicit GivenViewController(std::shared_ptr<View> view) : mGiven(std::move(view)) {}

protected:
    void loadView() override { this->setView(mGiven); }

private:
    std::shared_ptr<View> mGiven;
};

} // namespace corvex::test
