#pragma once

#include "platform/core/Completion.h"

#include <QByteArray>
#include <functional>

namespace corvex {

class ObjectID;

// Where a storage location keeps the bytes of its attachments: the temporary location's
// TempLocationManager, and the cloud back ends. Attachments are named by their ObjectID
// ("<40 hex digits>.<extension>"); a name that is not of that form is refused
// (AttachmentNames) and nothing is written or read.
class AttachmentManager
{
public:
    using StoreCompletion = corvex::Completion<bool>;
    // The attachment's bytes; null bytes when there are none (an attachment stored empty
    // answers empty, non-null bytes).
    using ProvideCompletion = corvex::Completion<const QByteArray&>;

    virtual ~AttachmentManager();

    virtual void storeAttachment(const ObjectID& attachment, const QByteArray& data,
                                 StoreCompletion completion) = 0;
    virtual void provideAttachment(const ObjectID& attachment, ProvideCompletion completion) = 0;
};

} // namespace corvex
