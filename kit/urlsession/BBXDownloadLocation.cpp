#include "kit/urlsession/BBXDownloadLocation.h"

#include <QFile>

namespace corvex {

struct BBXDownloadLocation::Owned
{
    QString path;
    ~Owned()
    {
        if (!path.isEmpty())
            QFile::remove(path);
    }
};

BBXDownloadLocation BBXDownloadLocation::takingFile(const QString& path)
{
    BBXDownloadLocation location;
    if (!path.isEmpty()) {
        auto owned = std::make_shared<Owned>();
        owned->path = path;
        location.mFile = std::move(owned);
    }
    return location;
}

const QString& BBXDownloadLocation::path() const
{
    static const QString none;
    return mFile ? mFile->path : none;
}

} // namespace corvex
