#include "platform/core/XmlPropertyList.h"

#include "platform/core/SaveFile.h"
#include "platform/core/WholeFileReader.h"

#include <QStringDecoder>
#include <QTimeZone>
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

namespace corvex {

const QString XmlPropertyList::ErrorDomain = QStringLiteral("XmlPropertyListErrorDomain");

namespace {

Error plistError(int code, const QString& reason)
{
    return Error(XmlPropertyList::ErrorDomain, code, reason);
}

bool isXmlSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

bool isNameChar(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '-' || c == ':' || c == '.';
}

// A code point XML 1.0 allows in a document.
bool isXmlChar(char32_t c)
{
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD) ||
           (c >= 0x10000 && c <= 0x10FFFF);
}

struct PlistTag
{
    QByteArray name;
    bool closing = false;
    bool empty = false; // <name/>
};

// One container being filled while the document is read.
struct PlistFrame
{
    QByteArray name; // "dict" or "array"
    ValueArray array;
    ValueDictionary dictionary;
    QString key;
    bool haveKey = false;
};

class PlistReader
{
public:
    explicit PlistReader(const QByteArray& text) : mP(text.constData()), mEnd(text.constData() + text.size())
    {}

    Result<Value> run()
    {
        static const char bom[] = "\xEF\xBB\xBF";
        if (mEnd - mP >= 3 && std::memcmp(mP, bom, 3) == 0)
            mP += 3;
        if (!skipMisc(true))
            return mError;
        PlistTag tag;
        if (!readTag(tag))
            return mError;
        if (tag.closing || tag.name != "plist")
            return fail(XmlPropertyList::Malformed, QStringLiteral("the root element is not <plist>"));
        if (tag.empty)
            return fail(XmlPropertyList::Malformed, QStringLiteral("the property list is empty"));
        std::optional<Value> root = readValueTree();
        if (!root)
            return mError;
        if (!skipMisc(false))
            return mError;
        if (!readTag(tag))
            return mError;
        if (!tag.closing || tag.name != "plist")
            return fail(XmlPropertyList::Malformed, QStringLiteral("<plist> holds more than one value"));
        if (!skipMisc(false))
            return mError;
        if (mP != mEnd)
            return fail(XmlPropertyList::Malformed, QStringLiteral("text after the property list"));
        return std::move(*root);
    }

private:
    Error fail(int code, const QString& reason)
    {
        if (mError.isNull())
            mError = plistError(code, reason);
        return mError;
    }

    bool startsWith(const char* literal) const
    {
        const std::size_t length = std::strlen(literal);
        return std::size_t(mEnd - mP) >= length && std::memcmp(mP, literal, length) == 0;
    }

    // Moves past `terminator`; false (malformed) when it never comes.
    bool skipPast(const char* terminator)
    {
        const std::size_t length = std::strlen(terminator);
        const char* found = std::search(mP, mEnd, terminator, terminator + length);
        if (found == mEnd) {
            fail(XmlPropertyList::Malformed, QStringLiteral("unterminated markup"));
            return false;
        }
        mP = found + length;
        return true;
    }

    // Whitespace, comments and processing instructions; in the prolog also the document
    // type, refused when it carries an internal subset (entity declarations live there).
    bool skipMisc(bool prolog)
    {
        for (;;) {
            while (mP < mEnd && isXmlSpace(*mP))
                ++mP;
            if (startsWith("<?")) {
                if (!skipPast("?>"))
                    return false;
            } else if (startsWith("<!--")) {
                if (!skipPast("-->"))
                    return false;
            } else if (prolog && startsWith("<!DOCTYPE")) {
                const char* q = mP;
                char quote = 0;
                while (q < mEnd && (quote != 0 || *q != '>')) {
                    if (quote != 0) {
                        if (*q == quote)
                            quote = 0;
                    } else if (*q == '"' || *q == '\'') {
                        quote = *q;
                    } else if (*q == '[') {
                        fail(XmlPropertyList::EntityRefused,
                             QStringLiteral("a document type with declarations is refused"));
                        return false;
                    }
                    ++q;
                }
                if (q == mEnd) {
                    fail(XmlPropertyList::Malformed, QStringLiteral("unterminated document type"));
                    return false;
                }
                mP = q + 1;
            } else if (startsWith("<!")) {
                fail(XmlPropertyList::EntityRefused, QStringLiteral("markup declarations are refused"));
                return false;
            } else {
                return true;
            }
        }
    }

