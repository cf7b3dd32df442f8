// Throughput of the ADPCM coder, and of a folder run over 300 files of one
// mebibyte compared with ffmpeg's IMA ADPCM encoder on the same samples, both
// pinned to the same processor core.
// Usage: bench_sound [SCRATCH_PARENT]   (default: the system's temporary folder)
// The files go to a fresh folder under SCRATCH_PARENT, removed at the end.
// Run it through bench/sound/run.sh, which installs ffmpeg and builds it.

#include "adpcm.h"
#include "foldercompressor.h"
#include "referenceadpcmcoder.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>
#include <QtEndian>

#include <algorithm>
#include <cmath>
#include <ctime>
#include <random>
#include <vector>

#include <sched.h>

namespace {

// Samples of the long signal for the coder alone: 256 MiB of input.
constexpr int longSignalSamples = 128 * 1024 * 1024;
// Timed passes; the best one counts, as the machine is shared.
constexpr int passes = 5;
constexpr int fileCount = 300;
constexpr int fileBytes = 1048576;
constexpr int headerBytes = FolderCompressor::headerBytes;
constexpr int samplesPerFile = (fileBytes - headerBytes) / 2;

std::vector<qint16> makeSignal(size_t count, unsigned seed)
{
    // Speech-like: tones that drift, plus noise, so every step size is used.
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> noise(-1500, 1500);
    std::vector<qint16> samples(count);
    double phase = 0;
    for (size_t i = 0; i < count; ++i) {
        phase += 0.02 + 0.015 * std::sin(static_cast<double>(i) * 1e-4);
        const double envelope = 0.5 + 0.5 * std::sin(static_cast<double>(i) * 3e-6);
        const int value = static_cast<int>(20000 * envelope * std::sin(phase)) + noise(random);
        samples[i] = static_cast<qint16>(std::clamp(value, -32768, 32767));
    }
    return samples;
}

// The reference coder is the yardstick the table-driven coder is compared
// with in the same run, as the machine's speed varies with its load.
int plainCoder(const qint16 *samples, int count, unsigned char *output, AdpcmState *state)
{
    return referenceAdpcmCoder(samples, count, output, state);
}

using Coder = int (*)(const qint16 *, int, unsigned char *, AdpcmState *);

// Best times of several passes: wall-clock, and the processor time this
// process used, which the other work on a shared machine disturbs less.
struct Timing
{
    double wall = 1e30;
    double processor = 1e30;
};

template <typename Work> void measure(Timing &best, Work work)
{
    QElapsedTimer timer;
    timer.start();
    const std::clock_t start = std::clock();
    work();
    best.processor = std::min(best.processor, double(std::clock() - start) / CLOCKS_PER_SEC);
    best.wall = std::min(best.wall, static_cast<double>(timer.nsecsElapsed()) / 1e9);
}

void code(Coder coder, const std::vector<qint16> &samples, size_t chunk,
        std::vector<unsigned char> &out)
{
    for (size_t offset = 0; offset < samples.size(); offset += chunk) {
        AdpcmState state = { 0, 0 };
        const size_t count = std::min(chunk, samples.size() - offset);
        coder(samples.data() + offset, static_cast<int>(count), out.data(), &state);
    }
}

// Streams coded side by side in the coder measurement.
constexpr int sideBySide = 4;

// Codes samples as sideBySide streams of equal length in one call.
void codeStreams(const std::vector<qint16> &samples, std::vector<unsigned char> &out)
{
    const size_t length = samples.size() / sideBySide & ~size_t(1);
    AdpcmState states[sideBySide] = {};
    AdpcmStream streams[sideBySide];
    for (int i = 0; i < sideBySide; ++i)
        streams[i] = { samples.data() + i * length, static_cast<int>(length),
            out.data() + i * length / 2, &states[i] };
    adpcm_coder_streams(streams, sideBySide);
}

QString rate(double samples, double seconds)
{
    return QString::number(samples / seconds / 1e6, 'f', 1);
}

// Writes samples as one mono 16-bit PCM WAV file at 16000 samples per second.
bool writeWav(const QString &path, const qint16 *samples, size_t count)
{
    const quint32 dataBytes = static_cast<quint32>(count * 2);
    char header[headerBytes] = {};
    memcpy(header, "RIFF", 4);
    qToLittleEndian<quint32>(dataBytes + headerBytes - 8, header + 4);
    memcpy(header + 8, "WAVEfmt ", 8);
    qToLittleEndian<quint32>(16, header + 16);
    qToLittleEndian<quint16>(1, header + 20);
    qToLittleEndian<quint16>(1, header + 22);
    qToLittleEndian<quint32>(16000, header + 24);
    qToLittleEndian<quint32>(32000, header + 28);
    qToLittleEndian<quint16>(2, header + 32);
    qToLittleEndian<quint16>(16, header + 34);
    memcpy(header + 36, "data", 4);
    qToLittleEndian<quint32>(dataBytes, header + 40);
    std::vector<char> body(count * 2);
    qToLittleEndian<qint16>(samples, static_cast<qsizetype>(count), body.data());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(header, headerBytes) == headerBytes
            && file.write(body.data(), static_cast<qint64>(body.size()))
            == static_cast<qint64>(body.size());
}

// Pins the calling thread (and what it starts) to the last core it may run on;
// returns that core, or -1.
int pinToOneCore()
{
    cpu_set_t allowed;
    if (sched_getaffinity(0, sizeof allowed, &allowed) != 0)
        return -1;
    for (int core = CPU_SETSIZE - 1; core >= 0; --core) {
        if (!CPU_ISSET(core, &allowed))
            continue;
        cpu_set_t one;
        CPU_ZERO(&one);
        CPU_SET(core, &one);
        return sched_setaffinity(0, sizeof one, &one) == 0 ? core : -1;
    }
    return -1;
}

// ffmpeg encodes input to IMA ADPCM on one thread, pinned to core.
bool runFfmpeg(int core, const QString &input, const QString &output)
{
    QProcess process;
    process.start(QStringLiteral("taskset"),
            { QStringLiteral("-c"), QString::number(core), QStringLiteral("ffmpeg"),
                    QStringLiteral("-nostdin"), QStringLiteral("-hide_banner"),
                    QStringLiteral("-loglevel"), QStringLiteral("error"), QStringLiteral("-y"),
                    QStringLiteral("-threads"), QStringLiteral("1"), QStringLiteral("-i"), input,
                    QStringLiteral("-c:a"), QStringLiteral("adpcm_ima_wav"), output });
    return process.waitForFinished(-1) && process.exitStatus() == QProcess::NormalExit
            && process.exitCode() == 0;
}

QString loadAverage()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("unknown");
    return QString::fromLatin1(file.readLine()).section(QLatin1Char(' '), 0, 2);
}

