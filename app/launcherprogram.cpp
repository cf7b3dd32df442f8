#include "launcherprogram.h"

#include "applogging.h"
#include "guieventloop.h"
#include "httpdescriptorlimit.h"
#include "httpserverstartup.h"
#include "qttranslation.h"
#include "settingsfolder.h"
#include "widget.h"

#include <QApplication>
#include <QDir>
#include <QStyleFactory>

int run_launcher_program(int argc, char *argv[], const std::function<void(Widget &)> &beforeLoop)
{
    // Before any thread exists; a burst of connections must not run the process out of files.
    quenmar::HttpDescriptorLimit::raiseSoftLimit();
    GuiEventLoop::choose();
    QApplication application(argc, argv);
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    if (QtTranslation::install(QCoreApplication::applicationDirPath()).isEmpty())
        qCInfo(appLog) << "Qt's own texts stay in English:" << QtTranslation::file_name()
                       << "is in none of"
                       << QtTranslation::folders(QCoreApplication::applicationDirPath());
    // Before the windows open their settings.
    const QString unwritable = SettingsFolder::apply();
    if (!unwritable.isEmpty())
        qCInfo(appLog) << "config.ini cannot be written in" << unwritable << "- kept in"
                       << QDir::currentPath() << "instead";

    Widget launcher;
    start_http_server(launcher.upgrade_window, application);
    launcher.show();
    if (beforeLoop)
        beforeLoop(launcher);
    return application.exec();
}