    bool readTag(PlistTag& tag)
    {
        tag = PlistTag();
        if (mP >= mEnd || *mP != '<') {
            fail(XmlPropertyList::Malformed, QStringLiteral("an element was expected"));
            return false;
        }
        ++mP;
        if (mP < mEnd && *mP == '/') {
            tag.closing = true;
            ++mP;
        }
        const char* nameStart = mP;
        while (mP < mEnd && isNameChar(*mP))
            ++mP;
        if (mP == nameStart) {
            fail(XmlPropertyList::Malformed, QStringLiteral("an element without a name"));
            return false;
        }
        tag.name = QByteArray(nameStart, mP - nameStart);
        // Attributes (the version of <plist>) are skipped, quoted values included.
        char quote = 0;
        while (mP < mEnd) {
            const char c = *mP;
            if (quote != 0) {
                if (c == quote)
                    quote = 0;
                else if (c == '<') {
                    fail(XmlPropertyList::Malformed, QStringLiteral("'<' in an attribute value"));
                    return false;
                }
            } else if (c == '"' || c == '\'') {
                if (tag.closing)
                    break;
                quote = c;
            } else if (c == '>') {
                ++mP;
                return true;
            } else if (c == '/' && mP + 1 < mEnd && mP[1] == '>' && !tag.closing) {
                tag.empty = true;
                mP += 2;
                return true;
            } else if (c == '<' || c == '/' || (tag.closing && !isXmlSpace(c))) {
                break;
            }
            ++mP;
        }
        fail(XmlPropertyList::Malformed,
             QStringLiteral("a malformed tag <%1>").arg(QString::fromLatin1(tag.name)));
        return false;
    }

    // Character data up to the end tag `name`, with references and CDATA sections resolved.
    bool readText(const QByteArray& name, QString& out)
    {
        QByteArray bytes;
        for (;;) {
            const char* lt = std::find(mP, mEnd, '<');
            if (!appendCharacterData(mP, lt, bytes))
                return false;
            mP = lt;
            if (mP == mEnd) {
                fail(XmlPropertyList::Malformed,
                     QStringLiteral("unterminated <%1>").arg(QString::fromLatin1(name)));
                return false;
            }
            if (startsWith("<!--")) {
                if (!skipPast("-->"))
                    return false;
                continue;
            }
            if (startsWith("<![CDATA[")) {
                mP += 9;
                const char* start = mP;
                if (!skipPast("]]>"))
                    return false;
                bytes.append(start, (mP - 3) - start);
                continue;
            }
            PlistTag tag;
            if (!readTag(tag))
                return false;
            if (!tag.closing || tag.name != name) {
                fail(XmlPropertyList::Malformed,
                     QStringLiteral("<%1> holds markup").arg(QString::fromLatin1(name)));
                return false;
            }
            break;
        }
        QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        out = decoder.decode(bytes);
        if (decoder.hasError()) {
            fail(XmlPropertyList::Malformed, QStringLiteral("text that is not UTF-8"));
            return false;
        }
        return true;
    }

    bool appendCharacterData(const char* from, const char* to, QByteArray& bytes)
    {
        while (from < to) {
            const char* amp = std::find(from, to, '&');
            bytes.append(from, amp - from);
            if (amp == to)
                return true;
            const char* semicolon = std::find(amp, std::min(to, amp + 12), ';');
            if (semicolon == std::min(to, amp + 12)) {
                fail(XmlPropertyList::Malformed, QStringLiteral("an unterminated reference"));
                return false;
            }
            const QByteArray entity(amp + 1, semicolon - amp - 1);
            if (entity == "lt")
                bytes.append('<');
            else if (entity == "gt")
                bytes.append('>');
            else if (entity == "amp")
                bytes.append('&');
            else if (entity == "quot")
                bytes.append('"');
            else if (entity == "apos")
                bytes.append('\'');
            else if (entity.startsWith('#')) {
                bool ok = false;
                const uint code =
                    entity.startsWith("#x") ? entity.mid(2).toUInt(&ok, 16) : entity.mid(1).toUInt(&ok, 10);
                if (!ok || !isXmlChar(char32_t(code))) {
                    fail(XmlPropertyList::Malformed, QStringLiteral("a bad character reference"));
                    return false;
                }
                const char32_t c = char32_t(code);
                bytes.append(QString::fromUcs4(&c, 1).toUtf8());
            } else {
                fail(XmlPropertyList::EntityRefused,
                     QStringLiteral("the entity &%1; is refused").arg(QString::fromLatin1(entity)));
                return false;
            }
            from = semicolon + 1;
        }
        return true;
    }

