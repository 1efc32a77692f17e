#pragma once

#include "storage/AttachmentManager.h"

#include <QString>
#include <QUrl>

namespace corvex {

class ObjectID;

// The temporary location (storage location 0): its documents and attachments live in the
// application's support folder,
//   <Paths::applicationSupport()>/com.tallowfen.corvex/volatile               documents
//   <Paths::applicationSupport()>/com.tallowfen.corvex/volatile/attachments   attachments
// and it stores and provides its attachments through AttachmentDocument.
//
// Names from stored data never leave these folders: attachment names must be
// "<40 lower-case hex digits>.<extension>" and document file names one plain path component
// (AttachmentNames); anything else is refused and nothing is written or read.
class TempLocationManager final : public AttachmentManager
{
public:
    // The attachments folder, made with its missing parents on every call; empty (with an
    // assertion line in the log) when it cannot be made.
    static QUrl baseAttURL();
    // The documents folder: baseAttURL() without its last component.
    static QUrl baseDocURL();
    // The file of an attachment in baseAttURL(); empty for a refused name or without the
    // folder.
    static QUrl attachmentURL(const ObjectID& attachment);
    // The file of a document of this location (the path of a "temp:/" identifier); empty
    // for a name that is not one plain path component, or without the folder.
    static QUrl documentURL(const QString& fileName);

    // The attachment written atomically under file coordination; the completion answers on
    // the main queue. A refused name answers NO and writes nothing.
    void storeAttachment(const ObjectID& attachment, const QByteArray& data,
                         StoreCompletion completion) override;
    // The attachment read on a global queue; the completion answers on the main queue (null
    // bytes when it was never stored). A refused name answers null bytes and reads
    // nothing.
    void provideAttachment(const ObjectID& attachment, ProvideCompletion completion) override;
};

} // namespace corvex
