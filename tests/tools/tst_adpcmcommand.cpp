#include "commandrun.h"
#include "fulldisk.h"
#include "unreadablefile.h"
#include "wavfile.h"

#include <QTemporaryDir>
#include <QtTest>

#include <cmath>

namespace {

// prefix: what runs the tool, such as fullDiskPrefix().
CommandRun runCli(const QStringList &arguments, const QStringList &prefix = {})
{
    return CommandRun::of(
            prefix + QStringList{ QStringLiteral(CLI_PATH), QStringLiteral("adpcm") } + arguments);
}

WavFile tone(int count, quint32 rate)
{
    std::vector<qint16> samples(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i)
        samples[static_cast<size_t>(i)] =
                static_cast<qint16>(std::lround(12000 * std::sin(i * 0.07)));
    WavFile wav = WavFile::withSamples(samples);
    wav.sampleRate = rate;
    return wav;
}

} // namespace

class tst_AdpcmCommand : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void compressPrintsRunLines();
    void tooLargeFileIsASkip();
    void controlCharactersInNamesEscaped();
    void compressExitCodes_data();
    void compressExitCodes();
    void unreadableFileFailsTheRun();
    void compressedFileRefusedAsCompressed();
    void decodeRestoresPcm();
    void decodeRefuses_data();
    void decodeRefuses();
    void writeFailuresGiveTheSystemsReason_data();
    void writeFailuresGiveTheSystemsReason();

private:
    QScopedPointer<QTemporaryDir> scratch;
    QString in;
    QString out;
};

void tst_AdpcmCommand::init()
{
    scratch.reset(new QTemporaryDir);
    QVERIFY(scratch->isValid());
    in = scratch->filePath(QStringLiteral("in"));
    out = scratch->filePath(QStringLiteral("out"));
    QVERIFY(QDir().mkpath(in));
    QVERIFY(QDir().mkpath(out));
}

void tst_AdpcmCommand::compressPrintsRunLines()
{
    QVERIFY(WavFile::withSamples({ 0, 1000, 2000, 1000 }).write(in + QStringLiteral("/示例.wav")));
    WavFile stereo = tone(10, 8000);
    stereo.channels = 2;
    QVERIFY(stereo.write(in + QStringLiteral("/stereo.wav")));
    const CommandRun result = runCli({ QStringLiteral("compress"), in, QStringLiteral("-o"), out });
    QCOMPARE(result.exitCode, 1);
    QCOMPARE(result.out,
            QStringLiteral(
                    "开始压缩:\n压缩:stereo.wav失败:非单声道音频!\n压缩:示例.wav >> 46bytes 成功\n"
                    "压缩结束:\n压缩成功文件数:1个\n压缩失败文件数:1个\n文件夹中文件数:1个\n"));
    QCOMPARE(result.err,
            QStringLiteral("ondaspa-cli adpcm compress: stereo.wav: 8000 Hz, 2 channels, 16 bits, "
                           "format tag 1, 64 bytes\n"));
    QCOMPARE(QFileInfo(out + QStringLiteral("/示例.wav")).size(), qint64(46));
}

// Its format was never looked at: the line says it was skipped, with no format to mislead.
void tst_AdpcmCommand::tooLargeFileIsASkip()
{
    QVERIFY(tone(600000, 16000).write(in + QStringLiteral("/long.wav")));
    const CommandRun result = runCli({ QStringLiteral("compress"), in, QStringLiteral("-o"), out });
    QCOMPARE(result.exitCode, 0);
    QCOMPARE(result.err,
            QStringLiteral("ondaspa-cli adpcm compress: long.wav: skipped, 1200044 bytes is over "
                           "the limit of 1048576 bytes\n"));
}

// A name that would set the terminal's title reaches it escaped.
void tst_AdpcmCommand::controlCharactersInNamesEscaped()
{
#ifdef Q_OS_UNIX
    QVERIFY(tone(100, 16000).write(in + QStringLiteral("/a\x1b]0;owned\x07.wav")));
    const CommandRun result = runCli({ QStringLiteral("compress"), in, QStringLiteral("-o"), out });
    QCOMPARE(result.exitCode, 0);
    QVERIFY2(result.out.contains(QStringLiteral("压缩:a\\x1b]0;owned\\x07.wav >> ")),
            qPrintable(result.out));
    QVERIFY(!result.out.contains(QLatin1Char('\x1b')));
#else
    QSKIP("Windows file names cannot hold control characters");
#endif
}

