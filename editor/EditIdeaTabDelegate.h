#pragma once

namespace corvex {

// What every tab of the idea editor tells the controller: a value was changed. Main thread
// only.
class EditIdeaTabDelegate
{
public:
    virtual ~EditIdeaTabDelegate();
    virtual void didMakeChanges() = 0;
};

// The text tab also asks for a new popover height and for the editor to close.
class IdeaTextEditTabViewDelegate : public EditIdeaTabDelegate
{
public:
    ~IdeaTextEditTabViewDelegate() override;
    virtual void pleaseUpdateIdeaTextEditTabViewHeight() = 0;
    virtual void pleaseCloseEditView() = 0;
};

} // namespace corvex
