#include "modalboxcatcher.h"
#include "privatenetwork.h"
#include "upgrade.h"

#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QtTest>

// Runs only under netns-e2e.sh, inside a private network namespace with two
// simulated devices at 198.18.0.2 (E2E-A) and 198.18.0.3 (E2E-B). The search
// here is the window's real broadcast.
class tst_UpgradeNetns : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void commandReachesOnlySelectedDevice();

private:
    QByteArray log(const char *device) const;
    void selectAndPress(upgrade &window, const QString &serialNumber, const char *buttonName);

    QString logA;
    QString logB;
};

void tst_UpgradeNetns::initTestCase()
{
    logA = qEnvironmentVariable("ONDASPA_E2E_LOG_A");
    logB = qEnvironmentVariable("ONDASPA_E2E_LOG_B");
    if (logA.isEmpty() || logB.isEmpty())
        QFAIL("run through netns-e2e.sh: the search broadcasts on every interface");
    const QString guard = broadcast_guard_error();
    QVERIFY2(guard.isEmpty(), qPrintable(guard));
}

QByteArray tst_UpgradeNetns::log(const char *device) const
{
    QFile file(qstrcmp(device, "A") == 0 ? logA : logB);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void tst_UpgradeNetns::selectAndPress(
        upgrade &window, const QString &serialNumber, const char *buttonName)
{
    auto *list = window.findChild<QListWidget *>(QStringLiteral("list_device_widget"));
    for (int row = 2; row < list->count(); ++row) {
        if (list->item(row)->text().startsWith(serialNumber))
            list->setCurrentRow(row);
    }
    QVERIFY(list->currentItem());
    QVERIFY(list->currentItem()->text().startsWith(serialNumber));
    window.findChild<QPushButton *>(QLatin1String(buttonName))->click();
}

void tst_UpgradeNetns::commandReachesOnlySelectedDevice()
{
    ModalBoxCatcher boxes;
    upgrade window;
    window.port = 81;
    window.show();
    window.findChild<QPushButton *>(QStringLiteral("find_device_start"))->click();

    auto *list = window.findChild<QListWidget *>(QStringLiteral("list_device_widget"));
    QTRY_VERIFY_WITH_TIMEOUT(list->item(3)->text() != QLatin1String("-"), 10000);
    QStringList rows{ list->item(2)->text(), list->item(3)->text() };
    rows.sort();
    QCOMPARE(rows, QStringList({ "E2E-A,1.0", "E2E-B,7" }));
    // Each device answered all five probes, yet is listed once.
    QTest::qWait(300);
    QCOMPARE(list->item(4)->text(), QStringLiteral("-"));
    QVERIFY(log("A").contains("probe from 198.18.0.1:15724"));
    QVERIFY(log("B").contains("probe from 198.18.0.1:15724"));

    selectAndPress(window, QStringLiteral("E2E-A"), "soft_update_start");
    QTRY_VERIFY_WITH_TIMEOUT(log("A").contains("command type=update sn=E2E-A port=81 from "
                                               "198.18.0.1\n"),
            10000);
    QCOMPARE(window.findChild<QLabel *>(QStringLiteral("status"))->text(), QStringLiteral("等待"));

    selectAndPress(window, QStringLiteral("E2E-B"), "minifs_update_start");
    QTRY_VERIFY_WITH_TIMEOUT(log("B").contains("command type=fs sn=E2E-B port=81 from "
                                               "198.18.0.1\n"),
            10000);
    // Commands are unicast: each device saw its own and nothing else.
    QTest::qWait(300);
    QCOMPARE(log("A").count("command "), 1);
    QCOMPARE(log("B").count("command "), 1);
    // No HTTP server runs here, so each download fails; it was attempted
    // from the command's sender.
    QTRY_VERIFY_WITH_TIMEOUT(
            log("A").contains("http GET http://198.18.0.1:81/firmware.bin"), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(
            log("B").contains("http GET http://198.18.0.1:81/minifs_rom.img"), 10000);
    QVERIFY2(boxes.boxes().isEmpty(), qPrintable(boxes.texts().join(QLatin1Char('|'))));
}

QTEST_MAIN(tst_UpgradeNetns)
#include "tst_upgrade_netns.moc"
