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

void store(const QStringList& entries)
{
    QVariantList values;
    for (const QString& each : entries)
        values.append(each);
    UserDefaults::standardUserDefaults().setObject(DropboxNoticeMemory::DefaultsKey, values);
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
    store(entries);
}

void DropboxNoticeMemory::forget(const QString& document)
{
    QStringList entries = toldEntries();
    const qsizetype removed = entries.removeAll(entryOf(document, Reason::FolderAtPath)) +
                              entries.removeAll(entryOf(document, Reason::DamagedContent));
    if (removed > 0)
        store(entries);
}

void DropboxNoticeMemory::forgetAll()
{
    UserDefaults::standardUserDefaults().removeObjectForKey(DefaultsKey);
}

} // namespace corvex
