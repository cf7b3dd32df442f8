#include "httpserverstartup.h"

#include "applogging.h"
#include "devicemessages.h"
#include "httplistener.h"
#include "programpaths.h"
#include "upgrade.h"

#include <QCoreApplication>
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
    settings->setValue(QStringLiteral("QZPATH"), QCoreApplication::applicationDirPath());

    auto *listener = new quenmar::HttpListener(settings, &upgrade_window.handler, &application);
    const QPointer<quenmar::HttpListener> watched(listener);
    upgrade_window.set_http_server_check([watched] { return watched && watched->isListening(); });
    return listener;
}
