#include "platform/core/JsonText.h"

#include "platform/core/Base64.h"
#include "platform/core/DateText.h"
#include "platform/core/JsonStringBytes.h"

#include <QHash>
#include <QStringDecoder>
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#include <iterator>
#include <limits>
#include <nlohmann/json.hpp>
#include <string>

namespace corvex {

const QString JsonText::ErrorDomain = QStringLiteral("com.tallowfen.corvex.json");

JsonHandler::~JsonHandler() = default;
JsonSource::~JsonSource() = default;

namespace {

using Json = nlohmann::json;

// ---- Reading --------------------------------------------------------------------------

// Hands nlohmann's events to a JsonHandler, with the depth bound and our error forms.
class SaxBridge
{
public:
    SaxBridge(JsonHandler& handler, int maxDepth)
        : mHandler(handler), mMaxDepth(maxDepth < 0 ? 0 : std::size_t(maxDepth))
    {}

    bool null() { return forward(mHandler.null()); }
    bool boolean(bool value) { return forward(mHandler.boolean(value)); }
    bool number_integer(Json::number_integer_t value) { return forward(mHandler.integer(qint64(value))); }
    bool number_unsigned(Json::number_unsigned_t value)
    {
        if (value <= Json::number_unsigned_t(std::numeric_limits<qint64>::max()))
            return forward(mHandler.integer(qint64(value)));
        return forward(mHandler.real(double(value)));
    }
    bool number_float(Json::number_float_t value, const Json::string_t& text)
    {
        if (!std::isfinite(value)) {
            mError = Error(
                JsonText::ErrorDomain, JsonText::NumberOutOfRange,
                QStringLiteral("Invalid JSON: the number %1 is out of range")
                    .arg(QString::fromUtf8(text.data(), qsizetype(std::min<std::size_t>(text.size(), 64)))));
            return false;
        }
        return forward(mHandler.real(double(value)));
    }
    bool string(Json::string_t& value)
    {
        return forward(mHandler.string(QByteArrayView(value.data(), qsizetype(value.size()))));
    }
    bool binary(Json::binary_t&) { return forward(mHandler.null()); } // not produced by JSON text

    bool start_object(std::size_t) { return open() && forward(mHandler.startObject()); }
    bool key(Json::string_t& key)
    {
        return forward(mHandler.key(QByteArrayView(key.data(), qsizetype(key.size()))));
    }
    bool end_object()
    {
        --mDepth;
        return forward(mHandler.endObject());
    }
    bool start_array(std::size_t) { return open() && forward(mHandler.startArray()); }
    bool end_array()
    {
        --mDepth;
        return forward(mHandler.endArray());
    }

    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception& ex)
    {
        // 406: a number beyond the range of a double.
        const JsonText::ErrorCode code = ex.id == 406 ? JsonText::NumberOutOfRange : JsonText::SyntaxError;
        mError = Error(JsonText::ErrorDomain, code,
                       QStringLiteral("Invalid JSON: %1").arg(QString::fromUtf8(ex.what())));
        return false;
    }

    // Why the reading ended early; null when it did not.
    Error failure() const
    {
        if (!mError.isNull())
            return mError;
        if (mStopped)
            return Error(JsonText::ErrorDomain, JsonText::Stopped, QStringLiteral("The reading was stopped"));
        return Error();
    }

private:
    bool open()
    {
        if (mDepth >= mMaxDepth) {
            mError = Error(JsonText::ErrorDomain, JsonText::TooDeep,
                           QStringLiteral("Invalid JSON: arrays and objects nest deeper than %1 levels")
                               .arg(qulonglong(mMaxDepth)));
            return false;
        }
        ++mDepth;
        return true;
    }

    bool forward(bool ok)
    {
        if (!ok)
            mStopped = true;
        return ok;
    }

    JsonHandler& mHandler;
    std::size_t mMaxDepth;
    std::size_t mDepth = 0;
    bool mStopped = false;
    Error mError;
};

// RFC 3629's well-formed sequences: no overlong forms, no surrogates, nothing above U+10FFFF.
bool validSequence(const char* at, int length)
{
    const quint8 b0 = quint8(at[0]);
    const quint8 b1 = quint8(at[1]);
    if (length == 2)
        return b0 >= 0xC2 && b0 <= 0xDF && utf8Continuation(b1);
    const quint8 b2 = quint8(at[2]);
    if (length == 3) {
        if (b0 == 0xE0)
            return utf8Continuation(b1, 0xA0, 0xBF) && utf8Continuation(b2);
        if (b0 == 0xED)
            return utf8Continuation(b1, 0x80, 0x9F) && utf8Continuation(b2);
        return b0 >= 0xE1 && b0 <= 0xEF && utf8Continuation(b1) && utf8Continuation(b2);
    }
    const quint8 b3 = quint8(at[3]);
    if (b0 == 0xF0)
        return utf8Continuation(b1, 0x90, 0xBF) && utf8Continuation(b2) && utf8Continuation(b3);
    if (b0 == 0xF4)
        return utf8Continuation(b1, 0x80, 0x8F) && utf8Continuation(b2) && utf8Continuation(b3);
    return b0 >= 0xF1 && b0 <= 0xF3 && utf8Continuation(b1) && utf8Continuation(b2) && utf8Continuation(b3);
}

// The length of the UTF-8 sequence a lead byte begins (a byte that begins none gives a
// length validSequence refuses).
int sequenceLength(quint8 lead)
{
    return lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
}

// Reads JSON text and hands its events to a JsonHandler: the reader behind JsonText::read,
// written for speed (documents of a hundred thousand ideas are read on every opening). It
// accepts exactly what nlohmann's parser, behind JsonText::parse, accepts (the fuzz target
// fuzz_json_text holds the two to that): RFC 8259 text with strictly valid UTF-8, an
// optional UTF-8 byte-order mark before it, and nothing but whitespace after the one value.
// Texts are handed over where they lie in the input when they hold no escape; a source's
// pieces are read into a window that moves on, and a token cut by a window's end is
// completed in a buffer of its own.
class JsonScanner
{
public:
    JsonScanner(JsonHandler& handler, const JsonReadOptions& options, const char* data, qsizetype size)
        : mHandler(handler), mOptions(options), mPos(data), mEnd(data + size), mWindow(data)
    {}

