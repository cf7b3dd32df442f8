#include "fleetconsole.h"

#include "commandline.h"
#include "logtime.h"
#include "outsidetext.h"
#include "retrycommand.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>

namespace {

// JSON progress events per download: one per tenth passed, so a hundred devices do
// not flood a script with ten thousand lines.
constexpr int progressStepPercent = 10;

QString outcomeName(DownloadReport::Outcome outcome)
{
    switch (outcome) {
    case DownloadReport::Outcome::InProgress:
        return QStringLiteral("in progress");
    case DownloadReport::Outcome::Complete:
        return QStringLiteral("complete");
    case DownloadReport::Outcome::Interrupted:
        return QStringLiteral("interrupted");
    case DownloadReport::Outcome::NotFound:
        return QStringLiteral("not found");
    case DownloadReport::Outcome::Refused:
        return QStringLiteral("refused");
    }
    return QString();
}

QString seconds(qint64 milliseconds)
{
    return QString::number(double(milliseconds) / 1000.0, 'f', 1);
}

// A device of a run's summary that is still "listed" was stopped before the
// run began.
QString summaryStateName(FleetDevice::State state)
{
    return FleetDevice::state_name(
            state == FleetDevice::State::Listed ? FleetDevice::State::NotStarted : state);
}

bool notStarted(FleetDevice::State state)
{
    return state == FleetDevice::State::NotStarted || state == FleetDevice::State::Listed;
}

} // namespace

FleetConsole::FleetConsole(const FleetEngine &engine, const FleetEngine::Run &planned, bool json,
        const QStringList &arguments, const QSet<QString> &valuedOptions)
    : engine(engine), planned(planned), json(json), arguments(arguments),
      valuedOptions(valuedOptions), human(CommandLine::err()), machine(CommandLine::out())
{
}

void FleetConsole::preflight(const FleetPreflight &checked)
{
    QJsonObject object{ { "folder", checked.folder }, { "file", checked.file_name },
        { "path", checked.path }, { "ok", checked.ok } };
    if (checked.ok) {
        object.insert(QStringLiteral("size"), checked.size);
        object.insert(QStringLiteral("sha256"), QString::fromLatin1(checked.sha256));
        object.insert(QStringLiteral("modified"), checked.modified.toUTC().toString(Qt::ISODate));
        line(QStringLiteral("file %1: %2 bytes, sha256 %3")
                        .arg(checked.path)
                        .arg(checked.size)
                        .arg(QString::fromLatin1(checked.sha256)));
    } else {
        object.insert(QStringLiteral("error"), checked.problem_text());
    }
    event(QStringLiteral("preflight"), object);
}

void FleetConsole::serving(quint16 httpPort, quint16 udpPort, const QString &folder)
{
    line(QStringLiteral("serving %1 on TCP port %2; probes and commands from UDP port %3")
                    .arg(folder)
                    .arg(httpPort)
                    .arg(udpPort));
    event(QStringLiteral("serving"),
            { { "folder", folder }, { "http_port", httpPort }, { "udp_port", udpPort } });
}

void FleetConsole::deviceFound(int index)
{
    const FleetDevice &device = engine.device(index);
    QString text = deviceLabel(index) + QStringLiteral(" found");
    if (!device.version.isEmpty())
        text += QStringLiteral(", ver ") + device.version;
    if (!device.sound_version.isEmpty())
        text += QStringLiteral(", snd ") + device.sound_version;
    line(text);
    QJsonObject object = deviceObject(index);
    object.insert(QStringLiteral("ver"), device.version);
    object.insert(QStringLiteral("snd"), device.sound_version);
    event(QStringLiteral("found"), object);
}

void FleetConsole::missing(const Missing &target)
{
    QJsonObject object;
    if (!target.conflictingAddresses.isEmpty()) {
        line(QStringLiteral("%1 answered from %2: serial-number conflict, no command to either")
                        .arg(target.serialNumber,
                                target.conflictingAddresses.join(QStringLiteral(" and "))));
        object.insert(QStringLiteral("sn"), target.serialNumber);
        object.insert(QStringLiteral("addresses"),
                QJsonArray::fromStringList(target.conflictingAddresses));
        event(QStringLiteral("conflict"), object);
        return;
    }
    if (!target.serialNumber.isEmpty()) {
        line(target.serialNumber + QStringLiteral(" did not answer the search"));
        object.insert(QStringLiteral("sn"), target.serialNumber);
    } else {
        line(target.address + QStringLiteral(" did not answer the probe"));
        object.insert(QStringLiteral("address"), target.address);
    }
    event(QStringLiteral("missing"), object);
}

