#include "tests/support/TestFiles.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

namespace corvex::test {

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        ADD_FAILURE() << "cannot write " << path.toStdString() << ": " << file.errorString().toStdString();
        return;
    }
    EXPECT_EQ(file.write(bytes), bytes.size()) << path.toStdString();
}

QStringList folderEntries(const QString& path)
{
    return QDir(path).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                                QDir::Name);
}

mode_t filePermissions(const QString& path)
{
    struct stat info
    {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return 0;
    return info.st_mode & 07777;
}

QStringList widerThanTheUsers(const QString& folder, QStringList* seen)
{
    QStringList wider;
    const auto check = [&](const QString& path) {
        struct stat info;
        if (::lstat(QFile::encodeName(path).constData(), &info) != 0)
            return;
        const mode_t expected = S_ISDIR(info.st_mode) ? 0700 : 0600;
        if ((info.st_mode & 07777) != expected)
            wider.append(path + QStringLiteral(" ") + QString::number(info.st_mode & 07777, 8));
        if (seen && path != folder)
            seen->append(path.mid(folder.size()));
    };
    check(folder);
    QDirIterator entries(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                         QDirIterator::Subdirectories);
    while (entries.hasNext())
        check(entries.next());
    return wider;
}

} // namespace corvex::test
