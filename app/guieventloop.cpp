#include "guieventloop.h"

#include "applogging.h"

#include <QDir>
#include <QFileInfo>
#include <QLibraryInfo>

namespace GuiEventLoop {

// The GTK theme exists only on desktops other than Windows and macOS.
#if defined(Q_OS_UNIX) && !defined(Q_OS_DARWIN)
namespace {

// Desktops for which Qt prefers its GTK theme, as their names appear upper-
// cased in XDG_CURRENT_DESKTOP.
const char *const gtkDesktops[] = { "GNOME", "X-CINNAMON", "UNITY", "MATE", "XFCE", "LXDE" };
// The same desktops as DESKTOP_SESSION names them, read when
// XDG_CURRENT_DESKTOP is not set.
const char *const gtkSessions[] = { "gnome", "cinnamon", "ubuntu", "mate", "xfce", "lxde" };

bool gtkDesktop(const QProcessEnvironment &environment)
{
    const QString current = environment.value(QStringLiteral("XDG_CURRENT_DESKTOP"));
    if (!current.isEmpty()) {
        const QStringList names = current.toUpper().split(QLatin1Char(':'));
        for (const char *desktop : gtkDesktops) {
            if (names.contains(QLatin1String(desktop)))
                return true;
        }
        return false;
    }
    const QString session = environment.value(QStringLiteral("DESKTOP_SESSION")).toLower();
    for (const char *name : gtkSessions) {
        if (session.startsWith(QLatin1String(name)))
            return true;
    }
    return environment.contains(QStringLiteral("GNOME_DESKTOP_SESSION_ID"));
}

bool gtkPluginPresent(const QStringList &pluginFolders)
{
    for (const QString &folder : pluginFolders) {
        if (QFileInfo(folder + QStringLiteral("/platformthemes/libqgtk3.so")).exists())
            return true;
    }
    return false;
}

} // namespace
#endif

bool gtkThemePossible(const QProcessEnvironment &environment, const QStringList &pluginFolders)
{
#if defined(Q_OS_UNIX) && !defined(Q_OS_DARWIN)
    const QString named = environment.value(QStringLiteral("QT_QPA_PLATFORMTHEME")).toLower();
    // Named themes other than GTK's take the place of the detected one,
    // except those that only add a desktop portal on top of it.
    if (!named.isEmpty() && !named.contains(QLatin1String("portal"))
            && named != QLatin1String("flatpak") && named != QLatin1String("snap"))
        return named.contains(QLatin1String("gtk"));
    return gtkDesktop(environment) && gtkPluginPresent(pluginFolders);
#else
    Q_UNUSED(environment)
    Q_UNUSED(pluginFolders)
    return false;
#endif
}

void choose()
{
    if (qEnvironmentVariableIsSet("QT_NO_GLIB"))
        return;
    const QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    QStringList pluginFolders = environment.value(QStringLiteral("QT_PLUGIN_PATH"))
                                        .split(QDir::listSeparator(), Qt::SkipEmptyParts);
    pluginFolders << QLibraryInfo::location(QLibraryInfo::PluginsPath);
    if (gtkThemePossible(environment, pluginFolders)) {
        qCDebug(appLog) << "GUI event loop: GLib's, for the GTK platform theme's dialogs";
        return;
    }
    qputenv("QT_NO_GLIB", "1");
}

} // namespace GuiEventLoop