void FleetConsole::claimIgnored(int index, const QHostAddress &address)
{
    line(QStringLiteral("%1 claims the serial number of %2: serial-number conflict, ignored")
                    .arg(address.toString(), deviceLabel(index)));
    QJsonObject object = deviceObject(index);
    object.insert(QStringLiteral("addresses"),
            QJsonArray{ engine.device(index).address.toString(), address.toString() });
    object.insert(QStringLiteral("ignored"), address.toString());
    event(QStringLiteral("conflict"), object);
}

void FleetConsole::silentRangeAddresses(int count)
{
    if (count == 0)
        return;
    line(QStringLiteral("%1 addresses of ranges did not answer").arg(count));
    event(QStringLiteral("silent"), { { "addresses", count } });
}

void FleetConsole::discovered(int devices, qint64 dropped)
{
    if (dropped > 0)
        line(QStringLiteral("the system dropped %1 replies (the receive buffer was full); %2 "
                            "devices found, others may have answered unheard")
                        .arg(dropped)
                        .arg(devices));
    QJsonObject object{ { "devices", devices } };
    object.insert(QStringLiteral("dropped"), dropped >= 0 ? QJsonValue(dropped) : QJsonValue());
    event(QStringLiteral("discovered"), object);
}

void FleetConsole::stateChanged(int index)
{
    const FleetDevice &device = engine.device(index);
    if (device.state == FleetDevice::State::CommandSent)
        reportedSteps.remove(index);
    QString text = deviceLabel(index) + QLatin1Char(' ') + FleetDevice::state_name(device.state);
    if (device.state == FleetDevice::State::CommandSent && device.attempts > 1)
        text += QStringLiteral(" (attempt %1)").arg(device.attempts);
    else if (device.state == FleetDevice::State::FileSent
            || device.state == FleetDevice::State::Interrupted)
        text += QStringLiteral(" (%1, %2 bytes)").arg(device.path).arg(device.bytes);
    else if (device.state == FleetDevice::State::NotFound)
        text += QStringLiteral(" (%1)").arg(device.path);
    line(text);
    QJsonObject object = deviceObject(index);
    object.insert(QStringLiteral("state"), FleetDevice::state_name(device.state));
    object.insert(QStringLiteral("attempt"), device.attempts);
    if (!device.path.isEmpty())
        object.insert(QStringLiteral("path"), device.path);
    object.insert(QStringLiteral("bytes"), qint64(device.bytes));
    event(QStringLiteral("state"), object);
}

void FleetConsole::progressChanged(int index, int percent)
{
    // Small images move several percent a block: a tenth is reported when
    // it has been passed, not only when hit exactly.
    const int step = percent / progressStepPercent;
    if (step == reportedSteps.value(index, 0) && percent != 100)
        return;
    reportedSteps.insert(index, step);
    QJsonObject object = deviceObject(index);
    object.insert(QStringLiteral("percent"), percent);
    object.insert(QStringLiteral("bytes"), qint64(engine.device(index).bytes));
    const qint64 acknowledged = engine.device(index).acknowledged;
    object.insert(QStringLiteral("acknowledged"),
            acknowledged >= 0 ? QJsonValue(acknowledged) : QJsonValue());
    event(QStringLiteral("progress"), object);
}

void FleetConsole::versionsKnown(int index)
{
    const FleetDevice &device = engine.device(index);
    line(deviceLabel(index)
            + QStringLiteral(" ver %1 -> %2").arg(device.version, device.version_after));
    QJsonObject object = deviceObject(index);
    object.insert(QStringLiteral("ver_before"), device.version);
    object.insert(QStringLiteral("ver_after"), device.version_after);
    event(QStringLiteral("versions"), object);
}

void FleetConsole::requestAnswered(const DownloadReport &report, int index)
{
    const bool inRun = index >= 0;
    const QString expected = QLatin1Char('/') + planned.file_name;
    // Requests of the run's devices for the announced file show as states.
    if (!inRun || report.path != expected) {
        line(QStringLiteral("%1 %2 %3: %4, %5 bytes%6")
                        .arg(index >= 0 ? deviceLabel(index) : report.peer.toString(),
                                QString::fromLatin1(report.method), report.path,
                                outcomeName(report.outcome))
                        .arg(report.bytes_sent)
                        .arg(inRun ? QString() : QStringLiteral(" (not a device of this run)")));
    }
    QJsonObject object{ { "address", report.peer.toString() },
        { "method", QString::fromLatin1(report.method) }, { "path", report.path },
        { "bytes", qint64(report.bytes_sent) }, { "size", report.file_size },
        { "outcome", outcomeName(report.outcome) } };
    object.insert(QStringLiteral("sn"),
            index >= 0 ? QJsonValue(engine.device(index).serial_number) : QJsonValue());
    event(QStringLiteral("request"), object);
}

