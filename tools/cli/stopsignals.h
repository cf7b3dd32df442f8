#ifndef STOPSIGNALS_H
#define STOPSIGNALS_H

#include <QObject>

class QSocketNotifier;

// Turns the first SIGINT or SIGTERM into a signal on the main thread, so a
// command can stop in good order; a second one ends the process at once with
// status 128 + its number (130 for SIGINT). A signal handler may only write
// to a descriptor: it writes to one end of a socket pair whose other end a
// QSocketNotifier watches. One object per process, main thread only.
class StopSignals : public QObject
{
    Q_OBJECT

public:
    explicit StopSignals(QObject *parent = nullptr);
    // Gives SIGINT and SIGTERM their default actions back.
    ~StopSignals() override;

    // False where the signals cannot be caught (the process then ends on the
    // first, as before).
    bool install();

signals:
    // name: "SIGINT" or "SIGTERM".
    void received(const QString &name);

private:
    void readWakeUp();

    QSocketNotifier *notifier = nullptr;
};

#endif // STOPSIGNALS_H
