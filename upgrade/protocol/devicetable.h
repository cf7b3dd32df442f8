#ifndef DEVICETABLE_H
#define DEVICETABLE_H

#include "devicereply.h"

#include <QByteArray>
#include <QHostAddress>
#include <QString>

// The devices found by discovery: up to ten slots, filled in order from the
// replies, each with the sender's address and the text its list row shows.
// Decides which replies are taken. GUI thread only.
class DeviceTable
{
public:
    // Device slots; the window shows one list row per slot.
    static constexpr int slot_count = 10;
    // Longest reply taken, in bytes; a longer datagram is dropped whole
    // rather than parsed from a truncated prefix.
    static constexpr int max_reply_size = DeviceReply::max_size;

    enum class Outcome {
        Added, // the reply filled the next free slot
        TooLong, // longer than max_reply_size
        NotJson, // empty or not a JSON document
        NotObject, // JSON, but its top level is not an object
        Probe, // a probe ("type" "hellotavirex"), not a reply
        NoSerial, // "sn" missing, empty or not a string
        Full, // all slots are taken
        Duplicate, // the sender's address or the row text is known
    };

    // Text of an empty slot.
    static QString empty_text();

    DeviceTable();

    // Empties every slot: null address, text "-".
    void clear();
    // Handles one datagram from sender. The text is read up to its first zero
    // byte. Added means slot count() - 1 now holds the device.
    Outcome take_reply(const QByteArray &datagram, const QHostAddress &sender);

    int count() const { return device_count; }
    // Address of a slot (0 to 9); the null address for an empty or unknown slot.
    QHostAddress address(int slot) const;
    // Row text of a slot: "sn", then ",ver" and ",snd" when not empty; "-" when empty.
    QString text(int slot) const;
    // The reply that filled a slot; empty for an empty or unknown slot. The
    // row text cannot tell "ver" from "snd" when only one is there.
    DeviceReply reply(int slot) const;

private:
    bool is_known(const QString &serial_number, const QHostAddress &sender) const;

    QHostAddress device_addresses[slot_count];
    QString device_texts[slot_count];
    DeviceReply device_replies[slot_count];
    quint8 device_count = 0;
};

#endif // DEVICETABLE_H
