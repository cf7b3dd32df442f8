#include "commandrun.h"
#include "testfiles.h"

#include <QTemporaryDir>
#include <QtTest>

// The conventions every ondaspa-cli command keeps: help on stdout with exit 0,
// --version, usage errors that say what is wrong on stderr with exit 2, and
// debug lines only when asked for.
class tst_CliConventions : public QObject
{
    Q_OBJECT

private slots:
    void answers_data();
    void answers();
    void debugLinesOnlyWhenSwitchedOn_data();
    void debugLinesOnlyWhenSwitchedOn();
};

void tst_CliConventions::answers_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("stream"); // "out" or "err": where the phrase is; the other is empty
    QTest::addColumn<QString>("phrase");

    const QString version = QStringLiteral("ondaspa-cli " ONDASPA_VERSION "\n");
    const QString exitStatus = QStringLiteral("\nExit status: 0 ");
    // Every command's help and version, and a call that lacks an argument.
    const struct
    {
        const char *row;
        QStringList words;
        QStringList given;
        const char *missing;
    } commands[] = {
        { "top", {}, {}, "ondaspa-cli: missing command: minifs, adpcm, upgrade or history" },
        { "minifs", { "minifs" }, {},
                "ondaspa-cli minifs: missing command: build, list or extract" },
        { "build", { "minifs", "build" }, {}, "ondaspa-cli minifs build: missing FOLDER" },
        { "list", { "minifs", "list" }, {}, "ondaspa-cli minifs list: missing IMAGE" },
        { "extract", { "minifs", "extract" }, { "a.img" },
                "ondaspa-cli minifs extract: missing DIR" },
        { "adpcm", { "adpcm" }, {}, "ondaspa-cli adpcm: missing command: compress or decode" },
        { "compress", { "adpcm", "compress" }, {}, "ondaspa-cli adpcm compress: missing FOLDER" },
        { "decode", { "adpcm", "decode" }, { "a.wav" },
                "ondaspa-cli adpcm decode: missing OUTPUT" },
        { "upgrade", { "upgrade" }, {}, "ondaspa-cli upgrade: missing the command type" },
    };
    for (const auto &command : commands) {
        QTest::addRow("%s-help", command.row)
                << command.words + QStringList{ "--help" } << 0 << "out" << exitStatus;
        QTest::addRow("%s-h", command.row)
                << command.words + QStringList{ "-h" } << 0 << "out" << exitStatus;
        QTest::addRow("%s-version", command.row)
                << command.words + QStringList{ "--version" } << 0 << "out" << version;
        QTest::addRow("%s-missing", command.row)
                << command.words + command.given << 2 << "err" << command.missing;
    }

    // history takes no argument: its help and version, and what it refuses.
    QTest::newRow("history-help") << QStringList{ "history", "--help" } << 0 << "out" << exitStatus;
    QTest::newRow("history-version")
            << QStringList{ "history", "--version" } << 0 << "out" << version;
    QTest::newRow("history-unknownOption") << QStringList{ "history", "--bogus" } << 2 << "err"
                                           << "ondaspa-cli history: unknown option '--bogus'";
    QTest::newRow("history-extraArgument") << QStringList{ "history", "runs" } << 2 << "err"
                                           << "ondaspa-cli history: unexpected argument 'runs'";
    QTest::newRow("history-lastZero") << QStringList{ "history", "--last", "0" } << 2 << "err"
                                      << "ondaspa-cli history: --last needs a number from 1 to 500";
    QTest::newRow("history-lastOverBound")
            << QStringList{ "history", "--last", "501" } << 2 << "err"
            << "--last needs a number from 1 to 500";
    QTest::newRow("history-lastNotNumber")
            << QStringList{ "history", "--last", "ten" } << 2 << "err"
            << "--last needs a number from 1 to 500";
    QTest::newRow("history-snWithoutValue") << QStringList{ "history", "--sn" } << 2 << "err"
                                            << "ondaspa-cli history: missing value after '--sn'";
    QTest::newRow("history-snEmpty") << QStringList{ "history", "--sn", " " } << 2 << "err"
                                     << "ondaspa-cli history: --sn needs a serial number";
    QTest::newRow("upgrade-reportEmpty")
            << QStringList{ "upgrade", "fs", "--ip", "127.0.0.1", "--report", "" } << 2 << "err"
            << "ondaspa-cli upgrade: --report needs a file name";

    QTest::newRow("top-unknownCommand") << QStringList{ "bogus" } << 2 << "err"
                                        << "ondaspa-cli: unknown command 'bogus'";
    QTest::newRow("top-unknownOption") << QStringList{ "--bogus" } << 2 << "err"
                                       << "ondaspa-cli: unknown option '--bogus'";
    QTest::newRow("minifs-unknownCommand") << QStringList{ "minifs", "pack" } << 2 << "err"
                                           << "ondaspa-cli minifs: unknown command 'pack'";
    QTest::newRow("adpcm-unknownOption") << QStringList{ "adpcm", "-x" } << 2 << "err"
                                         << "ondaspa-cli adpcm: unknown option '-x'";
    QTest::newRow("build-unknownOption")
            << QStringList{ "minifs", "build", "x", "--fast" } << 2 << "err"
            << "ondaspa-cli minifs build: unknown option '--fast'";
    QTest::newRow("build-unknownOptionWithValue")
            << QStringList{ "minifs", "build", "x", "--fast=1" } << 2 << "err"
            << "ondaspa-cli minifs build: unknown option '--fast'\n";
    QTest::newRow("compress-unknownShortOption")
            << QStringList{ "adpcm", "compress", "x", "-q" } << 2 << "err"
            << "ondaspa-cli adpcm compress: unknown option '-q'\n";
    QTest::newRow("build-optionWithoutValue")
            << QStringList{ "minifs", "build", "x", "-o" } << 2 << "err"
            << "ondaspa-cli minifs build: missing value after '-o'";
    QTest::newRow("build-emptyOutput")
            << QStringList{ "minifs", "build", "x", "-o", "" } << 2 << "err"
            << "ondaspa-cli minifs build: -o needs a file name";
    QTest::newRow("build-versionTooLong")
            << QStringList{ "minifs", "build", "x", "--image-version", "123456789" } << 2 << "err"
            << "\"123456789\" is longer than 8 characters";
    QTest::newRow("build-versionNotLatin1")
            << QStringList{ "minifs", "build", "x", "--image-version", "版本" } << 2 << "err"
            << "ondaspa-cli minifs build: --image-version: \"版本\" holds '版', which Latin-1 "
               "cannot hold\n";
    QTest::newRow("build-versionBeyondBmp")
            << QStringList{ "minifs", "build", "x", "--image-version", "v\U0001F50A" } << 2 << "err"
            << "holds '\U0001F50A'";
    QTest::newRow("build-versionLatin1")
            << QStringList{ "minifs", "build", "/nonexistent", "--image-version", "Vé1.0" } << 1
            << "err"
            << "ondaspa-cli minifs build: /nonexistent: no such folder";
    QTest::newRow("list-extraArgument") << QStringList{ "minifs", "list", "a", "b" } << 2 << "err"
                                        << "ondaspa-cli minifs list: unexpected argument 'b'";
    QTest::newRow("compress-emptyOutput")
            << QStringList{ "adpcm", "compress", "x", "-o", "" } << 2 << "err"
            << "ondaspa-cli adpcm compress: -o needs a folder";
    QTest::newRow("decode-extraArgument")
            << QStringList{ "adpcm", "decode", "a", "b", "c" } << 2 << "err"
            << "ondaspa-cli adpcm decode: unexpected argument 'c'";
    QTest::newRow("upgrade-unknownOption")
            << QStringList{ "upgrade", "fs", "--bogus" } << 2 << "err"
            << "ondaspa-cli upgrade: unknown option '--bogus'";
    QTest::newRow("upgrade-canaryNegative")
            << QStringList{ "upgrade", "fs", "--ip", "127.0.0.1", "--canary", "-1" } << 2 << "err"
            << "ondaspa-cli upgrade: --canary needs a number from 0 to 100000\n";
    QTest::newRow("upgrade-canaryNotANumber")
            << QStringList{ "upgrade", "fs", "--ip", "127.0.0.1", "--canary", "two" } << 2 << "err"
            << "ondaspa-cli upgrade: --canary needs a number from 0 to 100000\n";
    const QString budget = QStringLiteral("ondaspa-cli upgrade: --max-failures needs a number "
                                          "from 0 to 100000 or a percentage from 0% to 100%\n");
    QTest::newRow("upgrade-maxFailuresOverPercent")
            << QStringList{ "upgrade", "fs", "--ip", "127.0.0.1", "--max-failures", "101%" } << 2
            << "err" << budget;
    QTest::newRow("upgrade-maxFailuresFraction")
            << QStringList{ "upgrade", "fs", "--ip", "127.0.0.1", "--max-failures=1.5" } << 2
            << "err" << budget;
    QTest::newRow("upgrade-maxFailuresNegative")
            << QStringList{ "upgrade", "fs", "--ip", "127.0.0.1", "--max-failures", "-1" } << 2
            << "err" << budget;
    QTest::newRow("upgrade-maxFailuresMissingValue")
            << QStringList{ "upgrade", "fs", "--ip", "127.0.0.1", "--max-failures" } << 2 << "err"
            << "ondaspa-cli upgrade: missing value after '--max-failures'";
    QTest::newRow("upgrade-skipVersionEmpty")
            << QStringList{ "upgrade", "fs", "--ip", "127.0.0.1", "--skip-ver", "" } << 2 << "err"
            << "ondaspa-cli upgrade: --skip-ver needs a version\n";
    QTest::newRow("upgrade-unknownType") << QStringList{ "upgrade", "all", "--all" } << 2 << "err"
                                         << "ondaspa-cli upgrade: unknown command type 'all'";

    // Failures that are no usage errors: the reason alone, exit 1.
    QTest::newRow("build-outputFolderMissing")
            << QStringList{ "minifs", "build", "/nonexistent", "-o", "/nonexistent/dir/a.img" } << 1
            << "err"
            // The folder as the system names it ("Z:/nonexistent/dir" under wine).
            << "ondaspa-cli minifs build: " + QFileInfo("/nonexistent/dir/a.img").absolutePath()
                    + ": no such folder\n";
    QTest::newRow("build-folderMissing")
            << QStringList{ "minifs", "build", "/nonexistent" } << 1 << "err"
            << "ondaspa-cli minifs build: /nonexistent: no such folder\n";
    QTest::newRow("build-folderIsAFile")
            << QStringList{ "minifs", "build", CLI_PATH } << 1 << "err"
            << "ondaspa-cli minifs build: " CLI_PATH ": not a folder\n";
    QTest::newRow("compress-folderIsAFile")
            << QStringList{ "adpcm", "compress", CLI_PATH, "-o", "/tmp" } << 1 << "err"
            << "ondaspa-cli adpcm compress: " CLI_PATH ": not a folder\n";
    QTest::newRow("list-unreadable")
            << QStringList{ "minifs", "list", "/nonexistent.img" } << 1 << "err"
            << "ondaspa-cli minifs list: cannot open /nonexistent.img: ";
    QTest::newRow("decode-unreadable")
            << QStringList{ "adpcm", "decode", "/nonexistent", "a.wav" } << 1 << "err"
            << "ondaspa-cli adpcm decode: cannot open /nonexistent: ";
}

