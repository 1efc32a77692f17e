#pragma once

#include <QString>
#include <memory>

namespace corvex {

class IconImage;

// What the icon grid asks of the icon tab. Main thread only.
class IconSelectorViewDelegate
{
public:
    virtual ~IconSelectorViewDelegate();
    virtual void pleaseDismissIconSelector() = 0;
    virtual void handleIconSelection(const std::shared_ptr<IconImage>& icon) = 0;
    virtual std::shared_ptr<IconImage> currentIconSelection() const = 0;
};

// What the category table asks of the icon tab. Main thread only.
class IconCategoryTableViewDelegate
{
public:
    virtual ~IconCategoryTableViewDelegate();
    virtual void categorySelected(const QString& category) = 0;
    virtual bool canRemoveIconSelection() const = 0;
    virtual void pleaseRemoveIconSelection() = 0;
};

} // namespace corvex
