#include "guieventloop.h"
#include "httpserverstartup.h"
#include "widget.h"

#include <QApplication>
#include <QStyleFactory>

int main(int argc, char *argv[])
{
    GuiEventLoop::choose();
    QApplication application(argc, argv);
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));

    Widget launcher;
    start_http_server(launcher.upgrade_window, application);
    launcher.show();
    return application.exec();
}