class SilentReporter : public FolderCompressor::Reporter
{
public:
    void line(const QString &text) override { last = text; }
    void code(int code, const QString &) override { lastCode = code; }
    QString last;
    int lastCode = 0;
};

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    QTextStream out(stdout);
    const QString parent = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QDir::tempPath();

    {
        const std::vector<qint16> signal = makeSignal(longSignalSamples, 1);
        std::vector<unsigned char> encoded(signal.size() / 2 + 1);
        Timing coder;
        Timing plain;
        Timing streams;
        for (int pass = 0; pass < passes; ++pass) {
            measure(coder, [&] { code(adpcm_coder, signal, signal.size(), encoded); });
            measure(plain, [&] { code(plainCoder, signal, signal.size(), encoded); });
            measure(streams, [&] { codeStreams(signal, encoded); });
        }
        const double count = longSignalSamples;
        out << QStringLiteral("coder: %1 M samples/s wall, %2 by processor time (%3 M samples, "
                              "best of %4)\n")
                        .arg(rate(count, coder.wall), rate(count, coder.processor))
                        .arg(longSignalSamples / (1024 * 1024))
                        .arg(passes)
            << QStringLiteral("plain branching coder: %1 M samples/s wall, %2 by processor time; "
                              "coder / plain: %3\n")
                        .arg(rate(count, plain.wall), rate(count, plain.processor))
                        .arg(plain.processor / coder.processor, 0, 'f', 2)
            << QStringLiteral("coder on %1 streams side by side: %2 M samples/s wall, %3 by "
                              "processor time\n")
                        .arg(sideBySide)
                        .arg(rate(count, streams.wall), rate(count, streams.processor))
            << Qt::flush;
    }

    QTemporaryDir scratch(parent + QStringLiteral("/ondaspa-bench-XXXXXX"));
    if (!scratch.isValid()) {
        out << "cannot create a scratch folder under " << parent << '\n';
        return 1;
    }
    const QString inputFolder = scratch.filePath(QStringLiteral("in"));
    const QString outputFolder = scratch.filePath(QStringLiteral("out"));
    QDir().mkpath(inputFolder);

    const std::vector<qint16> samples =
            makeSignal(static_cast<size_t>(fileCount) * samplesPerFile, 2);
    for (int i = 0; i < fileCount; ++i) {
        if (!writeWav(QStringLiteral("%1/%2.wav").arg(inputFolder).arg(i, 3, 10, QLatin1Char('0')),
                    samples.data() + static_cast<size_t>(i) * samplesPerFile, samplesPerFile)) {
            out << "cannot write the input files\n";
            return 1;
        }
    }

    // ffmpeg gets the same samples as one file: its encoder's speed, not its
    // start-up, is the yardstick.
    const QString ffmpegInput = scratch.filePath(QStringLiteral("all.wav"));
    const QString ffmpegOutput = scratch.filePath(QStringLiteral("all-adpcm.wav"));
    if (!writeWav(ffmpegInput, samples.data(), samples.size())) {
        out << "cannot write the ffmpeg input\n";
        return 1;
    }
    cpu_set_t allCores;
    const int core = sched_getaffinity(0, sizeof allCores, &allCores) == 0 ? pinToOneCore() : -1;
    if (core < 0) {
        out << "cannot pin the benchmark to one core\n";
        return 1;
    }

    // Measured in alternation, so a change in the machine's load falls on
    // all alike. The folder run also runs once per pass on every core, which
    // is reported apart from the comparison on one core.
    Timing folderRun;
    Timing ffmpeg;
    Timing folderRunAllCores;
    for (int pass = 0; pass < passes; ++pass) {
        for (const bool oneCore : { true, false }) {
            if (!oneCore)
                sched_setaffinity(0, sizeof allCores, &allCores);
            SilentReporter reporter;
            FolderCompressor compressor(outputFolder, &reporter);
            measure(oneCore ? folderRun : folderRunAllCores, [&] { compressor.run(inputFolder); });
            if (!oneCore)
                pinToOneCore();
            if (compressor.successCount() != fileCount || reporter.lastCode != 3) {
                out << "folder run failed: " << reporter.last << '\n';
                return 1;
            }
        }
        bool encoded = true;
        measure(ffmpeg, [&] { encoded = runFfmpeg(core, ffmpegInput, ffmpegOutput); });
        if (!encoded) {
            out << "ffmpeg failed (is it installed? bench/sound/run.sh installs it)\n";
            return 1;
        }
    }

    const double total = static_cast<double>(samples.size());
    out << QStringLiteral("\nFolder run of %1 files of %2 bytes against ffmpeg's IMA ADPCM "
                          "encoder (adpcm_ima_wav, the same samples in one file), both on "
                          "core %3, best wall time of %4 passes; load average %5:\n")
                    .arg(fileCount)
                    .arg(fileBytes)
                    .arg(core)
                    .arg(passes)
                    .arg(loadAverage())
        << QStringLiteral("  %1 %2 %3\n").arg(QString(), -12).arg("M samples/s", 12).arg("s", 8)
        << QStringLiteral("  %1 %2 %3\n")
                    .arg("folder run", -12)
                    .arg(rate(total, folderRun.wall), 12)
                    .arg(folderRun.wall, 8, 'f', 3)
        << QStringLiteral("  %1 %2 %3\n")
                    .arg("ffmpeg", -12)
                    .arg(rate(total, ffmpeg.wall), 12)
                    .arg(ffmpeg.wall, 8, 'f', 3)
        << QStringLiteral("  folder run / ffmpeg: %1 (target at least 2.2)\n")
                    .arg(ffmpeg.wall / folderRun.wall, 0, 'f', 2)
        << QStringLiteral("Folder run on all %1 cores: %2 M samples/s, %3 s; / ffmpeg on one "
                          "core: %4\n")
                    .arg(CPU_COUNT(&allCores))
                    .arg(rate(total, folderRunAllCores.wall))
                    .arg(folderRunAllCores.wall, 0, 'f', 3)
                    .arg(ffmpeg.wall / folderRunAllCores.wall, 0, 'f', 2);
    return 0;
}
