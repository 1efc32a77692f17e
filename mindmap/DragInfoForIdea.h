#pragma once

#include "mindmap/DragInfo.h"

#include <QString>

namespace corvex {

// A drag of an idea: the record adds the idea's identifier and the identifier of the
// document it was dragged from (null for an idea that lives only in a window's dock). A
// screen tells it from a plain DragInfo (a file from outside) with dynamic_cast.
class DragInfoForIdea : public DragInfo
{
public:
    DragInfoForIdea() = default;
    DragInfoForIdea(const DragInfoForIdea&) = default;
    DragInfoForIdea& operator=(const DragInfoForIdea&) = default;
    ~DragInfoForIdea() override;

    QString ideaIdentifier;
    QString docIdentifier;

    // The identifiers of `info` when it is a drag of an idea; null strings otherwise.
    static QString ideaIdentifierOf(const DragInfo& info);
    static QString docIdentifierOf(const DragInfo& info);
};

} // namespace corvex
