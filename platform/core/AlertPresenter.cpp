#include "platform/core/AlertPresenter.h"

#include <mutex>

namespace corvex {

namespace {

struct PresenterSlot
{
    std::mutex mutex;
    std::shared_ptr<AlertPresenter> presenter;
};

PresenterSlot& presenterSlot()
{
    static PresenterSlot* const slot = new PresenterSlot; // lives as long as the process
    return *slot;
}

} // namespace

AlertPresenter::~AlertPresenter() = default;

std::shared_ptr<AlertPresenter> AlertPresenter::registered()
{
    PresenterSlot& slot = presenterSlot();
    std::lock_guard lock(slot.mutex);
    return slot.presenter;
}

void AlertPresenter::setRegistered(std::shared_ptr<AlertPresenter> presenter)
{
    PresenterSlot& slot = presenterSlot();
    std::lock_guard lock(slot.mutex);
    slot.presenter = std::move(presenter);
}

int AlertPresenter::present(const QString& messageText, const QString& informativeText,
                            const QStringList& buttons)
{
    std::shared_ptr<AlertPresenter> presenter = registered();
    return presenter ? presenter->runModal(messageText, informativeText, buttons) : NoAlertShown;
}

} // namespace corvex
