#pragma once

namespace corvex {

// An object that lays out a view it does not own, usually the view controller of a
// BaseView made with createWithLayouter: the view calls applyLayout at the start of each of
// its own layouts, before it places its hosted views. Main thread only.
class Layouter
{
public:
    virtual ~Layouter() = default;

    virtual void applyLayout() = 0;
};

} // namespace corvex
