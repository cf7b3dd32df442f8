#include "adpcm.h"
#include "foldercompressor.h"
#include "testfiles.h"
#include "unreadablefile.h"
#include "wavfile.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>
#include <csignal>

#ifdef Q_OS_UNIX
#include <sched.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

// Writing a tenth of a second of sound takes the tools well under a second.
constexpr int toolTimeoutMilliseconds = 30000;

class RecordingReporter : public FolderCompressor::Reporter
{
public:
    void line(const QString &text) override
    {
        lines << text;
        if (stopAfterFirstSuccess && text.endsWith(QStringLiteral("bytes 成功")))
            stop = true;
    }
    void code(int code, const QString &outputPath) override
    {
        codes << code;
        paths << outputPath;
    }
    bool stopRequested() const override { return stop; }
    void writeFailed(const QString &outputPath, const QString &reason) override
    {
        failures << outputPath + QStringLiteral(": ") + reason;
    }
    void readFailed(const QString &inputPath, const QString &reason) override
    {
        unreadable << inputPath + QStringLiteral(": ") + reason;
    }

    QStringList lines;
    QStringList failures;
    QStringList unreadable;
    QList<int> codes;
    QStringList paths;
    bool stopAfterFirstSuccess = false;
    bool stop = false;
};

QStringList summary(int success, int failure, int present)
{
    return { QStringLiteral("压缩结束:"), QStringLiteral("压缩成功文件数:%1个").arg(success),
        QStringLiteral("压缩失败文件数:%1个").arg(failure),
        QStringLiteral("文件夹中文件数:%1个").arg(present) };
}

WavFile samplesOf(int count)
{
    std::vector<qint16> samples(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i)
        samples[static_cast<size_t>(i)] = static_cast<qint16>((i * 977) % 20000 - 10000);
    return WavFile::withSamples(samples);
}

const WavFile workedExample = WavFile::withSamples({ 0, 1000, 2000, 1000 });

} // namespace

class tst_FolderCompressor : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void workedExampleFile();
    void oneFile_data();
    void oneFile();
    void toolWrittenFiles_data();
    void toolWrittenFiles();
    void hugeFileIsNotRead();
    void unreadableFileIsAFailure();
    void listingOrderAndFilter();
    void manyFilesKeepOrderAndBytes_data();
    void manyFilesKeepOrderAndBytes();
    void emptyFolderCountsOutputFolder();
    void earlyReturns();
    void outputFolderCreatedOrNot();
    void unopenableTargetGivesCodeAndRunContinues();
    void readOnlyTargetGivesCode();
    void newOutputGetsNewFilePermissions_data();
    void newOutputGetsNewFilePermissions();
    void failedWriteKeepsEarlierFile_data();
    void failedWriteKeepsEarlierFile();
    void outputFolderAsInput();
    void chineseNames();
    void stopEndsRunBetweenFiles();

private:
    QScopedPointer<QTemporaryDir> scratch;
    QString in;
    QString out;
};

void tst_FolderCompressor::init()
{
    scratch.reset(new QTemporaryDir);
    QVERIFY(scratch->isValid());
    in = scratch->filePath(QStringLiteral("in"));
    out = scratch->filePath(QStringLiteral("out"));
    QVERIFY(QDir().mkpath(in));
}

void tst_FolderCompressor::workedExampleFile()
{
    QVERIFY(workedExample.write(in + QStringLiteral("/ex.wav")));
    RecordingReporter reporter;
    FolderCompressor compressor(out, &reporter);
    QCOMPARE(compressor.run(in), FolderCompressor::Finished);
    QCOMPARE(reporter.lines,
            QStringList(
                    { QStringLiteral("开始压缩:"), QStringLiteral("压缩:ex.wav >> 46bytes 成功") })
                    + summary(1, 0, 1));
    QCOMPARE(reporter.codes, QList<int>({ FolderCompressor::CodeFinished }));

    QByteArray expected = workedExample.bytes().left(44);
    expected.replace(4, 4, QByteArray::fromHex("26000000")); // chunk size 38
    expected.replace(16, 4, QByteArray::fromHex("14000000")); // format chunk size 20
    expected.replace(20, 2, QByteArray::fromHex("1100")); // IMA ADPCM
    expected.replace(40, 4, QByteArray::fromHex("02000000")); // data size 2
    expected += QByteArray::fromHex("0777");
    QCOMPARE(readFile(out + QStringLiteral("/ex.wav")), expected);
    // Written through a private temporary file, but readable like any other.
    QVERIFY(QFileInfo(out + QStringLiteral("/ex.wav")).permissions().testFlag(QFile::ReadOther));
}

