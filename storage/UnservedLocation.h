#pragma once

#include "platform/core/MainQueue.h"
#include "storage/DocumentLocation.h"

namespace corvex {

// A storage location nothing serves right now: location 1 (a local file), a number no
// location has, or a cloud location the user has not opted in to or whose back end is
// missing. Every operation fails without trying, answering in a later turn of the main
// queue: token 0, NO, null, no list, no attachments, status "unavailable".
class UnservedLocation final : public DocumentLocation
{
public:
    // `cloud`: the location is one a workspace serves once it has one (takesBackEnd).
    explicit UnservedLocation(bool cloud) : mCloud(cloud) {}

    void createDocument(const std::shared_ptr<IdeaDocument>&, qint64, TokenCompletion completion) override
    {
        completion(0);
    }
    void openDocument(const std::shared_ptr<IdeaDocument>&, TokenCompletion completion) override
    {
        completion(0);
    }
    void updateDocument(const std::shared_ptr<IdeaDocument>&, qint64, BoolCompletion completion) override
    {
        MainQueue::post([completion = std::move(completion)]() mutable { completion(false); });
    }
    void closeDocument(const std::shared_ptr<IdeaDocument>&, qint64, Completion completion) override
    {
        completion();
    }
    void deleteDocument(const QString&, BoolCompletion completion) override
    {
        MainQueue::post([completion = std::move(completion)]() mutable { completion(false); });
    }
    void fetchRootIdea(const QString&, IdeaCompletion completion) override { completion(nullptr); }
    std::shared_ptr<IdeaDocument> heldDocument(const QString&) const override { return nullptr; }
    // Such a move fails anyway, at once, when it tries to read the idea.
    bool mayTakeIdeasFrom(const QString&) const override { return true; }
    bool isReadyForUse() const override { return false; }
    std::shared_ptr<AttachmentManager> attachmentManager() override { return nullptr; }
    bool takesBackEnd() const override { return mCloud; }

private:
    const bool mCloud;
};

} // namespace corvex
