#pragma once

#include "toolkit/BaseView.h"

#include <QString>
#include <QtGlobal>
#include <memory>

namespace corvex {

class CustomInnerTextField;
class Event;
class Menu;

// The framed one-line input field (the idea editor's): a CustomInnerTextField, its only
// subview, inset by 9 points left and right and 3 points at top and bottom, inside a light
// grey outline (colorLightGray, a rounded rectangle of the bounds with corner radius 2 and
// line width 2, so that its inner half shows). Its right-click menu is the reduced edit menu
// (createTextFieldMenuFrom).
//
// The outline is redrawn when the size changes. Construction is in two phases (BaseView):
// use create(). Main thread only.
class CustomTextField : public BaseView
{
public:
    static constexpr double HorizontalInset = 9.0;
    static constexpr double VerticalInset = 3.0;
    static constexpr double OutlineCornerRadius = 2.0;
    static constexpr double OutlineWidth = 2.0;

    // Unprepared: use create().
    CustomTextField();
    ~CustomTextField() override;
    static std::shared_ptr<CustomTextField> create();

    QString className() const override;

    // The inner field's text.
    QString text() const;
    void setText(const QString& text);
    const std::shared_ptr<CustomInnerTextField>& field() const { return mInnerField; }

    // Unless the bounds are empty, the inner field's frame becomes the bounds inset by the
    // insets (never below a zero size).
    void applyLayout() override;
    void setFrame(const Rect& frame) override;
    void drawRect(const Rect& dirtyRect, GraphicsContext& context) override;

    // The menu the inner field shows for a right click: createTextFieldMenuFrom(menu).
    virtual std::shared_ptr<Menu> textViewMenu(const std::shared_ptr<Menu>& menu, const Event& event,
                                               qsizetype index);

    // ---- The reduced edit menu ----
    // A new menu: `menu` processed into it, then a closing separator (a null menu gives the
    // separator alone). Callers may append their own items after it.
    static std::shared_ptr<Menu> createTextFieldMenuFrom(const std::shared_ptr<Menu>& menu);
    // Copies into `target`, in order, the cut, copy and paste items and the three case
    // changes of `menu`, walking submenus flat into the same target; a separator goes before
    // a submenu's items whenever something was copied since the last submenu. Returns true.
    static bool processMenu(const Menu& menu, Menu& target);

private:
    std::shared_ptr<CustomInnerTextField> mInnerField;
};

} // namespace corvex