void tst_FolderCompressor::oneFile_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("line");
    QTest::addColumn<int>("success");
    QTest::addColumn<int>("failure");

    const QString tooShort = QStringLiteral("压缩:a.wav(%1bytes) 失败");
    const QString format = QStringLiteral("压缩:a.wav失败:格式不支持!");
    const QString channels = QStringLiteral("压缩:a.wav失败:非单声道音频!");
    const QString rate = QStringLiteral("压缩:a.wav失败:采样率大于16Khz!");
    const QString done = QStringLiteral("压缩:a.wav >> %1bytes 成功");
    const QByteArray header = WavFile().bytes();

    QTest::newRow("length-0") << QByteArray() << tooShort.arg(0) << 0 << 1;
    QTest::newRow("length-44") << header << tooShort.arg(44) << 0 << 1;
    QTest::newRow("length-45") << header + 'x' << done.arg(44) << 1 << 0;
    QTest::newRow("length-1048576")
            << samplesOf((1048576 - 44) / 2).bytes() << done.arg(44 + 262133) << 1 << 0;
    QTest::newRow("length-1048577") << samplesOf((1048576 - 44) / 2).bytes() + 'x'
                                    << QStringLiteral("压缩音频大于1Mbytes,请裁剪!") << 0 << 0;

    WavFile wav = samplesOf(100);
    wav.sampleRate = 16000;
    QTest::newRow("rate-16000") << wav.bytes() << done.arg(94) << 1 << 0;
    wav.sampleRate = 16001;
    QTest::newRow("rate-16001") << wav.bytes() << rate << 0 << 1;
    wav = samplesOf(100);
    wav.channels = 2;
    QTest::newRow("stereo") << wav.bytes() << channels << 0 << 1;
    wav.channels = 0;
    QTest::newRow("noChannel") << wav.bytes() << channels << 0 << 1;
    wav = samplesOf(100);
    wav.formatTag = 3;
    wav.bitsPerSample = 32;
    QTest::newRow("ieeeFloat") << wav.bytes() << format << 0 << 1;
    wav = samplesOf(100);
    wav.bitsPerSample = 8;
    QTest::newRow("pcm8bit-refused") << wav.bytes() << format << 0 << 1;
    wav = samplesOf(100);
    wav.dataId = "LIST";
    QTest::newRow("listChunkAt36-refused") << wav.bytes() << format << 0 << 1;
    wav = samplesOf(100);
    wav.formatTag = 17;
    QTest::newRow("alreadyCompressed") << wav.bytes() << format << 0 << 1;
    QByteArray notRiff = samplesOf(100).bytes();
    notRiff.replace(0, 4, "RIFX");
    QTest::newRow("notRiff") << notRiff << format << 0 << 1;
    QByteArray notWave = samplesOf(100).bytes();
    notWave.replace(8, 4, "AVI ");
    QTest::newRow("notWave") << notWave << format << 0 << 1;
    QTest::newRow("textFile") << QByteArray(200, 'x') << format << 0 << 1;

    wav = samplesOf(4);
    wav.declaredSize = 100000;
    QTest::newRow("dataSize-beyondFile") << wav.bytes() << done.arg(46) << 1 << 0;
    wav.declaredSize = 0xffffffff;
    QTest::newRow("dataSize-max") << wav.bytes() << done.arg(46) << 1 << 0;
    wav.declaredSize = 5;
    QTest::newRow("dataSize-odd") << wav.bytes() << done.arg(45) << 1 << 0;
    wav.declaredSize = 4;
    QTest::newRow("dataSize-belowFile") << wav.bytes() << done.arg(45) << 1 << 0;
    QTest::newRow("trailingOddByte") << samplesOf(5).bytes() + 'x' << done.arg(47) << 1 << 0;
}

