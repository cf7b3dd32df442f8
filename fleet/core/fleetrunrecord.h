#ifndef FLEETRUNRECORD_H
#define FLEETRUNRECORD_H

#include "fleetengine.h"

#include <QByteArray>
#include <QDateTime>
#include <QJsonObject>
#include <QString>
#include <QVector>

// What one fleet run did, as the run history keeps it and a report shows it:
// when, what was sent, how the run was set and how each device ended. Plain
// value; any thread.
struct FleetRunRecord
{
    struct Device
    {
        QString serial_number;
        QString address;
        QString version_before;
        // Empty unless the device came back with confirmation on.
        QString version_after;
        // FleetDevice::state_name() of the state it ended in.
        QString state;
        int attempts = 0;
        quint64 bytes = 0;
        // From its first command to its end; -1 when it got none.
        double seconds = -1;

        // The device's object in a history line.
        QJsonObject to_json() const;
    };

    QDateTime started;
    QDateTime ended;
    // DeviceMessages::file_system_type() or firmware_type().
    QString type;
    QString file_name;
    qint64 file_size = -1;
    QByteArray sha256; // lower-case hexadecimal; empty when unknown
    // How the run was set, by JSON key (settings_of()); keys a reader does
    // not know are kept as they are.
    QJsonObject settings;
    int succeeded = 0;
    int failed = 0;
    int not_started = 0;
    int up_to_date = 0;
    bool stopped = false;
    // Why a failed canary or the failure budget halted the run; empty when it did not.
    QString halt_reason;
    QVector<Device> devices;

    // The record of the run engine has just finished: devices and counts from
    // summary, the file from preflight (its size and SHA-256 when the run
    // started), the settings from the engine's run.
    static FleetRunRecord of_run(const FleetEngine &engine, const FleetEngine::Summary &summary,
            const FleetPreflight &preflight, const QDateTime &started, const QDateTime &ended);
    // The run's settings under their JSON keys: "parallel", "timeout_s",
    // "retries", "confirm_s", "canary" (0: off), "max_failures" ("N" or "N%"; empty: off),
    // "skip_ver" (empty: off).
    static QJsonObject settings_of(const FleetEngine::Run &run);

    // One JSON object, the form of a history line.
    QJsonObject to_json() const;
    // The record a JSON object holds; false when it is no run record (no
    // valid "started" time or no "devices" array).
    static bool from_json(const QJsonObject &object, FleetRunRecord *record);

    // The time text of the history: ISO 8601 with milliseconds and the offset from UTC.
    static QString time_text(const QDateTime &time);
};

#endif // FLEETRUNRECORD_H
