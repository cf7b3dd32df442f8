#ifndef DOWNLOADREPORTS_H
#define DOWNLOADREPORTS_H

class DownloadObserver;
struct DownloadReport;

// The observers of the upgrade file service, process-wide: the service
// publishes through here from its connection threads, and windows, the
// command line and tests register from outside. Thread-safe; observers are
// not owned.
// Process-wide because the file service's interface is fixed: its constructor
// takes only a parent, and it has no members of its own to hold observers.
class DownloadReports
{
public:
    // Adding one observer twice has no effect.
    static void add_observer(DownloadObserver *observer);
    // Waits for calls to observer that are under way: once it returns,
    // observer is never called again and may be destroyed.
    static void remove_observer(DownloadObserver *observer);

    static void publish_progress(const DownloadReport &report);
    static void publish_answer(const DownloadReport &report);
};

#endif // DOWNLOADREPORTS_H
