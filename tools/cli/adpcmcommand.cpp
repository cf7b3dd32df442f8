// ondaspa-cli adpcm: the audio window's folder compression without a window,
// and a decoder that turns a compressed file back into PCM for listening.

#include "commands.h"

#include "adpcm.h"
#include "foldercompressor.h"
#include "wavheader.h"

#include <QFile>
#include <QLoggingCategory>
#include <QSaveFile>
#include <QTextStream>
#include <QtEndian>

#include <cstring>
#include <vector>

namespace {

const char usage[] = "usage: ondaspa-cli adpcm compress FOLDER [-o DIR]\n"
                     "       ondaspa-cli adpcm decode INPUT OUTPUT\n"
                     "\n"
                     "compress  compresses every mono 16-bit PCM WAV file of FOLDER (at most\n"
                     "          16000 samples per second and 1048576 bytes) to 4-bit IMA ADPCM\n"
                     "          files of the same name in DIR (default: the folder \"sound\"\n"
                     "          beside this program), printing the same lines as the audio\n"
                     "          window. Input chunks may lie anywhere in the RIFF file. For each\n"
                     "          refused file, its actual format goes to stderr. Exits 0 when\n"
                     "          every file was compressed or skipped, 1 when a file failed or\n"
                     "          the run could not start.\n"
                     "decode    writes a compressed file back as a 16-bit mono PCM WAV file.\n";

// Largest compressed file accepted by decode: the output of the largest input
// the compressor takes is far smaller.
constexpr qint64 maxDecodeInputBytes = 16 * 1024 * 1024;

QTextStream &out()
{
    static QTextStream stream(stdout);
    stream.setCodec("UTF-8");
    return stream;
}

QTextStream &err()
{
    static QTextStream stream(stderr);
    stream.setCodec("UTF-8");
    return stream;
}

// What a refused file actually holds, so the user sees what to convert.
QString describe(const WavHeader::Layout &layout, qint64 size)
{
    QStringList facts;
    if (!layout.riffWave) {
        facts << QStringLiteral("not a RIFF WAVE file");
    } else if (!layout.hasFormat) {
        facts << QStringLiteral("no complete \"fmt \" chunk");
    } else {
        const WavHeader::Format &format = layout.format;
        facts << QStringLiteral("%1 Hz").arg(format.sampleRate)
              << QStringLiteral("%1 channels").arg(format.channels)
              << QStringLiteral("%1 bits").arg(format.bitsPerSample)
              << QStringLiteral("format tag %1").arg(format.formatTag);
    }
    if (layout.riffWave && layout.dataOffset < 0)
        facts << QStringLiteral("no \"data\" chunk");
    facts << QStringLiteral("%1 bytes").arg(size);
    return facts.join(QStringLiteral(", "));
}

// Prints the run's lines on stdout and its failures on stderr.
class ConsoleReporter : public FolderCompressor::Reporter
{
public:
    void line(const QString &text) override { out() << text << '\n' << Qt::flush; }
    void refused(const QString &name, qint64 size, const WavHeader::Layout &layout) override
    {
        err() << "ondaspa-cli: adpcm compress: " << name << ": " << describe(layout, size) << '\n'
              << Qt::flush;
    }
    void code(int code, const QString &) override
    {
        // A failure to open an output file (CodeOpenFailed) was reported by
        // writeFailed() just before.
        if (code == FolderCompressor::CodePathEmpty)
            err() << "ondaspa-cli: adpcm compress: the folder path is empty\n" << Qt::flush;
    }
    void writeFailed(const QString &outputPath, const QString &reason) override
    {
        err() << "ondaspa-cli: adpcm compress: cannot write " << outputPath << ": " << reason
              << '\n'
              << Qt::flush;
    }
};

int compress(const QStringList &arguments)
{
    QString folder;
    QString outputFolder = FolderCompressor::defaultOutputFolder();
    bool folderGiven = false;
    for (int i = 0; i < arguments.size(); ++i) {
        const QString &argument = arguments.at(i);
        if (argument == QLatin1String("-o")) {
            if (i + 1 >= arguments.size() || arguments.at(i + 1).isEmpty()) {
                err() << "ondaspa-cli: adpcm compress: -o needs a folder\n";
                return 2;
            }
            outputFolder = arguments.at(++i);
        } else if (!folderGiven) {
            folder = argument;
            folderGiven = true;
        } else {
            err() << usage;
            return 2;
        }
    }
    if (!folderGiven) {
        err() << usage;
        return 2;
    }

    ConsoleReporter reporter;
    FolderCompressor compressor(outputFolder, &reporter);
    switch (compressor.run(folder)) {
    case FolderCompressor::FolderMissing:
        err() << "ondaspa-cli: adpcm compress: folder not found: " << folder << Qt::endl;
        return 1;
    case FolderCompressor::OutputFolderFailed:
        err() << "ondaspa-cli: adpcm compress: cannot create output folder " << outputFolder
              << Qt::endl;
        return 1;
    case FolderCompressor::Finished:
        return compressor.failureCount() == 0 ? 0 : 1;
    case FolderCompressor::PathEmpty:
    case FolderCompressor::Stopped:
        break;
    }
    return 1;
}

int decodeFailure(const QString &text)
{
    err() << "ondaspa-cli: adpcm decode: " << text << Qt::endl;
    return 1;
}

int decode(const QStringList &arguments)
{
    if (arguments.size() != 2) {
        err() << usage;
        return 2;
    }
    const QString inputPath = arguments.at(0);
    const QString outputPath = arguments.at(1);
    QFile input(inputPath);
    if (!input.open(QIODevice::ReadOnly))
        return decodeFailure(QStringLiteral("cannot open %1").arg(inputPath));
    if (input.size() > maxDecodeInputBytes)
        return decodeFailure(QStringLiteral("%1 is too large").arg(inputPath));
    // The size limit above bounds this read; a file that grew since is cut.
    std::vector<char> content(static_cast<size_t>(input.size()));
    content.resize(
            static_cast<size_t>(qMax<qint64>(0, input.read(content.data(), content.size()))));
    quint32 dataBytes = 0;
    quint32 sampleRate = 0;
    switch (WavHeader::checkCompressed(
            content.data(), static_cast<qint64>(content.size()), &dataBytes, &sampleRate)) {
    case WavHeader::NotCompressed:
        return decodeFailure(QStringLiteral("%1 is not a compressed sound file").arg(inputPath));
    case WavHeader::Truncated:
        return decodeFailure(QStringLiteral("%1 is truncated").arg(inputPath));
    case WavHeader::CompressedAccepted:
        break;
    }

    // The stream does not say whether its last low nibble is a sample; it is
    // decoded as one, a single extra sample at most.
    const int sampleCount = static_cast<int>(dataBytes) * 2;
    std::vector<qint16> samples(static_cast<size_t>(sampleCount));
    AdpcmState state = { 0, 0 };
    adpcm_decoder(reinterpret_cast<const unsigned char *>(content.data() + WavHeader::size),
            sampleCount, samples.data(), &state);

    const quint32 pcmBytes = static_cast<quint32>(sampleCount) * 2;
    std::vector<char> wav(WavHeader::size + pcmBytes);
    WavHeader::writePcm(sampleRate, pcmBytes, wav.data());
    qToLittleEndian<qint16>(samples.data(), sampleCount, wav.data() + WavHeader::size);

    QSaveFile output(outputPath);
    // Unbuffered: a short write (a full disk) must show before the commit.
    if (!output.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return decodeFailure(QStringLiteral("cannot open %1 for writing: %2")
                                     .arg(outputPath, output.errorString()));
    const qint64 total = static_cast<qint64>(wav.size());
    if (!FolderCompressor::writeAndFlush(output, wav.data(), total) || !output.commit())
        return decodeFailure(
                QStringLiteral("cannot write %1: %2").arg(outputPath, output.errorString()));
    return 0;
}

} // namespace

int adpcmCommand(const QStringList &arguments)
{
    // The folder run's developer diagnostics would drown its lines.
    QLoggingCategory::setFilterRules(QStringLiteral("ondaspa.sound.debug=false"));
    const QString command = arguments.isEmpty() ? QString() : arguments.first();
    if (command == QLatin1String("compress"))
        return compress(arguments.mid(1));
    if (command == QLatin1String("decode"))
        return decode(arguments.mid(1));
    if (command == QLatin1String("--help") || command == QLatin1String("-h")) {
        out() << usage;
        return 0;
    }
    err() << usage;
    return 2;
}
