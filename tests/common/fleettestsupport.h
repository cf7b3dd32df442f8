#ifndef FLEETTESTSUPPORT_H
#define FLEETTESTSUPPORT_H

#include "downloadobserver.h"
#include "fleetengine.h"
#include "manualfleetclock.h"
#include "recordingfleettransport.h"
#include "servedfolder.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

// What the fleet engine's tests feed it: replies and download reports of
// devices 198.18.0.10 and up, for image.bin in a served folder of their own.

// A fleet engine on a hand-moved clock, sending into a recording transport;
// declared last, the engine goes first: it holds the other two till its end.
struct FleetEngineRig
{
    ManualFleetClock clock;
    RecordingFleetTransport transport;
    FleetEngine engine{ transport, &clock };
};

// Size of image.bin, in bytes.
constexpr qint64 fleet_image_size = 1000;

inline QHostAddress device_address(int number)
{
    return QHostAddress(QStringLiteral("198.18.0.%1").arg(10 + number));
}

inline QByteArray reply(const QString &serial_number, const QString &version = QString())
{
    QJsonObject object{ { "sn", serial_number } };
    if (!version.isEmpty())
        object.insert(QStringLiteral("ver"), version);
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

inline DownloadReport report(
        int device, const QByteArray &method, DownloadReport::Outcome outcome, quint64 bytes = 0)
{
    DownloadReport result;
    result.peer = device_address(device);
    result.method = method;
    result.path = QStringLiteral("/image.bin");
    result.bytes_sent = bytes;
    result.file_size = fleet_image_size;
    result.outcome = outcome;
    return result;
}

// Writes image.bin into folder and serves folder; false when it cannot.
inline bool serve_fleet_image(const QTemporaryDir &folder)
{
    QFile image(folder.filePath(QStringLiteral("image.bin")));
    if (!folder.isValid() || !image.open(QIODevice::WriteOnly)
            || image.write(QByteArray(int(fleet_image_size), 'x')) != fleet_image_size)
        return false;
    const QString path = folder.path();
    ServedFolder::set_provider([path] { return path; });
    return true;
}

#endif // FLEETTESTSUPPORT_H
