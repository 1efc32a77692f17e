#pragma once

namespace corvex {

class EditIdeaViewController;
class IdeaValues;

// A tab of the idea editor: loaded from the controller's values, told when it is shown and
// left, asked to store the members it edits back into the values, and asked for the height
// it wants (tab bar excluded). Main thread only.
class EditIdeaViewSubordinate
{
public:
    virtual ~EditIdeaViewSubordinate();
    virtual void reloadFrom(EditIdeaViewController& controller, bool isInitialLoad) = 0;
    virtual void storeValues(IdeaValues& values) const = 0;
    virtual void activate() = 0;
    virtual void deactivate() = 0;
    virtual double currentPreferredHeight() const = 0;
};

} // namespace corvex