    JsonScanner(JsonHandler& handler, const JsonReadOptions& options, JsonSource& source)
        : mHandler(handler), mOptions(options), mSource(&source), mBuffer(std::size_t(kPiece))
    {
        mPos = mEnd = mWindow = mBuffer.data();
    }

    Status run()
    {
        try {
            if (readText())
                return Status();
        } catch (const std::bad_alloc&) {
            return Error(JsonText::ErrorDomain, JsonText::OutOfMemory,
                         QStringLiteral("Out of memory while reading JSON"));
        }
        // A source that failed is the cause; what the text seemed to lack follows from it.
        if (!mSourceError.isNull())
            return mSourceError;
        if (!mError.isNull())
            return mError;
        return Error(JsonText::ErrorDomain, JsonText::Stopped, QStringLiteral("The reading was stopped"));
    }

private:
    static constexpr qsizetype kPiece = 64 * 1024;

    enum class Expect
    {
        Value,
        ValueOrArrayEnd,
        KeyOrObjectEnd,
        Key,
        Colon,
        AfterValue,
    };

    // ---- The window

    // At least `count` bytes from mPos on, moving the window when they come from a source;
    // false when the text ends first.
    bool ensure(qsizetype count) { return mEnd - mPos >= count || moveWindow(count); }

    [[gnu::noinline]] bool moveWindow(qsizetype count)
    {
        if (mSource == nullptr || mSourceDone)
            return false;
        const qsizetype kept = mEnd - mPos;
        mBase += mPos - mWindow;
        if (count + kPiece > qsizetype(mBuffer.size()))
            mBuffer.resize(std::size_t(std::max<qsizetype>(count + kPiece, qsizetype(mBuffer.size()) * 2)));
        char* buffer = mBuffer.data();
        std::memmove(buffer, mPos, std::size_t(kept));
        qsizetype filled = kept;
        while (filled < count || filled == kept) {
            const Result<qsizetype> got = mSource->read(buffer + filled, qsizetype(mBuffer.size()) - filled);
            if (!got.ok()) {
                mSourceError = got.error();
                mSourceDone = true;
                break;
            }
            if (got.value() <= 0) {
                mSourceDone = true;
                break;
            }
            filled += std::min(got.value(), qsizetype(mBuffer.size()) - filled);
            if (filled == qsizetype(mBuffer.size()))
                break;
        }
        mWindow = mPos = buffer;
        mEnd = buffer + filled;
        return filled >= count;
    }

    bool atEnd() { return !ensure(1); }

    qint64 offset(const char* at) const { return mBase + (at - mWindow); }

    // nlohmann's wording, so that both readers describe a fault alike.
    bool syntaxError(const char* at, const QString& what)
    {
        if (!mSourceError.isNull())
            return false; // the text ends early because its source failed
        const qint64 column = offset(at) - mLineStart + 1;
        mError = Error(JsonText::ErrorDomain, JsonText::SyntaxError,
                       QStringLiteral("Invalid JSON: parse error at line %1, column %2: syntax error while "
                                      "parsing value - %3")
                           .arg(mLine)
                           .arg(column)
                           .arg(what));
        return false;
    }

    void skipWhitespace()
    {
        // Compact text has none at all.
        if (mPos < mEnd && quint8(*mPos) > ' ')
            return;
        for (;;) {
            const char* p = mPos;
            while (p < mEnd) {
                const char c = *p;
                if (c == ' ' || c == '\t' || c == '\r') {
                    ++p;
                } else if (c == '\n') {
                    ++p;
                    ++mLine;
                    mLineStart = offset(p);
                } else {
                    mPos = p;
                    return;
                }
            }
            mPos = p;
            if (!ensure(1))
                return;
        }
    }

    // ---- The text

