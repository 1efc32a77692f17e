#include "model/ApplicationDelegate.h"

namespace corvex {

ApplicationDelegate::~ApplicationDelegate() = default;

void ApplicationDelegate::markPersistentAppStateDirty() {}

void ApplicationDelegate::updatePersistentAppStateNow() {}

void ApplicationDelegate::addNewRecentDocumentURL(const QUrl&) {}

bool ApplicationDelegate::canWeSafelyDeleteIdea(const QString&, const QString&)
{
    // Without windows no screen shows the idea or one of its descendants.
    return true;
}

void ApplicationDelegate::openDocumentInNewWindow(const QString&, const QString&) {}

void ApplicationDelegate::documentShown(const QString&) {}

bool ApplicationDelegate::isFileCurrentlyOpen(const QUrl&)
{
    return false;
}

} // namespace corvex
