#ifndef DEVICEMESSAGES_H
#define DEVICEMESSAGES_H

#include <QByteArray>
#include <QString>

// What the upgrade tool sends to devices: the discovery probe and the upgrade
// command, with the two UDP ports they travel between. Pure functions.
class DeviceMessages
{
public:
    // The window's UDP port: probes and commands leave from it, so devices
    // answer to it.
    static constexpr quint16 local_port = 15724;
    // The port devices listen on for probes and commands.
    static constexpr quint16 device_port = 53;
    // A search sends the probe this many times per broadcast address, as a
    // guard against lost datagrams; devices answering more than once are
    // listed once.
    static constexpr int probes_per_search = 5;
    // TCP port of the HTTP server the devices download from, which upgrade
    // commands announce: the program's own, and the command line's default.
    static constexpr quint16 http_server_port = 81;

    // "type" of the probe; a datagram carrying it is a probe, never a reply.
    static QString probe_type();
    // Command types: "update" fetches firmware, "fs" a file-system image.
    static QString firmware_type();
    static QString file_system_type();
    // The file a device asks for after a command of type, below the served
    // folder: "minifs_rom.img" for "fs", "firmware.bin" for "update" (the
    // devices' own choice).
    static QString file_for(const QString &type);

    // The 31-byte probe {"type": "hellotavirex"} in the indented form.
    static QByteArray probe();
    // The command telling the device serial_number to fetch the image of
    // type from this computer's HTTP port http_port. With port 81 and a
    // serial number of N bytes needing no escapes it is 55 + N bytes for
    // "update" and 51 + N for "fs".
    static QByteArray upgrade_command(
            quint16 http_port, const QString &serial_number, const QString &type);
    // The serial number in a device row "sn[,ver][,snd]": the text before
    // the first comma.
    static QString serial_number(const QString &row_text);
};

#endif // DEVICEMESSAGES_H
