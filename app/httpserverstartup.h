#ifndef HTTPSERVERSTARTUP_H
#define HTTPSERVERSTARTUP_H

#include <QtGlobal>

class QCoreApplication;
class upgrade;

namespace quenmar {
class HttpListener;
}

// Starts the HTTP server from which devices fetch their images. Runs on the
// GUI thread after the launcher is built and before any window is shown:
// sets the window's port, writes the port (QZPORT) and the program folder
// (QZPATH) into "./config.ini", group UPDATE (a file that cannot be written
// is logged, once), fixes the file service's folder to "html" of that
// program folder for the run, and creates the listener with the window's
// handler. A port that cannot be bound is logged by the
// listener; the program runs on, and the window's upgrade buttons then warn
// instead of sending. The settings object and the listener are children of
// application; the listener closes itself when the event loop ends, before the
// windows (and so the handler) are destroyed.
quenmar::HttpListener *start_http_server(upgrade &upgrade_window, QCoreApplication &application);

#endif // HTTPSERVERSTARTUP_H
