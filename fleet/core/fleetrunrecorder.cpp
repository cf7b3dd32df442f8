#include "fleetrunrecorder.h"

FleetRunRecorder::FleetRunRecorder(
        const FleetEngine &engine, const FleetHistory &history, QObject *parent)
    : QObject(parent), engine(engine), runs(history)
{
    // The engine checks the file as a run starts: that is the file the devices get.
    connect(&engine, &FleetEngine::preflight_checked, this, [this](const FleetPreflight &checked) {
        file = checked;
        started = QDateTime::currentDateTime();
    });
}

FleetRunRecord FleetRunRecorder::finish(const FleetEngine::Summary &summary, QString *history_error)
{
    latest = FleetRunRecord::of_run(engine, summary, file, started, QDateTime::currentDateTime());
    recorded = true;
    history_error->clear();
    runs.append(latest, history_error);
    return latest;
}
