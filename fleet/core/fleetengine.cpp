#include "fleetengine.h"
#include "devicemessages.h"
#include "devicenetwork.h"
#include "devicereply.h"
#include "downloadreports.h"
#include "fleettransport.h"
#include "servedfolder.h"
#include "systemfleetclock.h"

#include <QDir>

namespace {

int find_serial_number(const QVector<FleetDevice> &devices, const QString &serial_number)
{
    for (int index = 0; index < devices.size(); ++index) {
        if (devices.at(index).serial_number == serial_number)
            return index;
    }
    return -1;
}

} // namespace

// Takes the file service's reports on its connection threads and hands them
// to the engine's thread. Queued calls whose engine is gone are dropped.
class FleetEngine::Feed : public DownloadObserver
{
public:
    explicit Feed(FleetEngine *engine) : engine(engine) { }

    void download_progress(const DownloadReport &report) override { forward(report); }
    void request_answered(const DownloadReport &report) override { forward(report); }

private:
    void forward(const DownloadReport &report)
    {
        QMetaObject::invokeMethod(
                engine, "take_report", Qt::QueuedConnection, Q_ARG(DownloadReport, report));
    }

    FleetEngine *const engine;
};

FleetEngine::FleetEngine(FleetTransport &transport, FleetClock *clock, QObject *parent)
    : QObject(parent), transport(transport), target_port(DeviceMessages::device_port), clock(clock),
      feed(new Feed(this))
{
    qRegisterMetaType<DownloadReport>();
    qRegisterMetaType<FleetDevice::State>();
    qRegisterMetaType<FleetEngine::Summary>();
    qRegisterMetaType<FleetPreflight>();
    if (!this->clock) {
        own_clock.reset(new SystemFleetClock);
        this->clock = own_clock.get();
    }
    this->clock->set_wake([this] { wake(); });
    DownloadReports::add_observer(feed.get());
}

FleetEngine::~FleetEngine()
{
    DownloadReports::remove_observer(feed.get());
    clock->set_wake(nullptr);
    clock->wake_at(-1);
}

int FleetEngine::search()
{
    const QList<QHostAddress> targets =
            DeviceNetwork::broadcast_addresses(transport.address_entries());
    const QByteArray probe = DeviceMessages::probe();
    for (int round = 0; round < DeviceMessages::probes_per_search; ++round) {
        for (const QHostAddress &target : targets)
            transport.send_datagram(probe, target, target_port);
    }
    return targets.size();
}

void FleetEngine::probe(const QList<QHostAddress> &addresses)
{
    const QByteArray probe = DeviceMessages::probe();
    for (const QHostAddress &address : addresses)
        transport.send_datagram(probe, address, target_port);
}

bool FleetEngine::take_datagram(const QByteArray &datagram, const QHostAddress &sender)
{
    DeviceReply reply;
    if (DeviceReply::parse(datagram, &reply) != DeviceReply::Check::Valid)
        return false;
    const int index = find_device(sender);
    if (index < 0) {
        const int known = find_serial_number(devices, reply.serial_number);
        if (known >= 0)
            note_claim(known,
                    { DownloadReport::plain_address(sender), reply.version, reply.sound_version });
        else
            add_device(reply.serial_number, reply.version, reply.sound_version, sender);
        return true;
    }
    Tracking &track = tracking[index];
    FleetDevice &device = devices[index];
    if (track.confirming) {
        track.probe_unanswered = false;
        // Until it restarts, a device answers as before: an unchanged answer without a gap
        // proves nothing.
        if (!track.was_silent && reply.version == device.version)
            return true;
        device.version_after = reply.version;
        emit versions_known(index, device.version, device.version_after);
        // "ver" is the firmware's: a file-system update leaves it as it was.
        const bool unchanged = current_run.type == DeviceMessages::firmware_type()
                && !device.version.isEmpty() && reply.version == device.version;
        end_device(index, unchanged ? State::NotUpgraded : State::Back);
        advance();
    } else if (!(running && track.in_run)) {
        // The "before" of a device in a run stays as the run found it.
        device.version = reply.version;
        device.sound_version = reply.sound_version;
    }
    return true;
}

