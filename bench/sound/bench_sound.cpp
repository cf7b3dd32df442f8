// Throughput of the ADPCM coder, and of a folder run over 300 files of one
// mebibyte compared with the coder alone on the same samples.
// Usage: bench_sound [SCRATCH_PARENT]   (default: the system's temporary folder)
// The files go to a fresh folder under SCRATCH_PARENT, removed at the end.

#include "adpcm.h"
#include "foldercompressor.h"
#include "referenceadpcmcoder.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTextStream>
#include <QtEndian>

#include <algorithm>
#include <cmath>
#include <ctime>
#include <random>
#include <vector>

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

QString rate(double samples, double seconds)
{
    return QString::number(samples / seconds / 1e6, 'f', 1);
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
        for (int pass = 0; pass < passes; ++pass) {
            measure(coder, [&] { code(adpcm_coder, signal, signal.size(), encoded); });
            measure(plain, [&] { code(plainCoder, signal, signal.size(), encoded); });
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
    char header[headerBytes] = {};
    memcpy(header, "RIFFxxxxWAVEfmt ", 16);
    qToLittleEndian<quint32>(16, header + 16);
    qToLittleEndian<quint16>(1, header + 20);
    qToLittleEndian<quint16>(1, header + 22);
    qToLittleEndian<quint32>(16000, header + 24);
    qToLittleEndian<quint32>(32000, header + 28);
    qToLittleEndian<quint16>(2, header + 32);
    qToLittleEndian<quint16>(16, header + 34);
    memcpy(header + 36, "data", 4);
    qToLittleEndian<quint32>(samplesPerFile * 2, header + 40);
    std::vector<char> body(static_cast<size_t>(samplesPerFile) * 2);
    for (int i = 0; i < fileCount; ++i) {
        qToLittleEndian<qint16>(samples.data() + static_cast<size_t>(i) * samplesPerFile,
                samplesPerFile, body.data());
        QFile file(QStringLiteral("%1/%2.wav").arg(inputFolder).arg(i, 3, 10, QLatin1Char('0')));
        if (!file.open(QIODevice::WriteOnly) || file.write(header, headerBytes) != headerBytes
                || file.write(body.data(), static_cast<qint64>(body.size()))
                        != static_cast<qint64>(body.size())) {
            out << "cannot write the input files\n";
            return 1;
        }
    }

    std::vector<unsigned char> encoded(samplesPerFile / 2 + 1);
    // The two are measured in alternation, so a change in the machine's load
    // falls on both alike.
    Timing coderOnly;
    Timing folderRun;
    for (int pass = 0; pass < passes; ++pass) {
        measure(coderOnly, [&] { code(adpcm_coder, samples, samplesPerFile, encoded); });
        SilentReporter reporter;
        FolderCompressor compressor(outputFolder, &reporter);
        measure(folderRun, [&] { compressor.run(inputFolder); });
        if (compressor.successCount() != fileCount || reporter.lastCode != 3) {
            out << "folder run failed: " << reporter.last << '\n';
            return 1;
        }
    }

    const double total = static_cast<double>(samples.size());
    out << QStringLiteral("coder alone on the folder's samples: %1 M samples/s wall, %2 by "
                          "processor time\n")
                    .arg(rate(total, coderOnly.wall), rate(total, coderOnly.processor))
        << QStringLiteral("folder run, %1 files of %2 bytes: %3 M samples/s wall, %4 by "
                          "processor time, %5 files/s wall\n")
                    .arg(fileCount)
                    .arg(fileBytes)
                    .arg(rate(total, folderRun.wall), rate(total, folderRun.processor))
                    .arg(fileCount / folderRun.wall, 0, 'f', 0)
        << QStringLiteral("folder run / coder alone: %1 wall, %2 by processor time (target at "
                          "least 0.85)\n")
                    .arg(coderOnly.wall / folderRun.wall, 0, 'f', 3)
                    .arg(coderOnly.processor / folderRun.processor, 0, 'f', 3);
    return 0;
}
