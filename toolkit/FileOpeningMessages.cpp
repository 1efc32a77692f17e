#include "toolkit/FileOpeningMessages.h"

#include "toolkit/CustomAlertView.h"

#include <QLocale>

namespace corvex {

MyResultPtr FileOpeningMessages::failedToOpen(const Error& why)
{
    return MyResult::error(QStringLiteral("mac:Error:FailedToOpenFile"),
                           QStringLiteral("Failed to open file"), why.localizedFailureReason());
}

QString FileOpeningMessages::partlyRead(const QString& fileName, qint64 ideasRead, const QString& why)
{
    const QString read = ideasRead == 1 ? QStringLiteral("the one idea before the damage is open")
                                        : QStringLiteral("the %1 ideas before the damage are open")
                                              .arg(QLocale(QLocale::English).toString(ideasRead));
    QString text = QStringLiteral("Only part of \u201c%1\u201d could be read: %2.").arg(fileName, read);
    if (!why.isEmpty())
        text += QStringLiteral("\n\n") + why;
    return text;
}

void FileOpeningMessages::showPartlyRead(const QString& fileName, qint64 ideasRead, const QString& why)
{
    CustomAlertView::showErrorWithMessage(partlyRead(fileName, ideasRead, why));
}

} // namespace corvex