int FleetEngine::add_device(const QString &serial_number, const QString &version,
        const QString &sound_version, const QHostAddress &address)
{
    const int known = find_device(address);
    if (known >= 0)
        return known;
    // One device answering on two networks must not be upgraded twice.
    const int same = find_serial_number(devices, serial_number);
    if (same >= 0)
        return same;
    FleetDevice device;
    device.serial_number = serial_number;
    device.version = version;
    device.sound_version = sound_version;
    device.address = DownloadReport::plain_address(address);
    devices.append(device);
    tracking.append(Tracking());
    emit device_added(devices.size() - 1);
    return devices.size() - 1;
}

int FleetEngine::find_device(const QHostAddress &address) const
{
    const QHostAddress wanted = DownloadReport::plain_address(address);
    for (int index = 0; index < devices.size(); ++index) {
        if (devices.at(index).address == wanted)
            return index;
    }
    return -1;
}

QList<QHostAddress> FleetEngine::claims(int index) const
{
    QList<QHostAddress> addresses;
    for (const Claim &claim : claimed.value(index))
        addresses.append(claim.address);
    return addresses;
}

int FleetEngine::find_claimant(const QHostAddress &address) const
{
    const QHostAddress wanted = DownloadReport::plain_address(address);
    for (auto it = claimed.cbegin(); it != claimed.cend(); ++it) {
        for (const Claim &claim : it.value()) {
            if (claim.address == wanted)
                return it.key();
        }
    }
    return -1;
}

bool FleetEngine::take_claim(int index, const QHostAddress &address)
{
    const QHostAddress wanted = DownloadReport::plain_address(address);
    QList<Claim> &list = claimed[index];
    for (int at = 0; at < list.size(); ++at) {
        if (list.at(at).address != wanted)
            continue;
        FleetDevice &device = devices[index];
        const Claim former{ device.address, device.version, device.sound_version };
        device.address = list.at(at).address;
        device.version = list.at(at).version;
        device.sound_version = list.at(at).sound_version;
        list[at] = former;
        return true;
    }
    return false;
}

void FleetEngine::note_claim(int index, const Claim &claim)
{
    QList<Claim> &list = claimed[index];
    for (const Claim &known : qAsConst(list)) {
        if (known.address == claim.address)
            return;
    }
    list.append(claim);
    emit serial_conflict(index, claim.address.toString());
}

FleetPreflight FleetEngine::preflight(const QString &file_name)
{
    return FleetPreflight::check(ServedFolder::current(), file_name);
}