void tst_CliConventions::answers()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, stream);
    QFETCH(QString, phrase);
    const CommandRun run = CommandRun::of(QStringList{ CLI_PATH } + arguments);
    QCOMPARE(run.exitCode, exitCode);
    const bool onStdout = stream == QLatin1String("out");
    QVERIFY2((onStdout ? run.out : run.err).contains(phrase), qPrintable(run.out + run.err));
    QVERIFY2((onStdout ? run.err : run.out).isEmpty(), qPrintable(run.out + run.err));
    // Bare line feeds on every system: scripts read the same bytes.
    QVERIFY(!run.out.contains(QLatin1Char('\r')) && !run.err.contains(QLatin1Char('\r')));
    // A usage error, and only a usage error, ends by pointing to the help of the same command.
    const QString prefix = run.err.left(run.err.indexOf(QLatin1Char(':')));
    QCOMPARE(run.err.endsWith(QStringLiteral("\nTry '%1 --help'.\n").arg(prefix)), exitCode == 2);
}

void tst_CliConventions::debugLinesOnlyWhenSwitchedOn_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("rules");
    QTest::addColumn<QString>("debugLine");
    const QStringList build{ "minifs", "build", "@in", "-o", "@out/i.img" };
    const QStringList compress{ "adpcm", "compress", "@in", "-o", "@out" };
    QTest::newRow("build-default") << build << QString() << QString();
    QTest::newRow("build-switchedOn") << build << "ondaspa.minifs.debug=true"
                                      << "path: ";
    QTest::newRow("compress-default") << compress << QString() << QString();
    QTest::newRow("compress-switchedOn") << compress << "ondaspa.*.debug=true"
                                         << "adpcm_coder_start";
}

