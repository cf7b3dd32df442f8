#ifndef GUIEVENTLOOP_H
#define GUIEVENTLOOP_H

#include <QProcessEnvironment>
#include <QStringList>

// Chooses the GUI thread's event loop before the application object exists.
//
// Every progress signal of a download is queued to the GUI thread. GLib's
// loop, Qt's default on Linux, wakes that thread for every queued signal
// (an eventfd write each); Qt's own UNIX loop wakes it once for a whole batch,
// which lets downloads run much faster. GLib's loop is needed only where Qt
// may load its GTK platform theme: the native GTK dialogs then run GTK's own
// loop (gtk_dialog_run), and with Qt's loop the windows, the HTTP listener
// (on the GUI thread) and the progress would stand still while one is open.
// So GLib's loop stays wherever that theme may be loaded, and only there.
namespace GuiEventLoop {

// True when Qt may load its GTK platform theme: a theme named in
// QT_QPA_PLATFORMTHEME that is GTK's or may wrap it, or none named on a
// GTK-based desktop (as Qt detects it) with the GTK theme plugin in one of
// pluginFolders. Unix desktops only; elsewhere there is no GLib loop.
bool gtkThemePossible(const QProcessEnvironment &environment, const QStringList &pluginFolders);

// Sets QT_NO_GLIB, which makes Qt use its own loop, unless the GTK theme is
// possible or the variable is already set. Call before the application
// object is constructed; threads started later follow the same choice.
void choose();

} // namespace GuiEventLoop

#endif // GUIEVENTLOOP_H
