#ifndef QUENMAR_HTTPTRANSFERMETER_H
#define QUENMAR_HTTPTRANSFERMETER_H

// A plain value, used on one thread (the pool's).

#include <QVector>
#include <QtGlobal>

namespace quenmar {

// How fast one connection moves bytes over a sliding window, from samples of its running byte
// count taken at times of the caller's clock (milliseconds, never decreasing). Keeps the samples
// of one window plus the one just before it, so its size is bounded by the sampling rate.
class HttpTransferMeter
{
public:
    // window in milliseconds; a window of 0 or below never yields a rate.
    explicit HttpTransferMeter(qint64 window = 0);

    // Forgets every sample, for a new connection or after the connection was judged.
    void restart();
    // Adds the connection's byte count at time. A count below the previous one belongs to
    // another connection: the samples before it are dropped.
    void record(qint64 time, qint64 totalBytes);
    // Bytes per second from the newest sample at least a window older than the latest one up to
    // the latest one; -1 while the samples span less than a window.
    qint64 rate() const;

private:
    struct Sample
    {
        qint64 time;
        qint64 bytes;
    };

    qint64 window;
    // Oldest first.
    QVector<Sample> samples;
};

} // namespace quenmar

#endif // QUENMAR_HTTPTRANSFERMETER_H
