#include "downloadreports.h"
#include "downloadobserver.h"

#include <QReadWriteLock>
#include <QVector>

namespace {

// Publishing takes the lock for reading, so connection threads report side
// by side; adding and removing take it for writing and so wait for them.
QReadWriteLock observers_lock;

QVector<DownloadObserver *> &observers()
{
    static QVector<DownloadObserver *> list;
    return list;
}

} // namespace

void DownloadReports::add_observer(DownloadObserver *observer)
{
    QWriteLocker locker(&observers_lock);
    if (!observers().contains(observer))
        observers().append(observer);
}

void DownloadReports::remove_observer(DownloadObserver *observer)
{
    QWriteLocker locker(&observers_lock);
    observers().removeAll(observer);
}

void DownloadReports::publish_progress(const DownloadReport &report)
{
    QReadLocker locker(&observers_lock);
    for (DownloadObserver *observer : qAsConst(observers()))
        observer->download_progress(report);
}

void DownloadReports::publish_answer(const DownloadReport &report)
{
    QReadLocker locker(&observers_lock);
    for (DownloadObserver *observer : qAsConst(observers()))
        observer->request_answered(report);
}