    bool readText()
    {
        // A byte-order mark may stand before the text, and nothing else of it.
        if (ensure(1) && quint8(*mPos) == 0xEF) {
            if (!ensure(3) || quint8(mPos[1]) != 0xBB || quint8(mPos[2]) != 0xBF)
                return syntaxError(mPos, QStringLiteral("invalid BOM; must be 0xEF 0xBB 0xBF if given"));
            mPos += 3;
            mLineStart = offset(mPos);
        }
        std::vector<char> open; // '[' or '{' per open container
        Expect expect = Expect::Value;
        for (;;) {
            skipWhitespace();
            if (expect == Expect::AfterValue && open.empty()) {
                if (!atEnd())
                    return syntaxError(mPos, QStringLiteral("unexpected content; expected end of input"));
                return true;
            }
            if (atEnd())
                return syntaxError(mPos, QStringLiteral("unexpected end of input"));
            const char c = *mPos;
            switch (expect) {
            case Expect::ValueOrArrayEnd:
                if (c == ']') {
                    ++mPos;
                    open.pop_back();
                    if (!mHandler.endArray())
                        return false;
                    expect = Expect::AfterValue;
                    continue;
                }
                [[fallthrough]];
            case Expect::Value:
                if (c == '{' || c == '[') {
                    if (open.size() >= std::size_t(std::max(0, mOptions.maxDepth))) {
                        mError = Error(
                            JsonText::ErrorDomain, JsonText::TooDeep,
                            QStringLiteral("Invalid JSON: arrays and objects nest deeper than %1 levels")
                                .arg(qulonglong(std::max(0, mOptions.maxDepth))));
                        return false;
                    }
                    ++mPos;
                    open.push_back(c);
                    if (!(c == '{' ? mHandler.startObject() : mHandler.startArray()))
                        return false;
                    expect = c == '{' ? Expect::KeyOrObjectEnd : Expect::ValueOrArrayEnd;
                    continue;
                }
                if (!scalar())
                    return false;
                expect = Expect::AfterValue;
                continue;
            case Expect::KeyOrObjectEnd:
                if (c == '}') {
                    ++mPos;
                    open.pop_back();
                    if (!mHandler.endObject())
                        return false;
                    expect = Expect::AfterValue;
                    continue;
                }
                [[fallthrough]];
            case Expect::Key: {
                if (c != '"')
                    return syntaxError(mPos, QStringLiteral("object key; expected string literal"));
                ++mPos;
                QByteArrayView key;
                if (!string(key))
                    return false;
                if (!mHandler.key(key))
                    return false;
                expect = Expect::Colon;
                continue;
            }
            case Expect::Colon:
                if (c != ':')
                    return syntaxError(mPos, QStringLiteral("object separator; expected ':'"));
                ++mPos;
                expect = Expect::Value;
                continue;
            case Expect::AfterValue:
                if (c == ',') {
                    ++mPos;
                    expect = open.back() == '{' ? Expect::Key : Expect::Value;
                    continue;
                }
                if (c == (open.back() == '{' ? '}' : ']')) {
                    ++mPos;
                    const bool object = open.back() == '{';
                    open.pop_back();
                    if (!(object ? mHandler.endObject() : mHandler.endArray()))
                        return false;
                    continue;
                }
                return syntaxError(mPos, open.back() == '{' ? QStringLiteral("object; expected '}'")
                                                            : QStringLiteral("array; expected ']'"));
            }
        }
    }

    // A text, number, true, false or null at mPos.
    bool scalar()
    {
        const char c = *mPos;
        if (c == '"') {
            ++mPos;
            QByteArrayView text;
            return string(text) && mHandler.string(text);
        }
        if (c == '-' || (c >= '0' && c <= '9'))
            return number();
        const char* word = c == 't' ? "true" : c == 'f' ? "false" : c == 'n' ? "null" : nullptr;
        if (word != nullptr) {
            const qsizetype length = qsizetype(std::strlen(word));
            if (ensure(length) && std::memcmp(mPos, word, std::size_t(length)) == 0) {
                mPos += length;
                if (c == 'n')
                    return mHandler.null();
                return mHandler.boolean(c == 't');
            }
        }
        return syntaxError(mPos, QStringLiteral("invalid literal"));
    }

    // The rest of a string after its opening quote; `text` is valid until the next event.
    bool string(QByteArrayView& text)
    {
        mToken.truncate(0); // keeps its room for the next text that needs it
        bool copied = false;
        const char* run = mPos; // the part not copied yet
        const char* p = mPos;
        for (;;) {
            // Plain ASCII, the most of every document, goes by sixteen bytes at a time.
            p = plainJsonStringRun(p, mEnd);
            if (p == mEnd) {
                mToken.append(run, p - run);
                copied = true;
                mPos = p;
                if (!ensure(1))
                    return syntaxError(mPos, QStringLiteral("invalid string: missing closing quote"));
                run = p = mPos;
                continue;
            }
            const quint8 c = quint8(*p);
            if (c == '"') {
                if (copied) {
                    mToken.append(run, p - run);
                    text = QByteArrayView(mToken.constData(), mToken.size());
                } else {
                    text = QByteArrayView(run, p - run);
                }
                mPos = p + 1;
                return true;
            }
            if (c < 0x20)
                return syntaxError(
                    p, QStringLiteral("invalid string: control character U+%1 must be escaped")
                           .arg(QString::number(c, 16).toUpper().rightJustified(4, QLatin1Char('0'))));
            if (c >= 0x80) {
                // A character of several bytes, checked where it lies while it lies whole in
                // the window.
                const int length = sequenceLength(c);
                if (mEnd - p >= length) {
                    if (!validSequence(p, length))
                        return syntaxError(p, QStringLiteral("invalid string: ill-formed UTF-8 byte"));
                    p += length;
                    // Such characters come in runs (a word of Cyrillic, a line of Chinese):
                    // the next ones are checked here while they are whole in the window.
                    while (mEnd - p >= 4 && quint8(*p) >= 0x80) {
                        const int next = sequenceLength(quint8(*p));
                        if (!validSequence(p, next))
                            return syntaxError(p, QStringLiteral("invalid string: ill-formed UTF-8 byte"));
                        p += next;
                    }
                    continue;
                }
            }
            // An escape or a character cut by the window's end: the text so far is copied,
            // so that the window can move.
            mToken.append(run, p - run);
            copied = true;
            mPos = p;
            if (c == '\\') {
                if (!escape())
                    return false;
            } else {
                const int length = sequenceLength(c);
                if (!ensure(length) || !validSequence(mPos, length))
                    return syntaxError(mPos, QStringLiteral("invalid string: ill-formed UTF-8 byte"));
                mToken.append(mPos, length);
                mPos += length;
            }
            run = p = mPos;
        }
    }