void tst_FolderCompressor::oneFile()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, line);
    QFETCH(int, success);
    QFETCH(int, failure);

    QVERIFY(writeFile(in + QStringLiteral("/a.wav"), content));
    RecordingReporter reporter;
    FolderCompressor compressor(out, &reporter);
    QCOMPARE(compressor.run(in), FolderCompressor::Finished);
    QCOMPARE(reporter.lines,
            QStringList({ QStringLiteral("开始压缩:"), line })
                    + summary(success, failure, success));
    QCOMPARE(reporter.codes, QList<int>({ FolderCompressor::CodeFinished }));
    QCOMPARE(compressor.successCount(), success);
    QCOMPARE(compressor.failureCount(), failure);
    if (!success)
        return;
    const QByteArray written = readFile(out + QStringLiteral("/a.wav"));
    QCOMPARE(line, QStringLiteral("压缩:a.wav >> %1bytes 成功").arg(written.size()));
    const quint32 dataBytes = qFromLittleEndian<quint32>(written.constData() + 40);
    QCOMPARE(int(dataBytes) + 44, written.size());
    QCOMPARE(qFromLittleEndian<quint32>(written.constData() + 4), dataBytes + 36);
    QCOMPARE(qFromLittleEndian<quint16>(written.constData() + 20), quint16(17));
    QCOMPARE(written.mid(22, 14), content.mid(22, 14));
}

void tst_FolderCompressor::toolWrittenFiles_data()
{
    QTest::addColumn<QString>("wavCommand");
    QTest::addColumn<QString>("rawCommand");
    // The same 16 kHz mono 16-bit tone as WAV and as raw samples; no dither,
    // so both runs give the same samples. ffmpeg puts a LIST chunk before "data".
    const QString sox = QStringLiteral(
            "sox -D -R -n -r 16000 -c 1 -b 16 -e signed-integer %1 synth 0.1 sine 440");
    const QString ffmpeg = QStringLiteral(
            "ffmpeg -nostdin -loglevel error -y -f lavfi -i "
            "sine=frequency=440:sample_rate=16000:duration=0.1 -ac 1 -c:a pcm_s16le %1");
    QTest::newRow("sox") << sox.arg(QStringLiteral("WAV")) << sox.arg(QStringLiteral("-t raw RAW"));
    QTest::newRow("ffmpeg") << ffmpeg.arg(QStringLiteral("WAV"))
                            << ffmpeg.arg(QStringLiteral("-f s16le RAW"));
}

void tst_FolderCompressor::toolWrittenFiles()
{
    QFETCH(QString, wavCommand);
    QFETCH(QString, rawCommand);
    const QString tool = wavCommand.section(QLatin1Char(' '), 0, 0);
    if (QStandardPaths::findExecutable(tool).isEmpty())
        QSKIP(qPrintable(tool + QStringLiteral(" is not installed (Debian package ") + tool + ')'));
    const QString raw = scratch->filePath(QStringLiteral("tone.raw"));
    for (const QString &command : { wavCommand, rawCommand }) {
        QStringList arguments = command.split(QLatin1Char(' '));
        arguments.replaceInStrings(QStringLiteral("WAV"), in + QStringLiteral("/tone.wav"));
        arguments.replaceInStrings(QStringLiteral("RAW"), raw);
        QProcess process;
        process.start(arguments.takeFirst(), arguments);
        QVERIFY(process.waitForFinished(toolTimeoutMilliseconds) && process.exitCode() == 0);
    }
    RecordingReporter reporter;
    QCOMPARE(FolderCompressor(out, &reporter).run(in), FolderCompressor::Finished);
    QCOMPARE(reporter.lines.at(1), QStringLiteral("压缩:tone.wav >> 844bytes 成功"));
    // The canonical file is compressed in place, beside the tool's compressed one.
    WavFile canonical;
    canonical.sampleRate = 16000;
    canonical.data = readFile(raw);
    QVERIFY(canonical.write(out + QStringLiteral("/canonical.wav")));
    QCOMPARE(FolderCompressor(out, &reporter).run(out), FolderCompressor::Finished);
    QCOMPARE(readFile(out + QStringLiteral("/tone.wav")),
            readFile(out + QStringLiteral("/canonical.wav")));
}

