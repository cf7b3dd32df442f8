#include "launcherprogram.h"

#include "guieventloop.h"
#include "httpdescriptorlimit.h"
#include "httpserverstartup.h"
#include "widget.h"

#include <QApplication>
#include <QStyleFactory>

int run_launcher_program(int argc, char *argv[], const std::function<void(Widget &)> &beforeLoop)
{
    // Before any thread exists; a burst of connections must not run the process out of files.
    quenmar::HttpDescriptorLimit::raiseSoftLimit();
    GuiEventLoop::choose();
    QApplication application(argc, argv);
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));

    Widget launcher;
    start_http_server(launcher.upgrade_window, application);
    launcher.show();
    if (beforeLoop)
        beforeLoop(launcher);
    return application.exec();
}