void FleetConsole::summary(
        const FleetEngine::Summary &summary, const QList<Missing> &missingTargets, int exitCode)
{
    printTable(summary, missingTargets);
    QStringList failed;
    QStringList failedAddresses;
    QStringList unstarted;
    QJsonArray devices;
    for (int index : summary.devices) {
        const FleetDevice &device = engine.device(index);
        if (notStarted(device.state)) {
            unstarted << device.serial_number;
        } else if (planned.failed(device.state)) {
            failed << device.serial_number;
            failedAddresses << device.address.toString();
        }
        QJsonObject object = deviceObject(index);
        object.insert(QStringLiteral("ver_before"), device.version);
        object.insert(QStringLiteral("ver_after"), device.version_after);
        object.insert(QStringLiteral("state"), summaryStateName(device.state));
        object.insert(QStringLiteral("attempts"), device.attempts);
        object.insert(QStringLiteral("bytes"), qint64(device.bytes));
        object.insert(QStringLiteral("seconds"),
                device.started_ms >= 0 && device.ended_ms >= 0
                        ? QJsonValue(double(device.ended_ms - device.started_ms) / 1000.0)
                        : QJsonValue());
        devices.append(object);
    }
    QJsonArray missingArray;
    for (const Missing &target : missingTargets) {
        if (!target.conflictingAddresses.isEmpty())
            failed << target.serialNumber + QStringLiteral(" (")
                            + target.conflictingAddresses.join(QStringLiteral(" and "))
                            + QLatin1Char(')');
        else
            failed << (target.serialNumber.isEmpty() ? target.address : target.serialNumber);
        if (target.conflictingAddresses.isEmpty() && !target.address.isEmpty())
            failedAddresses << target.address;
        QJsonObject object = target.serialNumber.isEmpty()
                ? QJsonObject{ { "address", target.address } }
                : QJsonObject{ { "sn", target.serialNumber } };
        if (!target.conflictingAddresses.isEmpty())
            object.insert(QStringLiteral("addresses"),
                    QJsonArray::fromStringList(target.conflictingAddresses));
        missingArray.append(object);
    }
    QString totals = QStringLiteral("%1 of %2 upgraded")
                             .arg(summary.succeeded)
                             .arg(summary.devices.size() + missingTargets.size());
    if (summary.up_to_date > 0)
        totals += QStringLiteral(", %1 up to date").arg(summary.up_to_date);
    if (!failed.isEmpty())
        totals += QStringLiteral(", failed: ") + failed.join(QStringLiteral(", "));
    if (!unstarted.isEmpty())
        totals += QStringLiteral(", not started: ") + unstarted.join(QStringLiteral(", "));
    if (summary.elapsed_ms >= 0)
        totals += QStringLiteral("; %1 s from the first command to the last end")
                          .arg(seconds(summary.elapsed_ms));
    if (summary.stopped)
        totals += QStringLiteral(" (stopped)");
    fileChanged(summary);
    line(totals);
    if (!summary.halt_reason.isEmpty())
        line(QStringLiteral("halted: ") + summary.halt_reason);
    const QString retry = RetryCommand::line(arguments, valuedOptions, failedAddresses);
    if (!retry.isEmpty())
        line(QStringLiteral("to retry the failed devices: ") + retry);
    event(QStringLiteral("summary"),
            { { "type", planned.type }, { "file", planned.file_name },
                    { "succeeded", summary.succeeded },
                    { "failed", summary.failed + missingTargets.size() },
                    { "not_started", summary.not_started }, { "up_to_date", summary.up_to_date },
                    { "halted",
                            summary.halt_reason.isEmpty() ? QJsonValue()
                                                          : QJsonValue(summary.halt_reason) },
                    { "retry", retry.isEmpty() ? QJsonValue() : QJsonValue(retry) },
                    { "seconds",
                            summary.elapsed_ms >= 0
                                    ? QJsonValue(double(summary.elapsed_ms) / 1000.0)
                                    : QJsonValue() },
                    { "stopped", summary.stopped }, { "file_changed", summary.file_changed() },
                    { "exit", exitCode }, { "devices", devices }, { "missing", missingArray } });
}