void tst_FolderCompressor::hugeFileIsNotRead()
{
    QFile huge(in + QStringLiteral("/huge.wav"));
    QVERIFY(huge.open(QIODevice::WriteOnly));
    QVERIFY(huge.write(samplesOf(100).bytes()) > 0);
    // Sparse: costs no disk, but reading it whole would cost 3 GiB of memory.
    QVERIFY(huge.resize(qint64(3) << 30));
    huge.close();
    RecordingReporter reporter;
    FolderCompressor compressor(out, &reporter);
    QCOMPARE(compressor.run(in), FolderCompressor::Finished);
    QCOMPARE(reporter.lines,
            QStringList(
                    { QStringLiteral("开始压缩:"), QStringLiteral("压缩音频大于1Mbytes,请裁剪!") })
                    + summary(0, 0, 0));
}

void tst_FolderCompressor::unreadableFileIsAFailure()
{
#ifdef Q_OS_LINUX
    for (const char *name : { "a.wav", "b.wav", "c.wav" })
        QVERIFY(workedExample.write(in + QLatin1Char('/') + QLatin1String(name)));
    QVERIFY(makeUnreadable(in + QStringLiteral("/b.wav")));
    RecordingReporter reporter;
    FolderCompressor compressor(out, &reporter);
    FolderCompressor::Outcome outcome;
    {
        const FilePermissionsEnforced enforced;
        outcome = compressor.run(in);
    }
    QCOMPARE(outcome, FolderCompressor::Finished);
    QCOMPARE(reporter.lines,
            QStringList({ QStringLiteral("开始压缩:"), QStringLiteral("压缩:a.wav >> 46bytes 成功"),
                    QStringLiteral("跳过:b.wav(无法打开)"),
                    QStringLiteral("压缩:c.wav >> 46bytes 成功") })
                    + summary(2, 1, 2));
    QCOMPARE(compressor.failureCount(), 1);
    QCOMPARE(reporter.unreadable,
            QStringList{ in + QStringLiteral("/b.wav: ") + qt_error_string(EACCES) });
    QCOMPARE(reporter.codes, QList<int>({ FolderCompressor::CodeFinished }));
#else
    QSKIP("unreadable files for root need Linux capabilities");
#endif
}

void tst_FolderCompressor::listingOrderAndFilter()
{
#ifdef Q_OS_UNIX
    QVERIFY(workedExample.write(in + QStringLiteral("/b.wav")));
    QVERIFY(workedExample.write(in + QStringLiteral("/A.wav")));
    QVERIFY(workedExample.write(in + QStringLiteral("/.hidden.wav")));
    QVERIFY(QFile::link(in + QStringLiteral("/b.wav"), in + QStringLiteral("/c.wav")));
    QVERIFY(QDir(in).mkdir(QStringLiteral("d.wav")));
    RecordingReporter reporter;
    FolderCompressor compressor(out, &reporter);
    QCOMPARE(compressor.run(in), FolderCompressor::Finished);
    QCOMPARE(reporter.lines,
            QStringList({ QStringLiteral("开始压缩:"),
                    QStringLiteral("压缩:.hidden.wav >> 46bytes 成功"),
                    QStringLiteral("压缩:A.wav >> 46bytes 成功"),
                    QStringLiteral("压缩:b.wav >> 46bytes 成功") })
                    + summary(3, 0, 3));
#else
    QSKIP("symbolic links and FIFOs are POSIX files");
#endif
}

void tst_FolderCompressor::manyFilesKeepOrderAndBytes_data()
{
    QTest::addColumn<bool>("oneCore");
    QTest::newRow("all-cores") << false;
    QTest::newRow("one-core") << true;
}

