#pragma once

#include "platform/core/Coder.h"
#include "platform/core/Error.h"
#include "platform/core/Value.h"

#include <QByteArray>
#include <QString>
#include <optional>
#include <utility>
#include <vector>

namespace corvex {

// Turns a graph of Codable objects into JSON text. Each object becomes a dictionary of the
// keys its encodeWithCoder writes; nested objects are plain dictionaries (the decoder finds
// their class from the key they stand under). Data become Base64 text, dates the date text
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
class JSONEncoder final : public Coder
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

    using Coder::encodeObject;
    // Codes the object as the final value, wrapped in a dictionary with one key: the class
    // name with its first letter in lower case ("ideaDocumentDataObject").
    [[nodiscard]] bool encodeObject(const CodablePtr& object);
    [[nodiscard]] bool encodeObject(const Codable& object);
    // The same without the wrapper.
    [[nodiscard]] bool encodeTopObject(const CodablePtr& object);
    [[nodiscard]] bool encodeTopObject(const Codable& object);

    bool isJSONCoder() const override { return true; }

    // The final value as compact UTF-8 JSON; nothing when there is none or encoding failed.
    std::optional<QByteArray> data() const;
    std::optional<QString> json() const;
    // Null when there is none.
    const Value& finalJSONObject() const { return mFinalJSONObject; }

    bool failed() const { return !mError.isNull(); }
    const Error& error() const { return mError; }
    QString errorString() const { return mError.localizedDescription(); }

    // Coder: writes into the dictionary of the object being encoded. Outside an
    // encodeWithCoder they write nothing (and log the assertion line).
    void encodeObject(const CodablePtr& object, const QString& key) override;
    void encodeObjects(const std::vector<CodablePtr>& objects, const QString& key) override;
    void encodeValue(const Value& value, const QString& key) override;
    void encodeData(const QByteArray& data, const QString& key) override;
    void encodeDate(const QDateTime& date, const QString& key) override;
    // JSON has no unkeyed values: logs the assertion line once and writes nothing.
    void encodeDataObject(const QByteArray& data) override;

    // An encoder reads nothing.
    bool containsValueForKey(const QString& key) const override;
    CodedValue decodeObjectForKey(const QString& key) override;
    QByteArray decodeDataForKey(const QString& key) override;
    std::optional<QDateTime> decodeDateForKey(const QString& key) override;
    QByteArray decodeDataObject() override;
    bool decodeBoolForKey(const QString& key) override;
    qint32 decodeIntForKey(const QString& key) override;
    qint64 decodeInt64ForKey(const QString& key) override;
    float decodeFloatForKey(const QString& key) override;
    double decodeDoubleForKey(const QString& key) override;

private:
    bool encodeTop(const Codable* object, bool wrapped);
    // The dictionary of the object; throws corvex::Exception on a circular reference or
    // when nested too deep.
    Value encodeCodable(const Codable& object);
    Value encodeList(const std::vector<CodablePtr>& objects);
    // The JSON form of a plain value; Null for "nothing".
    Value plainForm(const Value& value, int depth);
    ValueDictionary* currentDictionary();
    void put(const QString& key, Value value);

    std::vector<const void*> mObjectStack; // identities of the objects and lists being encoded
    std::vector<ValueDictionary> mJsonObjectStack;
    std::vector<std::pair<QString, int>> mClassNesting; // open objects per class name
    Value mFinalJSONObject;
    Error mError;
    bool mInvalidNumber = false;
};

} // namespace corvex
