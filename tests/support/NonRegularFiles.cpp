#include "tests/support/NonRegularFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cstring>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace corvex::test {

namespace {

// Bound from inside its folder: a test folder's path is often longer than sockaddr_un holds.
bool bindSocket(const QString& path)
{
    const QFileInfo info(path);
    const QByteArray name = QFile::encodeName(info.fileName());
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (name.size() >= qsizetype(sizeof address.sun_path))
        return false;
    std::memcpy(address.sun_path, name.constData(), std::size_t(name.size()));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    const QString before = QDir::currentPath();
    bool bound = QDir::setCurrent(info.path());
    // The socket stays bound on disk once closed, which is all a reader can meet.
    bound = bound && ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    QDir::setCurrent(before);
    ::close(fd);
    return bound;
}

} // namespace

std::vector<NonRegularFile> makeNonRegularFiles(const QString& folder, const QString& name)
{
    const auto at = [&](const char* kind) {
        const QString sub = folder + QLatin1Char('/') + QLatin1String(kind);
        EXPECT_TRUE(QDir().mkpath(sub)) << sub.toStdString();
        return sub + QLatin1Char('/') + name;
    };
    std::vector<NonRegularFile> files{
        {"a named pipe", at("fifo"), QStringLiteral("The file is not a regular file: it is a named pipe.")},
        {"a folder", at("folder"), QStringLiteral("The file is not a regular file: it is a folder.")},
        {"a socket", at("socket"), QStringLiteral("The file is not a regular file: it is a socket.")},
        {"a symbolic-link loop", at("loop"),
         QStringLiteral("The file cannot be reached: too many levels of symbolic links.")},
    };
    EXPECT_EQ(::mkfifo(QFile::encodeName(files[0].path).constData(), 0600), 0) << std::strerror(errno);
    EXPECT_TRUE(QDir().mkpath(files[1].path));
    EXPECT_TRUE(bindSocket(files[2].path)) << files[2].path.toStdString();
    // Two links naming each other.
    const QByteArray loop = QFile::encodeName(files[3].path);
    const QByteArray other = loop + ".other";
    EXPECT_EQ(::symlink(other.constData(), loop.constData()), 0) << std::strerror(errno);
    EXPECT_EQ(::symlink(loop.constData(), other.constData()), 0) << std::strerror(errno);
    return files;
}

} // namespace corvex::test
