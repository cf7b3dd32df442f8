#ifndef FLEETENGINE_H
#define FLEETENGINE_H

#include "devicemessages.h"
#include "downloadobserver.h"
#include "fleetdevice.h"
#include "fleetpreflight.h"
#include "rolloutgate.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QVector>

#include <memory>

class FleetClock;
class FleetTransport;

// Upgrades many devices at once: finds them (broadcast search, unicast
// probes), sends each its upgrade command, follows its download through the
// file service's reports (matched by the peer address of the HTTP
// connection) and, when asked, waits for it to come back from its restart. At most Run::parallel devices are between "command sent" and the
// end of their attempt at once; the next one starts as soon as one ends.
// Devices waiting to come back no longer count: they load neither the
// server nor the network.
// A run may hold back all but its canaries till they have succeeded, and
// halts (no further commands) when a canary fails or its failure budget is
// spent (RolloutGate).
//
// Event-driven on the thread that created it; no widgets, no sockets of its
// own. Its owner sends through a FleetTransport and feeds incoming datagrams
// to take_datagram(). The file service's reports arrive by themselves: the
// engine registers with DownloadReports for its lifetime and takes them on
// its own thread.
class FleetEngine : public QObject
{
    Q_OBJECT

public:
    using State = FleetDevice::State;

    // While waiting for a device to come back, it is probed this often, in ms.
    static constexpr int confirm_probe_interval_ms = 1000;

    struct Run
    {
        // What a run does unless told otherwise; the fleet dialog's settings
        // and the command line's options start from these.
        static constexpr int default_parallel = 8;
        static constexpr int default_timeout_ms = 60000;
        static constexpr int default_retries = 1;
        static constexpr int default_confirm_ms = 0;

        // DeviceMessages::file_system_type() or firmware_type().
        QString type;
        // HTTP port announced in the command.
        quint16 http_port = DeviceMessages::http_server_port;
        // The file the devices will ask for, below the served folder.
        QString file_name;
        // Devices between "command sent" and an end at once; at least 1.
        int parallel = default_parallel;
        // How long a device may take to make its first request after the
        // command, or its download after asking for the headers; at least 1.
        int timeout_ms = default_timeout_ms;
        // Further commands to a device that ended interrupted or without an
        // answer; at least 0.
        int retries = default_retries;
        // How long to wait for a device to come back after its download:
        // to miss a probe and answer again, or to answer with another "ver".
        // One that answers unchanged all along is "not back". 0 leaves
        // confirmation off.
        int confirm_ms = default_confirm_ms;
        // The first this many devices that get a command are canaries: the
        // others get none until every canary has reached goal(), and none at
        // all when one fails. 0 leaves it off.
        int canary = 0;
        // Once more devices have failed for good than it allows, no further
        // commands are sent.
        FailureBudget max_failures;
        // Devices whose "ver" is this get no command and end "up to date";
        // empty leaves it off.
        QString skip_version;

        // The state a device of this run ends in when it succeeded: "back"
        // with confirmation, else "file sent".
        FleetDevice::State goal() const
        {
            return confirm_ms > 0 ? FleetDevice::State::Back : FleetDevice::State::FileSent;
        }
        // Whether a device of this run that ended in state failed: it got a command and did
        // not reach goal().
        bool failed(FleetDevice::State state) const
        {
            return state != goal() && state != FleetDevice::State::Listed
                    && state != FleetDevice::State::NotStarted
                    && state != FleetDevice::State::UpToDate;
        }
    };

    struct Summary
    {
        // Indexes of the run's devices, in the order they were given.
        QVector<int> devices;
        // Reached the run's goal().
        int succeeded = 0;
        // Got a command and did not reach the goal.
        int failed = 0;
        // A stop or a halt came before their command ("not started").
        int not_started = 0;
        // Already at Run::skip_version.
        int up_to_date = 0;
        // From the first command to the last device's end, in ms; -1 when no
        // command was sent.
        qint64 elapsed_ms = -1;
        bool stopped = false;
        // Why the run sent no further commands before its end, and the
        // device whose failure made it; in English, e.g. "canary SN-1 failed:
        // no answer" (empty when it did not halt).
        RolloutGate::Halt halt = RolloutGate::Halt::None;
        int halt_device = -1;
        int allowed_failures = -1;
        QString halt_reason;
        // The file's SHA-256 at the pre-flight and again at the run's end; they differ when the
        // file changed during the run (empty when it could not be read).
        QByteArray sha256_before;
        QByteArray sha256_after;
        bool file_changed() const { return sha256_before != sha256_after; }
    };

    // transport must outlive the engine. Without a clock the engine keeps a
    // SystemFleetClock; a given clock is not owned and must outlive it.
    explicit FleetEngine(
            FleetTransport &transport, FleetClock *clock = nullptr, QObject *parent = nullptr);
    ~FleetEngine() override;

    // The UDP port probes and commands go to; DeviceMessages::device_port
    // unless set (simulators may listen elsewhere).
    void set_device_port(quint16 port) { target_port = port; }

