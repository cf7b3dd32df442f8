// The fleet dialog during a run of 1000 devices, offscreen: how late its GUI
// thread runs a 10 ms timer. The devices answer a search as real ones do
// (one discovery reply each); their downloads are played by a stand-in for
// the file service on a thread of its own, which publishes the same reports
// the service publishes (a start, every whole percentage, the answer) through
// DownloadReports at the simulated rate. Nothing leaves the process.
//
//   bench_fleetdialog [DEVICES] [PARALLEL] [RATE]   (defaults 1000, 32 (the dialog's
//                                                    most), 1048576 B/s)
//
// Prints the run's time against the ideal (rounds x one download's time) and
// the lateness percentiles; exit status 0 when the 99th percentile is under
// the target and every device succeeded.

#include "devicemessages.h"
#include "downloadreports.h"
#include "fleetdialog.h"
#include "fleettransport.h"
#include "servedfolder.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

namespace {

constexpr qint64 image_size = 1024 * 1024;
constexpr int probe_interval_ms = 10;
constexpr double target_p99_ms = 50;
// The stand-in service moves its downloads on this often.
constexpr int service_tick_ms = 10;
// A run that takes longer than this has failed.
constexpr int run_limit_ms = 120000;

QHostAddress device_address(int index)
{
    return QHostAddress(
            QHostAddress(QStringLiteral("198.18.0.2")).toIPv4Address() + quint32(index));
}

// Downloads of the image, each at rate, reported as the file service reports them.
class StandInService : public QObject
{
    Q_OBJECT

public:
    explicit StandInService(qint64 rate) : rate(rate)
    {
        // A child, so that it moves to the service's thread with it.
        ticker.setParent(this);
        ticker.setInterval(service_tick_ms);
        connect(&ticker, &QTimer::timeout, this, &StandInService::move_on);
    }

public slots:
    void start(quint32 peer)
    {
        if (!clock.isValid()) {
            clock.start();
            ticker.start();
        }
        Download download;
        download.report.peer = QHostAddress(peer);
        download.report.method = "GET";
        download.report.path = QStringLiteral("/minifs_rom.img");
        download.report.file_size = image_size;
        download.report.bytes_acknowledged = 0;
        download.started_ms = clock.elapsed();
        DownloadReports::publish_progress(download.report);
        downloads.append(download);
    }

private:
    struct Download
    {
        DownloadReport report;
        qint64 started_ms = 0;
        qint64 percent = 0;
    };

    void move_on()
    {
        const qint64 now = clock.elapsed();
        for (Download &download : downloads) {
            const qint64 bytes = qMin(image_size, (now - download.started_ms) * rate / 1000);
            download.report.bytes_sent = quint64(bytes);
            download.report.bytes_acknowledged = bytes;
            const qint64 percent = bytes * 100 / image_size;
            if (percent != download.percent) {
                download.percent = percent;
                DownloadReports::publish_progress(download.report);
            }
            if (bytes == image_size) {
                download.report.outcome = DownloadReport::Outcome::Complete;
                DownloadReports::publish_answer(download.report);
            }
        }
        downloads.erase(std::remove_if(downloads.begin(), downloads.end(),
                                [](const Download &download) {
                                    return download.report.outcome
                                            == DownloadReport::Outcome::Complete;
                                }),
                downloads.end());
    }

    const qint64 rate;
    QTimer ticker;
    QElapsedTimer clock;
    QVector<Download> downloads;
};

// Commands start a download of the stand-in service; probes go nowhere.
class StandInNetwork : public FleetTransport
{
public:
    explicit StandInNetwork(StandInService &service) : service(service) { }

    QList<QNetworkAddressEntry> address_entries() const override { return {}; }

    bool send_datagram(const QByteArray &datagram, const QHostAddress &address, quint16) override
    {
        if (datagram.contains("\"type\""))
            QMetaObject::invokeMethod(&service, "start", Qt::QueuedConnection,
                    Q_ARG(quint32, address.toIPv4Address()));
        return true;
    }

private:
    StandInService &service;
};

// How late a re-armed 10 ms timer fires, in ms, while it runs.
class LatencyProbe : public QObject
{
public:
    LatencyProbe()
    {
        timer.setSingleShot(true);
        timer.setTimerType(Qt::PreciseTimer);
        connect(&timer, &QTimer::timeout, this, [this] {
            lateness.push_back(double(qMax<qint64>(0, clock.nsecsElapsed() - due)) / 1e6);
            arm();
        });
    }

    void start()
    {
        clock.start();
        arm();
    }
    void stop() { timer.stop(); }

    double at(double share)
    {
        std::sort(lateness.begin(), lateness.end());
        return lateness.empty()
                ? 0
                : lateness[std::min(lateness.size() - 1, size_t(share * double(lateness.size())))];
    }
    size_t samples() const { return lateness.size(); }

private:
    void arm()
    {
        due = clock.nsecsElapsed() + qint64(probe_interval_ms) * 1000000;
        timer.start(probe_interval_ms);
    }

