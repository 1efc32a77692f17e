#pragma once

namespace corvex {

class ViewController;

// How a presented view controller comes on screen and goes again: the object handed to
// ViewController::presentViewController. The same object is asked for the presentation and,
// later, for the matching dismissal, so it may keep what it made for the first (a backdrop)
// until the second. Main thread only.
class ViewControllerPresentationAnimator
{
public:
    virtual ~ViewControllerPresentationAnimator();

    // Brings `viewController`'s view on screen over `fromViewController`'s.
    virtual void animatePresentationOfViewController(ViewController& viewController,
                                                     ViewController& fromViewController) = 0;
    // Takes it away again.
    virtual void animateDismissalOfViewController(ViewController& viewController,
                                                  ViewController& fromViewController) = 0;
};

} // namespace corvex
