#ifndef FLEETRUNRECORDER_H
#define FLEETRUNRECORDER_H

#include "fleethistory.h"
#include "fleetrunrecord.h"

#include <QObject>

// Keeps the record of an engine's runs: notes when a run starts and the file it sends (the
// engine's pre-flight), and when the run has finished, makes its record and appends it to the
// history. One for the window's dialog and one for the command line. Thread of the engine.
class FleetRunRecorder : public QObject
{
    Q_OBJECT

public:
    // engine must outlive the recorder.
    explicit FleetRunRecorder(const FleetEngine &engine,
            const FleetHistory &history = FleetHistory(), QObject *parent = nullptr);

    // The record of the run that just finished (run_finished gave summary), appended to the
    // history. A history that cannot be written changes nothing of the run: history_error then
    // says why; it is empty when the record went in.
    FleetRunRecord finish(const FleetEngine::Summary &summary, QString *history_error);
    // The latest record finish() made; has_record() is false before the first.
    const FleetRunRecord &last() const { return latest; }
    bool has_record() const { return recorded; }
    const FleetHistory &history() const { return runs; }

private:
    const FleetEngine &engine;
    const FleetHistory runs;
    FleetPreflight file;
    QDateTime started;
    FleetRunRecord latest;
    bool recorded = false;
};

#endif // FLEETRUNRECORDER_H
