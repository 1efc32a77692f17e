#include "shell/DropboxNoticeMemory.h"

#include "platform/core/UserDefaults.h"

#include <QStringList>

namespace corvex {

const QString DropboxNoticeMemory::DefaultsKey = QStringLiteral("DropboxStuckDocumentsTold");

namespace {

QString entryOf(const QString& document, DropboxNoticeMemory::Reason reason)
{
    const QString cause = reason == DropboxNoticeMemory::Reason::FolderAtPath ? QStringLiteral("folder")
                                                                              : QStringLiteral("damaged");
    return cause + QLatin1Char(' ') + document;
}

QStringList toldEntries()
{
    QStringList entries;
    for (const QVariant& value :
         UserDefaults::standardUserDefaults().arrayForKey(DropboxNoticeMemory::DefaultsKey))
        entries.append(value.toString());
    return entries;
}

} // namespace

bool DropboxNoticeMemory::wasTold(const QString& document, Reason reason)
{
    return toldEntries().contains(entryOf(document, reason));
}

void DropboxNoticeMemory::remember(const QString& document, Reason reason)
{
    QStringList entries = toldEntries();
    const QString entry = entryOf(document, reason);
    if (entries.contains(entry))
        return;
    entries.append(entry);
    QVariantList values;
    for (const QString& each : entries)
        values.append(each);
    UserDefaults::standardUserDefaults().setObject(DefaultsKey, values);
}

void DropboxNoticeMemory::forgetAll()
{
    UserDefaults::standardUserDefaults().removeObjectForKey(DefaultsKey);
}

} // namespace corvex
