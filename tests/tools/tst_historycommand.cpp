#include "commandrun.h"
#include "freeports.h"
#include "testfiles.h"
#include "watchedprocess.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>

namespace {

constexpr int image_size = 20000;

} // namespace

// `ondaspa-cli history` and what `ondaspa-cli upgrade` records: two simulated devices on
// loopback, named by --ip, one of them ignoring its command; the history in a data folder of
// the test's own (XDG_DATA_HOME).
class tst_HistoryCommand : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void emptyHistoryListsNothing();
    void upgradeIsRecordedAndReported();
    void tornLineIsSkippedWithWarning();
    void unreadableHistoryFails();
    void unwritableHistoryIsOnlyAWarning();
    void reportInMissingFolderIsRefusedFirst();

private:
    QProcessEnvironment environment(const QString &data) const
    {
        QProcessEnvironment result = QProcessEnvironment::systemEnvironment();
        result.insert(QStringLiteral("XDG_DATA_HOME"), data);
        return result;
    }
    QString history_file() const
    {
        return work.filePath(QStringLiteral("data/ondaspa/fleet-history.jsonl"));
    }
    // Upgrades 127.0.0.61 (serial number "=HIS-001") and 127.0.0.62, which ignores its
    // command; returns the command's run.
    CommandRun upgrade(const QString &data, const QStringList &extra = {});

    QTemporaryDir work;
};

void tst_HistoryCommand::initTestCase()
{
    QVERIFY(work.isValid());
    QVERIFY(QDir(work.path()).mkdir(QStringLiteral("html")));
    QVERIFY(writeFile(
            work.filePath(QStringLiteral("html/minifs_rom.img")), QByteArray(image_size, 'x')));
}

CommandRun tst_HistoryCommand::upgrade(const QString &data, const QStringList &extra)
{
    const QString udp_port = QString::number(freeUdpPort());
    WatchedProcess device(QStringLiteral(DEVSIM_PATH),
            { "--sn", "=HIS-001", "--bind", "127.0.0.61", "--udp-port", udp_port, "--ver", "1.0" });
    WatchedProcess ignoring(QStringLiteral(DEVSIM_PATH),
            { "--sn", "HIS-002", "--bind", "127.0.0.62", "--udp-port", udp_port,
                    "--ignore-commands" });
    if (!device.waitForLine("listening") || !ignoring.waitForLine("listening"))
        return CommandRun();
    return CommandRun::of(
            QStringList{ CLI_PATH, "upgrade", "fs", "--ip", "127.0.0.61,127.0.0.62",
                    "--device-port", udp_port, "--port", QString::number(freeTcpPort()), "--folder",
                    work.filePath(QStringLiteral("html")), "--timeout", "1", "--retries", "0" }
                    + extra,
            environment(data));
}

void tst_HistoryCommand::emptyHistoryListsNothing()
{
    const CommandRun run =
            CommandRun::of({ CLI_PATH, "history" }, environment(work.filePath("nothing")));
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.out, QString());
    // Says where it looked, on stderr, so a script's listing stays empty.
    QCOMPARE(run.err,
            QStringLiteral("ondaspa-cli history: no runs recorded in %1\n")
                    .arg(work.filePath("nothing/ondaspa/fleet-history.jsonl")));
    const CommandRun device = CommandRun::of(
            { CLI_PATH, "history", "--sn", "SN-1" }, environment(work.filePath("nothing")));
    QCOMPARE(device.err, QStringLiteral("ondaspa-cli history: no upgrade of SN-1 recorded\n"));
}

