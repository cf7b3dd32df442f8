#ifndef FLEETREPORT_H
#define FLEETREPORT_H

#include "fleetrunrecord.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

// A run's per-device table as CSV for a spreadsheet: UTF-8 with a byte order mark (so the
// Chinese text opens right), a header row, one row per device, RFC 4180 quoting and CRLF line
// ends. A cell that a spreadsheet would take for a formula (starting with = + - @, a tab or a
// carriage return; a serial number comes from the device) is led by an apostrophe. Plain
// functions; any thread.
class FleetReport
{
public:
    // The header row: started, type, file, sha256, sn, address, ver_before, ver_after,
    // state, attempts, bytes, seconds.
    static QStringList columns();
    static QByteArray csv(const FleetRunRecord &record);
    // One cell as it goes into a row: neutralised, then quoted when needed.
    static QString cell(const QString &text);

    // Writes csv(record) to path through a temporary file that replaces it whole. False when
    // it cannot; error then says why ("cannot write PATH: reason").
    static bool write(const QString &path, const FleetRunRecord &record, QString *error);
};

#endif // FLEETREPORT_H
