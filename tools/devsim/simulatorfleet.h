#ifndef SIMULATORFLEET_H
#define SIMULATORFLEET_H

#include "devicesimulator.h"

#include <QList>
#include <QObject>
#include <QSet>

class QUdpSocket;

// One or many simulated devices in one process, sharing the device port:
// the wildcard socket hears broadcasts for all of them, each device hears
// its unicasts and replies on a socket of its own address. Event-loop
// driven, on the thread that created it.
class SimulatorFleet : public QObject
{
    Q_OBJECT

public:
    // Most devices in one process: one /24 network's host addresses.
    static constexpr int max_count = 254;

    struct Settings
    {
        // With a count: the serial number is the devices' prefix, the own
        // address the first device's, the save folder holds one folder per
        // device when there are several.
        DeviceSimulator::Settings device;
        int count = 0; // 0: one device, exactly as device says, lines without a label
    };

    explicit SimulatorFleet(const Settings &settings, QObject *parent = nullptr);

    // Serial number of device number (from 1): prefix, "-" and the number
    // zero-padded to three digits (SN-001).
    static QString serial_number(const QString &prefix, int number);

    // Creates the save folders and binds every socket; on failure returns
    // false with a reason in error (which names the address or folder).
    bool start(QString *error);

    // Whether a device's first upgrade is over and went well.
    bool any_succeeded() const { return succeeded_count > 0; }

signals:
    // Every device has ended its first upgrade; success: all of them did well.
    void all_over(bool success);

private:
    DeviceSimulator::Settings device_settings(int index) const;
    void upgrade_over(const DeviceSimulator *device, bool success);

    const Settings settings;
    QList<DeviceSimulator *> devices;
    QUdpSocket *shared_socket = nullptr;
    QSet<const DeviceSimulator *> devices_over;
    bool all_succeeded = true;
    int succeeded_count = 0;
};

#endif // SIMULATORFLEET_H
