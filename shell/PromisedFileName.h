#pragma once

#include <QString>
#include <functional>

namespace corvex {

// The file name an idea dragged out of a window is written under: the idea's text reduced
// to a file name of at most 10 UTF-16 units (StringExtensions' filter), cut only between
// graphemes, "document" when nothing is left or only dots are; then "<base>.corvex", or
// "<base>-<n>.corvex" with n = 1, 2, ... while a file of the name exists.
class PromisedFileName
{
public:
    static constexpr int MaxBaseLength = 10;
    static inline const QString Extension = QStringLiteral("corvex");

    static QString baseName(const QString& title);
    // The first name of the rule that `exists` does not claim.
    static QString fileName(const QString& title, const std::function<bool(const QString& name)>& exists);
    // The same against the files of a folder.
    static QString fileNameInFolder(const QString& title, const QString& folderPath);
};

} // namespace corvex