    QTimer timer;
    QElapsedTimer clock;
    qint64 due = 0;
    std::vector<double> lateness;
};

int number_argument(const QStringList &arguments, int at, int fallback)
{
    return arguments.size() > at ? arguments.at(at).toInt() : fallback;
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    const QStringList arguments = application.arguments();
    const int devices = number_argument(arguments, 1, 1000);
    int parallel = number_argument(arguments, 2, 32);
    const qint64 rate = number_argument(arguments, 3, int(image_size));
    if (devices < 1 || parallel < 1 || rate < 1) {
        std::fprintf(stderr, "usage: bench_fleetdialog [DEVICES] [PARALLEL] [RATE]\n");
        return 2;
    }

    // config.ini and the served image in a folder of their own.
    QTemporaryDir work;
    if (!work.isValid() || !QDir::setCurrent(work.path()) || !QDir().mkpath(QStringLiteral("html")))
        return 2;
    QFile image(work.filePath(QStringLiteral("html/minifs_rom.img")));
    if (!image.open(QIODevice::WriteOnly) || image.write(QByteArray(image_size, 'x')) != image_size)
        return 2;
    image.close();
    ServedFolder::set_provider([&work] { return work.filePath(QStringLiteral("html")); });

    QThread service_thread;
    auto *service = new StandInService(rate);
    service->moveToThread(&service_thread);
    QObject::connect(&service_thread, &QThread::finished, service, &QObject::deleteLater);
    service_thread.start();
    StandInNetwork network(*service);
    FleetDialog::Services services;
    services.http_port = [] { return quint16(81); };
    auto *dialog = new FleetDialog(network, services);
    dialog->show();

    // A search's replies: every device answers each probe. The window reads them all in one
    // go, so their handling is one stall of its loop.
    QElapsedTimer burst_clock;
    burst_clock.start();
    for (int round = 0; round < DeviceMessages::probes_per_search; ++round) {
        for (int index = 0; index < devices; ++index) {
            const QByteArray reply = QStringLiteral("{\"sn\":\"SN-%1\",\"ver\":\"1.0\"}")
                                             .arg(index + 1, 4, 10, QLatin1Char('0'))
                                             .toUtf8();
            dialog->take_datagram(reply, device_address(index));
        }
    }
    QApplication::processEvents();
    const qint64 burst_ms = burst_clock.elapsed();
    // The dialog's own limit wins.
    auto *parallel_box = dialog->findChild<QSpinBox *>(QStringLiteral("parallel_box"));
    parallel_box->setValue(parallel);
    parallel = parallel_box->value();

    LatencyProbe probe;
    QElapsedTimer run_clock;
    FleetEngine::Summary summary;
    QObject::connect(&dialog->engine(), &FleetEngine::run_finished, &application,
            [&](const FleetEngine::Summary &finished) {
                summary = finished;
                application.quit();
            });
    QTimer::singleShot(0, &application, [&] {
        dialog->findChild<QPushButton *>(QStringLiteral("select_all_button"))->click();
        probe.start();
        run_clock.start();
        dialog->findChild<QPushButton *>(QStringLiteral("file_system_button"))->click();
    });
    QTimer::singleShot(run_limit_ms, &application, &QApplication::quit);
    application.exec();
    probe.stop();
    const double seconds = double(run_clock.elapsed()) / 1000;
    delete dialog;
    service_thread.quit();
    service_thread.wait();
    ServedFolder::set_provider(nullptr);

    const int rounds = (devices + parallel - 1) / parallel;
    const double ideal = rounds * double(image_size) / double(rate);
    const double p99 = probe.at(0.99);
    std::printf("fleet dialog, %d rows, %d at once, %lld B/s each (stand-in downloads):\n", devices,
            parallel, static_cast<long long>(rate));
    std::printf("  search: %d replies (%d rows) taken in %lld ms\n",
            devices * DeviceMessages::probes_per_search, devices, burst_ms);
    std::printf("  run: %.2f s, %d succeeded, %d failed; ideal %d x %.2f s = %.2f s (%.2fx)\n",
            seconds, summary.succeeded, summary.failed, rounds, double(image_size) / double(rate),
            ideal, seconds / ideal);
    std::printf("  10 ms timer late by: p50 %.2f ms, p99 %.2f ms, max %.2f ms (%zu samples)\n",
            probe.at(0.5), p99, probe.at(1.0), probe.samples());
    const bool met = p99 < target_p99_ms && summary.succeeded == devices;
    std::printf("  target (p99 under %.0f ms, every device succeeded): %s\n", target_p99_ms,
            met ? "met" : "NOT met");
    return met ? 0 : 1;
}

#include "dialoglatency.moc"
