#include "platform/core/JsonText.h"

#include "platform/core/Base64.h"
#include "platform/core/DateText.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <nlohmann/json.hpp>
#include <string>
#include <unordered_map>

namespace corvex {

const QString JsonText::ErrorDomain = QStringLiteral("com.tallowfen.corvex.json");

namespace {

using Json = nlohmann::ordered_json;

// Builds Values from the parser's events with an explicit stack of open containers.
class ValueBuilder
{
public:
    explicit ValueBuilder(int maxDepth) : mMaxDepth(maxDepth < 0 ? 0 : std::size_t(maxDepth)) {}

    bool null() { return deliver(Value()); }
    bool boolean(bool value) { return deliver(Value(value)); }
    bool number_integer(Json::number_integer_t value) { return deliver(Value(qint64(value))); }
    bool number_unsigned(Json::number_unsigned_t value) { return deliver(Value(quint64(value))); }
    bool number_float(Json::number_float_t value, const Json::string_t& text)
    {
        if (!std::isfinite(value)) {
            mError = Error(
                JsonText::ErrorDomain, JsonText::NumberOutOfRange,
                QStringLiteral("Invalid JSON: the number %1 is out of range")
                    .arg(QString::fromUtf8(text.data(), qsizetype(std::min<std::size_t>(text.size(), 64)))));
            return false;
        }
        return deliver(Value(double(value)));
    }
    bool string(Json::string_t& value)
    {
        return deliver(Value(QString::fromUtf8(value.data(), qsizetype(value.size()))));
    }
    bool binary(Json::binary_t&) { return deliver(Value()); } // not produced by JSON text

    bool start_object(std::size_t) { return open(true); }
    bool key(Json::string_t& key)
    {
        mStack.back().key = internedKey(key);
        return true;
    }
    bool end_object() { return close(); }
    bool start_array(std::size_t) { return open(false); }
    bool end_array() { return close(); }

    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception& ex)
    {
        // 406: a number beyond the range of a double.
        const JsonText::ErrorCode code = ex.id == 406 ? JsonText::NumberOutOfRange : JsonText::SyntaxError;
        mError = Error(JsonText::ErrorDomain, code,
                       QStringLiteral("Invalid JSON: %1").arg(QString::fromUtf8(ex.what())));
        return false;
    }

    Value takeResult() { return std::move(mResult); }
    const Error& error() const { return mError; }

private:
    struct Frame
    {
        bool object = false;
        ValueArray array;
        ValueDictionary dictionary;
        QString key;
    };

    bool open(bool object)
    {
        if (mStack.size() >= mMaxDepth) {
            mError = Error(JsonText::ErrorDomain, JsonText::TooDeep,
                           QStringLiteral("Invalid JSON: arrays and objects nest deeper than %1 levels")
                               .arg(qulonglong(mMaxDepth)));
            return false;
        }
        mStack.emplace_back();
        mStack.back().object = object;
        return true;
    }

    bool close()
    {
        Frame frame = std::move(mStack.back());
        mStack.pop_back();
        if (frame.object)
            return deliver(Value(std::move(frame.dictionary)));
        return deliver(Value(std::move(frame.array)));
    }

    bool deliver(Value value)
    {
        if (mStack.empty()) {
            mResult = std::move(value);
        } else if (Frame& top = mStack.back(); top.object) {
            top.dictionary.insert(top.key, std::move(value));
        } else {
            top.array.push_back(std::move(value));
        }
        return true;
    }

    // Documents repeat the same few keys thousands of times; sharing one QString per key
    // saves an allocation for each.
    QString internedKey(const std::string& key)
    {
        constexpr std::size_t kMaxInternedLength = 64;
        constexpr std::size_t kMaxInterned = 1024;
        if (key.size() > kMaxInternedLength)
            return QString::fromUtf8(key.data(), qsizetype(key.size()));
        if (auto it = mKeys.find(key); it != mKeys.end())
            return it->second;
        QString text = QString::fromUtf8(key.data(), qsizetype(key.size()));
        if (mKeys.size() < kMaxInterned)
            mKeys.emplace(key, text);
        return text;
    }

    std::size_t mMaxDepth;
    std::vector<Frame> mStack;
    Value mResult;
    Error mError;
    std::unordered_map<std::string, QString> mKeys;
};

// --- Writing -------------------------------------------------------------------------

void appendEscaped(QByteArray& out, const QString& text)
{
    static constexpr char kHex[] = "0123456789abcdef";
    const QByteArray utf8 = text.toUtf8();
    out.append('"');
    const char* begin = utf8.constData();
    const char* end = begin + utf8.size();
    const char* run = begin;
    for (const char* p = begin; p != end; ++p) {
        const unsigned char c = static_cast<unsigned char>(*p);
        if (c >= 0x20 && c != '"' && c != '\\')
            continue;
        out.append(run, p - run);
        run = p + 1;
        switch (c) {
        case '"':
            out.append("\\\"", 2);
            break;
        case '\\':
            out.append("\\\\", 2);
            break;
        case '\b':
            out.append("\\b", 2);
            break;
        case '\f':
            out.append("\\f", 2);
            break;
        case '\n':
            out.append("\\n", 2);
            break;
        case '\r':
            out.append("\\r", 2);
            break;
        case '\t':
            out.append("\\t", 2);
            break;
        default: {
            const char escape[6] = {'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 0xF]};
            out.append(escape, 6);
        }
        }
    }
    out.append(run, end - run);
    out.append('"');
}

void appendIntegerText(QByteArray& out, qint64 value)
{
    char buffer[24];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, result.ptr - buffer);
}

void appendReal(QByteArray& out, double value)
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
                appendEscaped(mOut, entry.first);
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
            appendIntegerText(mOut, value.toInteger());
            break;
        case Value::Type::Real:
            appendReal(mOut, value.toReal());
            break;
        case Value::Type::String:
            appendEscaped(mOut, value.toString());
            break;
        case Value::Type::Data:
            appendEscaped(mOut, Base64::encode(value.toData()));
            break;
        case Value::Type::Date:
            appendEscaped(mOut, DateText::format(value.toDate()));
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

QByteArray write(const Value& value, bool pretty)
{
    QByteArray out;
    Writer(out, pretty).write(value);
    return out;
}

} // namespace

Result<Value> JsonText::parse(const QByteArray& utf8, int maxDepth)
{
    ValueBuilder builder(maxDepth);
    try {
        const char* begin = utf8.constData();
        const bool ok = Json::sax_parse(begin, begin + utf8.size(), &builder, Json::input_format_t::json,
                                        /*strict=*/true, /*ignore_comments=*/false);
        if (!ok) {
            if (!builder.error().isNull())
                return builder.error();
            return Error(ErrorDomain, SyntaxError, QStringLiteral("Invalid JSON"));
        }
    } catch (const std::bad_alloc&) {
        return Error(ErrorDomain, OutOfMemory, QStringLiteral("Out of memory while reading JSON"));
    } catch (const std::exception& ex) {
        return Error(ErrorDomain, SyntaxError,
                     QStringLiteral("Invalid JSON: %1").arg(QString::fromUtf8(ex.what())));
    }
    return builder.takeResult();
}

QByteArray JsonText::serialize(const Value& value)
{
    return write(value, false);
}

QByteArray JsonText::serializePretty(const Value& value)
{
    return write(value, true);
}

} // namespace corvex
