#include "fleetsettings.h"

#include <QSettings>

namespace {

const QString group = QStringLiteral("FLEET");
const QString parallel_key = QStringLiteral("PARALLEL");
const QString timeout_key = QStringLiteral("TIMEOUT");
const QString retries_key = QStringLiteral("RETRIES");
const QString confirm_key = QStringLiteral("CONFIRM");
const QString canary_key = QStringLiteral("CANARY");
const QString max_failures_key = QStringLiteral("MAX_FAILURES");
const QString skip_version_on_key = QStringLiteral("SKIP_VERSION_ON");
const QString skip_version_key = QStringLiteral("SKIP_VERSION");

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
    settings.canary = file.value(canary_key, settings.canary).toInt();
    FailureBudget::parse(file.value(max_failures_key).toString(), &settings.max_failures);
    settings.skip_version_on = file.value(skip_version_on_key, false).toBool();
    settings.skip_version = file.value(skip_version_key).toString();
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
    file.setValue(canary_key, canary);
    file.setValue(max_failures_key, max_failures.text());
    file.setValue(skip_version_on_key, skip_version_on);
    file.setValue(skip_version_key, skip_version);
    file.endGroup();
    file.sync();
    return file.status() == QSettings::NoError;
}

FleetSettings FleetSettings::bounded() const
{
    FleetSettings settings = *this;
    settings.parallel = qBound(1, parallel, max_parallel);
    settings.timeout_seconds = qBound(1, timeout_seconds, max_seconds);
    settings.retries = qBound(0, retries, max_retries);
    settings.confirm_seconds = qBound(0, confirm_seconds, max_seconds);
    settings.canary = qBound(0, canary, max_canary);
    return settings;
}

void FleetSettings::apply_to(FleetEngine::Run *run) const
{
    run->parallel = parallel;
    run->timeout_ms = timeout_seconds * FleetClock::milliseconds_per_second;
    run->retries = retries;
    run->confirm_ms = confirm_seconds * FleetClock::milliseconds_per_second;
    run->canary = canary;
    run->max_failures = max_failures;
    run->skip_version = skip_version_on ? skip_version.trimmed() : QString();
}
