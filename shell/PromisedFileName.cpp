#include "shell/PromisedFileName.h"

#include "model/StringExtensions.h"

#include <QDir>
#include <QFileInfo>
#include <QTextBoundaryFinder>

namespace corvex {

QString PromisedFileName::baseName(const QString& title)
{
    const QString filtered =
        StringExtensions::createProperFileNameWithMaxLenght(title, quint64(title.size()));
    // The last grapheme boundary at or before the limit, so that no character loses its
    // accents or half of its pair.
    qsizetype cut = filtered.size();
    if (cut > MaxBaseLength) {
        QTextBoundaryFinder graphemes(QTextBoundaryFinder::Grapheme, filtered);
        graphemes.setPosition(MaxBaseLength);
        cut = graphemes.isAtBoundary() ? MaxBaseLength : graphemes.toPreviousBoundary();
        if (cut < 0)
            cut = 0;
    }
    QString base = filtered.left(cut);
    bool onlyDots = true;
    for (const QChar c : base)
        onlyDots = onlyDots && c == QLatin1Char('.');
    return onlyDots ? QStringLiteral("document") : base;
}

QString PromisedFileName::fileName(const QString& title,
                                   const std::function<bool(const QString& name)>& exists)
{
    const QString base = baseName(title);
    QString name = base + QLatin1Char('.') + Extension;
    for (int n = 1; exists && exists(name); ++n)
        name = QStringLiteral("%1-%2.%3").arg(base).arg(n).arg(Extension);
    return name;
}

QString PromisedFileName::fileNameInFolder(const QString& title, const QString& folderPath)
{
    const QDir folder(folderPath);
    return fileName(title,
                    [&folder](const QString& name) { return QFileInfo::exists(folder.filePath(name)); });
}

} // namespace corvex
