#ifndef FLEETPREFLIGHT_H
#define FLEETPREFLIGHT_H

#include <QByteArray>
#include <QDateTime>
#include <QMetaType>
#include <QString>

// The check before an upgrade command leaves: the file the devices will ask
// for must be a readable regular file inside the served folder. Reads the
// whole file once to hash it; any thread.
struct FleetPreflight
{
    bool ok = false;
    // Why the check failed; empty when ok.
    QString error;
    QString folder;
    // The name as the devices ask for it, without a leading slash.
    QString file_name;
    // folder + "/" + file_name.
    QString path;
    // Filled when ok.
    qint64 size = -1;
    QByteArray sha256; // lower-case hexadecimal
    QDateTime modified;

    static FleetPreflight check(const QString &folder, const QString &file_name);
};
Q_DECLARE_METATYPE(FleetPreflight)

#endif // FLEETPREFLIGHT_H
