#include "httpdescriptorlimit.h"
#include "httpserverstartup.h"
#include "widget.h"

#include <QApplication>
#include <QStyleFactory>

int main(int argc, char *argv[])
{
    // Before any thread exists; a burst of connections must not run the process out of files.
    quenmar::HttpDescriptorLimit::raiseSoftLimit();
    QApplication application(argc, argv);
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));

    Widget launcher;
    start_http_server(launcher.upgrade_window, application);
    launcher.show();
    return application.exec();
}