void tst_AdpcmCommand::compressExitCodes_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("error");

    const auto compress = [](const char *folder, const char *output) {
        return QStringList{ QStringLiteral("compress"), QString::fromUtf8(folder),
            QStringLiteral("-o"), QString::fromUtf8(output) };
    };
    QTest::newRow("allCompressed") << compress("@in", "@out") << 0 << QString();
    QTest::newRow("emptyPath") << compress("", "@out") << 1 << "the folder path is empty";
    QTest::newRow("missingFolder")
            << compress("@in/nowhere", "@out") << 1 << "@in/nowhere: no such folder";
    QTest::newRow("outputCannotBeOpened") << compress("@in", "@blocked") << 1 << "cannot write";
    QTest::newRow("outputFolderMissing")
            << compress("@in", "@out/deeper") << 1 << "@out/deeper: no such folder";
    QTest::newRow("folderIsAFile")
            << compress("@in/a.wav", "@out") << 1 << "@in/a.wav: not a folder";
    QTest::newRow("outputFolderIsAFile")
            << compress("@in", "@in/a.wav") << 1 << "@in/a.wav: not a folder";
}

void tst_AdpcmCommand::compressExitCodes()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, error);

    QVERIFY(tone(100, 16000).write(in + QStringLiteral("/a.wav")));
    // A folder where the output file should be cannot be opened as a file.
    const QString blocked = scratch->filePath(QStringLiteral("blocked"));
    QVERIFY(QDir().mkpath(blocked + QStringLiteral("/a.wav")));
    for (QString *text : { &error, &arguments[1], &arguments[3] })
        text->replace(QStringLiteral("@in"), in)
                .replace(QStringLiteral("@out"), out)
                .replace(QStringLiteral("@blocked"), blocked);

    const CommandRun result = runCli(arguments);
    QCOMPARE(result.exitCode, exitCode);
    if (error.isEmpty())
        QVERIFY(result.err.isEmpty());
    else
        QVERIFY2(result.err.contains(QStringLiteral("ondaspa-cli adpcm compress: ") + error),
                qPrintable(result.err));
    // Only the window's own folder is ever created.
    QVERIFY(!QFileInfo::exists(out + QStringLiteral("/deeper")));
}

void tst_AdpcmCommand::unreadableFileFailsTheRun()
{
#ifdef Q_OS_LINUX
    QVERIFY(tone(100, 8000).write(in + QStringLiteral("/a.wav")));
    QVERIFY(tone(100, 8000).write(in + QStringLiteral("/b.wav")));
    QVERIFY(makeUnreadable(in + QStringLiteral("/b.wav")));
    const CommandRun result = runCli({ QStringLiteral("compress"), in, QStringLiteral("-o"), out },
            filePermissionsEnforcedPrefix());
    QCOMPARE(result.exitCode, 1);
    QVERIFY2(result.out.contains(QStringLiteral("\n跳过:b.wav(无法打开)\n压缩结束:\n"
                                                "压缩成功文件数:1个\n压缩失败文件数:1个\n")),
            qPrintable(result.out));
    QCOMPARE(result.err,
            QStringLiteral("ondaspa-cli adpcm compress: cannot read %1/b.wav: %2\n")
                    .arg(in, qt_error_string(EACCES)));
#else
    QSKIP("unreadable files for root need Linux capabilities");
#endif
}

// The devices' files, fed to the compressor again, are named for what they
// are rather than for the chunk that other readers miss in them.
void tst_AdpcmCommand::compressedFileRefusedAsCompressed()
{
    QVERIFY(WavFile::withSamples({ 0, 1000, 2000, 1000 }).write(in + QStringLiteral("/a.wav")));
    QCOMPARE(runCli({ QStringLiteral("compress"), in, QStringLiteral("-o"), out }).exitCode, 0);
    const CommandRun again = runCli({ QStringLiteral("compress"), out, QStringLiteral("-o"), in });
    QCOMPARE(again.exitCode, 1);
    QVERIFY2(again.out.contains(QStringLiteral("\n压缩:a.wav失败:格式不支持!\n")),
            qPrintable(again.out));
    QCOMPARE(again.err,
            QStringLiteral("ondaspa-cli adpcm compress: a.wav: already compressed (IMA ADPCM, not "
                           "PCM), 8000 Hz, 46 bytes\n"));
}

