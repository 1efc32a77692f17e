#include "cloud/dropbox/QVFileInfo.h"

#include <QHash>

namespace corvex {

QVFileInfo::QVFileInfo(std::optional<QString> name, std::optional<QString> rev)
    : mName(std::move(name)), mRev(std::move(rev))
{}

QVFileInfo::Ref QVFileInfo::make(std::optional<QString> name, std::optional<QString> rev)
{
    return std::make_shared<const QVFileInfo>(std::move(name), std::move(rev));
}

const QVFileInfo::Ref& QVFileInfo::EMPTY()
{
    static const Ref marker = make(std::nullopt, std::nullopt);
    return marker;
}

bool QVFileInfo::isEmpty() const
{
    return isEqual(*EMPTY());
}

QVFileInfo::Ref QVFileInfo::withRev(std::optional<QString> rev) const
{
    return make(mName, std::move(rev));
}

bool QVFileInfo::isEqual(const QVFileInfo& other) const
{
    return this == &other || (mName == other.mName && mRev == other.mRev);
}

std::size_t QVFileInfo::hash() const
{
    return (mName ? qHash(*mName) : 0) + (mRev ? qHash(*mRev) : 0);
}

QString QVFileInfo::description() const
{
    if (this == EMPTY().get())
        return QStringLiteral("{QVFileInfo: EMPTY}");
    return QStringLiteral("{QVFileInfo: name=%1 rev=%2 }")
        .arg(mName.value_or(QStringLiteral("(null)")), mRev.value_or(QStringLiteral("(null)")));
}

bool QVFileInfo::emptyOrNull(const Ref& info)
{
    return !info || info->isEmpty();
}

bool QVFileInfo::isEmpty(const Ref& info)
{
    return info && info->isEmpty();
}

bool QVFileInfo::isDeleted(const Ref& info)
{
    return info && !info->mName;
}

bool QVFileInfo::hasFile(const Ref& info)
{
    return info && info->mName.has_value();
}

const QVFileInfo::Ref& QVFileInfo::firstNonNull(const Ref& a, const Ref& b)
{
    return a ? a : b;
}

bool QVFileInfo::refers(const Ref& info, const QString& fileName)
{
    return info && info->mName && *info->mName == fileName;
}

bool QVFileInfo::areEqual(const Ref& a, const Ref& b)
{
    if (!a)
        return !b;
    return b && a->isEqual(*b);
}

bool QVFileInfo::areRevEqual(const Ref& a, const Ref& b)
{
    if (!a)
        return !b;
    const std::optional<QString> otherRev = b ? b->mRev : std::nullopt;
    return a->mRev == otherRev;
}

} // namespace corvex