void tst_FolderCompressor::manyFilesKeepOrderAndBytes()
{
    // Files are read ahead and coded several at a time, on every core the
    // run may use; refusals between them must still come in listing order,
    // and every output must be what the coder makes of that file alone.
    QFETCH(bool, oneCore);
#ifdef Q_OS_LINUX
    cpu_set_t allowed;
    QCOMPARE(sched_getaffinity(0, sizeof allowed, &allowed), 0);
    if (oneCore) {
        cpu_set_t first;
        CPU_ZERO(&first);
        for (int core = 0; core < CPU_SETSIZE; ++core) {
            if (CPU_ISSET(core, &allowed)) {
                CPU_SET(core, &first);
                break;
            }
        }
        QCOMPARE(sched_setaffinity(0, sizeof first, &first), 0);
    }
    const auto restore = qScopeGuard([&] { sched_setaffinity(0, sizeof allowed, &allowed); });
#else
    if (oneCore)
        QSKIP("pinning to one core uses Linux's affinity calls");
#endif
    QStringList expected = { QStringLiteral("开始压缩:") };
    QHash<QString, QByteArray> outputs;
    int failures = 0;
    for (int i = 0; i < 11; ++i) {
        const QString name = QStringLiteral("f%1.wav").arg(i, 2, 10, QLatin1Char('0'));
        const QString path = in + QLatin1Char('/') + name;
        if (i == 2) {
            QVERIFY(writeFile(path, QByteArray(100, 't')));
            expected << QStringLiteral("压缩:%1失败:格式不支持!").arg(name);
            ++failures;
        } else if (i == 5) {
            QVERIFY(writeFile(path, QByteArray(int(FolderCompressor::maxInputBytes) + 1, 'x')));
            expected << QStringLiteral("压缩音频大于1Mbytes,请裁剪!");
        } else {
            const WavFile file = samplesOf(1000 + 37 * i);
            QVERIFY(file.write(path));
            std::vector<qint16> samples(size_t(1000 + 37 * i));
            qFromLittleEndian<qint16>(
                    file.data.constData(), qsizetype(samples.size()), samples.data());
            QByteArray coded((int(samples.size()) + 1) / 2, '\0');
            AdpcmState state = { 0, 0 };
            adpcm_coder(samples.data(), int(samples.size()),
                    reinterpret_cast<unsigned char *>(coded.data()), &state);
            outputs.insert(name, coded);
            expected << QStringLiteral("压缩:%1 >> %2bytes 成功").arg(name).arg(44 + coded.size());
        }
    }
    RecordingReporter reporter;
    QCOMPARE(FolderCompressor(out, &reporter).run(in), FolderCompressor::Finished);
    QCOMPARE(reporter.lines, expected + summary(outputs.size(), failures, outputs.size()));
    for (auto it = outputs.cbegin(); it != outputs.cend(); ++it)
        QCOMPARE(readFile(out + QLatin1Char('/') + it.key()).mid(44), it.value());
}

void tst_FolderCompressor::emptyFolderCountsOutputFolder()
{
    QVERIFY(QDir().mkpath(out));
    QVERIFY(writeFile(out + QStringLiteral("/old.wav"), "old"));
    QVERIFY(writeFile(out + QStringLiteral("/notes.txt"), "notes"));
    RecordingReporter reporter;
    FolderCompressor compressor(out, &reporter);
    QCOMPARE(compressor.run(in), FolderCompressor::Finished);
    QCOMPARE(reporter.lines, QStringList({ QStringLiteral("开始压缩:") }) + summary(0, 0, 2));
    QCOMPARE(reporter.codes, QList<int>({ FolderCompressor::CodeFinished }));
}

void tst_FolderCompressor::earlyReturns()
{
    RecordingReporter empty;
    QCOMPARE(FolderCompressor(out, &empty).run(QString()), FolderCompressor::PathEmpty);
    QVERIFY(empty.lines.isEmpty());
    QCOMPARE(empty.codes, QList<int>({ FolderCompressor::CodePathEmpty }));

    RecordingReporter missing;
    QCOMPARE(FolderCompressor(out, &missing).run(in + QStringLiteral("/nowhere")),
            FolderCompressor::FolderMissing);
    QVERIFY(missing.lines.isEmpty());
    QVERIFY(missing.codes.isEmpty());
    QVERIFY(!QFileInfo::exists(out));
}

void tst_FolderCompressor::outputFolderCreatedOrNot()
{
    QVERIFY(workedExample.write(in + QStringLiteral("/a.wav")));
    const QString nested = out + QStringLiteral("/x/y/sound");
    RecordingReporter created;
    QCOMPARE(FolderCompressor(nested, &created).run(in), FolderCompressor::Finished);
    QVERIFY(QFileInfo::exists(nested + QStringLiteral("/a.wav")));

    const QString underFile = in + QStringLiteral("/a.wav/sound");
    RecordingReporter failed;
    QCOMPARE(FolderCompressor(underFile, &failed).run(in), FolderCompressor::OutputFolderFailed);
    QCOMPARE(failed.lines, QStringList({ QStringLiteral("开始压缩:") }));
    QVERIFY(failed.codes.isEmpty());
}

