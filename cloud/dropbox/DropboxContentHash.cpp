#include "cloud/dropbox/DropboxContentHash.h"

#include <QCryptographicHash>
#include <QFile>
#include <algorithm>

namespace corvex {

QString DropboxContentHash::ofBytes(const QByteArray& content)
{
    QCryptographicHash whole(QCryptographicHash::Sha256);
    for (qsizetype at = 0; at < content.size(); at += BlockSize)
        whole.addData(QCryptographicHash::hash(
            QByteArrayView(content.constData() + at, std::min<qsizetype>(BlockSize, content.size() - at)),
            QCryptographicHash::Sha256));
    return QString::fromLatin1(whole.result().toHex());
}

std::optional<QString> DropboxContentHash::ofFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    QCryptographicHash whole(QCryptographicHash::Sha256);
    while (true) {
        const QByteArray block = file.read(BlockSize);
        if (block.isEmpty())
            break;
        whole.addData(QCryptographicHash::hash(block, QCryptographicHash::Sha256));
    }
    if (file.error() != QFileDevice::NoError)
        return std::nullopt;
    return QString::fromLatin1(whole.result().toHex());
}

} // namespace corvex
