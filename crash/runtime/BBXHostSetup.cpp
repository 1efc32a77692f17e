// Ordinary code: set-up only.

#include "crash/runtime/BBXHostSetup.h"

#include "kit/sys/HostFunctions.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>
#include <cstdlib>
#include <cstring>
#include <sys/utsname.h>
#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

namespace corvex {

namespace {

void bbxHostCopy(char (&destination)[BBXHostTextSize], const QByteArray& text)
{
    BBXHostCopyText(destination, sizeof destination, text.constData(), std::size_t(text.size()));
}

QByteArray bbxHostEnvironment(const char* name)
{
    const char* value = std::getenv(name);
    return value != nullptr ? QByteArray(value) : QByteArray();
}

} // namespace

QByteArray BBXHostDocumentsDirectory()
{
    const QByteArray home = bbxHostEnvironment("HOME");
    QByteArray configHome = bbxHostEnvironment("XDG_CONFIG_HOME");
    if (configHome.isEmpty())
        configHome = home + "/.config";
    QByteArray documents = home + "/Documents";
    QFile userDirs(QFile::decodeName(configHome + "/user-dirs.dirs"));
    if (userDirs.open(QIODevice::ReadOnly)) {
        while (!userDirs.atEnd()) {
            const QByteArray line = userDirs.readLine(4096).trimmed();
            if (!line.startsWith("XDG_DOCUMENTS_DIR="))
                continue;
            QByteArray value = line.mid(int(std::strlen("XDG_DOCUMENTS_DIR=")));
            if (value.size() >= 2 && value.startsWith('"') && value.endsWith('"'))
                value = value.mid(1, value.size() - 2);
            if (value.startsWith("$HOME"))
                value = home + value.mid(5);
            if (value.startsWith('/'))
                documents = value;
        }
    }
    if (!QFileInfo(QFile::decodeName(documents)).isDir())
        return home;
    return documents;
}

QByteArray BBXHostCPUBrand()
{
#if defined(__x86_64__) || defined(__i386__)
    unsigned int registers[12] = {};
    if (static_cast<unsigned int>(__get_cpuid_max(0x80000000, nullptr)) < 0x80000004u)
        return QByteArray();
    for (unsigned int leaf = 0; leaf < 3; ++leaf) {
        unsigned int* out = registers + 4 * leaf;
        __get_cpuid(0x80000002 + leaf, &out[0], &out[1], &out[2], &out[3]);
    }
    char brand[sizeof registers + 1] = {};
    std::memcpy(brand, registers, sizeof registers);
    return QByteArray(brand).trimmed();
#else
    return QByteArray();
#endif
}

bool BBXHostSetup(BBXHostContext* host)
{
    if (host == nullptr)
        return false;
    *host = BBXHostContext();
    host->pageSize = BBXHostGetPageSize();
    const QByteArray documents = BBXHostDocumentsDirectory();
    BBXHostCopyText(host->documentsDirectory, sizeof host->documentsDirectory, documents.constData(),
                    std::size_t(documents.size()));
    struct utsname names;
    bbxHostCopy(host->machine,
                ::uname(&names) == 0 ? QByteArray(names.machine) : QByteArrayLiteral("(failed)"));
    const QByteArray cpu = BBXHostCPUBrand();
    bbxHostCopy(host->cpu, cpu.isEmpty() ? QByteArrayLiteral("(failed)") : cpu);
    bbxHostCopy(host->model, LOMHostModel().toUtf8());
    bbxHostCopy(host->osBuildVersion, LOMHostOSBuildVersion().toUtf8());
    bbxHostCopy(host->osDisplayVersion, LOMHostOSDisplayVersion().toUtf8());
    bbxHostCopy(host->locale, LOMHostLocaleIdentifier().toUtf8());
    return true;
}

std::uint32_t BBXHostOSCodeForVersion(std::int64_t major, std::int64_t minor)
{
    if (major != 10 || minor < 6 || minor > 11)
        return 0;
    return minor < 10 ? std::uint32_t(1000 + 10 * minor) : std::uint32_t(100000 + 100 * minor);
}

std::uint32_t BBXHostGetOSCode()
{
    const LOMOperatingSystemVersion version = LOMHostOperatingSystemVersion();
    return BBXHostOSCodeForVersion(version.majorVersion, version.minorVersion);
}

} // namespace corvex
