#ifndef OPENDOWNLOADS_H
#define OPENDOWNLOADS_H

#include "downloadobserver.h"

#include <QHash>
#include <QMutex>
#include <QVector>

class FleetEngine;

// The file service's downloads under way, by peer address, so the command
// can tell at its end whether one of a device of the run is still running.
// Registers with DownloadReports for its lifetime; thread-safe.
class OpenDownloads : public DownloadObserver
{
public:
    OpenDownloads();
    ~OpenDownloads() override;

    void download_progress(const DownloadReport &report) override;
    void request_answered(const DownloadReport &report) override;

    // Label ("serial address") of a device of devices, indexes of engine,
    // whose download is under way; empty when there is none.
    QString runDeviceDownloading(const FleetEngine &engine, const QVector<int> &devices) const;

private:
    mutable QMutex lock;
    // Downloads under way per address.
    QHash<QString, int> open;
};

#endif // OPENDOWNLOADS_H
