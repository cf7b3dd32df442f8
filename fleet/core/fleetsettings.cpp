#include "fleetsettings.h"

#include <QSettings>

namespace {

const QString group = QStringLiteral("FLEET");
const QString parallel_key = QStringLiteral("PARALLEL");
const QString timeout_key = QStringLiteral("TIMEOUT");
const QString retries_key = QStringLiteral("RETRIES");
const QString confirm_key = QStringLiteral("CONFIRM");

} // namespace

FleetSettings FleetSettings::load(const QString &path)
{
    QSettings file(path, QSettings::IniFormat);
    file.beginGroup(group);
    FleetSettings settings;
    settings.parallel = file.value(parallel_key, settings.parallel).toInt();
    settings.timeout_seconds = file.value(timeout_key, settings.timeout_seconds).toInt();
    settings.retries = file.value(retries_key, settings.retries).toInt();
    settings.confirm_seconds = file.value(confirm_key, settings.confirm_seconds).toInt();
    return settings.bounded();
}

bool FleetSettings::save(const QString &path) const
{
    QSettings file(path, QSettings::IniFormat);
    file.beginGroup(group);
    file.setValue(parallel_key, parallel);
    file.setValue(timeout_key, timeout_seconds);
    file.setValue(retries_key, retries);
    file.setValue(confirm_key, confirm_seconds);
    file.endGroup();
    file.sync();
    return file.status() == QSettings::NoError;
}

FleetSettings FleetSettings::bounded() const
{
    FleetSettings settings;
    settings.parallel = qBound(1, parallel, max_parallel);
    settings.timeout_seconds = qBound(1, timeout_seconds, max_seconds);
    settings.retries = qBound(0, retries, max_retries);
    settings.confirm_seconds = qBound(0, confirm_seconds, max_seconds);
    return settings;
}

void FleetSettings::apply_to(FleetEngine::Run *run) const
{
    run->parallel = parallel;
    run->timeout_ms = timeout_seconds * FleetClock::milliseconds_per_second;
    run->retries = retries;
    run->confirm_ms = confirm_seconds * FleetClock::milliseconds_per_second;
}
