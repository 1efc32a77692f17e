#include "shell/PreferencesViewController.h"

#include <QApplication>

namespace corvex {

PreferencesViewController::~PreferencesViewController() = default;

QIcon PreferencesViewController::themeIcon(const QString& name, QStyle::StandardPixmap fallback)
{
    const QStyle* style =
        qobject_cast<QApplication*>(QCoreApplication::instance()) ? QApplication::style() : nullptr;
    return QIcon::fromTheme(name, style ? style->standardIcon(fallback) : QIcon());
}

} // namespace corvex
