#include "simulatorfleet.h"
#include "deviceport.h"
#include "eventline.h"

#include <QDir>
#include <QFileInfo>
#include <QNetworkDatagram>

namespace {

// Digits of the devices' numbers, zero-padded so that names sort: enough
// for max_count.
constexpr int number_width = 3;

} // namespace

SimulatorFleet::SimulatorFleet(const Settings &settings, QObject *parent)
    : QObject(parent), settings(settings)
{
}

QString SimulatorFleet::serial_number(const QString &prefix, int number)
{
    return QStringLiteral("%1-%2").arg(prefix).arg(number, number_width, 10, QLatin1Char('0'));
}

DeviceSimulator::Settings SimulatorFleet::device_settings(int index) const
{
    DeviceSimulator::Settings device = settings.device;
    if (settings.count == 0)
        return device;
    device.serial_number = serial_number(settings.device.serial_number, index + 1);
    device.label = device.serial_number;
    device.own_address = QHostAddress(settings.device.own_address.toIPv4Address() + quint32(index));
    // Every device fetches the same file name.
    if (settings.count > 1 && !device.save_folder.isEmpty())
        device.save_folder = QDir(device.save_folder).filePath(device.serial_number);
    return device;
}

bool SimulatorFleet::start(QString *error)
{
    bool broadcasts_heard = false;
    for (int index = 0; index < qMax(1, settings.count); ++index) {
        const DeviceSimulator::Settings device = device_settings(index);
        if (!device.save_folder.isEmpty() && !QDir().mkpath(device.save_folder)) {
            *error = QFileInfo::exists(device.save_folder)
                    ? QStringLiteral("%1: not a folder").arg(device.save_folder)
                    : QStringLiteral("cannot create folder %1").arg(device.save_folder);
            return false;
        }
        auto *simulator = new DeviceSimulator(device, this);
        connect(simulator, &DeviceSimulator::upgrade_over, this,
                [this, simulator](bool success) { upgrade_over(simulator, success); });
        broadcasts_heard = broadcasts_heard || simulator->hears_broadcasts();
        devices << simulator;
    }
    if (broadcasts_heard) {
        shared_socket = bind_device_port(
                QHostAddress(QHostAddress::AnyIPv4), settings.device.udp_port, this, error);
        if (!shared_socket)
            return false;
        on_datagrams(shared_socket, this, [this](const QNetworkDatagram &datagram) {
            for (DeviceSimulator *device : qAsConst(devices))
                device->take_datagram(datagram, shared_socket);
        });
    }
    for (DeviceSimulator *device : qAsConst(devices)) {
        if (!device->start(error))
            return false;
    }
    if (settings.count > 0) {
        print_event(QStringLiteral("listening: %1 devices, %2 to %3, port %4")
                            .arg(settings.count)
                            .arg(device_settings(0).own_address.toString(),
                                    device_settings(settings.count - 1).own_address.toString())
                            .arg(settings.device.udp_port));
    }
    return true;
}

void SimulatorFleet::upgrade_over(const DeviceSimulator *device, bool success)
{
    if (devices_over.contains(device))
        return;
    devices_over.insert(device);
    all_succeeded = all_succeeded && success;
    succeeded_count += success ? 1 : 0;
    if (devices_over.size() == devices.size())
        emit all_over(all_succeeded);
}
