#pragma once

#include "platform/core/Error.h"
#include "platform/core/Result.h"
#include "platform/core/Value.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>
#include <memory>
#include <vector>

namespace corvex {

// Receives the events of JsonText::read in the order of the text. Each answers false to stop
// the reading, which then fails with JsonText::Stopped.
class JsonHandler
{
public:
    virtual ~JsonHandler();
    virtual bool null() = 0;
    virtual bool boolean(bool value) = 0;
    // Integers that fit qint64.
    virtual bool integer(qint64 value) = 0;
    // Every other number: larger unsigned integers, and numbers with a fraction or an
    // exponent. Always finite (a number beyond a double fails the reading).
    virtual bool real(double value) = 0;
    // Valid UTF-8 with the escapes resolved; JsonText::stringFromUtf8 makes the text of it.
    virtual bool string(QByteArrayView utf8) = 0;
    // A member's key, as string() gives texts.
    virtual bool key(QByteArrayView utf8) = 0;
    virtual bool startObject() = 0;
    virtual bool endObject() = 0;
    virtual bool startArray() = 0;
    virtual bool endArray() = 0;
};

// JSON text in pieces, for text that is never whole in memory (an inflating stream).
class JsonSource
{
public:
    virtual ~JsonSource();
    // Copies up to `capacity` (at least 1) more bytes into `buffer` and answers how many;
    // 0 at the end of the text. A failure answers the error; the reading fails with it.
    virtual Result<qsizetype> read(char* buffer, qsizetype capacity) = 0;
    // Starts the text again from its beginning; false when the source cannot.
    virtual bool rewind() = 0;
};

// Builds a Value from the events of one JSON value: what JsonText::parse uses, and what a
// reader uses for the part of a text it keeps as plain values. Feed it the events of exactly
// one value (a scalar, or a container from its start to its end); done() tells when that
// value is complete.
class JsonValueBuilder final : public JsonHandler
{
public:
    JsonValueBuilder();
    ~JsonValueBuilder() override;

    bool done() const { return mDone; }
    // The finished value; the builder is then ready for the next one.
    Value take();

    bool null() override;
    bool boolean(bool value) override;
    bool integer(qint64 value) override;
    bool real(double value) override;
    bool string(QByteArrayView utf8) override;
    bool key(QByteArrayView utf8) override;
    bool startObject() override;
    bool endObject() override;
    bool startArray() override;
    bool endArray() override;

private:
    struct Frame;
    bool deliver(Value value);
    QString internedKey(QByteArrayView utf8);

    std::vector<Frame> mStack;
    Value mResult;
    bool mDone = false;
    struct KeyTable;
    std::unique_ptr<KeyTable> mKeys;
};

// How JsonText reads (see JsonText::ReadOptions).
struct JsonReadOptions
{
    // At most this many arrays and objects may be open at once (JsonText::DefaultMaxDepth).
    int maxDepth = 2100;
    // An escape of a lone UTF-16 surrogate ("\ud800" without its partner) reads as U+FFFD
    // instead of failing the whole text: what stored documents need, where one broken
    // character must not cost every other one.
    bool replaceLoneSurrogates = false;
};

// JSON text to and from Values. Key order is preserved both ways: parsing keeps the order
// of the text and writing follows the dictionaries' insertion order.
class JsonText
{
public:
    // A stored document of the deepest allowed idea tree (1,000 levels, each an idea object
    // and its "ideas" array, under three wrapper levels) nests about 2,003 levels; the
    // default leaves room above that. Parsing is iterative, so the bound protects the code
    // that walks the result, not the parser. Callers reading other inputs pass their own.
    static constexpr int DefaultMaxDepth = 2100;
    static_assert(DefaultMaxDepth == JsonReadOptions().maxDepth);

    static const QString ErrorDomain; // "com.tallowfen.corvex.json"
    enum ErrorCode
    {
        SyntaxError = 1,      // not JSON, or not valid UTF-8 (the text carries the parser's message)
        TooDeep = 2,          // arrays and objects nested deeper than maxDepth
        NumberOutOfRange = 3, // a number beyond the range of a double (it could not be written back)
        OutOfMemory = 4,
        Stopped = 5, // the handler stopped the reading
    };

    using ReadOptions = JsonReadOptions;

    // One JSON value (any type at the top). Integers that fit qint64 become Integer; larger
    // unsigned integers and every number with a fraction or exponent become Real. A repeated
    // key keeps its first position and takes the last value. At most maxDepth arrays and
    // objects may be open at once. A lone surrogate escape fails.
    static Result<Value> parse(const QByteArray& utf8, int maxDepth = DefaultMaxDepth);

    // Reads one JSON value and hands its events to the handler, without building anything,
    // from a whole text or from a source. It accepts exactly the texts parse accepts and
    // hands over the same values (a reader of its own, faster than parse's; the error texts
    // are worded alike, and replaceLoneSurrogates makes it accept lone surrogate escapes).
    // A failure of the source is answered as it is.
    static Status read(const QByteArray& utf8, JsonHandler& handler, const ReadOptions& options = {});
    static Status read(JsonSource& source, JsonHandler& handler, const ReadOptions& options = {});

    // The text of a JSON string's UTF-8 (valid, as the reader hands it over). Unlike
    // QString::fromUtf8 it keeps a leading U+FEFF: in JSON that is a character of the text,
    // not a byte-order mark. Allocates exactly the text's length.
    static QString stringFromUtf8(QByteArrayView utf8);

    // Compact UTF-8. Data is written as Base64 text, Date as DateText, NaN and infinities as
    // null; a Real always keeps a fraction or exponent so that it reads back as Real.
    static QByteArray serialize(const Value& value);
    // The same, indented by two spaces with one member or element per line.
    static QByteArray serializePretty(const Value& value);

    // The pieces of serialize, appended to `out`, for writers that make JSON text directly.
    // A string is quoted and escaped as serialize writes it (a lone surrogate becomes "?",
    // as QString::toUtf8 makes it).
    static void appendString(QByteArray& out, QStringView text);
    // The same written at `out`, which has room for writtenStringBound(text.size()) bytes;
    // answers the end of what was written. For writers that keep their own cursor.
    static char* writeString(char* out, QStringView text);
    static constexpr qsizetype writtenStringBound(qsizetype units) { return units * 6 + 2; }
    // A dictionary member's key as appendString writes it, then ':'; a ',' before it when it
    // follows another member.
    static void appendKey(QByteArray& out, QStringView key, bool afterAnother);
    static void appendInteger(QByteArray& out, qint64 value);
    // Nothing finite: "null".
    static void appendReal(QByteArray& out, double value);
    static void appendValue(QByteArray& out, const Value& value);
};

} // namespace corvex
