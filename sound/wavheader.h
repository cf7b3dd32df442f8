#ifndef WAVHEADER_H
#define WAVHEADER_H

#include <QtGlobal>

// WAV files over memory: input files are searched for their "fmt " and
// "data" chunks wherever they lie, as editors write them; compressed outputs
// get the canonical 44-byte header. Pure functions, safe from any thread.
class WavHeader
{
public:
    // Length of the canonical header, in bytes: the one outputs get and the
    // least an input must exceed.
    static constexpr int size = 44;
    // Highest accepted input sample rate, in samples per second.
    static constexpr quint32 maxSampleRate = 16000;
    // Format tag of the compressed files (IMA ADPCM).
    static constexpr quint16 imaAdpcmFormatTag = 0x0011;

    // The fields of a "fmt " chunk, as stored.
    struct Format
    {
        quint16 formatTag = 0;
        quint16 channels = 0;
        quint32 sampleRate = 0; // samples per second
        quint32 byteRate = 0; // bytes per second
        quint16 blockAlign = 0; // bytes per sample frame
        quint16 bitsPerSample = 0;
    };

    // What a file's RIFF structure holds, as far as its bytes go. Offsets
    // count from the start of the file.
    struct Layout
    {
        bool riffWave = false; // starts with "RIFF" and "WAVE"
        bool hasFormat = false; // a complete "fmt " chunk was found; format holds it
        Format format;
        qint64 dataOffset = -1; // first byte of the "data" chunk's body; -1 without one
        quint32 declaredDataBytes = 0; // the "data" chunk's size field
        qint64 presentDataBytes = 0; // bytes of that body the file holds, at most declared

        // Whole 16-bit samples both declared and present.
        int sampleCount() const;
    };

    enum PcmVerdict {
        TooShort, // at most the canonical header's length
        Unsupported, // not RIFF/WAVE, no complete "fmt " or no "data" chunk, not 16-bit PCM
        NotMono, // channel count other than 1
        RateTooHigh, // above maxSampleRate
        PcmAccepted,
    };

    enum CompressedVerdict {
        NotCompressed, // not a mono IMA ADPCM file with the data at offset 36
        Truncated, // the data size claims more bytes than the file holds
        CompressedAccepted,
    };

    // Walks the chunks of a file of length bytes. Each chunk's size is
    // trusted only up to the bytes present; an odd-sized chunk is followed by
    // one pad byte. The first complete "fmt " and the first "data" chunk count.
    // A compressed file as writeCompressed() makes it is read as it is meant:
    // its "data" chunk at offset 36, inside the format chunk's declared size.
    static Layout locate(const char *file, qint64 length);

    // Checks a whole input file of length bytes; layout receives what
    // locate() found, whatever the verdict.
    static PcmVerdict checkPcm(const char *file, qint64 length, Layout *layout);

    // Writes into output the canonical header of the compressed form of an
    // input of this format, for dataBytes bytes of ADPCM data.
    static void writeCompressed(const Format &format, quint32 dataBytes, char *output);

    // Checks a whole compressed file of length bytes; for CompressedAccepted,
    // gives its data size in bytes and its sample rate.
    static CompressedVerdict checkCompressed(
            const char *file, qint64 length, quint32 *dataBytes, quint32 *sampleRate);

    // Writes into output the header of a 16-bit mono PCM file.
    static void writePcm(quint32 sampleRate, quint32 dataBytes, char *output);
};

#endif // WAVHEADER_H
