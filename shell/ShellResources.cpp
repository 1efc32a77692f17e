#include "shell/ShellResources.h"

#include "resources/TextResources.h"

#include <QFile>

namespace corvex {

namespace {

ShellResources::Lookup& shellResourceLookup()
{
    static ShellResources::Lookup lookup;
    return lookup;
}

std::optional<QByteArray> compiledInResource(const QString& name, const QString& type)
{
    initTextResources();
    QFile file(QStringLiteral(":/texts/%1.%2").arg(name, type));
    if (!file.open(QIODevice::ReadOnly) || file.size() > ShellResources::MaxResourceBytes)
        return std::nullopt;
    return file.readAll();
}

} // namespace

std::optional<QByteArray> ShellResources::contentsOfResource(const QString& name, const QString& type)
{
    const Lookup& lookup = shellResourceLookup();
    return lookup ? lookup(name, type) : compiledInResource(name, type);
}

ShellResources::Lookup ShellResources::setLookup(Lookup lookup)
{
    return std::exchange(shellResourceLookup(), std::move(lookup));
}

} // namespace corvex