    void appendUtf8(char32_t code)
    {
        char out[4];
        int length;
        if (code < 0x80) {
            out[0] = char(code);
            length = 1;
        } else if (code < 0x800) {
            out[0] = char(0xC0 | (code >> 6));
            out[1] = char(0x80 | (code & 0x3F));
            length = 2;
        } else if (code < 0x10000) {
            out[0] = char(0xE0 | (code >> 12));
            out[1] = char(0x80 | ((code >> 6) & 0x3F));
            out[2] = char(0x80 | (code & 0x3F));
            length = 3;
        } else {
            out[0] = char(0xF0 | (code >> 18));
            out[1] = char(0x80 | ((code >> 12) & 0x3F));
            out[2] = char(0x80 | ((code >> 6) & 0x3F));
            out[3] = char(0x80 | (code & 0x3F));
            length = 4;
        }
        mToken.append(out, length);
    }

    // The escape at mPos (a backslash), its character appended to mToken.
    bool escape()
    {
        if (!ensure(2))
            return syntaxError(mPos, QStringLiteral("invalid string: missing closing quote"));
        const char kind = mPos[1];
        char plain = 0;
        switch (kind) {
        case '"':
            plain = '"';
            break;
        case '\\':
            plain = '\\';
            break;
        case '/':
            plain = '/';
            break;
        case 'b':
            plain = '\b';
            break;
        case 'f':
            plain = '\f';
            break;
        case 'n':
            plain = '\n';
            break;
        case 'r':
            plain = '\r';
            break;
        case 't':
            plain = '\t';
            break;
        case 'u':
            return unicodeEscape();
        default:
            return syntaxError(mPos + 1,
                               QStringLiteral("invalid string: forbidden character after backslash"));
        }
        mToken.append(plain);
        mPos += 2;
        return true;
    }

    bool unicodeEscape()
    {
        const int unit = ensure(6) ? jsonHexUnit(mPos + 2) : -1;
        if (unit < 0)
            return syntaxError(mPos,
                               QStringLiteral("invalid string: '\\u' must be followed by 4 hex digits"));
        char32_t code = char32_t(unit);
        qsizetype length = 6;
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            const bool escapeFollows = ensure(8) && mPos[6] == '\\' && mPos[7] == 'u';
            const int next = escapeFollows && ensure(12) ? jsonHexUnit(mPos + 8) : -1;
            if (next >= 0xDC00 && next <= 0xDFFF) {
                code = 0x10000 + ((char32_t(unit) - 0xD800) << 10) + (char32_t(next) - 0xDC00);
                length = 12;
            } else if (escapeFollows && next < 0 && !mOptions.replaceLoneSurrogates) {
                return syntaxError(mPos + 6,
                                   QStringLiteral("invalid string: '\\u' must be followed by 4 hex digits"));
            } else if (mOptions.replaceLoneSurrogates) {
                code = 0xFFFD;
            } else {
                return syntaxError(mPos, QStringLiteral("invalid string: surrogate U+D800..U+DBFF must be "
                                                        "followed by U+DC00..U+DFFF"));
            }
        } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
            if (!mOptions.replaceLoneSurrogates)
                return syntaxError(mPos,
                                   QStringLiteral("invalid string: surrogate U+DC00..U+DFFF must follow "
                                                  "U+D800..U+DBFF"));
            code = 0xFFFD;
        }
        appendUtf8(code);
        mPos += length;
        return true;
    }

    bool number()
    {
        // The whole number must lie in the window; it is rarely more than a few bytes.
        for (;;) {
            const char* p = mPos;
            const char* const start = p;
            bool integral = true;
            const auto digits = [&p, this] {
                const char* first = p;
                while (p < mEnd && *p >= '0' && *p <= '9')
                    ++p;
                return p - first;
            };
            if (p < mEnd && *p == '-')
                ++p;
            if (p < mEnd && *p == '0') {
                ++p;
            } else if (digits() == 0) {
                if (p == mEnd && ensure((p - start) + 1))
                    continue;
                return syntaxError(p, QStringLiteral("invalid number; expected digit after '-'"));
            }
            if (p < mEnd && *p == '.') {
                ++p;
                integral = false;
                if (digits() == 0) {
                    if (p == mEnd && ensure((p - start) + 1))
                        continue;
                    return syntaxError(p, QStringLiteral("invalid number; expected digit after '.'"));
                }
            }
            if (p < mEnd && (*p == 'e' || *p == 'E')) {
                ++p;
                integral = false;
                if (p < mEnd && (*p == '+' || *p == '-'))
                    ++p;
                if (digits() == 0) {
                    if (p == mEnd && ensure((p - start) + 1))
                        continue;
                    return syntaxError(p,
                                       QStringLiteral("invalid number; expected digit after exponent sign"));
                }
            }
            if (p == mEnd && ensure((p - start) + 1))
                continue; // the number may go on in the next piece
            mPos = p;
            return numberValue(start, p, integral);
        }
    }

    bool numberValue(const char* start, const char* end, bool integral)
    {
        if (integral) {
            const bool negative = *start == '-';
            quint64 magnitude = 0;
            bool overflow = false;
            for (const char* d = start + (negative ? 1 : 0); d < end; ++d) {
                const quint64 digit = quint64(*d - '0');
                if (magnitude > (std::numeric_limits<quint64>::max() - digit) / 10) {
                    overflow = true;
                    break;
                }
                magnitude = magnitude * 10 + digit;
            }
            if (!overflow) {
                if (!negative) {
                    if (magnitude <= quint64(std::numeric_limits<qint64>::max()))
                        return mHandler.integer(qint64(magnitude));
                    return mHandler.real(double(magnitude));
                }
                if (magnitude <= quint64(std::numeric_limits<qint64>::max()))
                    return mHandler.integer(-qint64(magnitude));
                if (magnitude == quint64(std::numeric_limits<qint64>::max()) + 1)
                    return mHandler.integer(std::numeric_limits<qint64>::min());
            }
            // Beyond 64 bits: a real, as for nlohmann.
        }
        double value = 0;
        const auto parsed = std::from_chars(start, end, value);
        if (parsed.ec == std::errc::result_out_of_range) {
            // Too small comes back as zero or a denormal, too large as an infinity.
            const std::string text(start, std::size_t(end - start));
            value = std::strtod(text.c_str(), nullptr);
        }
        if (!std::isfinite(value)) {
            mError =
                Error(JsonText::ErrorDomain, JsonText::NumberOutOfRange,
                      QStringLiteral("Invalid JSON: the number %1 is out of range")
                          .arg(QString::fromLatin1(start, qsizetype(std::min<qint64>(end - start, 64)))));
            return false;
        }
        return mHandler.real(value);
    }

    JsonHandler& mHandler;
    const JsonReadOptions mOptions;
    const char* mPos = nullptr;
    const char* mEnd = nullptr;
    const char* mWindow = nullptr; // the window's first byte
    qint64 mBase = 0;              // the offset of the window's first byte in the text
    qint64 mLine = 1;
    qint64 mLineStart = 0;
    JsonSource* mSource = nullptr;
    std::vector<char> mBuffer;
    bool mSourceDone = false;
    Error mSourceError;
    Error mError;
    QByteArray mToken; // a text with escapes, or cut by the window's end
};

