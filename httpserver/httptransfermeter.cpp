#include "httptransfermeter.h"

namespace quenmar {

HttpTransferMeter::HttpTransferMeter(qint64 window) : window(window) { }

void HttpTransferMeter::restart()
{
    samples.clear();
}

void HttpTransferMeter::record(qint64 time, qint64 totalBytes)
{
    if (!samples.isEmpty() && (totalBytes < samples.last().bytes || time < samples.last().time))
        samples.clear();
    samples.append({ time, totalBytes });
    // The first sample stays the newest one that is a whole window old.
    while (samples.size() > 2 && samples.at(1).time <= time - window)
        samples.removeFirst();
}

qint64 HttpTransferMeter::rate() const
{
    if (window <= 0 || samples.size() < 2)
        return -1;
    const Sample &first = samples.first();
    const Sample &last = samples.last();
    const qint64 span = last.time - first.time;
    if (span < window)
        return -1;
    return (last.bytes - first.bytes) * 1000 / span;
}

} // namespace quenmar
