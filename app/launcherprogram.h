#ifndef LAUNCHERPROGRAM_H
#define LAUNCHERPROGRAM_H

#include <functional>

class Widget;

// The program: raises the descriptor limit, chooses the GUI event loop, creates the application with the
// Fusion style and Qt's own texts in Chinese, moves to the per-user folder where the working directory cannot keep config.ini
// (Windows, SettingsFolder), creates the launcher, starts the HTTP server, shows the launcher
// and runs the event loop until the launcher closes. beforeLoop, if given,
// runs just before the loop (benchmarks add their probes there). Returns the
// event loop's exit code.
int run_launcher_program(
        int argc, char *argv[], const std::function<void(Widget &)> &beforeLoop = nullptr);

#endif // LAUNCHERPROGRAM_H