template <class Iterator> Status runParser(Iterator begin, Iterator end, SaxBridge& bridge)
{
    try {
        const bool ok = Json::sax_parse(std::move(begin), std::move(end), &bridge, Json::input_format_t::json,
                                        /*strict=*/true, /*ignore_comments=*/false);
        if (!ok) {
            const Error failure = bridge.failure();
            if (!failure.isNull())
                return failure;
            return Error(JsonText::ErrorDomain, JsonText::SyntaxError, QStringLiteral("Invalid JSON"));
        }
    } catch (const std::bad_alloc&) {
        return Error(JsonText::ErrorDomain, JsonText::OutOfMemory,
                     QStringLiteral("Out of memory while reading JSON"));
    } catch (const std::exception& ex) {
        return Error(JsonText::ErrorDomain, JsonText::SyntaxError,
                     QStringLiteral("Invalid JSON: %1").arg(QString::fromUtf8(ex.what())));
    }
    return Status();
}

// How many bytes from `p` on are ASCII.
qsizetype asciiRun(const char* p, qsizetype size)
{
    qsizetype i = 0;
#if defined(__SSE2__)
    for (; i + 16 <= size; i += 16) {
        const int mask = _mm_movemask_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i)));
        if (mask != 0)
            return i + __builtin_ctz(unsigned(mask));
    }
#endif
    while (i < size && quint8(p[i]) < 0x80)
        ++i;
    return i;
}

// Decodes UTF-8 into UTF-16 at `out`, which has room for `size` units (no text has more
// units than bytes), checking each sequence as it goes: one pass over the text. Answers the
// units written, or -1 at the first ill-formed sequence.
qsizetype decodeChecked(const char* p, qsizetype size, char16_t* out)
{
    const char* const end = p + size;
    char16_t* const first = out;
    while (p < end) {
        const quint8 lead = quint8(*p);
        if (lead < 0x80) {
#if defined(__SSE2__)
            // A run of ASCII widens sixteen bytes at a time. All sixteen are written even when
            // fewer are ASCII: what follows overwrites the rest, and the room suffices, for
            // no more units than bytes have been written so far.
            if (end - p >= 16) {
                const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
                const __m128i zero = _mm_setzero_si128();
                _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_unpacklo_epi8(bytes, zero));
                _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 8), _mm_unpackhi_epi8(bytes, zero));
                const int mask = _mm_movemask_epi8(bytes);
                const int ascii = mask == 0 ? 16 : __builtin_ctz(unsigned(mask));
                p += ascii;
                out += ascii;
                continue;
            }