void FleetConsole::fileChanged(const FleetEngine::Summary &summary)
{
    if (!summary.file_changed())
        return;
    const QString after = summary.sha256_after.isEmpty()
            ? QStringLiteral("it cannot be read now")
            : QStringLiteral("now sha256 ") + QString::fromLatin1(summary.sha256_after);
    line(QStringLiteral("file %1 changed during the run: sha256 %2 at the start, %3; the devices "
                        "may hold either")
                    .arg(planned.file_name, QString::fromLatin1(summary.sha256_before), after));
}

void FleetConsole::error(const QString &text)
{
    human << "ondaspa-cli upgrade: " << OutsideText::escaped(text) << Qt::endl;
    event(QStringLiteral("error"), { { "message", text } });
}

void FleetConsole::notice(const QString &text)
{
    line(text);
}

void FleetConsole::stopping(const QString &signalName)
{
    line(signalName
            + QStringLiteral(": stopping; no further commands, downloads under way end normally "
                             "or by time-out (once more to quit at once)"));
    event(QStringLiteral("stopping"), { { "signal", signalName } });
}

void FleetConsole::line(const QString &text)
{
    // Device replies and request paths are part of many lines.
    human << QDateTime::currentDateTime().toString(LogTime::format()) << ' '
          << OutsideText::escaped(text) << Qt::endl;
}

void FleetConsole::event(const QString &name, QJsonObject object)
{
    if (!json)
        return;
    object.insert(QStringLiteral("event"), name);
    object.insert(
            QStringLiteral("time"), QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs));
    machine << OutsideText::json_line(QJsonDocument(object).toJson(QJsonDocument::Compact))
            << Qt::endl;
}

QJsonObject FleetConsole::deviceObject(int index) const
{
    const FleetDevice &device = engine.device(index);
    return { { "sn", device.serial_number }, { "address", device.address.toString() } };
}

QString FleetConsole::deviceLabel(int index) const
{
    const FleetDevice &device = engine.device(index);
    return device.serial_number + QLatin1Char(' ') + device.address.toString();
}

void FleetConsole::printTable(
        const FleetEngine::Summary &summary, const QList<Missing> &missingTargets)
{
    QList<QStringList> rows{ { QStringLiteral("serial"), QStringLiteral("address"),
            QStringLiteral("ver before -> after"), QStringLiteral("state"), QStringLiteral("bytes"),
            QStringLiteral("seconds") } };
    for (int index : summary.devices) {
        const FleetDevice &device = engine.device(index);
        const QString after =
                device.version_after.isEmpty() ? QStringLiteral("?") : device.version_after;
        rows.append({ device.serial_number, device.address.toString(),
                planned.confirm_ms > 0 ? device.version + QStringLiteral(" -> ") + after
                                       : device.version,
                summaryStateName(device.state), QString::number(device.bytes),
                device.started_ms >= 0 && device.ended_ms >= 0
                        ? seconds(device.ended_ms - device.started_ms)
                        : QStringLiteral("-") });
    }
    for (const Missing &target : missingTargets) {
        const bool conflict = !target.conflictingAddresses.isEmpty();
        rows.append({ target.serialNumber.isEmpty() ? QStringLiteral("-") : target.serialNumber,
                conflict ? target.conflictingAddresses.join(QLatin1Char(','))
                        : target.address.isEmpty() ? QStringLiteral("-")
                                                   : target.address,
                QStringLiteral("-"),
                conflict ? QStringLiteral("conflict") : QStringLiteral("missing"),
                QStringLiteral("-"), QStringLiteral("-") });
    }
    QVector<int> widths(rows.first().size(), 0);
    for (const QStringList &row : qAsConst(rows)) {
        for (int column = 0; column < row.size(); ++column)
            widths[column] = qMax(widths.at(column), row.at(column).size());
    }
    for (const QStringList &row : qAsConst(rows)) {
        QString text;
        for (int column = 0; column < row.size(); ++column) {
            const bool number = column >= 4;
            const QString cell = number ? row.at(column).rightJustified(widths.at(column))
                                        : row.at(column).leftJustified(widths.at(column));
            text += (column ? QStringLiteral("  ") : QString()) + cell;
        }
        human << OutsideText::escaped(text.trimmed()) << '\n';
    }
    human.flush();
}
