#include "fleetchecklist.h"
#include "devicemessages.h"
#include "devicenetwork.h"

#include <QFileInfo>

QString FleetChecklist::file_for(const QString &type)
{
    return type == DeviceMessages::file_system_type() ? QStringLiteral("minifs_rom.img")
                                                      : QStringLiteral("firmware.bin");
}

QString FleetChecklist::file_text(const FleetPreflight &preflight)
{
    if (!preflight.ok)
        return refusal(preflight);
    // Two lines of 32 digits: one of 64 would not fit the panel.
    const QString hash = QString::fromLatin1(preflight.sha256);
    return QStringLiteral("%1: %2 字节\nSHA-256 %3\n%4\n修改于 %5")
            .arg(preflight.file_name)
            .arg(preflight.size)
            .arg(hash.left(hash.size() / 2), hash.mid(hash.size() / 2),
                    preflight.modified.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
}

QString FleetChecklist::refusal(const FleetPreflight &preflight)
{
    if (preflight.ok)
        return QString();
    if (!QFileInfo(preflight.folder).isDir())
        return QStringLiteral("服务目录不存在: ") + preflight.folder;
    if (!QFileInfo::exists(preflight.path))
        return QStringLiteral("未找到 ") + preflight.file_name;
    // The engine's reason tells a folder or FIFO from a permission problem.
    return QStringLiteral("无法读取 %1 (%2)").arg(preflight.file_name, preflight.error);
}

QStringList FleetChecklist::local_addresses()
{
    QStringList addresses;
    const QList<QNetworkAddressEntry> entries = DeviceNetwork::address_entries();
    for (const QNetworkAddressEntry &entry : entries) {
        if (entry.ip().protocol() != QAbstractSocket::IPv4Protocol || entry.ip().isLoopback())
            continue;
        const QString text =
                entry.ip().toString() + QLatin1Char('/') + QString::number(entry.prefixLength());
        if (!addresses.contains(text))
            addresses << text;
    }
    return addresses;
}
