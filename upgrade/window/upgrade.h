#ifndef UPGRADE_H
#define UPGRADE_H

#include "devicetable.h"
#include "myrequesthandler.h"

#include <QString>
#include <QWidget>

#include <functional>
#include <memory>

class DownloadProgressView;
class QUdpSocket;
class UpgradeFleetMenu;

namespace Ui {
class upgrade;
}

// The device upgrade tool: finds devices by a UDP broadcast, sends the
// selected one an upgrade command, and shows the progress of its download.
// Top-level; emits ExitWin() on every close and is only hidden, so the device
// list survives. GUI thread only.
class upgrade : public QWidget
{
    Q_OBJECT

public:
    explicit upgrade(QWidget *parent = nullptr);
    ~upgrade() override;

    // HTTP port announced in upgrade commands; start-up sets it before the
    // event loop runs.
    quint16 port = 0;
    // The file service that the HTTP server runs for the devices; its
    // signals drive the progress bar and the status word.
    MyRequestHandler handler;

    // Tells whether the HTTP server is listening; start-up sets it. Without
    // it the window takes the server to be running.
    void set_http_server_check(std::function<bool()> is_listening);

signals:
    void ExitWin();

protected:
    void closeEvent(QCloseEvent *event) override;

private slots:
    void on_find_device_start_clicked();
    void on_minifs_update_start_clicked();
    void on_soft_update_start_clicked();
    void udp_ready_read();
    // Progress code of a download: -1 headers asked, 0 started, 1 to 99
    // percent, 100 and above done, -2 ended early.
    void set_data_transmission_progress(int n);
    // Name of a file a device asked for and the file service did not find.
    void send_transmission_string(const QString &);

private:
    void clear_device_list();
    void broadcast_find();
    void send_upgrade_command(const QString &type);
    void show_status(const QString &text, bool ok);
    void show_warning(const QString &text);

    Ui::upgrade *ui;
    DeviceTable device_table;
    QUdpSocket *udp_socket = nullptr;
    // Set while the "not found" box is open, so a burst of missing files
    // cannot stack nested modal boxes.
    bool missing_file_box_open = false;
    std::function<bool()> http_server_listening;
    std::unique_ptr<DownloadProgressView> progress_view;
    // Attached to the device list, and a child of it: it hears every
    // datagram the socket reads.
    UpgradeFleetMenu *fleet_menu = nullptr;
};

#endif // UPGRADE_H
