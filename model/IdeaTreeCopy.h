#pragma once

#include "model/Idea.h"

namespace corvex {

// A deep copy of an idea tree that keeps every identifier, for work that reads the tree
// away from the main thread (exports, printing) while the user goes on editing the live
// one: the copy shares no idea with the source (pictures, colours and icons are immutable
// values and are shared).
//
// Links: a link whose target lies inside the copied subtree keeps its target identifier and
// so resolves inside the copy. A link leaving the subtree becomes a plain idea with its
// target's content, as the copies with new identifiers do. A link whose target cannot be
// found at all stays a link idea that resolves to nothing.
//
// Main thread (or whichever thread owns the source tree); the copy may then move to another
// thread. Iterative: any depth is safe.
class IdeaTreeCopy
{
public:
    static IdeaPtr copyKeepingIdentifiers(const Idea& root);
};

} // namespace corvex