    std::optional<Value> scalar(const QByteArray& name, const QString& text)
    {
        if (name == "string")
            return Value(text);
        if (name == "integer") {
            const QByteArray digits = text.trimmed().toLatin1();
            qint64 number = 0;
            const char* begin = digits.constData();
            const char* end = begin + digits.size();
            const bool hex = digits.startsWith("0x") || digits.startsWith("-0x");
            if (!hex && !digits.isEmpty()) {
                auto [ptr, ec] = std::from_chars(begin, end, number);
                if (ec == std::errc() && ptr == end)
                    return Value(number);
                quint64 big = 0;
                auto [uptr, uec] = std::from_chars(begin, end, big);
                if (uec == std::errc() && uptr == end)
                    return Value(big);
            } else if (hex) {
                bool ok = false;
                const qint64 parsed = digits.toLongLong(&ok, 16);
                if (ok)
                    return Value(parsed);
            }
            fail(XmlPropertyList::Malformed, QStringLiteral("a bad integer"));
            return std::nullopt;
        }
        if (name == "real") {
            const QString trimmed = text.trimmed();
            const QString lower = trimmed.toLower();
            if (lower == QLatin1String("nan"))
                return Value(std::numeric_limits<double>::quiet_NaN());
            if (lower == QLatin1String("inf") || lower == QLatin1String("+inf") ||
                lower == QLatin1String("infinity"))
                return Value(std::numeric_limits<double>::infinity());
            if (lower == QLatin1String("-inf") || lower == QLatin1String("-infinity"))
                return Value(-std::numeric_limits<double>::infinity());
            bool ok = false;
            const double number = trimmed.toDouble(&ok);
            if (ok)
                return Value(number);
            fail(XmlPropertyList::Malformed, QStringLiteral("a bad real"));
            return std::nullopt;
        }
        if (name == "date") {
            QDateTime date = QDateTime::fromString(text.trimmed(), Qt::ISODate);
            if (!date.isValid() || !text.trimmed().endsWith(QLatin1Char('Z'))) {
                fail(XmlPropertyList::Malformed, QStringLiteral("a bad date"));
                return std::nullopt;
            }
            return Value(date.toUTC());
        }
        if (name == "data") {
            QByteArray compact;
            for (const QChar c : text)
                if (!c.isSpace())
                    compact.append(char(c.toLatin1()));
            auto decoded = QByteArray::fromBase64Encoding(compact, QByteArray::AbortOnBase64DecodingErrors);
            if (!decoded) {
                fail(XmlPropertyList::Malformed, QStringLiteral("bad Base64 data"));
                return std::nullopt;
            }
            return Value(*decoded);
        }
        fail(XmlPropertyList::Malformed,
             QStringLiteral("an unknown element <%1>").arg(QString::fromLatin1(name)));
        return std::nullopt;
    }

    std::optional<Value> emptyElement(const QByteArray& name)
    {
        if (name == "true")
            return Value(true);
        if (name == "false")
            return Value(false);
        if (name == "dict")
            return Value(ValueDictionary());
        if (name == "array")
            return Value(ValueArray());
        if (name == "string")
            return Value(QString());
        if (name == "data")
            return Value(QByteArray());
        fail(XmlPropertyList::Malformed, QStringLiteral("an empty <%1>").arg(QString::fromLatin1(name)));
        return std::nullopt;
    }