bool FleetEngine::start(const Run &run, const QVector<int> &device_indexes, QString *error)
{
    QString reason;
    if (running)
        reason = QStringLiteral("an upgrade run is under way");
    else if (run.type != DeviceMessages::file_system_type()
            && run.type != DeviceMessages::firmware_type())
        reason = QStringLiteral("unknown command type \"%1\"").arg(run.type);
    else if (run.http_port == 0 || run.parallel < 1 || run.timeout_ms < 1 || run.retries < 0
            || run.confirm_ms < 0 || run.canary < 0)
        reason = QStringLiteral("invalid run settings");
    else if (device_indexes.isEmpty())
        reason = QStringLiteral("no device chosen");
    for (int index : device_indexes) {
        if (reason.isEmpty() && (index < 0 || index >= devices.size()))
            reason = QStringLiteral("no device %1").arg(index);
    }
    if (reason.isEmpty()) {
        const FleetPreflight checked = preflight(run.file_name);
        emit preflight_checked(checked);
        reason = checked.problem_text();
        run_sha256 = checked.sha256;
    }
    if (!reason.isEmpty()) {
        if (error)
            *error = reason;
        return false;
    }

    current_run = run;
    running = true;
    stopping = false;
    first_command_ms = -1;
    queue.clear();
    run_devices.clear();
    for (Tracking &track : tracking)
        track = Tracking();
    QSet<int> chosen;
    QVector<int> commanded;
    QVector<int> up_to_date;
    for (int index : device_indexes) {
        if (chosen.contains(index))
            continue;
        chosen.insert(index);
        run_devices.append(index);
        FleetDevice &device = devices[index];
        device.state = State::Listed;
        device.percent = 0;
        device.bytes = 0;
        device.acknowledged = -1;
        device.path.clear();
        device.version_after.clear();
        device.attempts = 0;
        device.started_ms = -1;
        device.ended_ms = -1;
        tracking[index].in_run = true;
        if (!run.skip_version.isEmpty() && device.version == run.skip_version) {
            up_to_date.append(index);
            continue;
        }
        tracking[index].queued = true;
        queue.append(index);
        commanded.append(index);
    }
    gate.begin(commanded, run.canary, run.max_failures, run_devices.size());
    halt_text.clear();
    for (int index : qAsConst(up_to_date)) {
        devices[index].ended_ms = clock->now();
        set_state(index, State::UpToDate);
    }
    advance();
    return true;
}

void FleetEngine::stop()
{
    if (!running || stopping)
        return;
    stopping = true;
    end_queued();
    advance();
}

void FleetEngine::end_queued()
{
    for (int index : qAsConst(queue)) {
        tracking[index].queued = false;
        // A device waiting for its retry has ended its attempt already.
        const State state = devices.at(index).state;
        end_device(index, state == State::Listed ? State::NotStarted : state);
    }
    queue.clear();
}

int FleetEngine::active_count() const
{
    int count = 0;
    for (int index : run_devices) {
        if (FleetDevice::is_active(devices.at(index).state))
            ++count;
    }
    return count;
}

void FleetEngine::take_report(const DownloadReport &report)
{
    const int known = find_device(report.peer);
    const int index = known >= 0 && running && tracking.at(known).in_run ? known : -1;
    const bool final = report.outcome != DownloadReport::Outcome::InProgress;
    if (index < 0 || !follows_reports(index) || !is_run_file(report)) {
        if (final)
            emit request_answered(report, index);
        return;
    }
    resume(index);
    FleetDevice &device = devices[index];
    Tracking &track = tracking[index];
    device.path = report.path;
    const bool head = report.method.compare("HEAD", Qt::CaseInsensitive) == 0;
    if (!final) {
        // The server ends a download that makes no progress; no time-out here.
        track.deadline = -1;
        device.bytes = report.bytes_sent;
        device.acknowledged = report.bytes_acknowledged;
        set_state(index, State::Downloading);
        // What the device has: the system's buffers take much of a slow device's image long
        // before it has read it.
        const qint64 has = report.bytes_acknowledged >= 0 ? report.bytes_acknowledged
                                                          : qint64(report.bytes_sent);
        const int percent = report.file_size > 0 ? int(has * 100 / report.file_size) : 0;
        if (percent != device.percent) {
            device.percent = percent;
            emit progress_changed(index, percent);
        }
    } else if (head && report.outcome == DownloadReport::Outcome::Complete) {
        // The HEAD's connection thread may report after the GET that
        // followed it has begun on another.
        if (device.state != State::Downloading) {
            track.deadline = clock->now() + current_run.timeout_ms;
            set_state(index, State::HeadersAsked);
        }
    } else {
        download_ended(index, report);
    }
    if (final)
        emit request_answered(report, index);
    advance();
}

