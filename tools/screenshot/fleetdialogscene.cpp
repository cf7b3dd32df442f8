#include "fleetdialogscene.h"
#include "devicemessages.h"
#include "servedfolder.h"

#include <QFile>
#include <QItemSelectionModel>
#include <QPushButton>
#include <QSpinBox>
#include <QTableView>

namespace {

constexpr int device_count = 14;
// The last device is left out of the run, to show a listed one.
constexpr int devices_in_run = 13;
constexpr int image_size = 1048576;
constexpr qint64 second = 1000;

QHostAddress device_address(int device)
{
    return QHostAddress(QStringLiteral("192.168.1.%1").arg(21 + device));
}

DownloadReport report(int device, const char *method, DownloadReport::Outcome outcome, int percent,
        const char *path = "/minifs_rom.img")
{
    DownloadReport result;
    result.peer = device_address(device);
    result.method = method;
    result.path = QString::fromLatin1(path);
    result.file_size = image_size;
    // Rounded up, so the engine shows the very percentage.
    result.bytes_sent = (quint64(image_size) * quint64(percent) + 99) / 100;
    result.outcome = outcome;
    return result;
}

} // namespace

FleetDialogScene::FleetDialogScene(Moment moment)
{
    QFile image(served.filePath(QStringLiteral("minifs_rom.img")));
    if (image.open(QIODevice::WriteOnly))
        image.write(QByteArray(image_size, '\x5a'));
    image.close();
    ServedFolder::set_provider([this] { return served.path(); });
    fleet_dialog.reset(new FleetDialog(transport,
            { [] { return DeviceMessages::http_server_port; }, [] { return true; },
                    [] { return true; } },
            &clock));
    if (moment == Moment::Stopped)
        play_stopped();
    else
        play();
}

FleetDialogScene::~FleetDialogScene()
{
    fleet_dialog.reset();
    ServedFolder::set_provider(nullptr);
}

QList<QNetworkAddressEntry> FleetDialogScene::SilentTransport::address_entries() const
{
    QNetworkAddressEntry entry;
    entry.setIp(QHostAddress(QStringLiteral("192.168.1.5")));
    entry.setPrefixLength(24);
    entry.setBroadcast(QHostAddress(QStringLiteral("192.168.1.255")));
    return { entry };
}

void FleetDialogScene::play()
{
    using Outcome = DownloadReport::Outcome;
    FleetEngine &engine = fleet_dialog->engine();
    for (int device = 0; device < device_count; ++device)
        engine.add_device(QStringLiteral("SN-%1").arg(device + 1, 3, 10, QLatin1Char('0')),
                QStringLiteral("1.0.8"), QStringLiteral("3"), device_address(device));

    fleet_dialog->findChild<QSpinBox *>(QStringLiteral("parallel_box"))->setValue(12);
    fleet_dialog->findChild<QSpinBox *>(QStringLiteral("retries_box"))->setValue(0);
    auto *view = fleet_dialog->findChild<QTableView *>(QStringLiteral("device_table_view"));
    for (int device = 0; device < devices_in_run; ++device)
        view->selectionModel()->select(view->model()->index(device, 0),
                QItemSelectionModel::Select | QItemSelectionModel::Rows);
    fleet_dialog->findChild<QPushButton *>(QStringLiteral("file_system_button"))->click();
    // Selected rows would hide the states' colours.
    view->clearSelection();

    for (int device : { 0, 1, 2, 3, 4, 5, 7, 10, 11 })
        engine.take_report(report(device, "GET", Outcome::InProgress, 0));
    clock.advance(20 * second);
    engine.take_report(report(7, "GET", Outcome::InProgress, 37));
    engine.take_report(report(7, "GET", Outcome::Interrupted, 37));
    engine.take_report(report(8, "GET", Outcome::NotFound, 0, "/minifs.img"));
    clock.advance(10 * second);
    // Their end frees a slot: the thirteenth device gets its command.
    engine.take_report(report(0, "GET", Outcome::Complete, 100));
    clock.advance(10 * second);
    engine.take_report(report(1, "GET", Outcome::Complete, 100));
    engine.take_report(report(10, "GET", Outcome::Complete, 100));
    clock.advance(10 * second);
    engine.take_report(report(6, "HEAD", Outcome::Complete, 0));
    // The tenth device never asks: no answer after the time-out.
    clock.advance(15 * second);
    const int percents[] = { 87, 63, 41, 12 };
    for (int device = 2; device <= 5; ++device)
        engine.take_report(report(device, "GET", Outcome::InProgress, percents[device - 2]));
    engine.take_report(report(11, "GET", Outcome::InProgress, 95));
}

void FleetDialogScene::play_stopped()
{
    using Outcome = DownloadReport::Outcome;
    FleetEngine &engine = fleet_dialog->engine();
    constexpr int stopped_fleet = 20;
    for (int device = 0; device < stopped_fleet; ++device)
        engine.add_device(QStringLiteral("FLT-%1").arg(device + 1, 2, 10, QLatin1Char('0')),
                QStringLiteral("1.0.8"), QStringLiteral("3"), device_address(device));
    fleet_dialog->findChild<QSpinBox *>(QStringLiteral("parallel_box"))->setValue(10);
    fleet_dialog->findChild<QSpinBox *>(QStringLiteral("retries_box"))->setValue(0);
    auto *view = fleet_dialog->findChild<QTableView *>(QStringLiteral("device_table_view"));
    view->selectAll();
    fleet_dialog->findChild<QPushButton *>(QStringLiteral("file_system_button"))->click();
    view->clearSelection();

    // Their slots go to the next five; the last five are still waiting at the stop.
    for (int device : { 0, 1, 2, 3, 4 })
        engine.take_report(report(device, "GET", Outcome::Complete, 100));
    clock.advance(10 * second);
    fleet_dialog->findChild<QPushButton *>(QStringLiteral("stop_button"))->click();
    for (int device : { 5, 6, 7 }) {
        engine.take_report(report(device, "GET", Outcome::InProgress, 20 + 10 * device));
        engine.take_report(report(device, "GET", Outcome::Interrupted, 20 + 10 * device));
    }
    engine.take_report(report(8, "GET", Outcome::NotFound, 0, "/minifs.img"));
    clock.advance(20 * second);
    engine.take_report(report(14, "GET", Outcome::Complete, 100));
    // The rest never ask: no answer after the time-out.
    clock.advance(40 * second);
}
