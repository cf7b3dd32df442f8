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
    // Why the check failed, for the caller to word in its own language.
    enum class Problem {
        None,
        NoName, // no file named
        LeavesFolder, // the name climbs out of the served folder or holds a backslash
        NoFolder, // the served folder does not exist or is not a folder
        NoSuchFile, // nothing at path
        NotRegularFile, // a folder, FIFO or device at path
        Unreadable, // path cannot be opened or read; reason says why
    };

    bool ok = false;
    // None when ok.
    Problem problem = Problem::None;
    // With Unreadable, the system's words.
    QString reason;
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

    // Why the check failed in plain English, as the engine's refusals and
    // the command line say it, e.g. "/srv/html/x.img: no such file"; empty
    // when ok.
    QString problem_text() const;
};
Q_DECLARE_METATYPE(FleetPreflight)

#endif // FLEETPREFLIGHT_H