#endif
            *out++ = char16_t(lead);
            ++p;
            continue;
        }
        const int length = sequenceLength(lead);
        if (end - p < length || !validSequence(p, length))
            return -1;
        if (length == 2) {
            *out++ = char16_t(((lead & 0x1F) << 6) | (quint8(p[1]) & 0x3F));
        } else if (length == 3) {
            *out++ = char16_t(((lead & 0x0F) << 12) | ((quint8(p[1]) & 0x3F) << 6) | (quint8(p[2]) & 0x3F));
        } else {
            const char32_t code = (char32_t(lead & 0x07) << 18) | (char32_t(quint8(p[1]) & 0x3F) << 12) |
                                  (char32_t(quint8(p[2]) & 0x3F) << 6) | char32_t(quint8(p[3]) & 0x3F);
            *out++ = char16_t(0xD800 + ((code - 0x10000) >> 10));
            *out++ = char16_t(0xDC00 + ((code - 0x10000) & 0x3FF));
        }
        p += length;
    }
    return out - first;
}

// ---- Writing --------------------------------------------------------------------------

void appendRealText(QByteArray& out, double value)
{
    if (!std::isfinite(value)) {
        out.append("null", 4);
        return;
    }
    char buffer[40];
    // The shortest text that reads back as the same double.
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    const qsizetype length = result.ptr - buffer;
    out.append(buffer, length);
    bool marked = false;
    for (qsizetype i = 0; i < length && !marked; ++i)
        marked = buffer[i] == '.' || buffer[i] == 'e';
    if (!marked)
        out.append(".0", 2);
}

class Writer
{
public:
    Writer(QByteArray& out, bool pretty) : mOut(out), mPretty(pretty) {}

    void write(const Value& root)
    {
        writeOrOpen(root);
        while (!mStack.empty()) {
            Frame& frame = mStack.back();
            if (frame.next == frame.count) {
                const bool object = frame.dictionary != nullptr;
                mStack.pop_back();
                newline();
                mOut.append(object ? '}' : ']');
                continue;
            }
            if (frame.next > 0)
                mOut.append(',');
            newline();
            const Value* element;
            if (frame.dictionary != nullptr) {
                const auto& entry = frame.dictionary->entryAt(frame.next);
                JsonText::appendString(mOut, entry.first);
                mOut.append(mPretty ? ": " : ":");
                element = &entry.second;
            } else {
                element = &(*frame.array)[std::size_t(frame.next)];
            }
            ++frame.next; // before writeOrOpen, which may grow the stack and move the frame
            writeOrOpen(*element);
        }
    }

private:
    struct Frame
    {
        const ValueArray* array = nullptr;
        const ValueDictionary* dictionary = nullptr;
        qsizetype next = 0;
        qsizetype count = 0;
    };

    void newline()
    {
        if (!mPretty)
            return;
        mOut.append('\n');
        mOut.append(QByteArray(qsizetype(mStack.size()) * 2, ' '));
    }

    void writeOrOpen(const Value& value)
    {
        switch (value.type()) {
        case Value::Type::Null:
            mOut.append("null", 4);
            break;
        case Value::Type::Bool:
            if (value.toBool())
                mOut.append("true", 4);
            else
                mOut.append("false", 5);
            break;
        case Value::Type::Integer:
            JsonText::appendInteger(mOut, value.toInteger());
            break;
        case Value::Type::Real:
            appendRealText(mOut, value.toReal());
            break;
        case Value::Type::String:
            JsonText::appendString(mOut, value.toString());
            break;
        case Value::Type::Data:
            JsonText::appendString(mOut, Base64::encode(value.toData()));
            break;
        case Value::Type::Date:
            JsonText::appendString(mOut, DateText::format(value.toDate()));
            break;
        case Value::Type::Array: {
            const ValueArray& array = value.toArray();
            if (array.empty()) {
                mOut.append("[]", 2);
            } else {
                mOut.append('[');
                mStack.push_back(Frame{&array, nullptr, 0, qsizetype(array.size())});
            }
            break;
        }
        case Value::Type::Dictionary: {
            const ValueDictionary& dictionary = value.toDictionary();
            if (dictionary.isEmpty()) {
                mOut.append("{}", 2);
            } else {
                mOut.append('{');
                mStack.push_back(Frame{nullptr, &dictionary, 0, dictionary.size()});
            }
            break;
        }
        }
    }

    QByteArray& mOut;
    bool mPretty;
    std::vector<Frame> mStack;
};

// Writes units [i, blockEnd) of a text escaped as JSON string contents at dst (a surrogate
// pair that straddles blockEnd is written whole, so i may end one past it) and answers the
// end. Six bytes a unit are the worst case (an escaped control character).
char* writeEscapedUnits(char* dst, const char16_t* units, qsizetype& i, qsizetype blockEnd, qsizetype count)
{
    static constexpr char kHex[] = "0123456789abcdef";
    while (i < blockEnd) {
        qsizetype scalarEnd = blockEnd;
#if defined(__SSE2__)
        // Most text is plain ASCII: eight units at a time while none needs an escape or
        // more than one byte; eight that do go unit by unit.
        if (i + 8 <= blockEnd) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(units + i));
            const __m128i wide = _mm_and_si128(v, _mm_set1_epi16(short(0xFF80)));
            __m128i bad = _mm_cmpeq_epi16(wide, _mm_setzero_si128());
            bad = _mm_andnot_si128(bad, _mm_set1_epi16(-1));
            bad = _mm_or_si128(bad, _mm_cmplt_epi16(v, _mm_set1_epi16(0x20)));
            bad = _mm_or_si128(bad, _mm_cmpeq_epi16(v, _mm_set1_epi16(0x22)));
            bad = _mm_or_si128(bad, _mm_cmpeq_epi16(v, _mm_set1_epi16(0x5C)));
            const int mask = _mm_movemask_epi8(bad);
            // The units before the first that needs care are written as they are.
            const qsizetype plain = mask == 0 ? 8 : __builtin_ctz(unsigned(mask)) / 2;
            _mm_storel_epi64(reinterpret_cast<__m128i*>(dst), _mm_packus_epi16(v, v));
            dst += plain;
            i += plain;
            if (mask == 0)
                continue;
            scalarEnd = i + 1;
        }
