#pragma once

#include "platform/core/Coder.h"
#include "platform/core/Error.h"
#include "platform/core/OutputBuffer.h"
#include "platform/core/Value.h"

#include <QByteArray>
#include <QString>
#include <optional>
#include <utility>
#include <vector>

namespace corvex {

// Turns a graph of Codable objects into JSON text, written as the objects encode themselves
// (no value tree in between). Each object becomes a dictionary of the keys its
// encodeWithCoder writes, in that order (a key written twice keeps its first place and takes
// the last value); nested objects are plain dictionaries (the decoder finds their class from
// the key they stand under). Data become Base64 text, dates the date text
// "yyyy-MM-dd HH:mm:00 GMT" (minutes precision), and nil values, empty lists and empty
// arrays leave their key out.
//
// An object met again while it is still being encoded (compared by identity) is a circular
// reference: the encoding stops with the exception "Circular Reference Not Allowed" inside
// the encoder, the top-level call answers false with the reason in error(), and data() and
// json() answer nothing. A class nested in itself more than MaxClassNesting times (what the
// decoder would refuse to read) and a number that is not finite fail the same way.
//
// One encoder serves one thread; make one per encoding.
class JSONEncoder final : public Encoder
{
public:
    static const QString ErrorDomain; // "com.tallowfen.corvex.jsonencoder"
    enum ErrorCode
    {
        CircularReference = 1, // the exception's name and reason are in the user information
        TooDeep = 2,
        InvalidNumber = 3, // NaN or an infinity: JSON cannot hold it
        NothingToEncode = 4,
        EncodingFailed = 5, // an exception other than the coder's own left an encodeWithCoder
    };
    // The name of the exception a circular reference raises inside the encoder.
    static const QString CircularReferenceExceptionName; // "Circular Reference Not Allowed"
    // The user-information keys of a CircularReference error.
    static const QString ExceptionNameKey;   // "ExceptionName"
    static const QString ExceptionReasonKey; // "ExceptionReason"
    // The model's maximum idea depth: the decoder reads no class nested deeper in itself.
    static constexpr int MaxClassNesting = 1000;

    JSONEncoder() = default;
    JSONEncoder(const JSONEncoder&) = delete;
    JSONEncoder& operator=(const JSONEncoder&) = delete;

    using Encoder::encodeObject;
    // Codes the object as the final value, wrapped in a dictionary with one key: the class
    // name with its first letter in lower case ("ideaDocumentDataObject").
    [[nodiscard]] bool encodeObject(const CodablePtr& object);
    [[nodiscard]] bool encodeObject(const Codable& object);
    // The same without the wrapper.
    [[nodiscard]] bool encodeTopObject(const CodablePtr& object);
    [[nodiscard]] bool encodeTopObject(const Codable& object);

    // About how long the next text will be: it is made room for at once, so that a large
    // text is written into one block instead of being copied at every growth. A wrong guess
    // costs only time.
    void setExpectedSize(qsizetype bytes) { mExpectedSize = bytes; }

    bool isJSONCoder() const override { return true; }

    // The final value as compact UTF-8 JSON; nothing when there is none or encoding failed.
    std::optional<QByteArray> data() const;
    std::optional<QString> json() const;
    // The final value read back from the text; Null when there is none. For tests and
    // diagnostics: the encoder itself never makes it.
    const Value& finalJSONObject() const;

    bool failed() const { return !mError.isNull(); }
    const Error& error() const { return mError; }
    QString errorString() const { return mError.localizedDescription(); }

    // Encoder: writes into the dictionary of the object being encoded. Outside an
    // encodeWithCoder they write nothing (and log the assertion line).
    void encodeObject(const CodablePtr& object, const QString& key) override;
    void encodeObjects(const std::vector<CodablePtr>& objects, const QString& key) override;
    bool writesListsWhileBorrowing() const override { return true; }
    void encodeBorrowedObjects(const std::vector<const Codable*>& objects, const QString& key) override;
    void encodeValue(const Value& value, const QString& key) override;
    void encodeData(const QByteArray& data, const QString& key) override;
    void encodeDate(const QDateTime& date, const QString& key) override;
    // JSON has no unkeyed values: logs the assertion line once and writes nothing.
    void encodeDataObject(const QByteArray& data) override;
    void encodeString(const QString& text, const QString& key) override;
    void encodeBool(bool value, const QString& key) override;
    void encodeInt(qint32 value, const QString& key) override;
    void encodeInt64(qint64 value, const QString& key) override;
    void encodeFloat(float value, const QString& key) override;
    void encodeDouble(double value, const QString& key) override;

private:
    // A member written into an open dictionary: its key and where its text lies.
    struct Member
    {
        QString key;
        qsizetype start;      // the separator (or the key when first)
        qsizetype valueStart; // after the colon
        qsizetype valueEnd;
    };

    bool encodeTop(const Codable* object, bool wrapped);
    // Writes the object's dictionary; throws on a circular reference or when nested too deep.
    void writeCodable(const Codable& object);
    template <class List, class Get>
    void writeList(const void* identity, const List& objects, Get get, const QString& key);
    // Opens a member of the current dictionary (false outside any: logged, nothing written);
    // the value follows, then endMember.
    bool beginMember(const QString& key);
    void endMember();
    // The JSON form of a plain value that holds data or dates somewhere; Null for "nothing".
    Value plainForm(const Value& value, int depth);
    void writeReal(double value);

    QByteArray mOut;
    OutputBuffer mBuffer;                               // huge pages behind a large text
    std::vector<const void*> mObjectStack;              // identities of the objects and lists being encoded
    std::vector<qsizetype> mOpenDictionaries;           // per open dictionary: its first member in mMembers
    std::vector<Member> mMembers;                       // the members of every open dictionary
    std::vector<std::pair<QString, int>> mClassNesting; // open objects per class name
    mutable std::optional<Value> mFinalJSONObject;
    Error mError;
    bool mInvalidNumber = false;
    bool mHasResult = false;
    qsizetype mExpectedSize = 0;
};

} // namespace corvex
