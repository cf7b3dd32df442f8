#include "wavheader.h"

#include <QtEndian>

#include <climits>
#include <cstring>

namespace {

constexpr int chunkSizeOffset = 4;
constexpr int formatOffset = 8;
constexpr int formatIdOffset = 12;
constexpr int formatChunkSizeOffset = 16;
constexpr int formatTagOffset = 20;
constexpr int channelsOffset = 22;
constexpr int sampleRateOffset = 24;
constexpr int byteRateOffset = 28;
constexpr int blockAlignOffset = 32;
constexpr int bitsPerSampleOffset = 34;
constexpr int dataIdOffset = 36;
constexpr int dataSizeOffset = 40;

constexpr quint16 pcmFormatTag = 1;
constexpr quint16 pcmBitsPerSample = 16;
constexpr quint16 pcmBytesPerSample = 2;
constexpr quint32 pcmFormatChunkSize = 16;
// What a compressed file's format chunk size says, though only the 16 bytes
// of the PCM fields follow it.
constexpr quint32 compressedFormatChunkSize = 20;
// Chunk size = data bytes + the header bytes after the chunk size field.
constexpr quint32 chunkSizeExtra = 36;

quint16 read16(const char *header, int offset)
{
    return qFromLittleEndian<quint16>(header + offset);
}

quint32 read32(const char *header, int offset)
{
    return qFromLittleEndian<quint32>(header + offset);
}

bool hasBytes(const char *header, int offset, const char (&text)[5])
{
    return memcmp(header + offset, text, 4) == 0;
}

bool isRiffWave(const char *header)
{
    return hasBytes(header, 0, "RIFF") && hasBytes(header, formatOffset, "WAVE")
            && hasBytes(header, dataIdOffset, "data");
}

} // namespace

WavHeader::PcmVerdict WavHeader::checkPcm(const char *file, qint64 length, int *sampleCount)
{
    if (length <= size)
        return TooShort;
    // Samples are always read as 16-bit values straight after the header, so
    // anything else would be encoded as noise and reported as done.
    if (!isRiffWave(file) || read16(file, formatTagOffset) != pcmFormatTag
            || read16(file, bitsPerSampleOffset) != pcmBitsPerSample)
        return Unsupported;
    if (read16(file, channelsOffset) != 1)
        return NotMono;
    if (read32(file, sampleRateOffset) > maxSampleRate)
        return RateTooHigh;
    // The declared size is trusted only up to the bytes present; an odd
    // trailing byte is not a sample.
    const qint64 bytes = qMin<qint64>(read32(file, dataSizeOffset), length - size);
    *sampleCount = static_cast<int>(qMin<qint64>(bytes / pcmBytesPerSample, INT_MAX));
    return PcmAccepted;
}

void WavHeader::writeCompressed(const char *input, quint32 dataBytes, char *output)
{
    memcpy(output, input, size);
    qToLittleEndian<quint32>(dataBytes + chunkSizeExtra, output + chunkSizeOffset);
    qToLittleEndian<quint32>(compressedFormatChunkSize, output + formatChunkSizeOffset);
    qToLittleEndian<quint16>(imaAdpcmFormatTag, output + formatTagOffset);
    qToLittleEndian<quint32>(dataBytes, output + dataSizeOffset);
}

WavHeader::CompressedVerdict WavHeader::checkCompressed(
        const char *file, qint64 length, quint32 *dataBytes, quint32 *sampleRate)
{
    if (length < size || !isRiffWave(file) || read16(file, formatTagOffset) != imaAdpcmFormatTag
            || read16(file, channelsOffset) != 1)
        return NotCompressed;
    const quint32 declared = read32(file, dataSizeOffset);
    if (declared > length - size)
        return Truncated;
    *dataBytes = declared;
    *sampleRate = read32(file, sampleRateOffset);
    return CompressedAccepted;
}

void WavHeader::writePcm(quint32 sampleRate, quint32 dataBytes, char *output)
{
    memcpy(output, "RIFF", 4);
    qToLittleEndian<quint32>(dataBytes + chunkSizeExtra, output + chunkSizeOffset);
    memcpy(output + formatOffset, "WAVE", 4);
    memcpy(output + formatIdOffset, "fmt ", 4);
    qToLittleEndian<quint32>(pcmFormatChunkSize, output + formatChunkSizeOffset);
    qToLittleEndian<quint16>(pcmFormatTag, output + formatTagOffset);
    qToLittleEndian<quint16>(1, output + channelsOffset);
    qToLittleEndian<quint32>(sampleRate, output + sampleRateOffset);
    qToLittleEndian<quint32>(sampleRate * pcmBytesPerSample, output + byteRateOffset);
    qToLittleEndian<quint16>(pcmBytesPerSample, output + blockAlignOffset);
    qToLittleEndian<quint16>(pcmBitsPerSample, output + bitsPerSampleOffset);
    memcpy(output + dataIdOffset, "data", 4);
    qToLittleEndian<quint32>(dataBytes, output + dataSizeOffset);
}
