#ifndef UPGRADEFLEETMENU_H
#define UPGRADEFLEETMENU_H

#include "fleetdialog.h"
#include "heardreplies.h"
#include "socketfleettransport.h"

#include <QObject>

class DeviceTable;
class QHostAddress;
class QListWidget;
class QMenu;
class QPoint;
class QUdpSocket;

// The upgrade window's device list menu (right click or the menu key):
// "批量升级…" opens the fleet dialog with every device the window's socket
// heard (the window lists ten at most) and those the window lists, and
// "按IP添加设备…" sends the discovery probe by unicast from the window's own
// socket, so the replies fill the window's table by its usual rules. The
// fleet dialog sends from that socket too and gets every datagram the window
// reads (take_datagram), so the process keeps one socket on port 15724.
// Attached by the window; a child of the list, it goes with it. GUI thread.
class UpgradeFleetMenu : public QObject
{
    Q_OBJECT

public:
    // list, socket and table belong to the window and must outlive the menu.
    static UpgradeFleetMenu *attach(QListWidget *list, QUdpSocket &socket, const DeviceTable &table,
            const FleetDialog::Services &services);
    ~UpgradeFleetMenu() override;

    // A new menu; the caller owns it.
    QMenu *create_menu();
    // "批量升级…": adds the devices heard and the window's to the fleet
    // dialog and shows it.
    FleetDialog *open_fleet_dialog();
    // "按IP添加设备…".
    void add_by_address();
    // A datagram the window's socket read, at most DeviceReply::max_size + 1
    // bytes: handed on to the fleet dialog once it is open, and kept with its
    // time till then.
    void take_datagram(const QByteArray &datagram, const QHostAddress &sender);

private:
    UpgradeFleetMenu(QListWidget *list, QUdpSocket &socket, const DeviceTable &table,
            const FleetDialog::Services &services);

    void show_menu(const QPoint &pos);

    QListWidget *list;
    QUdpSocket &socket;
    const DeviceTable &table;
    const FleetDialog::Services services;
    SocketFleetTransport transport;
    FleetDialog *dialog = nullptr;
    HeardReplies heard;
};

#endif // UPGRADEFLEETMENU_H