    // The one value inside <plist>, containers kept on an explicit stack.
    std::optional<Value> readValueTree()
    {
        std::vector<PlistFrame> stack;
        qsizetype elements = 0;
        for (;;) {
            if (!skipMisc(false))
                return std::nullopt;
            PlistTag tag;
            if (!readTag(tag))
                return std::nullopt;
            if (++elements > XmlPropertyList::MaximumElements) {
                fail(XmlPropertyList::TooLarge, QStringLiteral("too many elements"));
                return std::nullopt;
            }
            std::optional<Value> done;
            if (tag.closing) {
                if (stack.empty() || stack.back().name != tag.name) {
                    fail(XmlPropertyList::Malformed,
                         QStringLiteral("an unexpected </%1>").arg(QString::fromLatin1(tag.name)));
                    return std::nullopt;
                }
                PlistFrame& frame = stack.back();
                if (frame.haveKey) {
                    fail(XmlPropertyList::Malformed, QStringLiteral("a key without a value"));
                    return std::nullopt;
                }
                done =
                    frame.name == "dict" ? Value(std::move(frame.dictionary)) : Value(std::move(frame.array));
                stack.pop_back();
            } else if (!stack.empty() && stack.back().name == "dict" && !stack.back().haveKey) {
                if (tag.name != "key") {
                    fail(XmlPropertyList::Malformed, QStringLiteral("a dictionary value without a key"));
                    return std::nullopt;
                }
                QString key;
                if (!tag.empty && !readText(tag.name, key))
                    return std::nullopt;
                stack.back().key = key;
                stack.back().haveKey = true;
                continue;
            } else if (tag.empty) {
                done = emptyElement(tag.name);
                if (!done)
                    return std::nullopt;
            } else if (tag.name == "dict" || tag.name == "array") {
                if (int(stack.size()) >= XmlPropertyList::MaximumDepth) {
                    fail(XmlPropertyList::TooDeep, QStringLiteral("nested too deeply"));
                    return std::nullopt;
                }
                PlistFrame frame;
                frame.name = tag.name;
                stack.push_back(std::move(frame));
                continue;
            } else if (tag.name == "true" || tag.name == "false") {
                QString text;
                if (!readText(tag.name, text))
                    return std::nullopt;
                if (!text.trimmed().isEmpty()) {
                    fail(XmlPropertyList::Malformed, QStringLiteral("text inside a boolean"));
                    return std::nullopt;
                }
                done = Value(tag.name == "true");
            } else {
                QString text;
                if (!readText(tag.name, text))
                    return std::nullopt;
                done = scalar(tag.name, text);
                if (!done)
                    return std::nullopt;
            }
            if (stack.empty())
                return done;
            PlistFrame& parent = stack.back();
            if (parent.name == "dict") {
                parent.dictionary.insert(parent.key, std::move(*done));
                parent.haveKey = false;
            } else {
                parent.array.push_back(std::move(*done));
            }
        }
    }

    const char* mP;
    const char* mEnd;
    Error mError;
};

bool appendEscaped(QByteArray& out, const QString& text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            ++i;
            continue;
        }
        if (c.isSurrogate() || !isXmlChar(char32_t(c.unicode())))
            return false;
    }
    const QByteArray utf8 = text.toUtf8();
    for (const char c : utf8) {
        switch (c) {
        case '&':
            out.append("&amp;");
            break;
        case '<':
            out.append("&lt;");
            break;
        case '>':
            out.append("&gt;");
            break;
        case '\r':
            // A raw carriage return would come back as a line feed.
            out.append("&#13;");
            break;
        default:
            out.append(c);
        }
    }
    return true;
}

QByteArray realText(double value)
{
    if (std::isnan(value))
        return QByteArrayLiteral("nan");
    if (std::isinf(value))
        return value > 0 ? QByteArrayLiteral("inf") : QByteArrayLiteral("-inf");
    char buffer[64];
    auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    QByteArray text(buffer, ec == std::errc() ? end - buffer : 0);
    // A whole number still reads as a real elsewhere.
    if (!text.contains('.') && !text.contains('e') && !text.contains('n') && !text.contains('i'))
        text.append(".0");
    return text;
}

