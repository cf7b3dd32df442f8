#include "opendownloads.h"

#include "downloadreports.h"
#include "fleetengine.h"

OpenDownloads::OpenDownloads()
{
    DownloadReports::add_observer(this);
}

OpenDownloads::~OpenDownloads()
{
    DownloadReports::remove_observer(this);
}

void OpenDownloads::download_progress(const DownloadReport &report)
{
    // Each download reports once with nothing sent when it starts.
    if (report.bytes_sent != 0)
        return;
    QMutexLocker locker(&lock);
    ++open[report.peer.toString()];
}

void OpenDownloads::request_answered(const DownloadReport &report)
{
    // Only a download of an existing file was counted at its start.
    if (report.file_size < 0 || report.method.compare("HEAD", Qt::CaseInsensitive) == 0
            || report.method.compare("POST", Qt::CaseInsensitive) == 0)
        return;
    QMutexLocker locker(&lock);
    const QString address = report.peer.toString();
    if (--open[address] <= 0)
        open.remove(address);
}

QString OpenDownloads::runDeviceDownloading(
        const FleetEngine &engine, const QVector<int> &devices) const
{
    QMutexLocker locker(&lock);
    for (int index : devices) {
        const FleetDevice &device = engine.device(index);
        if (open.contains(device.address.toString()))
            return device.serial_number + QLatin1Char(' ') + device.address.toString();
    }
    return QString();
}
