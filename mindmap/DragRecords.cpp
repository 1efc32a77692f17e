#include "mindmap/DragInfo.h"
#include "mindmap/DragInfoForIdea.h"
#include "mindmap/DragSupportDelegate.h"

namespace corvex {

DragInfo::~DragInfo() = default;

DragInfoForIdea::~DragInfoForIdea() = default;

QString DragInfoForIdea::ideaIdentifierOf(const DragInfo& info)
{
    const auto* forIdea = dynamic_cast<const DragInfoForIdea*>(&info);
    return forIdea ? forIdea->ideaIdentifier : QString();
}

QString DragInfoForIdea::docIdentifierOf(const DragInfo& info)
{
    const auto* forIdea = dynamic_cast<const DragInfoForIdea*>(&info);
    return forIdea ? forIdea->docIdentifier : QString();
}

DragSupportDelegate::~DragSupportDelegate() = default;

} // namespace corvex
