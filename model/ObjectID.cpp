#include "model/ObjectID.h"

#include "platform/core/Sha1.h"

#include <QHash>

namespace corvex {

ObjectID::ObjectID(const QString& dash, const QString& extension)
    : mStr(dash + QLatin1Char('.') + extension), mDashLength(dash.size())
{}

ObjectID ObjectID::createFromData(const QByteArray& data, const QString& extension)
{
    Sha1 sha;
    sha.update(data);
    sha.update(extension.toUtf8());
    return ObjectID(sha.hexDigest(), extension);
}

ObjectID ObjectID::parseFromString(const QString& text)
{
    const qsizetype first = text.indexOf(QLatin1Char('.'));
    if (first <= 0)
        return ObjectID();
    qsizetype second = text.indexOf(QLatin1Char('.'), first + 1);
    if (second < 0)
        second = text.size();
    if (second == first + 1)
        return ObjectID();
    return ObjectID(text.left(first), text.mid(first + 1, second - first - 1));
}

QString ObjectID::dash() const
{
    return isNull() ? QString() : mStr.left(mDashLength);
}

QString ObjectID::extension() const
{
    return isNull() ? QString() : mStr.mid(mDashLength + 1);
}

size_t ObjectID::hash(size_t seed) const
{
    return ::qHash(QStringView(mStr).left(mDashLength), seed);
}

} // namespace corvex
