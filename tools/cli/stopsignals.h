#ifndef STOPSIGNALS_H
#define STOPSIGNALS_H

#include <QObject>

// Turns the first stop request into a signal on the main thread, so a command can stop in good
// order; a second one ends the process at once. On Unix the requests are SIGINT and SIGTERM,
// and the second ends with status 128 + its number (130 for SIGINT, 143 for SIGTERM). On
// Windows they are Ctrl-C and Ctrl-Break on the console, which stand for SIGINT and SIGTERM,
// with the same statuses. The system's handler may only wake the main thread (Unix: it writes
// to a socket pair; Windows: it runs on a thread of the system's and sets an event); a notifier
// on the main thread does the rest. One object per process, main thread only.
class StopSignals : public QObject
{
    Q_OBJECT

public:
    explicit StopSignals(QObject *parent = nullptr);
    // Gives the requests their default actions back.
    ~StopSignals() override;

    // False where the requests cannot be caught (the process then ends on the
    // first, as before).
    bool install();

signals:
    // name: "SIGINT" or "SIGTERM"; on Windows "CTRL_C_EVENT" or "CTRL_BREAK_EVENT".
    void received(const QString &name);

private:
    void readWakeUp();

    // Watches the wake-up of the system's handler; null until installed.
    QObject *notifier = nullptr;
};

#endif // STOPSIGNALS_H