#endif
        while (i < scalarEnd) {
            const char16_t unit = units[i++];
            if (unit < 0x80) {
                if (unit >= 0x20 && unit != u'"' && unit != u'\\') {
                    *dst++ = char(unit);
                    continue;
                }
                *dst++ = '\\';
                switch (unit) {
                case u'"':
                    *dst++ = '"';
                    break;
                case u'\\':
                    *dst++ = '\\';
                    break;
                case u'\b':
                    *dst++ = 'b';
                    break;
                case u'\f':
                    *dst++ = 'f';
                    break;
                case u'\n':
                    *dst++ = 'n';
                    break;
                case u'\r':
                    *dst++ = 'r';
                    break;
                case u'\t':
                    *dst++ = 't';
                    break;
                default:
                    *dst++ = 'u';
                    *dst++ = '0';
                    *dst++ = '0';
                    *dst++ = kHex[unit >> 4];
                    *dst++ = kHex[unit & 0xF];
                }
            } else if (unit < 0x800) {
                *dst++ = char(0xC0 | (unit >> 6));
                *dst++ = char(0x80 | (unit & 0x3F));
            } else if (unit < 0xD800 || unit > 0xDFFF) {
                *dst++ = char(0xE0 | (unit >> 12));
                *dst++ = char(0x80 | ((unit >> 6) & 0x3F));
                *dst++ = char(0x80 | (unit & 0x3F));
            } else if (unit <= 0xDBFF && i < count && units[i] >= 0xDC00 && units[i] <= 0xDFFF) {
                const char32_t code =
                    0x10000 + ((char32_t(unit) - 0xD800) << 10) + (char32_t(units[i++]) - 0xDC00);
                *dst++ = char(0xF0 | (code >> 18));
                *dst++ = char(0x80 | ((code >> 12) & 0x3F));
                *dst++ = char(0x80 | ((code >> 6) & 0x3F));
                *dst++ = char(0x80 | (code & 0x3F));
            } else {
                *dst++ = '?'; // a lone surrogate, as QString::toUtf8 writes it
            }
        }
    }
    return dst;
}

// A quoted and escaped string between the optional marks `before` and `after` (0 for none).
// Keys and most texts are short: written on the stack and appended at once. Longer ones are
// written in blocks, each with room for its worst case, so that a long text never reserves
// six times its size.
void appendQuotedText(QByteArray& out, QStringView text, char before, char after)
{
    const char16_t* units = text.utf16();
    const qsizetype count = text.size();
    qsizetype i = 0;
    constexpr qsizetype kShort = 48;
    if (count <= kShort) {
        char buffer[kShort * 6 + 4];
        char* dst = buffer;
        if (before != 0)
            *dst++ = before;
        *dst++ = '"';
        dst = writeEscapedUnits(dst, units, i, count, count);
        *dst++ = '"';
        if (after != 0)
            *dst++ = after;
        out.append(buffer, dst - buffer);
        return;
    }
    constexpr qsizetype kBlock = 4096;
    qsizetype pos = out.size();
    bool first = true;
    do {
        const qsizetype blockEnd = std::min(count, i + kBlock);
        // One unit more than the block: a surrogate pair may straddle its end; and room for
        // the marks and quotes around the text.
        out.resize(pos + (blockEnd - i + 1) * 6 + 4);
        char* dst = out.data() + pos;
        char* const start = dst;
        if (first) {
            if (before != 0)
                *dst++ = before;
            *dst++ = '"';
            first = false;
        }
        dst = writeEscapedUnits(dst, units, i, blockEnd, count);
        pos += dst - start;
    } while (i < count);
    char* dst = out.data() + pos;
    *dst++ = '"';
    if (after != 0)
        *dst++ = after;
    out.resize(dst - out.data());
}

QByteArray write(const Value& value, bool pretty)
{
    QByteArray out;
    Writer(out, pretty).write(value);
    return out;
}

} // namespace

// ---- JsonValueBuilder

struct JsonValueBuilder::Frame
{
    bool object = false;
    ValueArray array;
    ValueDictionary dictionary;
    QString key;
};

// Documents repeat the same few keys thousands of times; sharing one QString per key saves
// an allocation for each.
struct JsonValueBuilder::KeyTable
{
    static constexpr qsizetype MaxInternedLength = 64;
    static constexpr qsizetype MaxInterned = 1024;
    QHash<QByteArray, QString> keys;
};

JsonValueBuilder::JsonValueBuilder() : mKeys(std::make_unique<KeyTable>()) {}

JsonValueBuilder::~JsonValueBuilder() = default;

Value JsonValueBuilder::take()
{
    mDone = false;
    mStack.clear();
    return std::move(mResult);
}

