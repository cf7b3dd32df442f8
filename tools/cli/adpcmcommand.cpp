// ondaspa-cli adpcm: the audio window's folder compression without a window,
// and a decoder that turns a compressed file back into PCM for listening.

#include "commands.h"

#include "adpcm.h"
#include "commandline.h"
#include "foldercompressor.h"
#include "wavheader.h"
#include "wholewrite.h"

#include "outsidetext.h"
#include <QCommandLineParser>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <QTextStream>
#include <QtEndian>

#include <cstring>
#include <vector>

namespace {

using namespace CommandLine;

const char adpcmUsage[] =
        "usage: ondaspa-cli adpcm compress FOLDER [-o DIR]\n"
        "       ondaspa-cli adpcm decode INPUT OUTPUT\n"
        "\n"
        "Compresses WAV files to the devices' 4-bit IMA ADPCM, and back for\n"
        "listening. Each command takes -h/--help; --version prints the program's\n"
        "version.\n"
        "\n"
        "Exit status: 0 success, 1 failure (reason on stderr), 2 bad arguments.\n";

const char compressHelp[] =
        "usage: ondaspa-cli adpcm compress FOLDER [-o DIR]\n"
        "\n"
        "Compresses every mono 16-bit PCM WAV file of FOLDER (at most 16000 samples per\n"
        "second and 1048576 bytes) to a 4-bit IMA ADPCM file of the same name, printing\n"
        "the same lines as the audio window. Input chunks may lie anywhere in the RIFF\n"
        "file. For each refused file, its actual format goes to stderr; for each file\n"
        "that cannot be read, the system's reason.\n"
        "\n"
        "  -o DIR      folder for the compressed files, which must exist; default: the\n"
        "              folder \"sound\" beside this program, created when missing\n"
        "  -h, --help  show this text\n"
        "  --version   show the program's version\n"
        "\n"
        "Exit status: 0 every file compressed or skipped as too large, 1 a file failed\n"
        "(refused, unreadable or not written) or the run could not start, 2 bad arguments.\n";

const char decodeHelp[] =
        "usage: ondaspa-cli adpcm decode INPUT OUTPUT\n"
        "\n"
        "Writes the compressed file INPUT back as a 16-bit mono PCM WAV file OUTPUT, to\n"
        "listen to what a device will play.\n"
        "\n"
        "  -h, --help  show this text\n"
        "  --version   show the program's version\n"
        "\n"
        "Exit status: 0 decoded, 1 failed (reason on stderr), 2 bad arguments.\n";

const QString compressCommand = QStringLiteral("adpcm compress");
const QString decodeCommand = QStringLiteral("adpcm decode");

// Largest compressed file accepted by decode: the output of the largest input
// the compressor takes is far smaller.
constexpr qint64 maxDecodeInputBytes = 16 * 1024 * 1024;

// What a refused file actually holds, so the user sees what to convert.
QString describe(const WavHeader::Layout &layout, qint64 size)
{
    QStringList facts;
    if (!layout.riffWave) {
        facts << QStringLiteral("not a RIFF WAVE file");
    } else if (!layout.hasFormat) {
        facts << QStringLiteral("no complete \"fmt \" chunk");
    } else if (layout.format.formatTag == WavHeader::imaAdpcmFormatTag) {
        facts << QStringLiteral("already compressed (IMA ADPCM, not PCM)")
              << QStringLiteral("%1 Hz").arg(layout.format.sampleRate);
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
    void line(const QString &text) override
    {
        out() << OutsideText::escaped(text) << '\n' << Qt::flush;
    }
    void refused(const QString &name, qint64 size, const WavHeader::Layout &layout) override
    {
        // Too large is a skip, whatever the format: the rest of the file was never examined.
        if (size > FolderCompressor::maxInputBytes)
            fail(compressCommand,
                    QStringLiteral("%1: skipped, %2 bytes is over the limit of %3 bytes")
                            .arg(name)
                            .arg(size)
                            .arg(FolderCompressor::maxInputBytes));
        else
            fail(compressCommand, name + QStringLiteral(": ") + describe(layout, size));
    }
    void code(int code, const QString &) override
    {
        // A failure to open an output file (CodeOpenFailed) was reported by
        // writeFailed() just before.
        if (code == FolderCompressor::CodePathEmpty)
            fail(compressCommand, QStringLiteral("the folder path is empty"));
    }
    void readFailed(const QString &inputPath, const QString &reason) override
    {
        fail(compressCommand, QStringLiteral("cannot read %1: %2").arg(inputPath, reason));
    }
    void writeFailed(const QString &outputPath, const QString &reason) override
    {
        fail(compressCommand, QStringLiteral("cannot write %1: %2").arg(outputPath, reason));
    }
};

int compress(const QStringList &arguments)
{
    QCommandLineParser parser;
    const QCommandLineOption outputOption(QStringLiteral("o"), QString(), QStringLiteral("DIR"));
    parser.addOption(outputOption);
    const int parsed =
            parse(parser, compressCommand, arguments, compressHelp, { QStringLiteral("FOLDER") });
    if (parsed >= 0)
        return parsed;
    const QString folder = parser.positionalArguments().constFirst();
    const QString outputFolder = parser.isSet(outputOption)
            ? parser.value(outputOption)
            : FolderCompressor::defaultOutputFolder();
    if (outputFolder.isEmpty())
        return usageError(compressCommand, QStringLiteral("-o needs a folder"));
    // Only the window's own folder is created: a mistyped -o must not leave
    // a tree of new folders behind.
    if (parser.isSet(outputOption) && !QFileInfo(outputFolder).isDir())
        return fail(compressCommand, folderError(outputFolder));

    ConsoleReporter reporter;
    FolderCompressor compressor(outputFolder, &reporter);
    switch (compressor.run(folder)) {
    case FolderCompressor::FolderMissing:
        return fail(compressCommand, folderError(folder));
    case FolderCompressor::OutputFolderFailed:
        return fail(
                compressCommand, outputFolder + QStringLiteral(": the folder cannot be created"));
    case FolderCompressor::Finished:
        return compressor.failureCount() == 0 ? exitSuccess : exitFailure;
    case FolderCompressor::PathEmpty:
    case FolderCompressor::Stopped:
        break;
    }
    return exitFailure;
}

int decodeFailure(const QString &text)
{
    return fail(decodeCommand, text);
}

int decode(const QStringList &arguments)
{
    QCommandLineParser parser;
    const int parsed = parse(parser, decodeCommand, arguments, decodeHelp,
            { QStringLiteral("INPUT"), QStringLiteral("OUTPUT") });
    if (parsed >= 0)
        return parsed;
    const QString inputPath = parser.positionalArguments().at(0);
    const QString outputPath = parser.positionalArguments().at(1);
    QFile input(inputPath);
    if (!input.open(QIODevice::ReadOnly))
        return decodeFailure(
                QStringLiteral("cannot open %1: %2").arg(inputPath, input.errorString()));
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
    if (!WholeWrite::write_and_flush(output, wav.data(), total) || !output.commit())
        return decodeFailure(
                QStringLiteral("cannot write %1: %2").arg(outputPath, output.errorString()));
    return exitSuccess;
}

} // namespace

int adpcmCommand(const QStringList &arguments)
{
    return dispatch(QStringLiteral("adpcm"), arguments,
            { { QStringLiteral("compress"), compress }, { QStringLiteral("decode"), decode } },
            adpcmUsage);
}
