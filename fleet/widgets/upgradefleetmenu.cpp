#include "upgradefleetmenu.h"
#include "deviceaddressprompt.h"
#include "devicemessages.h"
#include "devicenetwork.h"
#include "devicetable.h"

#include <QListWidget>
#include <QMenu>
#include <QUdpSocket>

#include <memory>

UpgradeFleetMenu *UpgradeFleetMenu::attach(QListWidget *list, QUdpSocket &socket,
        const DeviceTable &table, const FleetDialog::Services &services)
{
    return new UpgradeFleetMenu(list, socket, table, services);
}

UpgradeFleetMenu::UpgradeFleetMenu(QListWidget *list, QUdpSocket &socket, const DeviceTable &table,
        const FleetDialog::Services &services)
    : QObject(list), list(list), socket(socket), table(table), services(services), transport(socket)
{
    list->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(list, &QWidget::customContextMenuRequested, this, &UpgradeFleetMenu::show_menu);
    list->setToolTip(QStringLiteral("右键菜单: 批量升级多台设备 (不限十台), "
                                    "或按IP添加路由器/VLAN后的设备"));
}

UpgradeFleetMenu::~UpgradeFleetMenu()
{
    // A child of the list like this menu, yet it sends through this menu's
    // transport: it must not outlive it.
    delete dialog;
}

QMenu *UpgradeFleetMenu::create_menu()
{
    auto *menu = new QMenu(list);
    menu->addAction(QStringLiteral("批量升级…"), this, &UpgradeFleetMenu::open_fleet_dialog);
    menu->addAction(QStringLiteral("按IP添加设备…"), this, &UpgradeFleetMenu::add_by_address);
    return menu;
}

FleetDialog *UpgradeFleetMenu::open_fleet_dialog()
{
    // Kept for the window's lifetime: a closed dialog keeps its rows and its run.
    if (!dialog) {
        dialog = new FleetDialog(transport, services, nullptr, list);
        for (const HeardReplies::Reply &reply : heard.replies())
            dialog->take_datagram(reply.datagram, reply.sender, reply.first_heard);
        heard.clear();
    }
    for (int slot = 0; slot < table.count(); ++slot) {
        const DeviceReply reply = table.reply(slot);
        dialog->engine().add_device(
                reply.serial_number, reply.version, reply.sound_version, table.address(slot));
    }
    dialog->show();
    dialog->raise();
    dialog->activateWindow();
    return dialog;
}

void UpgradeFleetMenu::add_by_address()
{
    const QList<QHostAddress> addresses = DeviceAddressPrompt::ask(list->window());
    const QByteArray probe = DeviceMessages::probe();
    for (const QHostAddress &address : addresses)
        DeviceNetwork::send(socket, probe, address, DeviceMessages::device_port);
}

void UpgradeFleetMenu::take_datagram(const QByteArray &datagram, const QHostAddress &sender)
{
    if (dialog)
        dialog->take_datagram(datagram, sender);
    else
        heard.take(datagram, sender, QDateTime::currentDateTime());
}

void UpgradeFleetMenu::show_menu(const QPoint &pos)
{
    const std::unique_ptr<QMenu> menu(create_menu());
    menu->exec(list->viewport()->mapToGlobal(pos));
}
