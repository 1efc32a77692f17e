// The out-of-line destructors of the editor's interfaces.

#include "editor/ColorMatrixViewDelegate.h"
#include "editor/EditIdeaTabDelegate.h"
#include "editor/EditIdeaViewSubordinate.h"
#include "editor/EditViewTabBarDelegate.h"
#include "editor/IconTabDelegates.h"

namespace corvex {

EditIdeaViewSubordinate::~EditIdeaViewSubordinate() = default;
EditIdeaTabDelegate::~EditIdeaTabDelegate() = default;
IdeaTextEditTabViewDelegate::~IdeaTextEditTabViewDelegate() = default;
EditViewTabBarDelegate::~EditViewTabBarDelegate() = default;
ColorMatrixViewDelegate::~ColorMatrixViewDelegate() = default;
IconSelectorViewDelegate::~IconSelectorViewDelegate() = default;
IconCategoryTableViewDelegate::~IconCategoryTableViewDelegate() = default;

} // namespace corvex
