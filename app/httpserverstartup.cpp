#include "httpserverstartup.h"

#include "applogging.h"
#include "devicemessages.h"
#include "httplistener.h"
#include "programpaths.h"
#include "servedfolder.h"
#include "upgrade.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QPointer>
#include <QSettings>

quenmar::HttpListener *start_http_server(upgrade &upgrade_window, QCoreApplication &application)
{
    upgrade_window.port = DeviceMessages::http_server_port;
    qCDebug(appLog) << "port:" << upgrade_window.port;

    // The server reads all its keys through this object, so they are all
    // read inside UPDATE; the group is never ended.
    auto *settings =
            new QSettings(ProgramPaths::settings_file(), QSettings::IniFormat, &application);
    settings->beginGroup(QStringLiteral("UPDATE"));
    settings->setValue(QStringLiteral("QZPORT"), QString::number(upgrade_window.port));
    const QString program_folder = QCoreApplication::applicationDirPath();
    settings->setValue(QStringLiteral("QZPATH"), program_folder);
    settings->sync();
    if (settings->status() != QSettings::NoError)
        qCWarning(appLog) << "config.ini cannot be written:"
                          << QFileInfo(settings->fileName()).absoluteFilePath()
                          << "- the server and the windows run on the values in memory";
    // The file service serves this folder for the whole run, whatever the file holds later or
    // when it could not be written: a folder read back from an unwritten file would be "/html".
    QString served = ProgramPaths::html_folder(program_folder);
    ServedFolder::set_provider([served] { return served; });

    auto *listener = new quenmar::HttpListener(settings, &upgrade_window.handler, &application);
    const QPointer<quenmar::HttpListener> watched(listener);
    upgrade_window.set_http_server_check([watched] { return watched && watched->isListening(); });
    return listener;
}
