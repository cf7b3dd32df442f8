#include "probetally.h"

#include <QStringList>

void ProbeTally::start(const QList<QHostAddress> &addresses)
{
    probed = addresses;
    wanted.clear();
    for (const QHostAddress &address : addresses)
        wanted.insert(address.toIPv4Address());
    answered.clear();
}

bool ProbeTally::take(const QHostAddress &sender)
{
    bool is_ipv4 = false;
    const quint32 address = sender.toIPv4Address(&is_ipv4);
    if (!is_ipv4 || !wanted.contains(address) || answered.contains(address))
        return false;
    answered.insert(address);
    return true;
}

QString ProbeTally::finish()
{
    QStringList silent;
    int unnamed = 0;
    for (const QHostAddress &probe : qAsConst(probed)) {
        if (answered.contains(probe.toIPv4Address()))
            continue;
        if (silent.size() < max_named)
            silent << probe.toString();
        else
            ++unnamed;
    }
    QString line =
            QStringLiteral("探测 %1 个地址: %2 个应答").arg(probed.size()).arg(answered.size());
    if (!silent.isEmpty()) {
        line += QStringLiteral(", %1 个无应答: ").arg(silent.size() + unnamed)
                + silent.join(QStringLiteral(", "));
        if (unnamed > 0)
            line += QStringLiteral(" 等");
    }
    start({});
    return line;
}
