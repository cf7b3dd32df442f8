#include "httpfairshare.h"

#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

using quenmar::HttpFairShare;

class tst_HttpFairShare : public QObject
{
    Q_OBJECT

private slots:
    void addressLimit_data();
    void addressLimit();
    void isCrowded_data();
    void isCrowded();
    void floorFromSettings_data();
    void floorFromSettings();
};

void tst_HttpFairShare::addressLimit_data()
{
    QTest::addColumn<int>("perAddress");
    QTest::addColumn<int>("maxThreads");
    QTest::addColumn<int>("limit");

    QTest::newRow("defaultPool-capApplies") << 16 << 100 << 16;
    QTest::newRow("defaultPool-capOff-roomForOthers") << 0 << 100 << 75;
    QTest::newRow("capAboveShare") << 200 << 100 << 75;
    QTest::newRow("smallPool-shareBelowCap") << 16 << 10 << 8;
    QTest::newRow("smallestSharedPool") << 16 << 4 << 3;
    QTest::newRow("tinyPool-capOnly") << 16 << 3 << 16;
    QTest::newRow("tinyPool-noLimit") << 0 << 3 << 0;
    QTest::newRow("noPool") << 16 << 0 << 16;
}

void tst_HttpFairShare::addressLimit()
{
    QFETCH(int, perAddress);
    QFETCH(int, maxThreads);
    QFETCH(int, limit);
    QCOMPARE(HttpFairShare::addressLimit(perAddress, maxThreads), limit);
}

void tst_HttpFairShare::isCrowded_data()
{
    QTest::addColumn<int>("busy");
    QTest::addColumn<int>("maxThreads");
    QTest::addColumn<bool>("crowded");

    QTest::newRow("default-sevenFree") << 93 << 100 << false;
    QTest::newRow("default-sixFree") << 94 << 100 << true;
    QTest::newRow("default-full") << 100 << 100 << true;
    QTest::newRow("four-twoFree") << 2 << 4 << false;
    QTest::newRow("four-oneFree") << 3 << 4 << true;
    QTest::newRow("one-idle") << 0 << 1 << true;
}

void tst_HttpFairShare::isCrowded()
{
    QFETCH(int, busy);
    QFETCH(int, maxThreads);
    QFETCH(bool, crowded);
    QCOMPARE(HttpFairShare::isCrowded(busy, maxThreads), crowded);
}

void tst_HttpFairShare::floorFromSettings_data()
{
    QTest::addColumn<QVariant>("rate");
    QTest::addColumn<QVariant>("window");
    QTest::addColumn<bool>("closes");
    QTest::addColumn<qint64>("windowMilliseconds");

    QTest::newRow("absent-defaults") << QVariant() << QVariant() << true << qint64(30000);
    QTest::newRow("shortWindow") << QVariant(1024) << QVariant(2) << true << qint64(2000);
    QTest::newRow("rateZero-off") << QVariant(0) << QVariant() << false << qint64(30000);
    QTest::newRow("windowZero-off") << QVariant() << QVariant(0) << false << qint64(0);
}

void tst_HttpFairShare::floorFromSettings()
{
    QFETCH(QVariant, rate);
    QFETCH(QVariant, window);
    QFETCH(bool, closes);
    QFETCH(qint64, windowMilliseconds);
    QTemporaryDir folder;
    QSettings settings(folder.filePath(QStringLiteral("config.ini")), QSettings::IniFormat);
    if (rate.isValid())
        settings.setValue(QStringLiteral("minTransferRate"), rate);
    if (window.isValid())
        settings.setValue(QStringLiteral("transferRateWindow"), window);

    const HttpFairShare share = HttpFairShare::fromSettings(settings);
    QCOMPARE(share.closesSlowConnections(), closes);
    QCOMPARE(share.transferRateWindow, windowMilliseconds);
    if (!closes)
        return;
    // Only a measured rate (not -1, "no whole window yet") can be too slow.
    QVERIFY(!share.isTooSlow(-1));
    QVERIFY(share.isTooSlow(0));
    QVERIFY(share.isTooSlow(share.minTransferRate - 1));
    QVERIFY(!share.isTooSlow(share.minTransferRate));
}

QTEST_APPLESS_MAIN(tst_HttpFairShare)
#include "tst_httpfairshare.moc"