struct PlistWriteItem
{
    const Value* value = nullptr;
    const QString* key = nullptr;
    int depth = 0;
    bool closing = false;
};

} // namespace

Result<Value> XmlPropertyList::read(const QByteArray& text)
{
    if (text.size() > MaximumBytes)
        return plistError(TooLarge, QStringLiteral("the property list has %1 bytes, more than %2")
                                        .arg(text.size())
                                        .arg(MaximumBytes));
    return PlistReader(text).run();
}

Result<QByteArray> XmlPropertyList::write(const Value& root)
{
    QByteArray out = QByteArrayLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                                       "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
                                       "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
                                       "<plist version=\"1.0\">\n");
    std::vector<PlistWriteItem> pending{{&root, nullptr, 0, false}};
    while (!pending.empty()) {
        const PlistWriteItem item = pending.back();
        pending.pop_back();
        const QByteArray indent(item.depth, '\t');
        if (item.closing) {
            out.append(indent).append(item.value->isDictionary() ? "</dict>\n" : "</array>\n");
            continue;
        }
        if (item.depth > MaximumDepth)
            return plistError(TooDeep, QStringLiteral("nested too deeply to write"));
        if (item.key != nullptr) {
            out.append(indent).append("<key>");
            if (!appendEscaped(out, *item.key))
                return plistError(NotWritable, QStringLiteral("a key holds a character XML cannot carry"));
            out.append("</key>\n");
        }
        const Value& value = *item.value;
        out.append(indent);
        switch (value.type()) {
        case Value::Type::Null:
            return plistError(NotWritable, QStringLiteral("a null value has no property-list form"));
        case Value::Type::Bool:
            out.append(value.toBool() ? "<true/>\n" : "<false/>\n");
            break;
        case Value::Type::Integer:
            out.append("<integer>").append(QByteArray::number(value.toInteger())).append("</integer>\n");
            break;
        case Value::Type::Real:
            out.append("<real>").append(realText(value.toReal())).append("</real>\n");
            break;
        case Value::Type::String:
            out.append("<string>");
            if (!appendEscaped(out, value.toString()))
                return plistError(NotWritable, QStringLiteral("a string holds a character XML cannot carry"));
            out.append("</string>\n");
            break;
        case Value::Type::Data:
            out.append("<data>").append(value.toData().toBase64()).append("</data>\n");
            break;
        case Value::Type::Date: {
            const QDateTime date = value.toDate();
            if (!date.isValid())
                return plistError(NotWritable, QStringLiteral("an invalid date"));
            out.append("<date>")
                .append(date.toUTC().toString(QStringLiteral("yyyy-MM-dd'T'HH:mm:ss'Z'")).toLatin1())
                .append("</date>\n");
            break;
        }
        case Value::Type::Array: {
            const ValueArray& array = value.toArray();
            if (array.empty()) {
                out.append("<array/>\n");
                break;
            }
            out.append("<array>\n");
            pending.push_back({item.value, nullptr, item.depth, true});
            for (auto it = array.rbegin(); it != array.rend(); ++it)
                pending.push_back({&*it, nullptr, item.depth + 1, false});
            break;
        }
        case Value::Type::Dictionary: {
            const ValueDictionary& dictionary = value.toDictionary();
            if (dictionary.isEmpty()) {
                out.append("<dict/>\n");
                break;
            }
            out.append("<dict>\n");
            pending.push_back({item.value, nullptr, item.depth, true});
            for (qsizetype i = dictionary.size() - 1; i >= 0; --i) {
                const auto& entry = dictionary.entryAt(i);
                pending.push_back({&entry.second, &entry.first, item.depth + 1, false});
            }
            break;
        }
        }
    }
    out.append("</plist>\n");
    return out;
}

Result<Value> XmlPropertyList::readFile(const QString& path)
{
    auto bytes = WholeFileReader::read(path, MaximumBytes);
    if (!bytes)
        return bytes.error();
    return read(*bytes);
}

Status XmlPropertyList::writeFile(const QString& path, const Value& root)
{
    auto bytes = write(root);
    if (!bytes)
        return bytes.error();
    return SaveFile::writeAtomically(path, *bytes);
}

} // namespace corvex