void FleetEngine::download_ended(int index, const DownloadReport &report)
{
    FleetDevice &device = devices[index];
    Tracking &track = tracking[index];
    track.deadline = -1;
    device.bytes = report.bytes_sent;
    device.acknowledged = report.bytes_acknowledged;
    switch (whole_download(report)) {
    case DownloadReport::Outcome::Complete:
        if (device.percent != 100) {
            device.percent = 100;
            emit progress_changed(index, 100);
        }
        if (current_run.confirm_ms > 0) {
            set_state(index, State::FileSent);
            track.confirming = true;
            track.next_probe = clock->now() + confirm_probe_interval_ms;
            track.confirm_deadline = clock->now() + current_run.confirm_ms;
        } else {
            end_device(index, State::FileSent);
        }
        break;
    case DownloadReport::Outcome::Interrupted:
        end_attempt(index, State::Interrupted);
        break;
    case DownloadReport::Outcome::NotFound:
    case DownloadReport::Outcome::Refused:
        end_device(index, State::NotFound);
        break;
    case DownloadReport::Outcome::InProgress:
        break;
    }
}

// Requests for other files are reported but never end an attempt: a device
// that fetched something else was not upgraded.
bool FleetEngine::is_run_file(const DownloadReport &report) const
{
    // Below a folder, as the file service joins them: on Windows a path of its own that starts
    // with "//" would be a network share and keep its slashes.
    const QString below = QStringLiteral("/served");
    return QDir::cleanPath(below + report.path)
            == QDir::cleanPath(below + QLatin1Char('/') + current_run.file_name);
}

// A download counts as complete only with every byte of the file sent.
DownloadReport::Outcome FleetEngine::whole_download(const DownloadReport &report)
{
    if (report.outcome == DownloadReport::Outcome::Complete
            && (report.file_size < 0 || report.bytes_sent != quint64(report.file_size)))
        return DownloadReport::Outcome::Interrupted;
    return report.outcome;
}

// A device is followed from its command until it succeeds or asks for what
// the server lacks. One that ended without an answer or interrupted is
// followed still: when it turns up late, it is downloading after all.
bool FleetEngine::follows_reports(int index) const
{
    const State state = devices.at(index).state;
    return FleetDevice::is_active(state) || state == State::NoAnswer || state == State::Interrupted;
}

void FleetEngine::resume(int index)
{
    FleetDevice &device = devices[index];
    if (FleetDevice::is_active(device.state))
        return;
    Tracking &track = tracking[index];
    if (track.queued) {
        queue.removeOne(index);
        track.queued = false;
    }
    if (device.ended_ms >= 0)
        gate.revived(index);
    device.ended_ms = -1;
}

void FleetEngine::set_state(int index, State state)
{
    if (devices.at(index).state == state)
        return;
    devices[index].state = state;
    emit state_changed(index, state);
}

void FleetEngine::send_command(int index)
{
    FleetDevice &device = devices[index];
    Tracking &track = tracking[index];
    const qint64 now = clock->now();
    track.queued = false;
    ++device.attempts;
    device.percent = 0;
    device.bytes = 0;
    device.acknowledged = -1;
    if (device.started_ms < 0)
        device.started_ms = now;
    if (first_command_ms < 0)
        first_command_ms = now;
    track.deadline = now + current_run.timeout_ms;
    const QByteArray command = DeviceMessages::upgrade_command(
            current_run.http_port, device.serial_number, current_run.type);
    const bool sent = transport.send_datagram(command, device.address, target_port);
    set_state(index, State::CommandSent);
    if (!sent)
        end_attempt(index, State::NoAnswer);
}

void FleetEngine::end_attempt(int index, State state)
{
    Tracking &track = tracking[index];
    track.deadline = -1;
    if (!stopping && devices.at(index).attempts <= current_run.retries) {
        set_state(index, state);
        // First in line: a retry takes the slot its device just left.
        queue.prepend(index);
        track.queued = true;
        return;
    }
    end_device(index, state);
}