void tst_FolderCompressor::unopenableTargetGivesCodeAndRunContinues()
{
    for (const char *name : { "a.wav", "b.wav", "c.wav" })
        QVERIFY(workedExample.write(in + QLatin1Char('/') + QLatin1String(name)));
    // A folder of the target's name cannot be opened as a file, not even by root.
    QVERIFY(QDir().mkpath(out + QStringLiteral("/b.wav")));
    RecordingReporter reporter;
    FolderCompressor compressor(out, &reporter);
    QCOMPARE(compressor.run(in), FolderCompressor::Finished);
    QCOMPARE(reporter.lines,
            QStringList({ QStringLiteral("开始压缩:"), QStringLiteral("压缩:a.wav >> 46bytes 成功"),
                    QStringLiteral("压缩:c.wav >> 46bytes 成功") })
                    + summary(2, 1, 2));
    QCOMPARE(reporter.codes,
            QList<int>({ FolderCompressor::CodeOpenFailed, FolderCompressor::CodeFinished }));
    QCOMPARE(reporter.paths.first(), out + QStringLiteral("/b.wav"));
}

void tst_FolderCompressor::readOnlyTargetGivesCode()
{
#ifdef Q_OS_UNIX
    if (geteuid() == 0)
        QSKIP("root may write to read-only files");
    QVERIFY(workedExample.write(in + QStringLiteral("/a.wav")));
    QVERIFY(QDir().mkpath(out));
    const QString target = out + QStringLiteral("/a.wav");
    QVERIFY(writeFile(target, "earlier"));
    QVERIFY(QFile::setPermissions(target, QFile::ReadOwner));
    RecordingReporter reporter;
    FolderCompressor compressor(out, &reporter);
    QCOMPARE(compressor.run(in), FolderCompressor::Finished);
    QCOMPARE(reporter.codes,
            QList<int>({ FolderCompressor::CodeOpenFailed, FolderCompressor::CodeFinished }));
    QCOMPARE(compressor.failureCount(), 1);
    QCOMPARE(readFile(target), QByteArray("earlier"));
#else
    QSKIP("the check for root is POSIX");
#endif
}

void tst_FolderCompressor::newOutputGetsNewFilePermissions_data()
{
    QTest::addColumn<int>("mask");
    QTest::addColumn<int>("expected");
    const QFile::Permissions owner =
            QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser;
    // A shared folder's members set 002 so each may replace the others' files.
    QTest::newRow("shared") << 002
                            << int(owner | QFile::ReadGroup | QFile::WriteGroup | QFile::ReadOther);
    QTest::newRow("private") << 077 << int(owner);
}

void tst_FolderCompressor::newOutputGetsNewFilePermissions()
{
#ifdef Q_OS_UNIX
    QFETCH(int, mask);
    QFETCH(int, expected);
    QVERIFY(writeFile(in + QStringLiteral("/a.wav"), samplesOf(8000).bytes()));
    RecordingReporter reporter;
    FolderCompressor compressor(out, &reporter);
    const mode_t previous = umask(mode_t(mask));
    const FolderCompressor::Outcome outcome = compressor.run(in);
    umask(previous);
    QCOMPARE(outcome, FolderCompressor::Finished);
    QCOMPARE(int(QFileInfo(out + QStringLiteral("/a.wav")).permissions()), expected);
#else
    QSKIP("file mode masks (umask) are POSIX");
#endif
}

void tst_FolderCompressor::failedWriteKeepsEarlierFile_data()
{
    QTest::addColumn<bool>("inPlace");
    QTest::newRow("separateOutputFolder") << false;
    QTest::newRow("inputIsOutputFolder") << true;
}

