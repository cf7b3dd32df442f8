#include "upgrade.h"
#include "devicemessages.h"
#include "devicenetwork.h"
#include "downloadprogressview.h"
#include "noticebox.h"
#include "ui_upgrade.h"
#include "upgradefleetmenu.h"
#include "upgradelogging.h"
#include "windowcodec.h"

#include <QCloseEvent>
#include <QUdpSocket>

namespace {

// List rows 0 and 1 are the heading and a spacer; device slot k is row k + 2.
constexpr int first_device_row = 2;

} // namespace

upgrade::upgrade(QWidget *parent) : QWidget(parent), ui(new Ui::upgrade)
{
    set_window_codec();
    ui->setupUi(this);
    progress_view = std::make_unique<DownloadProgressView>(ui->download_progress, ui->status);
    clear_device_list();
    setWindowTitle(QStringLiteral("文件系统及固件升级工具"));
    setWindowFlags(Qt::WindowCloseButtonHint);

    udp_socket = new QUdpSocket(this);
    // Several tool instances may share the port; a failed bind leaves the
    // socket able to send, and replies then simply do not arrive.
    udp_socket->bind(QHostAddress::AnyIPv4, DeviceMessages::local_port, QUdpSocket::ShareAddress);
    connect(udp_socket, &QUdpSocket::readyRead, this, &upgrade::udp_ready_read);
    qCDebug(upgradeLog) << "list len:" << ui->list_device_widget->currentRow();

    // Emitted on the HTTP connection threads: the automatic type queues them
    // to this window, so a download never waits for the user interface.
    connect(&handler, SIGNAL(send_data_transmission_progress(int)), this,
            SLOT(set_data_transmission_progress(int)));
    connect(&handler, SIGNAL(send_transmission_string(QString)), this,
            SLOT(send_transmission_string(QString)));

    // Fleet upgrades and devices by address, from the device list's menu.
    // The menu reads the list, sends from this window's socket and shows this
    // window's server; the window itself stays as it is.
    fleet_menu = UpgradeFleetMenu::attach(ui->list_device_widget, *udp_socket, device_table,
            { [this] { return port; },
                    [this] { return !http_server_listening || http_server_listening(); },
                    [this] { return udp_socket->state() == QAbstractSocket::BoundState; } });
}

upgrade::~upgrade()
{
    delete ui;
}

void upgrade::set_http_server_check(std::function<bool()> is_listening)
{
    http_server_listening = std::move(is_listening);
}

void upgrade::closeEvent(QCloseEvent *event)
{
    emit ExitWin();
    event->accept();
}

void upgrade::on_find_device_start_clicked()
{
    clear_device_list();
    for (int i = 0; i < DeviceMessages::probes_per_search; ++i)
        broadcast_find();
    qCDebug(upgradeLog) << "find device";
}

void upgrade::on_minifs_update_start_clicked()
{
    send_upgrade_command(DeviceMessages::file_system_type());
}

void upgrade::on_soft_update_start_clicked()
{
    send_upgrade_command(DeviceMessages::firmware_type());
}

// Drains every pending datagram: one ready-read notification may stand for
// several replies.
void upgrade::udp_ready_read()
{
    while (udp_socket->hasPendingDatagrams()) {
        // One byte more than a reply may have, so an over-long datagram shows
        // as such instead of as a truncated reply.
        QByteArray datagram(DeviceTable::max_reply_size + 1, '\0');
        QHostAddress sender;
        const qint64 size = udp_socket->readDatagram(datagram.data(), datagram.size(), &sender);
        if (size < 0)
            return;
        datagram.truncate(int(size));
        // Replies beyond the ten rows still reach the fleet dialog.
        fleet_menu->take_datagram(datagram, sender);
        if (device_table.take_reply(datagram, sender) != DeviceTable::Outcome::Added)
            continue;
        const int slot = device_table.count() - 1;
        ui->list_device_widget->item(first_device_row + slot)->setText(device_table.text(slot));
    }
}

void upgrade::set_data_transmission_progress(int n)
{
    progress_view->show_code(n);
}

void upgrade::send_transmission_string(const QString &name)
{
    if (missing_file_box_open) {
        qCDebug(upgradeLog) << "未找到:" << name;
        return;
    }
    missing_file_box_open = true;
    // The name comes from a device's request path: never let it be markup.
    show_warning(QStringLiteral("<font size=12>未找到:") + name.toHtmlEscaped()
            + QStringLiteral("</font>"));
    missing_file_box_open = false;
}

void upgrade::clear_device_list()
{
    device_table.clear();
    for (int slot = 0; slot < DeviceTable::slot_count; ++slot)
        ui->list_device_widget->item(first_device_row + slot)->setText(device_table.text(slot));
}

void upgrade::broadcast_find()
{
    const QList<QHostAddress> targets =
            DeviceNetwork::broadcast_addresses(DeviceNetwork::address_entries());
    for (const QHostAddress &target : targets)
        DeviceNetwork::send(
                *udp_socket, DeviceMessages::probe(), target, DeviceMessages::device_port);
}

void upgrade::send_upgrade_command(const QString &type)
{
    // Without the server no device can fetch its image: the user would wait
    // for nothing.
    if (http_server_listening && !http_server_listening()) {
        show_warning(QStringLiteral("<font size=16>HTTP服务未启动(端口%1)!</font>").arg(port));
        return;
    }
    const int row = ui->list_device_widget->currentRow();
    if (row < first_device_row || row >= first_device_row + DeviceTable::slot_count) {
        show_warning(QStringLiteral("<font size=16>请选择设备!</font>"));
        return;
    }
    qCDebug(upgradeLog) << "row:" << row;
    const QHostAddress address = device_table.address(row - first_device_row);
    if (address.toString().isEmpty()) {
        qCDebug(upgradeLog) << "ip is wrong";
        show_warning(QStringLiteral("<font size=16>无效设备!</font>"));
        return;
    }
    const QString serial_number =
            DeviceMessages::serial_number(ui->list_device_widget->item(row)->text());
    const QByteArray command = DeviceMessages::upgrade_command(port, serial_number, type);
    // Telling the user to wait for a device that was never told anything
    // would leave them waiting for good.
    if (DeviceNetwork::send(*udp_socket, command, address, DeviceMessages::device_port)
            != command.size()) {
        show_warning(QStringLiteral("<font size=16>发送失败!</font>"));
        return;
    }
    ui->download_progress->setMaximum(100);
    ui->download_progress->setMinimum(0);
    ui->download_progress->setValue(0);
    show_status(QStringLiteral("等待"), false);
}

void upgrade::show_status(const QString &text, bool ok)
{
    progress_view->show_status(text, ok);
}

void upgrade::show_warning(const QString &text)
{
    NoticeBox::warning(this, text);
}
