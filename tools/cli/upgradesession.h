#ifndef UPGRADESESSION_H
#define UPGRADESESSION_H

#include "commandline.h"
#include "devicemessages.h"
#include "fleetconsole.h"
#include "fleetengine.h"
#include "fleetrunrecorder.h"
#include "ipv4addresslist.h"
#include "opendownloads.h"
#include "udptransport.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QObject>
#include <QSet>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>

#include <memory>

class MyRequestHandler;

namespace quenmar {
class HttpListener;
}

// What `ondaspa-cli upgrade` was asked to do.
struct UpgradeOptions
{
    QString type; // "fs" or "update"
    bool all = false;
    QStringList serialNumbers;
    QVector<Ipv4AddressList::Entry> addresses;
    QString folder; // absolute
    QString file;
    quint16 port = DeviceMessages::http_server_port;
    quint16 devicePort = 53; // UDP port of the devices
    int parallel = FleetEngine::Run::default_parallel;
    int timeoutMs = FleetEngine::Run::default_timeout_ms;
    int retries = FleetEngine::Run::default_retries;
    int confirmMs = FleetEngine::Run::default_confirm_ms; // 0: no confirmation
    int canary = 0;
    FailureBudget maxFailures;
    QString skipVersion; // empty: none skipped
    bool json = false;
    QString report; // CSV file for the run's per-device table; empty: none
    // As given after "upgrade", and the options among them that take a value: for the
    // command line that retries the failed devices.
    QStringList arguments;
    QSet<QString> valuedOptions;
};

// One run of `ondaspa-cli upgrade`: pre-flight, the HTTP server, discovery,
// the fleet engine's run and the report. Main thread; runs its own event
// loop.
class UpgradeSession : public QObject
{
    Q_OBJECT

public:
    explicit UpgradeSession(const UpgradeOptions &options);
    ~UpgradeSession() override;

    // Runs to the end; returns the exit status: CommandLine::exitSuccess when
    // every device reached its goal, exitFailure when one failed or was not
    // found, exitUsage when the pre-flight failed or a port cannot be bound.
    int run();

public slots:
    // Stops in good order (signalName, e.g. "SIGINT", says why): no further
    // probes or commands; downloads under way end normally or by time-out;
    // then the closing table and summary, exit 1 when anything did not finish.
    // After the summary, quits at once with the run's status.
    void stop(const QString &signalName);

private:
    bool startServer();
    void discover();
    void collect();
    void startRun();
    QVector<int> chooseTargets();
    int namedDevice(const QHostAddress &address);
    int unclaimed(int index, const QVector<int> &named);
    void finish(const FleetEngine::Summary &summary);
    // Appends the run to the history (a warning when it cannot) and writes the report;
    // returns false when the report cannot be written.
    bool record(const FleetEngine::Summary &summary);
    // Ends the loop with exitCode once the server has handed every answer to
    // the system.
    void end(int exitCode);
    void drain();

    const UpgradeOptions options;
    UdpTransport transport;
    FleetEngine engine;
    FleetConsole console;
    FleetRunRecorder recorder;
    // The server's own settings, apart from the user's ./config.ini.
    QTemporaryDir settingsFolder;
    std::unique_ptr<QSettings> serverSettings;
    // Declared before the listener, which must close first.
    std::unique_ptr<MyRequestHandler> handler;
    std::unique_ptr<quenmar::HttpListener> listener;
    QTimer collectTimer;
    int collectTicks = 0;
    QTimer drainTimer;
    QElapsedTimer draining;
    int exitStatus = CommandLine::exitSuccess;
    bool stopping = false;
    bool ending = false;
    QList<FleetConsole::Missing> missing;
    OpenDownloads downloads;
    QVector<int> runDevices;
    bool waitNoticed = false;
    QSet<int> reportedClaims;
    QEventLoop loop;
};

#endif // UPGRADESESSION_H
