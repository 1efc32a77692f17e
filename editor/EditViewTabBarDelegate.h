#pragma once

#include <QtGlobal>

namespace corvex {

class EditViewTabBar;

// Told of the tab bar's presses: a tab chosen, or Done. Main thread only.
class EditViewTabBarDelegate
{
public:
    virtual ~EditViewTabBarDelegate();
    virtual void editViewTabBarUserSelectedItem(EditViewTabBar& bar, qint64 item) = 0;
    virtual void pleaseCloseEditView() = 0;
};

} // namespace corvex