void tst_HistoryCommand::upgradeIsRecordedAndReported()
{
    const QString data = work.filePath(QStringLiteral("data"));
    const QString report = work.filePath(QStringLiteral("report.csv"));
    const CommandRun upgraded = upgrade(data, { "--report", report });
    QCOMPARE(upgraded.exitCode, 1); // one device did not answer
    QVERIFY2(upgraded.err.contains("report " + report + ": 2 devices"), qPrintable(upgraded.err));

    const QByteArray csv = readFile(report);
    QVERIFY(csv.startsWith("\xEF\xBB\xBF"
                           "started,type,file,sha256,sn,address,"));
    const QList<QByteArray> rows = csv.trimmed().split('\n');
    QCOMPARE(rows.size(), 3);
    // The serial number cannot become a formula.
    QVERIFY2(rows.at(1).contains(",minifs_rom.img,")
                    && rows.at(1).contains(",'=HIS-001,127.0.0.61,1.0,,file sent,1,20000,"),
            rows.at(1).constData());
    QVERIFY2(rows.at(2).contains(",HIS-002,127.0.0.62,,,no answer,1,0,"), rows.at(2).constData());

    const CommandRun listed = CommandRun::of({ CLI_PATH, "history" }, environment(data));
    QCOMPARE(listed.exitCode, 0);
    QCOMPARE(listed.out.count(QLatin1Char('\n')), 1);
    QVERIFY2(listed.out.contains("  fs  minifs_rom.img  2 devices: 1 succeeded, 1 failed\n"),
            qPrintable(listed.out));

    const CommandRun device =
            CommandRun::of({ CLI_PATH, "history", "--sn", "=HIS-001" }, environment(data));
    QCOMPARE(device.exitCode, 0);
    QVERIFY2(device.out.endsWith("  127.0.0.61  ver 1.0  file sent  (fs minifs_rom.img)\n"),
            qPrintable(device.out));

    const CommandRun json =
            CommandRun::of({ CLI_PATH, "history", "--json", "--last", "1" }, environment(data));
    QCOMPARE(json.exitCode, 0);
    const QJsonObject run = QJsonDocument::fromJson(json.out.toUtf8()).object();
    QCOMPARE(run.value("size").toInt(), image_size);
    QCOMPARE(run.value("sha256").toString().size(), 64);
    QCOMPARE(run.value("settings").toObject().value("timeout_s").toDouble(), 1.0);
    QCOMPARE(run.value("devices").toArray().size(), 2);
    QVERIFY(QDateTime::fromString(run.value("ended").toString(), Qt::ISODateWithMs).isValid());
}

void tst_HistoryCommand::tornLineIsSkippedWithWarning()
{
    const QString data = work.filePath(QStringLiteral("torn"));
    QVERIFY(QDir().mkpath(data + "/ondaspa"));
    QVERIFY(writeFile(data + "/ondaspa/fleet-history.jsonl",
            "{\"started\":\"2026-01-02T03:04:05.000+01:00\",\"type\":\"update\",\"file\":"
            "\"fw\\u001b[2J.bin\",\"devices\":[{\"sn\":\"A\",\"state\":\"back\"}]}\n"
            "{\"started\":\"2026-01-0"));
    const CommandRun run = CommandRun::of({ CLI_PATH, "history" }, environment(data));
    QCOMPARE(run.exitCode, 0);
    // Text from the file cannot reach the terminal as an escape sequence.
    QCOMPARE(run.out,
            QStringLiteral("2026-01-02T03:04:05.000+01:00  update  fw\\x1b[2J.bin  1 device: 0 "
                           "succeeded, 0 failed\n"));
    QVERIFY2(run.err.contains("ondaspa-cli history: warning: ")
                    && run.err.contains("skipped 1 line(s) that hold no run"),
            qPrintable(run.err));
}

void tst_HistoryCommand::unreadableHistoryFails()
{
    const QString data = work.filePath(QStringLiteral("folder"));
    QVERIFY(QDir().mkpath(data + "/ondaspa/fleet-history.jsonl"));
    const CommandRun run = CommandRun::of({ CLI_PATH, "history" }, environment(data));
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.err.startsWith("ondaspa-cli history: cannot read "), qPrintable(run.err));
}

void tst_HistoryCommand::unwritableHistoryIsOnlyAWarning()
{
    // A file where the data folder should be.
    const QString data = work.filePath(QStringLiteral("html/minifs_rom.img"));
    const CommandRun run = upgrade(data);
    QCOMPARE(run.exitCode, 1); // the ignoring device, not the history
    QVERIFY2(run.err.contains("warning: the run is not in the history: cannot write "),
            qPrintable(run.err));
    QVERIFY2(run.err.contains("1 of 2 upgraded"), qPrintable(run.err));
}

void tst_HistoryCommand::reportInMissingFolderIsRefusedFirst()
{
    const CommandRun run = CommandRun::of({ CLI_PATH, "upgrade", "fs", "--ip", "127.0.0.63",
                                                  "--report", "/nonexistent/dir/r.csv" },
            environment(work.filePath("refused")));
    QCOMPARE(run.exitCode, 1);
    QCOMPARE(run.err,
            QStringLiteral("ondaspa-cli upgrade: ")
                    + QFileInfo("/nonexistent/dir/r.csv").absolutePath() + ": no such folder\n");
    QVERIFY(!QFileInfo::exists(work.filePath("refused")));
}

QTEST_GUILESS_MAIN(tst_HistoryCommand)
#include "tst_historycommand.moc"
