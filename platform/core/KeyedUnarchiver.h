#pragma once

#include "platform/core/Coder.h"
#include "platform/core/Error.h"
#include "platform/core/KeyedArchive.h"

#include <QByteArray>
#include <QSet>
#include <QString>
#include <memory>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace corvex {

// Reads keyed archives (KeyedArchive's layout, as KeyedArchiver and other keyed-archive
// writers write them) back into objects. Objects are made only through CodableRegistry, by
// the class name the archive gives them: an object of a class that is not registered reads
// as missing (logged once per class), so stored data never choose code. An archived object
// used in several places is decoded once and the same object is answered for every use.
//
// What decodeObjectForKey answers for an archived value: nothing for nil; a plain Value
// for texts, numbers, booleans, data, dates, and for arrays and dictionaries that hold no
// objects; the decoded object; a List for an array holding objects (its elements converted
// the same way). A dictionary that holds objects reads as its plain entries only.
//
// decodeDataForKey and decodeDateForKey answer what decodeObjectForKey finds when it is
// data or a date, so classes written for the JSON coders read archives in which data and
// dates are stored as objects. The unkeyed data object is read from
// KeyedArchiver::DataObjectKey ("$0").
//
// Typed reads treat a value of the wrong type (and a number out of the type's range) as
// missing. An exception leaving a class's factory fails the decoding (DecodingFailed); from
// then on every read answers nothing. No exception leaves the unarchiver. One unarchiver
// serves one thread.
class KeyedUnarchiver final : public Decoder
{
public:
    static const QString ErrorDomain; // "com.tallowfen.corvex.keyedunarchiver"
    enum ErrorCode
    {
        DecodingFailed = 1,
    };

    // Reads the archive; when the bytes are no keyed archive (or break the limits) the
    // unarchiver is not valid, error() says why, and every read answers nothing.
    explicit KeyedUnarchiver(const QByteArray& data);
    KeyedUnarchiver(const QByteArray& data, const KeyedArchive::Limits& limits);
    // A graph read or made elsewhere.
    explicit KeyedUnarchiver(ArchivedTop top);
    KeyedUnarchiver(const KeyedUnarchiver&) = delete;
    KeyedUnarchiver& operator=(const KeyedUnarchiver&) = delete;

    // The object under "root" (KeyedArchiver::archivedDataWithRootObject); nothing on any
    // failure.
    static CodedValue unarchiveObjectWithData(const QByteArray& data);

    bool isValid() const { return mValid; }
    bool failed() const { return !mError.isNull(); }
    const Error& error() const { return mError; }
    QString errorString() const { return mError.localizedDescription(); }
    const ArchivedTop& top() const { return mTop; }

    // Decoder: reads from the object being decoded, or the top-level keys.
    bool containsValueForKey(const QString& key) const override;
    CodedValue decodeObjectForKey(const QString& key) override;
    std::optional<QString> decodeStringForKey(const QString& key) override;
    QByteArray decodeDataForKey(const QString& key) override;
    std::optional<QDateTime> decodeDateForKey(const QString& key) override;
    QByteArray decodeDataObject() override;
    bool decodeBoolForKey(const QString& key) override;
    qint32 decodeIntForKey(const QString& key) override;
    qint64 decodeInt64ForKey(const QString& key) override;
    float decodeFloatForKey(const QString& key) override;
    double decodeDoubleForKey(const QString& key) override;

private:
    // The value under the key in the current object (or the top); nullptr when missing or nil
    // or after a failure.
    const ArchivedValue* lookup(const QString& key) const;
    // The primitive under the key; nullptr when there is none.
    const Value* primitive(const QString& key) const;
    CodedValue convert(const ArchivedValue& value);
    CodablePtr make(const std::shared_ptr<ArchivedObject>& object);

    ArchivedTop mTop;
    std::vector<const ArchivedObject*> mStack; // the objects being decoded
    std::unordered_set<const ArchivedObject*> mOpen;
    std::unordered_map<const ArchivedObject*, CodablePtr> mDecoded;
    QSet<QString> mReportedClasses;
    Error mError;
    bool mValid = false;
};

} // namespace corvex
