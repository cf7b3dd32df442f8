#include "httptransfermeter.h"

#include <QtTest>

using quenmar::HttpTransferMeter;

namespace {

constexpr qint64 window = 1000; // milliseconds
constexpr qint64 step = 100; // milliseconds between samples

} // namespace

class tst_HttpTransferMeter : public QObject
{
    Q_OBJECT

private slots:
    void noRateBeforeAWholeWindow();
    void rateCoversTheLatestWindowOnly();
    void irregularSamplesMeasureTheirWholeSpan();
    void aCountThatGoesBackStartsAgain();
    void restartForgetsEverything();
    void noWindowNeverRates();
};

void tst_HttpTransferMeter::noRateBeforeAWholeWindow()
{
    HttpTransferMeter meter(window);
    QCOMPARE(meter.rate(), qint64(-1));
    meter.record(0, 0);
    QCOMPARE(meter.rate(), qint64(-1));
    meter.record(window - 1, 5000);
    QCOMPARE(meter.rate(), qint64(-1));
    meter.record(window, 5000);
    QCOMPARE(meter.rate(), qint64(5000));
}

void tst_HttpTransferMeter::rateCoversTheLatestWindowOnly()
{
    // 200 bytes per step (2000 bytes/s) for two windows, then nothing.
    HttpTransferMeter meter(window);
    qint64 bytes = 0;
    for (qint64 time = 0; time <= 2 * window; time += step) {
        meter.record(time, bytes);
        if (time >= window)
            QCOMPARE(meter.rate(), qint64(2000));
        bytes += 200;
    }
    bytes -= 200;
    for (qint64 time = 2 * window + step; time <= 4 * window; time += step) {
        meter.record(time, bytes);
        // The bytes of the last busy sample drop out of the window step by step.
        const qint64 busyPart = qMax(qint64(0), 2 * window - (time - window));
        QCOMPARE(meter.rate(), qint64(busyPart / step * 200 * 1000 / window));
    }
    QCOMPARE(meter.rate(), qint64(0));
}

void tst_HttpTransferMeter::irregularSamplesMeasureTheirWholeSpan()
{
    HttpTransferMeter meter(window);
    meter.record(0, 0);
    meter.record(300, 3000);
    // The newest sample a whole window old is the one at 300.
    meter.record(1500, 3600);
    QCOMPARE(meter.rate(), qint64(600 * 1000 / 1200));
    meter.record(1600, 3600);
    QCOMPARE(meter.rate(), qint64(600 * 1000 / 1300));
}

void tst_HttpTransferMeter::aCountThatGoesBackStartsAgain()
{
    HttpTransferMeter meter(window);
    meter.record(0, 5000);
    meter.record(window, 6000);
    QCOMPARE(meter.rate(), qint64(1000));
    meter.record(window + step, 10);
    QCOMPARE(meter.rate(), qint64(-1));
    meter.record(2 * window + step, 20);
    QCOMPARE(meter.rate(), qint64(10));
}

void tst_HttpTransferMeter::restartForgetsEverything()
{
    HttpTransferMeter meter(window);
    meter.record(0, 0);
    meter.record(window, 0);
    QCOMPARE(meter.rate(), qint64(0));
    meter.restart();
    QCOMPARE(meter.rate(), qint64(-1));
    meter.record(window + step, 0);
    QCOMPARE(meter.rate(), qint64(-1));
}

void tst_HttpTransferMeter::noWindowNeverRates()
{
    HttpTransferMeter meter;
    meter.record(0, 0);
    meter.record(window, 1000);
    QCOMPARE(meter.rate(), qint64(-1));
}

QTEST_APPLESS_MAIN(tst_HttpTransferMeter)
#include "tst_httptransfermeter.moc"
