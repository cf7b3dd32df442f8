#ifndef FLEETHISTORY_H
#define FLEETHISTORY_H

#include "fleetrunrecord.h"

#include <QString>
#include <QVector>

// The per-user history of fleet runs: a JSON Lines file, one run record a line, oldest first,
// shared by the window and the command line. An append is one write of a whole line, so a
// crash leaves at most a torn last line, which reading skips and the next append puts on a
// line of its own. The file is bounded (max_runs, max_bytes): when an append would pass a
// bound, the newest runs that fit are written to a temporary file that replaces it whole.
// Appends from two programs at once take turns through a lock file beside it. Plain
// value; the caller's thread.
class FleetHistory
{
public:
    // The runs kept.
    static constexpr int max_runs = 500;
    // The bytes kept: some 80 runs of 1000 devices each.
    static constexpr qint64 max_bytes = 16 * 1024 * 1024;

    // path: the history file (default_path() for the user's own).
    explicit FleetHistory(const QString &path = default_path());

    // fleet-history.jsonl in the folder "ondaspa" of the user's data location
    // (QStandardPaths::GenericDataLocation: ~/.local/share, or XDG_DATA_HOME, on Linux;
    // %LOCALAPPDATA% on Windows), the same for the window and the command line.
    static QString default_path();
    const QString &path() const { return file_path; }

    // Adds record as the newest run, dropping the oldest beyond the bounds. False when the file
    // cannot be written; error then says why ("cannot write PATH: reason").
    bool append(const FleetRunRecord &record, QString *error) const;

    struct Reading
    {
        // Oldest first.
        QVector<FleetRunRecord> runs;
        // Lines that hold no run record (a torn last line, a line edited by hand).
        int skipped_lines = 0;
        // Why the file could not be read; empty when it was, or when there is none yet.
        QString error;
    };
    Reading read() const;

private:
    QString file_path;
};

#endif // FLEETHISTORY_H
