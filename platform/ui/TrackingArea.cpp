#include "platform/ui/TrackingArea.h"

namespace corvex {

TrackingArea::TrackingArea(const Rect& rect, Options options, Responder* owner, const QVariant& userInfo)
    : mRect(rect), mOptions(options), mOwner(owner), mUserInfo(userInfo),
      mInside((options & AssumeInside) != 0)
{}

std::shared_ptr<TrackingArea> TrackingArea::create(const Rect& rect, Options options, Responder* owner,
                                                   const QVariant& userInfo)
{
    return std::make_shared<TrackingArea>(rect, options, owner, userInfo);
}

} // namespace corvex
