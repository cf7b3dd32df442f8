#ifndef WAVHEADER_H
#define WAVHEADER_H

#include <QtGlobal>

// The canonical 44-byte WAV header read and written at fixed offsets; nothing
// searches for chunks. Pure functions over memory, safe from any thread.
class WavHeader
{
public:
    // Header length in bytes, for inputs and outputs alike.
    static constexpr int size = 44;
    // Highest accepted input sample rate, in samples per second.
    static constexpr quint32 maxSampleRate = 16000;
    // Format tag of the compressed files (IMA ADPCM).
    static constexpr quint16 imaAdpcmFormatTag = 0x0011;

    enum PcmVerdict {
        TooShort, // at most the header's length
        Unsupported, // not RIFF/WAVE, not 16-bit PCM, or no "data" right after the format
        NotMono, // channel count other than 1
        RateTooHigh, // above maxSampleRate
        PcmAccepted,
    };

    enum CompressedVerdict {
        NotCompressed, // not a mono IMA ADPCM file with the data at offset 36
        Truncated, // the data size claims more bytes than the file holds
        CompressedAccepted,
    };

    // Checks a whole input file of length bytes. For PcmAccepted, sampleCount
    // is the number of whole 16-bit samples both declared and present.
    static PcmVerdict checkPcm(const char *file, qint64 length, int *sampleCount);

    // Writes into output the header of the compressed form of the file whose
    // header is input, for dataBytes bytes of ADPCM data.
    static void writeCompressed(const char *input, quint32 dataBytes, char *output);

    // Checks a whole compressed file of length bytes; for CompressedAccepted,
    // gives its data size in bytes and its sample rate.
    static CompressedVerdict checkCompressed(
            const char *file, qint64 length, quint32 *dataBytes, quint32 *sampleRate);

    // Writes into output the header of a 16-bit mono PCM file.
    static void writePcm(quint32 sampleRate, quint32 dataBytes, char *output);
};

#endif // WAVHEADER_H