    // Sends DeviceMessages::probes_per_search probes to every broadcast
    // address of the local IPv4 networks (the transport's entries). Returns
    // the number of broadcast addresses; 0 means there is no network to
    // search.
    int search();
    // Sends one probe to each address by unicast.
    void probe(const QList<QHostAddress> &addresses);
    // One datagram from sender. A discovery reply from an unknown address
    // adds a device (or a claim, when its serial number is known from another
    // address); from a device waiting to come back, it makes it "back" when
    // the device was silent since or its "ver" changed (Run::confirm_ms).
    // Returns false when the datagram is no discovery reply.
    bool take_datagram(const QByteArray &datagram, const QHostAddress &sender);
    // Adds a device known from elsewhere (e.g. the window's list); returns
    // its index, or that of the device already known at its address.
    int add_device(const QString &serial_number, const QString &version,
            const QString &sound_version, const QHostAddress &address);

    int device_count() const { return devices.size(); }
    // index from 0 to device_count() - 1.
    const FleetDevice &device(int index) const { return devices.at(index); }
    // Index of the device at address (IPv4-mapped IPv6 forms match their
    // IPv4 address), or -1.
    int find_device(const QHostAddress &address) const;
    // Replies cannot be authenticated: a serial number of a known device
    // answered from another address is kept as a claim, never merged. The
    // other addresses claiming device index's serial number, in order.
    QList<QHostAddress> claims(int index) const;
    // Index of the device whose serial number address claimed, or -1.
    int find_claimant(const QHostAddress &address) const;
    // Makes address, one of the device's claims, the device's own (the host
    // named by the user is the device); its former address becomes a claim.
    // False when address claimed nothing of index.
    bool take_claim(int index, const QHostAddress &address);

    // The check start() makes, for showing before a run.
    static FleetPreflight preflight(const QString &file_name);
    // Starts upgrading the devices of the given indexes. Refuses, with the
    // reason in error and no datagram sent, while a run is under way, for
    // invalid settings or indexes, or when the pre-flight fails (reported
    // by preflight_checked first).
    bool start(const Run &run, const QVector<int> &device_indexes, QString *error = nullptr);
    // No further commands and no retries: devices not yet started become
    // "not started" at once; those under way end as they will. run_finished follows when
    // the last one has ended.
    void stop();
    bool is_running() const { return running; }
    // Devices between "command sent" and the end of their attempt.
    int active_count() const;
    const Run &run() const { return current_run; }

    // A report of the file service. Fed automatically (invoked by name from
    // the connection threads); public for tests and for owners that collect
    // reports themselves.
    Q_INVOKABLE void take_report(const DownloadReport &report);

signals:
    void device_added(int index);
    void preflight_checked(const FleetPreflight &preflight);
    // Every change of a device's state; a retry shows as "interrupted" or
    // "no answer" followed by "command sent" with one more attempt.
    void state_changed(int index, FleetDevice::State state);
    // The percentage of a download changed: of the bytes the device has
    // acknowledged where the system tells (FleetDevice::percent).
    void progress_changed(int index, int percent);
    // A device came back after its download (it missed a probe, then answered, or it answered
    // with another "ver"): its "ver" before and after.
    void versions_known(int index, const QString &before, const QString &after);
    // Every request the file service answered; index is -1 when it came
    // from no device of the run.
    void request_answered(const DownloadReport &report, int index);
    void run_finished(const FleetEngine::Summary &summary);
    // A reply from address (as text) claimed the serial number of device index, known at
    // another address.
    void serial_conflict(int index, const QString &address);

private:
    class Feed;

    // What the engine keeps per device beside what it shows.
    struct Tracking
    {
        bool in_run = false;
        bool queued = false;
        // Time-out of the current attempt; -1 while none runs.
        qint64 deadline = -1;
        bool confirming = false;
        qint64 next_probe = -1;
        qint64 confirm_deadline = -1;
        // The latest confirmation probe has had no answer yet.
        bool probe_unanswered = false;
        // A confirmation probe went unanswered: the device has been away.
        bool was_silent = false;
    };

    // A discovery reply from an address that is not the device's own.
    struct Claim
    {
        QHostAddress address;
        QString version;
        QString sound_version;
    };

    void note_claim(int index, const Claim &claim);
    void set_state(int index, State state);
    void send_command(int index);
    // Ends an attempt; a retry is queued when allowed.
    void end_attempt(int index, State state);
    void end_device(int index, State state);
    void download_ended(int index, const DownloadReport &report);
    bool follows_reports(int index) const;
    bool is_run_file(const DownloadReport &report) const;
    static DownloadReport::Outcome whole_download(const DownloadReport &report);
    void resume(int index);
    void wake();
    // Starts what may start, ends the run when nothing is left, and asks
    // the clock for the next wake-up.
    void advance();
    // Devices waiting for a command end: "not started", or as their last attempt ended.
    void end_queued();
    void finish_run();
    // Why the failure of device index halted the run.
    QString halt_reason(int index) const;
    void recheck_file(Summary &summary) const;

    FleetTransport &transport;
    quint16 target_port;
    std::unique_ptr<FleetClock> own_clock;
    FleetClock *clock;
    std::unique_ptr<Feed> feed;
    QVector<FleetDevice> devices;
    QVector<Tracking> tracking;
    // Devices waiting for a command, retries first.
    QList<int> queue;
    QVector<int> run_devices;
    Run current_run;
    bool running = false;
    bool stopping = false;
    RolloutGate gate;
    QString halt_text;
    qint64 first_command_ms = -1;
    QByteArray run_sha256;
    QHash<int, QList<Claim>> claimed;
};
Q_DECLARE_METATYPE(FleetEngine::Summary)

#endif // FLEETENGINE_H
