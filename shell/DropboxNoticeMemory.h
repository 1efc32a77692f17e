#pragma once

#include "cloud/dropbox/DropboxSyncNotices.h"

#include <QString>

namespace corvex {

// Which stuck-document notices the user has been told, kept in the user defaults so that a
// document that stays stuck is not announced again at every launch. One entry per document
// and cause; a new sign-in forgets them all (the account may be another one), and a document
// that syncs again is forgotten (a later stop is news).
class DropboxNoticeMemory
{
public:
    using Reason = DropboxSyncNotices::DocumentNotSynced::Reason;

    static const QString DefaultsKey;

    static bool wasTold(const QString& document, Reason reason);
    static void remember(const QString& document, Reason reason);
    // Both causes of the document.
    static void forget(const QString& document);
    static void forgetAll();
};

} // namespace corvex