void tst_CliConventions::debugLinesOnlyWhenSwitchedOn()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, rules);
    QFETCH(QString, debugLine);
    QTemporaryDir work;
    QVERIFY(work.isValid());
    QVERIFY(QDir(work.path()).mkdir(QStringLiteral("in")) && QDir(work.path()).mkdir("out"));
    QVERIFY(writeFile(work.filePath(QStringLiteral("in/a.txt")), "a"));
    arguments.replaceInStrings(QStringLiteral("@"), work.path() + QLatin1Char('/'));
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("QT_LOGGING_RULES"));
    if (!rules.isEmpty())
        environment.insert(QStringLiteral("QT_LOGGING_RULES"), rules);

    const CommandRun run = CommandRun::of(QStringList{ CLI_PATH } + arguments, environment);
    QVERIFY2(run.exitCode == 0 || run.exitCode == 1, qPrintable(run.err)); // a.txt is no WAV
    const QString debug = run.err.split(QLatin1Char('\n'))
                                  .filter(QStringLiteral("ondaspa."))
                                  .join(QLatin1Char('\n'));
    if (debugLine.isEmpty())
        QVERIFY2(debug.isEmpty(), qPrintable(debug));
    else
        QVERIFY2(debug.contains(debugLine), qPrintable(run.err));
}

QTEST_GUILESS_MAIN(tst_CliConventions)
#include "tst_cliconventions.moc"
