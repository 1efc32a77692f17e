#pragma once

#include <QByteArray>
#include <functional>
#include <optional>

namespace corvex {

// The application's icon as the reporting kit sends it when it describes the application:
// PNG bytes and the size in points. The interface layer fills the seam at start-up from the
// window icon; without it (tests, headless runs) there is no icon, which the kit allows.
struct ApplicationIcon
{
    QByteArray png;
    double widthPoints = 0;
    double heightPoints = 0;
};

class ApplicationIconProvider
{
public:
    using Provider = std::function<std::optional<ApplicationIcon>()>;

    // Installs the provider (an empty one removes it) and answers the previous one.
    static Provider install(Provider provider);
    // The icon, or nothing when no provider is installed or it has none.
    static std::optional<ApplicationIcon> applicationIcon();
};

} // namespace corvex
