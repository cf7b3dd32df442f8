#include "fleetreport.h"

#include "filereplace.h"

#include <QDir>

namespace {

const char byte_order_mark[] = "\xEF\xBB\xBF";
const QString row_end = QStringLiteral("\r\n");

QString row(const QStringList &cells)
{
    QStringList quoted;
    for (const QString &text : cells)
        quoted << FleetReport::cell(text);
    return quoted.join(QLatin1Char(',')) + row_end;
}

QString seconds_text(double seconds)
{
    return seconds < 0 ? QString() : QString::number(seconds, 'f', 1);
}

} // namespace

QStringList FleetReport::columns()
{
    return { QStringLiteral("started"), QStringLiteral("type"), QStringLiteral("file"),
        QStringLiteral("sha256"), QStringLiteral("sn"), QStringLiteral("address"),
        QStringLiteral("ver_before"), QStringLiteral("ver_after"), QStringLiteral("state"),
        QStringLiteral("attempts"), QStringLiteral("bytes"), QStringLiteral("seconds") };
}

QByteArray FleetReport::csv(const FleetRunRecord &record)
{
    QString text = row(columns());
    const QString started = FleetRunRecord::time_text(record.started);
    for (const FleetRunRecord::Device &device : record.devices)
        text += row({ started, record.type, record.file_name, QString::fromLatin1(record.sha256),
                device.serial_number, device.address, device.version_before, device.version_after,
                device.state, QString::number(device.attempts), QString::number(device.bytes),
                seconds_text(device.seconds) });
    return QByteArray(byte_order_mark) + text.toUtf8();
}

QString FleetReport::cell(const QString &text)
{
    static const QString formula_starts = QStringLiteral("=+-@\t\r");
    QString value = text;
    if (!value.isEmpty() && formula_starts.contains(value.at(0)))
        value.prepend(QLatin1Char('\''));
    if (value.contains(QLatin1Char(',')) || value.contains(QLatin1Char('"'))
            || value.contains(QLatin1Char('\n')) || value.contains(QLatin1Char('\r')))
        return QLatin1Char('"') + value.replace(QLatin1Char('"'), QStringLiteral("\"\""))
                + QLatin1Char('"');
    return value;
}

bool FleetReport::write(const QString &path, const FleetRunRecord &record, QString *error)
{
    QString reason;
    if (FileReplace::write_whole(path, csv(record), &reason))
        return true;
    *error = QStringLiteral("cannot write %1: %2").arg(QDir::toNativeSeparators(path), reason);
    return false;
}