void FleetEngine::end_device(int index, State state)
{
    Tracking &track = tracking[index];
    track.deadline = -1;
    track.confirming = false;
    track.next_probe = -1;
    track.confirm_deadline = -1;
    track.probe_unanswered = false;
    track.was_silent = false;
    devices[index].ended_ms = clock->now();
    set_state(index, state);
    if (stopping || !track.in_run)
        return;
    if (state == current_run.goal()) {
        gate.succeeded(index);
    } else if (current_run.failed(state) && gate.failed(index)) {
        // Devices under way end as they will; no one else gets a command.
        halt_text = halt_reason(index);
        stopping = true;
        end_queued();
    }
}

QString FleetEngine::halt_reason(int index) const
{
    const FleetDevice &device = devices.at(index);
    const QString failure =
            QStringLiteral("%1 failed: %2")
                    .arg(device.serial_number, FleetDevice::state_name(device.state));
    if (gate.halt() == RolloutGate::Halt::CanaryFailed)
        return QStringLiteral("canary ") + failure;
    return failure
            + QStringLiteral("; %1 devices failed, more than the %2 allowed")
                      .arg(gate.failures())
                      .arg(gate.allowed_failures());
}

void FleetEngine::wake()
{
    const qint64 now = clock->now();
    for (int index : qAsConst(run_devices)) {
        Tracking &track = tracking[index];
        if (track.deadline >= 0 && track.deadline <= now) {
            end_attempt(index, State::NoAnswer);
        } else if (track.confirming && track.confirm_deadline <= now) {
            end_device(index, State::NotBack);
        } else if (track.confirming && track.next_probe <= now) {
            track.was_silent = track.was_silent || track.probe_unanswered;
            track.probe_unanswered = true;
            track.next_probe = now + confirm_probe_interval_ms;
            probe({ devices.at(index).address });
        }
    }
    advance();
}

void FleetEngine::advance()
{
    if (!running)
        return;
    int active = active_count();
    while (!stopping && active < current_run.parallel && !queue.isEmpty()
            && gate.may_start(queue.first())) {
        const int index = queue.takeFirst();
        send_command(index);
        if (FleetDevice::is_active(devices.at(index).state))
            ++active;
    }
    // A handler of the signals above may have stopped the run and so ended it.
    if (!running)
        return;
    qint64 next = -1;
    bool waiting = active > 0 || !queue.isEmpty();
    for (int index : qAsConst(run_devices)) {
        const Tracking &track = tracking.at(index);
        for (qint64 at : { track.deadline, track.confirming ? track.next_probe : qint64(-1),
                     track.confirming ? track.confirm_deadline : qint64(-1) }) {
            if (at >= 0 && (next < 0 || at < next))
                next = at;
        }
        waiting = waiting || track.confirming;
    }
    if (!waiting) {
        clock->wake_at(-1);
        finish_run();
        return;
    }
    clock->wake_at(next);
}

void FleetEngine::finish_run()
{
    Summary summary;
    summary.devices = run_devices;
    summary.stopped = stopping && gate.halt() == RolloutGate::Halt::None;
    summary.halt = gate.halt();
    summary.halt_device = gate.halt_device();
    summary.allowed_failures = gate.allowed_failures();
    summary.halt_reason = halt_text;
    qint64 last_end = -1;
    for (int index : qAsConst(run_devices)) {
        const FleetDevice &device = devices.at(index);
        if (device.state == current_run.goal())
            ++summary.succeeded;
        else if (device.state == State::NotStarted)
            ++summary.not_started;
        else if (device.state == State::UpToDate)
            ++summary.up_to_date;
        else
            ++summary.failed;
        if (device.state != State::NotStarted && device.state != State::UpToDate)
            last_end = qMax(last_end, device.ended_ms);
    }
    if (first_command_ms >= 0)
        summary.elapsed_ms = last_end - first_command_ms;
    recheck_file(summary);
    running = false;
    stopping = false;
    emit run_finished(summary);
}

// The file service ends a download whose file changes under it; a change
// between two downloads is only seen here.
void FleetEngine::recheck_file(Summary &summary) const
{
    summary.sha256_before = run_sha256;
    summary.sha256_after = preflight(current_run.file_name).sha256;
}