void tst_FolderCompressor::failedWriteKeepsEarlierFile()
{
#ifdef Q_OS_UNIX
    QFETCH(bool, inPlace);
    const QString target = (inPlace ? in : out) + QStringLiteral("/a.wav");
    const QByteArray original = samplesOf(8000).bytes();
    QVERIFY(writeFile(in + QStringLiteral("/a.wav"), original));
    const QByteArray earlier = inPlace ? original : QByteArray("earlier output");
    if (!inPlace) {
        QVERIFY(QDir().mkpath(out));
        QVERIFY(writeFile(target, earlier));
    }

    // A file size limit below the 4044-byte output makes the write itself
    // fail, as a full disk would.
    rlimit previous{};
    QCOMPARE(getrlimit(RLIMIT_FSIZE, &previous), 0);
    rlimit limited = previous;
    limited.rlim_cur = 2000;
    const auto previousHandler = signal(SIGXFSZ, SIG_IGN);
    QCOMPARE(setrlimit(RLIMIT_FSIZE, &limited), 0);
    RecordingReporter reporter;
    FolderCompressor compressor(inPlace ? in : out, &reporter);
    const FolderCompressor::Outcome outcome = compressor.run(in);
    setrlimit(RLIMIT_FSIZE, &previous);
    signal(SIGXFSZ, previousHandler);

    QCOMPARE(outcome, FolderCompressor::Finished);
    QCOMPARE(reporter.lines,
            QStringList({ QStringLiteral("开始压缩:"), QStringLiteral("压缩:a.wav失败:写入失败!") })
                    + summary(0, 1, 1));
    QCOMPARE(reporter.failures,
            QStringList{ target + QStringLiteral(": ") + qt_error_string(EFBIG) });
    QCOMPARE(readFile(target), earlier);
#else
    QSKIP("file size limits (rlimits) are POSIX");
#endif
}

void tst_FolderCompressor::outputFolderAsInput()
{
    const QByteArray original = samplesOf(1000).bytes();
    QVERIFY(writeFile(in + QStringLiteral("/a.wav"), original));
    QVERIFY(workedExample.write(in + QStringLiteral("/b.wav")));
    RecordingReporter first;
    QCOMPARE(FolderCompressor(in, &first).run(in), FolderCompressor::Finished);
    QCOMPARE(first.lines,
            QStringList(
                    { QStringLiteral("开始压缩:"), QStringLiteral("压缩:a.wav >> 544bytes 成功"),
                            QStringLiteral("压缩:b.wav >> 46bytes 成功") })
                    + summary(2, 0, 2));
    const QByteArray compressed = readFile(in + QStringLiteral("/a.wav"));
    QCOMPARE(compressed.size(), 544);

    // A second run finds only compressed files, refuses them and keeps them.
    RecordingReporter second;
    QCOMPARE(FolderCompressor(in, &second).run(in), FolderCompressor::Finished);
    QCOMPARE(second.lines,
            QStringList({ QStringLiteral("开始压缩:"), QStringLiteral("压缩:a.wav失败:格式不支持!"),
                    QStringLiteral("压缩:b.wav失败:格式不支持!") })
                    + summary(0, 2, 2));
    QCOMPARE(readFile(in + QStringLiteral("/a.wav")), compressed);
}

void tst_FolderCompressor::chineseNames()
{
    const QString folder = scratch->filePath(QStringLiteral("音频 文件"));
    QVERIFY(QDir().mkpath(folder));
    QVERIFY(workedExample.write(folder + QStringLiteral("/你好.wav")));
    const QString output = scratch->filePath(QStringLiteral("输出"));
    RecordingReporter reporter;
    QCOMPARE(FolderCompressor(output, &reporter).run(folder), FolderCompressor::Finished);
    QCOMPARE(reporter.lines.at(1), QStringLiteral("压缩:你好.wav >> 46bytes 成功"));
    QCOMPARE(QFileInfo(output + QStringLiteral("/你好.wav")).size(), qint64(46));
}

void tst_FolderCompressor::stopEndsRunBetweenFiles()
{
    for (const char *name : { "a.wav", "b.wav", "c.wav" })
        QVERIFY(workedExample.write(in + QLatin1Char('/') + QLatin1String(name)));
    RecordingReporter reporter;
    reporter.stopAfterFirstSuccess = true;
    QCOMPARE(FolderCompressor(out, &reporter).run(in), FolderCompressor::Stopped);
    QCOMPARE(reporter.lines,
            QStringList(
                    { QStringLiteral("开始压缩:"), QStringLiteral("压缩:a.wav >> 46bytes 成功") }));
    QVERIFY(reporter.codes.isEmpty());
}

QTEST_GUILESS_MAIN(tst_FolderCompressor)
#include "tst_foldercompressor.moc"