bool JsonValueBuilder::null()
{
    return deliver(Value());
}

bool JsonValueBuilder::boolean(bool value)
{
    return deliver(Value(value));
}

bool JsonValueBuilder::integer(qint64 value)
{
    return deliver(Value(value));
}

bool JsonValueBuilder::real(double value)
{
    return deliver(Value(value));
}

bool JsonValueBuilder::string(QByteArrayView utf8)
{
    return deliver(Value(JsonText::stringFromUtf8(utf8)));
}

bool JsonValueBuilder::key(QByteArrayView utf8)
{
    if (mStack.empty())
        return false;
    mStack.back().key = internedKey(utf8);
    return true;
}

bool JsonValueBuilder::startObject()
{
    mStack.emplace_back();
    mStack.back().object = true;
    return true;
}

bool JsonValueBuilder::startArray()
{
    mStack.emplace_back();
    return true;
}

bool JsonValueBuilder::endObject()
{
    if (mStack.empty())
        return false;
    Frame frame = std::move(mStack.back());
    mStack.pop_back();
    return deliver(Value(std::move(frame.dictionary)));
}

bool JsonValueBuilder::endArray()
{
    if (mStack.empty())
        return false;
    Frame frame = std::move(mStack.back());
    mStack.pop_back();
    return deliver(Value(std::move(frame.array)));
}

bool JsonValueBuilder::deliver(Value value)
{
    if (mStack.empty()) {
        mResult = std::move(value);
        mDone = true;
    } else if (Frame& top = mStack.back(); top.object) {
        top.dictionary.insert(top.key, std::move(value));
    } else {
        top.array.push_back(std::move(value));
    }
    return true;
}

QString JsonValueBuilder::internedKey(QByteArrayView utf8)
{
    if (utf8.size() > KeyTable::MaxInternedLength)
        return JsonText::stringFromUtf8(utf8);
    const QByteArray lookup = QByteArray::fromRawData(utf8.data(), utf8.size());
    if (auto it = mKeys->keys.constFind(lookup); it != mKeys->keys.constEnd())
        return *it;
    QString text = JsonText::stringFromUtf8(utf8);
    if (mKeys->keys.size() < KeyTable::MaxInterned)
        mKeys->keys.insert(QByteArray(utf8.data(), utf8.size()), text);
    return text;
}

// ---- JsonText

Status JsonText::read(const QByteArray& utf8, JsonHandler& handler, const ReadOptions& options)
{
    return JsonScanner(handler, options, utf8.constData(), utf8.size()).run();
}

Status JsonText::read(JsonSource& source, JsonHandler& handler, const ReadOptions& options)
{
    return JsonScanner(handler, options, source).run();
}

Result<Value> JsonText::parse(const QByteArray& utf8, int maxDepth)
{
    JsonValueBuilder builder;
    SaxBridge bridge(builder, maxDepth);
    const char* begin = utf8.constData();
    const Status status = runParser(begin, begin + utf8.size(), bridge);
    if (!status.ok())
        return status.error();
    return builder.take();
}

QString JsonText::stringFromUtf8(QByteArrayView utf8)
{
    const char* const begin = utf8.data();
    const qsizetype size = utf8.size();
    if (asciiRun(begin, size) == size)
        return QString::fromLatin1(begin, size);
    // Well-formed text is decoded once, where it needs no allocation of its own for a short
    // text (a title, a note), and then copied into a string of exactly its length.
    constexpr qsizetype kOnStack = 1024;
    if (size <= kOnStack) {
        char16_t units[kOnStack];
        const qsizetype count = decodeChecked(begin, size, units);
        if (count >= 0)
            return QString(reinterpret_cast<const QChar*>(units), count);
    } else {
        QString text(size, Qt::Uninitialized);
        const qsizetype count = decodeChecked(begin, size, reinterpret_cast<char16_t*>(text.data()));
        if (count >= 0) {
            text.truncate(count);
            text.squeeze();
            return text;
        }
    }
    // The decoder's "convert the initial BOM" keeps a leading U+FEFF, which fromUtf8 drops.
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::ConvertInitialBom);
    QString text = decoder.decode(utf8);
    // The decoder reserves one unit per byte; a text a tree keeps should not carry the rest.
    if (text.capacity() > text.size())
        text.squeeze();
    return text;
}

QByteArray JsonText::serialize(const Value& value)
{
    return write(value, false);
}

QByteArray JsonText::serializePretty(const Value& value)
{
    return write(value, true);
}

void JsonText::appendString(QByteArray& out, QStringView text)
{
    appendQuotedText(out, text, 0, 0);
}

char* JsonText::writeString(char* out, QStringView text)
{
    *out++ = '"';
    qsizetype i = 0;
    out = writeEscapedUnits(out, text.utf16(), i, text.size(), text.size());
    *out++ = '"';
    return out;
}

void JsonText::appendKey(QByteArray& out, QStringView key, bool afterAnother)
{
    appendQuotedText(out, key, afterAnother ? ',' : 0, ':');
}

void JsonText::appendInteger(QByteArray& out, qint64 value)
{
    char buffer[24];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, result.ptr - buffer);
}

void JsonText::appendReal(QByteArray& out, double value)
{
    appendRealText(out, value);
}

void JsonText::appendValue(QByteArray& out, const Value& value)
{
    Writer(out, false).write(value);
}

} // namespace corvex
