#ifndef FLEETCONSOLE_H
#define FLEETCONSOLE_H

#include "downloadobserver.h"
#include "fleetengine.h"

#include <QHash>
#include <QJsonObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QTextStream>

// What `ondaspa-cli upgrade` tells its user: one human line per event with a
// timestamp on stderr, a closing table, and with JSON on, one JSON object per
// event and a closing summary on stdout (JSON Lines). Main thread only.
class FleetConsole
{
public:
    // A target that never answered: a serial number of --sn or an address of --ip; or one
    // whose serial number answered from several addresses, none of which gets a command.
    struct Missing
    {
        QString serialNumber;
        QString address;
        QStringList conflictingAddresses;
    };

    // planned: the run to be started (type, file, confirmation). arguments: the command's
    // after "upgrade", and valuedOptions those of its options that take a value: the
    // summary's command line for retrying the failed devices repeats them.
    FleetConsole(const FleetEngine &engine, const FleetEngine::Run &planned, bool json,
            const QStringList &arguments, const QSet<QString> &valuedOptions);

    void preflight(const FleetPreflight &preflight);
    void serving(quint16 httpPort, quint16 udpPort, const QString &folder);
    void deviceFound(int index);
    void missing(const Missing &target);
    // A reply from address claimed the serial number of the device at index; it changes nothing.
    void claimIgnored(int index, const QHostAddress &address);
    // Addresses of ranges that did not answer; counted, not failures.
    void silentRangeAddresses(int count);
    // Discovery is over: devices known, and the replies the system dropped
    // because the socket's buffer was full (-1: the system does not tell).
    void discovered(int devices, qint64 dropped);
    void stateChanged(int index);
    void progressChanged(int index, int percent);
    void versionsKnown(int index);
    void requestAnswered(const DownloadReport &report, int index);
    // The table, the totals, why the run halted, the command line that retries the failed
    // devices and the JSON summary; exitCode goes into the summary.
    void summary(const FleetEngine::Summary &summary, const QList<Missing> &missing, int exitCode);
    // A failure that ends the command, "ondaspa-cli upgrade: " and text; in
    // JSON also an "error" event.
    void error(const QString &text);
    void notice(const QString &text);
    // A stop was asked for by the signal of that name ("SIGINT", "SIGTERM").
    void stopping(const QString &signalName);

private:
    void line(const QString &text);
    void event(const QString &name, QJsonObject object);
    QJsonObject deviceObject(int index) const;
    QString deviceLabel(int index) const;
    void fileChanged(const FleetEngine::Summary &summary);
    void printTable(const FleetEngine::Summary &summary, const QList<Missing> &missing);

    const FleetEngine &engine;
    const FleetEngine::Run planned;
    const bool json;
    // For the retry's command line.
    const QStringList arguments;
    const QSet<QString> valuedOptions;
    // stderr and stdout (CommandLine's).
    QTextStream &human;
    QTextStream &machine;
    // Per device, the tenths of its download reported so far.
    QHash<int, int> reportedSteps;
};

#endif // FLEETCONSOLE_H
