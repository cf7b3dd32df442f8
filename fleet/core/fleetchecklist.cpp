#include "fleetchecklist.h"

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
    using Problem = FleetPreflight::Problem;
    switch (preflight.problem) {
    case Problem::None:
        break;
    case Problem::NoName:
        return QStringLiteral("未指定文件");
    case Problem::LeavesFolder:
        return QStringLiteral("%1 不在服务目录内").arg(preflight.file_name);
    case Problem::NoFolder:
        return QStringLiteral("服务目录不存在: ") + preflight.folder;
    case Problem::NoSuchFile:
        return QStringLiteral("未找到 ") + preflight.file_name;
    case Problem::NotRegularFile:
        return QStringLiteral("无法读取 %1 (不是普通文件)").arg(preflight.file_name);
    case Problem::Unreadable:
        return QStringLiteral("无法读取 %1 (%2)").arg(preflight.file_name, preflight.reason);
    }
    return QString();
}

QStringList FleetChecklist::local_addresses(const QList<QNetworkAddressEntry> &entries)
{
    QStringList addresses;
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
