#ifndef FLEETDEVICE_H
#define FLEETDEVICE_H

#include <QHostAddress>
#include <QMetaType>
#include <QString>

// One device as the fleet engine knows it: what its discovery reply said and
// how far its upgrade got. Plain value.
struct FleetDevice
{
    // An upgrade runs listed -> command sent -> (headers asked) -> downloading
    // -> file sent, and with confirmation on to back or not back. The other
    // states end a device's attempt.
    enum class State {
        Listed, // known, no command sent in this run
        CommandSent, // told to upgrade; waiting for its first request
        HeadersAsked, // asked for the file's headers (HEAD)
        Downloading, // fetching the file
        FileSent, // the whole file went to the device
        Interrupted, // the download broke off
        NoAnswer, // no request within the time-out after the command
        NotFound, // asked for a file the server does not have (or refuses)
        Back, // came back after the download: missed a probe, then answered, or answered with another "ver"
        NotBack, // did not come back within the confirmation time
        NotStarted, // a stop or a halt came before its command: neither upgraded nor failed
        UpToDate, // already reported the run's target "ver": no command sent
        NotUpgraded, // a firmware run's device came back with its "ver" unchanged
    };

    QString serial_number;
    // "ver" and "snd" of the discovery reply; empty when absent.
    QString version;
    QString sound_version;
    QHostAddress address;

    State state = State::Listed;
    // Of the current download, 0 to 100: of the bytes the device has
    // acknowledged, or of those handed to it where the system cannot tell.
    int percent = 0;
    // Body bytes handed to the device in its latest download.
    quint64 bytes = 0;
    // Of those, the bytes its TCP stack acknowledged; -1 where the system
    // cannot tell.
    qint64 acknowledged = -1;
    // Path of the device's latest request.
    QString path;
    // "ver" of the answer after the download, with confirmation on.
    QString version_after;
    // Commands sent in this run.
    int attempts = 0;
    // Engine clock times, in milliseconds: first command and end of the run
    // for this device; -1 while not yet there.
    qint64 started_ms = -1;
    qint64 ended_ms = -1;

    // The lower-case English name, e.g. "command sent"; also the JSON name.
    static QString state_name(State state);
    // Between "command sent" and an end of the attempt: counts against the
    // parallel limit.
    static bool is_active(State state);
};
Q_DECLARE_METATYPE(FleetDevice::State)

#endif // FLEETDEVICE_H
