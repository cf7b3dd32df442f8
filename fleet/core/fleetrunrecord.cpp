#include "fleetrunrecord.h"

#include <QJsonArray>

namespace {

constexpr double ms_per_second = 1000.0;

// A device of a run's summary that is still "listed" was stopped before the run began.
QString ended_state_name(FleetDevice::State state)
{
    return FleetDevice::state_name(
            state == FleetDevice::State::Listed ? FleetDevice::State::NotStarted : state);
}

QJsonValue seconds_value(double seconds)
{
    return seconds < 0 ? QJsonValue() : QJsonValue(seconds);
}

} // namespace

FleetRunRecord FleetRunRecord::of_run(const FleetEngine &engine,
        const FleetEngine::Summary &summary, const FleetPreflight &preflight,
        const QDateTime &started, const QDateTime &ended)
{
    FleetRunRecord record;
    record.started = started;
    record.ended = ended;
    record.type = engine.run().type;
    record.file_name = engine.run().file_name;
    if (preflight.ok) {
        record.file_size = preflight.size;
        record.sha256 = preflight.sha256;
    }
    record.settings = settings_of(engine.run());
    record.succeeded = summary.succeeded;
    record.failed = summary.failed;
    record.not_started = summary.not_started;
    record.up_to_date = summary.up_to_date;
    record.halt_reason = summary.halt_reason;
    record.stopped = summary.stopped;
    for (int index : summary.devices) {
        const FleetDevice &device = engine.device(index);
        Device row;
        row.serial_number = device.serial_number;
        row.address = device.address.toString();
        row.version_before = device.version;
        row.version_after = device.version_after;
        row.state = ended_state_name(device.state);
        row.attempts = device.attempts;
        row.bytes = device.bytes;
        if (device.started_ms >= 0 && device.ended_ms >= device.started_ms)
            row.seconds = double(device.ended_ms - device.started_ms) / ms_per_second;
        record.devices.append(row);
    }
    return record;
}

QJsonObject FleetRunRecord::settings_of(const FleetEngine::Run &run)
{
    return { { "parallel", run.parallel }, { "timeout_s", run.timeout_ms / ms_per_second },
        { "retries", run.retries }, { "confirm_s", run.confirm_ms / ms_per_second },
        { "canary", run.canary }, { "max_failures", run.max_failures.text() },
        { "skip_ver", run.skip_version } };
}

QJsonObject FleetRunRecord::Device::to_json() const
{
    return { { "sn", serial_number }, { "address", address }, { "ver_before", version_before },
        { "ver_after", version_after }, { "state", state }, { "attempts", attempts },
        { "bytes", double(bytes) }, { "seconds", seconds_value(seconds) } };
}

QJsonObject FleetRunRecord::to_json() const
{
    QJsonArray rows;
    for (const Device &device : devices)
        rows.append(device.to_json());
    return { { "started", time_text(started) }, { "ended", time_text(ended) }, { "type", type },
        { "file", file_name }, { "size", double(file_size) },
        { "sha256", QString::fromLatin1(sha256) }, { "settings", settings },
        { "succeeded", succeeded }, { "failed", failed }, { "not_started", not_started },
        { "up_to_date", up_to_date }, { "stopped", stopped }, { "halted", halt_reason },
        { "devices", rows } };
}

bool FleetRunRecord::from_json(const QJsonObject &object, FleetRunRecord *record)
{
    const QDateTime started =
            QDateTime::fromString(object.value("started").toString(), Qt::ISODate);
    if (!started.isValid() || !object.value("devices").isArray())
        return false;
    *record = FleetRunRecord();
    record->started = started;
    record->ended = QDateTime::fromString(object.value("ended").toString(), Qt::ISODate);
    record->type = object.value("type").toString();
    record->file_name = object.value("file").toString();
    record->file_size = qint64(object.value("size").toDouble(-1));
    record->sha256 = object.value("sha256").toString().toLatin1();
    record->settings = object.value("settings").toObject();
    record->succeeded = object.value("succeeded").toInt();
    record->failed = object.value("failed").toInt();
    record->not_started = object.value("not_started").toInt();
    record->up_to_date = object.value("up_to_date").toInt();
    record->stopped = object.value("stopped").toBool();
    record->halt_reason = object.value("halted").toString();
    for (const auto &value : object.value("devices").toArray()) {
        const QJsonObject row = value.toObject();
        Device device;
        device.serial_number = row.value("sn").toString();
        device.address = row.value("address").toString();
        device.version_before = row.value("ver_before").toString();
        device.version_after = row.value("ver_after").toString();
        device.state = row.value("state").toString();
        device.attempts = row.value("attempts").toInt();
        device.bytes = quint64(row.value("bytes").toDouble());
        device.seconds = row.value("seconds").toDouble(-1);
        record->devices.append(device);
    }
    return true;
}

QString FleetRunRecord::time_text(const QDateTime &time)
{
    if (!time.isValid())
        return QString();
    // A local time alone would leave the offset out.
    return time.toOffsetFromUtc(time.offsetFromUtc()).toString(Qt::ISODateWithMs);
}
