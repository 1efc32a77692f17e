#pragma once

namespace corvex {

// What an AttachmentFilePresenter works for. It asks nothing of its delegate today; the
// presenter keeps it weakly so that the pair makes no ownership cycle.
class AttachmentFilePresenterDelegate
{
public:
    virtual ~AttachmentFilePresenterDelegate();
};

} // namespace corvex
