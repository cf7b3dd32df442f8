#ifndef DEVICEREPLY_H
#define DEVICEREPLY_H

#include <QByteArray>
#include <QString>

// A device's answer to the discovery probe: a JSON object with a non-empty
// string "sn", optional strings "ver" and "snd", and a "type" other than the
// probe's. Plain value; parsing is a pure function.
struct DeviceReply
{
    // Longest reply taken, in bytes; a longer datagram is dropped whole
    // rather than parsed from a truncated prefix.
    static constexpr int max_size = 1023;

    enum class Check {
        Valid,
        TooLong, // longer than max_size
        NotJson, // empty or not a JSON document
        NotObject, // JSON, but its top level is not an object
        Probe, // a probe ("type" "hellotavirex"), not a reply
        NoSerial, // "sn" missing, empty or not a string
    };

    QString serial_number;
    // Empty when absent or not a string.
    QString version;
    QString sound_version;

    // Reads datagram up to its first zero byte. On Valid, reply holds the
    // members; otherwise reply is left empty. text, when given, receives the
    // JSON text whenever it parsed (for the callers' diagnostics).
    static Check parse(const QByteArray &datagram, DeviceReply *reply, QByteArray *text = nullptr);
};

#endif // DEVICEREPLY_H
