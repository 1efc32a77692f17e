#pragma once

#include "platform/core/Result.h"
#include "platform/core/Value.h"

#include <QByteArray>
#include <QString>

namespace corvex {

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

    static const QString ErrorDomain; // "com.tallowfen.corvex.json"
    enum ErrorCode
    {
        SyntaxError = 1,      // not JSON, or not valid UTF-8 (the text carries the parser's message)
        TooDeep = 2,          // arrays and objects nested deeper than maxDepth
        NumberOutOfRange = 3, // a number beyond the range of a double (it could not be written back)
        OutOfMemory = 4,
    };

    // One JSON value (any type at the top). Integers that fit qint64 become Integer; larger
    // unsigned integers and every number with a fraction or exponent become Real. A repeated
    // key keeps its first position and takes the last value. At most maxDepth arrays and
    // objects may be open at once.
    static Result<Value> parse(const QByteArray& utf8, int maxDepth = DefaultMaxDepth);

    // Compact UTF-8. Data is written as Base64 text, Date as DateText, NaN and infinities as
    // null; a Real always keeps a fraction or exponent so that it reads back as Real.
    static QByteArray serialize(const Value& value);
    // The same, indented by two spaces with one member or element per line.
    static QByteArray serializePretty(const Value& value);
};

} // namespace corvex