void tst_AdpcmCommand::decodeRestoresPcm()
{
    const int count = 8001;
    const WavFile original = tone(count, 11025);
    QVERIFY(original.write(in + QStringLiteral("/tone.wav")));
    QCOMPARE(runCli({ QStringLiteral("compress"), in, QStringLiteral("-o"), out }).exitCode, 0);
    const QString decodedPath = scratch->filePath(QStringLiteral("decoded.wav"));
    const CommandRun result =
            runCli({ QStringLiteral("decode"), out + QStringLiteral("/tone.wav"), decodedPath });
    QCOMPARE(result.exitCode, 0);

    QFile file(decodedPath);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray decoded = file.readAll();
    // Odd sample count: the last half byte decodes as one extra sample.
    const int decodedCount = count + 1;
    QCOMPARE(decoded.size(), 44 + 2 * decodedCount);
    WavFile expectedHeader;
    expectedHeader.sampleRate = 11025;
    expectedHeader.data = QByteArray(2 * decodedCount, '\0');
    QCOMPARE(decoded.left(44), expectedHeader.bytes().left(44));

    double signal = 0;
    double noise = 0;
    for (int i = 0; i < count; ++i) {
        const double a = qFromLittleEndian<qint16>(original.data.constData() + 2 * i);
        const double b = qFromLittleEndian<qint16>(decoded.constData() + 44 + 2 * i);
        signal += a * a;
        noise += (a - b) * (a - b);
    }
    // Measured 38.9 dB for this tone.
    QVERIFY2(10 * std::log10(signal / noise) > 38.0,
            qPrintable(QString::number(10 * std::log10(signal / noise))));
}

void tst_AdpcmCommand::decodeRefuses_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("error");

    WavFile compressed = tone(10, 8000);
    compressed.formatTag = 17;
    QTest::newRow("pcmFile") << tone(10, 8000).bytes()
                             << QStringLiteral("not a compressed sound file");
    QTest::newRow("textFile") << QByteArray(100, 'x')
                              << QStringLiteral("not a compressed sound file");
    QTest::newRow("shortFile") << compressed.bytes().left(43)
                               << QStringLiteral("not a compressed sound file");
    compressed.declaredSize = 1000;
    QTest::newRow("truncated") << compressed.bytes() << QStringLiteral("is truncated");
    compressed.declaredSize = -1;
    compressed.channels = 2;
    QTest::newRow("stereo") << compressed.bytes() << QStringLiteral("not a compressed sound file");
}

void tst_AdpcmCommand::decodeRefuses()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, error);
    const QString input = scratch->filePath(QStringLiteral("input.wav"));
    QFile file(input);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(content), qint64(content.size()));
    file.close();
    const QString output = scratch->filePath(QStringLiteral("output.wav"));
    const CommandRun result = runCli({ QStringLiteral("decode"), input, output });
    QCOMPARE(result.exitCode, 1);
    QVERIFY2(result.err.contains(error), qPrintable(result.err));
    QVERIFY(!QFileInfo::exists(output));
}

void tst_AdpcmCommand::writeFailuresGiveTheSystemsReason_data()
{
    addFullDiskRows();
}

void tst_AdpcmCommand::writeFailuresGiveTheSystemsReason()
{
    QFETCH(QString, disk);
    QFETCH(QString, reason);
    const QString full = scratch->filePath(QStringLiteral("full"));
    QVERIFY(QDir().mkpath(full));
    if (!fullDiskAvailable(disk, full))
        QSKIP("this kind of full disk cannot be made here");
    // About 100 KiB compressed, more than the full folder takes; the small file still fits.
    QVERIFY(tone(200000, 16000).write(in + QStringLiteral("/big.wav")));
    QVERIFY(tone(1000, 16000).write(in + QStringLiteral("/small.wav")));
    const QStringList prefix = fullDiskPrefix(disk, full);

    const CommandRun compressed =
            runCli({ QStringLiteral("compress"), in, QStringLiteral("-o"), full }, prefix);
    QCOMPARE(compressed.exitCode, 1);
    QVERIFY(compressed.out.contains(
            QStringLiteral("\n压缩:big.wav失败:写入失败!\n压缩:small.wav >> 544bytes 成功\n")));
    QCOMPARE(compressed.err,
            QStringLiteral("ondaspa-cli adpcm compress: cannot write %1/big.wav: %2\n")
                    .arg(full, reason));

    QCOMPARE(runCli({ QStringLiteral("compress"), in, QStringLiteral("-o"), out }).exitCode, 0);
    const CommandRun decoded = runCli({ QStringLiteral("decode"), out + QStringLiteral("/big.wav"),
                                              full + QStringLiteral("/big.wav") },
            prefix);
    QCOMPARE(decoded.exitCode, 1);
    QVERIFY2(decoded.err.contains(QStringLiteral("cannot write %1/big.wav: %2").arg(full, reason)),
            qPrintable(decoded.err));
}

QTEST_GUILESS_MAIN(tst_AdpcmCommand)
#include "tst_adpcmcommand.moc"
