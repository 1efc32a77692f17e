#pragma once

#include <QString>
#include <QtGlobal>

namespace corvex {

// Small string operations for file names, paths, URL parameters, XML text and comparisons.
// A null QString stands for a missing argument where one may be missing.
class StringExtensions
{
public:
    // A file-name-safe copy: white space and line breaks, code points that are not
    // characters (unassigned, non-characters, unpaired surrogates), symbols (mathematical,
    // currency, modifier and other symbols, emoji among them), control characters, ":" and
    // "/" are removed; then the first maxLength UTF-16 units are kept, never cutting a
    // surrogate pair in two (the result is then one unit shorter). Other punctuation stays.
    static QString createProperFileNameWithMaxLenght(const QString& text, quint64 maxLength);
    // The two joined as path components: one "/" between them, none doubled, no trailing
    // "/" (unless the path is "/" itself). An empty part leaves the other.
    static QString concatPath(const QString& first, const QString& second);
    // True when both are null or both are equal texts; a null and a non-null string
    // (even an empty one) differ.
    static bool areEqual(const QString& first, const QString& second);
    // An empty suffix always matches.
    static bool endsWith(const QString& text, const QString& suffix);
    // Percent-encoding of the UTF-8 bytes: A-Z, a-z, 0-9, "-", ".", "_", "~" stay, a blank
    // becomes "+", every other byte "%XX" (upper-case hex).
    static QString urlencode(const QString& text);
    // Whether `other` occurs in `text`; an empty `other` never does (unlike QString::contains).
    static bool containsStringBackport(const QString& text, const QString& other);
    // Upper case by the rules of the user's current locale.
    static QString localUppercaseString(const QString& text);
    // A copy with xmlSimpleEscape applied.
    static QString xmlSimpleEscapeString(const QString& text);
    // In place and in this order over the whole text: "&" -> "&amp;", '"' -> "&quot;",
    // "'" -> "&#x27;", ">" -> "&gt;", "<" -> "&lt;".
    static void xmlSimpleEscape(QString& text);
};

} // namespace corvex
