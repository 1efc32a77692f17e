#pragma once

#include <QByteArray>
#include <QString>
#include <functional>
#include <optional>

namespace corvex {

// The bundle's text resources the about and legal windows show ("credits" of type "html",
// "legal" of type "txt"), compiled in under ":/texts/". A test swaps the lookup to hand in
// other contents or none. Main thread only.
class ShellResources
{
public:
    // The largest resource read; anything bigger counts as unreadable.
    static constexpr qint64 MaxResourceBytes = 4 * 1024 * 1024;

    using Lookup = std::function<std::optional<QByteArray>(const QString& name, const QString& type)>;

    // The resource's bytes; nothing when it is missing or unreadable.
    static std::optional<QByteArray> contentsOfResource(const QString& name, const QString& type);
    // Installs a lookup (empty: the compiled-in resources) and answers the one before.
    static Lookup setLookup(Lookup lookup);
};

} // namespace corvex
