#pragma once

#include "platform/core/Coder.h"
#include "platform/core/Error.h"
#include "platform/core/KeyedArchive.h"
#include "platform/core/Result.h"

#include <QByteArray>
#include <QString>
#include <memory>
#include <unordered_map>
#include <vector>

namespace corvex {

// Writes a graph of Codable objects as a keyed archive (KeyedArchive's layout). Each object
// becomes an instance of its className() with the hierarchy {className, "NSObject"},
// holding the keys its encodeWithCoder writes; keyed writes outside any object go to the
// archive's top-level keys. Texts, numbers, booleans, data, dates (NSDate), arrays and
// dictionaries of plain values are stored as such; lists of objects as arrays. An object
// written twice (the same pointer) is archived once and shared by both uses.
//
// The single unkeyed data object (PortableImage's bytes) is stored under DataObjectKey
// ("$0"), the key of an object's first unkeyed value in keyed archives.
//
// An object met again while it is still being encoded is a circular reference, which a keyed
// archive made here cannot hold: the encoding fails (CircularReference) and nothing more is
// written; so does nesting deeper than the archive allows (TooDeep) and an exception leaving
// an encodeWithCoder (EncodingFailed). encodedData() then answers the error.
//
// One archiver serves one thread; make one per archive.
class KeyedArchiver final : public Encoder
{
public:
    static const QString ErrorDomain; // "com.tallowfen.corvex.keyedarchiver"
    enum ErrorCode
    {
        CircularReference = 1,
        TooDeep = 2,
        EncodingFailed = 3,
    };

    static const QString DataObjectKey; // "$0"
    static const QString RootKey;       // "root": archivedDataWithRootObject's top-level key
    static const QString BaseClassName; // "NSObject"

    KeyedArchiver() = default;
    KeyedArchiver(const KeyedArchiver&) = delete;
    KeyedArchiver& operator=(const KeyedArchiver&) = delete;

    // The archive of the object under the top-level key "root" (RootKey).
    static Result<QByteArray> archivedDataWithRootObject(const CodablePtr& object);

    // The archive of the top-level keys written so far; the encoding's error when it failed,
    // else KeyedArchive::archive's.
    Result<QByteArray> encodedData() const;
    // The graph written so far.
    const ArchivedTop& top() const { return mTop; }

    bool failed() const { return !mError.isNull(); }
    const Error& error() const { return mError; }
    QString errorString() const { return mError.localizedDescription(); }

    // Encoder: writes into the object being encoded, or the top-level keys.
    void encodeObject(const CodablePtr& object, const QString& key) override;
    void encodeObjects(const std::vector<CodablePtr>& objects, const QString& key) override;
    void encodeValue(const Value& value, const QString& key) override;
    void encodeData(const QByteArray& data, const QString& key) override;
    void encodeDate(const QDateTime& date, const QString& key) override;
    // Stored under DataObjectKey.
    void encodeDataObject(const QByteArray& data) override;

private:
    // The archived object of `object`: the one made before for the same pointer, or a new
    // one; null once the encoding has failed.
    std::shared_ptr<ArchivedObject> archiveObject(const CodablePtr& object);
    void put(const QString& key, ArchivedValue value);
    void fail(int code, const QString& text);

    struct Encoded
    {
        CodablePtr object; // held, so that its address cannot be taken by another object
        std::shared_ptr<ArchivedObject> archived;
    };

    ArchivedTop mTop;
    std::vector<std::shared_ptr<ArchivedObject>> mStack; // the objects being encoded
    std::vector<const Codable*> mOpen;                   // their sources, for cycles
    std::unordered_map<const Codable*, Encoded> mEncoded;
    int mDepth = 0; // objects and lists open now
    Error mError;
};

} // namespace corvex
