#include "wavheader.h"

#include <QtEndian>

#include <algorithm>
#include <climits>
#include <cstring>

namespace {

// Offsets in the canonical header.
constexpr int chunkSizeOffset = 4;
constexpr int formatOffset = 8;
constexpr int formatIdOffset = 12;
constexpr int formatChunkSizeOffset = 16;
constexpr int formatFieldsOffset = 20;
constexpr int dataIdOffset = 36;
constexpr int dataSizeOffset = 40;

// Offsets of the fields inside a "fmt " chunk's body.
constexpr int formatTagField = 0;
constexpr int channelsField = 2;
constexpr int sampleRateField = 4;
constexpr int byteRateField = 8;
constexpr int blockAlignField = 12;
constexpr int bitsPerSampleField = 14;

// "RIFF", its size and "WAVE" precede the first chunk.
constexpr qint64 riffHeaderBytes = 12;
// Every chunk starts with its four-byte identifier and its size.
constexpr qint64 chunkHeaderBytes = 8;

constexpr quint16 pcmFormatTag = 1;
constexpr quint16 pcmBitsPerSample = 16;
constexpr quint16 pcmBytesPerSample = 2;
// The PCM fields of a "fmt " chunk, the least a complete one holds.
constexpr quint32 pcmFormatChunkSize = 16;
// What a compressed file's format chunk size says, though only the 16 bytes
// of the PCM fields follow it.
constexpr quint32 compressedFormatChunkSize = 20;
// Chunk size = data bytes + the header bytes after the chunk size field.
constexpr quint32 chunkSizeExtra = 36;

quint16 read16(const char *bytes, qint64 offset)
{
    return qFromLittleEndian<quint16>(bytes + offset);
}

quint32 read32(const char *bytes, qint64 offset)
{
    return qFromLittleEndian<quint32>(bytes + offset);
}

bool hasBytes(const char *bytes, qint64 offset, const char (&text)[5])
{
    return memcmp(bytes + offset, text, 4) == 0;
}

WavHeader::Format readFormat(const char *body)
{
    WavHeader::Format format;
    format.formatTag = read16(body, formatTagField);
    format.channels = read16(body, channelsField);
    format.sampleRate = read32(body, sampleRateField);
    format.byteRate = read32(body, byteRateField);
    format.blockAlign = read16(body, blockAlignField);
    format.bitsPerSample = read16(body, bitsPerSampleField);
    return format;
}

// Whether the "fmt " chunk at offset is that of a compressed file as the
// devices take it: its size says 20 though only the 16 bytes of the PCM
// fields follow, so its "data" chunk starts at 36, inside the 20 bytes.
bool isCompressedFormatChunk(
        const char *file, qint64 length, qint64 offset, const WavHeader::Format &format)
{
    return offset == formatIdOffset && format.formatTag == WavHeader::imaAdpcmFormatTag
            && read32(file, formatChunkSizeOffset) == compressedFormatChunkSize
            && length >= WavHeader::size && hasBytes(file, dataIdOffset, "data");
}

// A four-character chunk or form tag, without the literal's terminator.
void putTag(char *at, const char (&tag)[5])
{
    std::copy_n(tag, 4, at);
}

void writeCanonical(
        const WavHeader::Format &format, quint32 formatChunkSize, quint32 dataBytes, char *output)
{
    char *fields = output + formatFieldsOffset;
    putTag(output, "RIFF");
    qToLittleEndian<quint32>(dataBytes + chunkSizeExtra, output + chunkSizeOffset);
    putTag(output + formatOffset, "WAVE");
    putTag(output + formatIdOffset, "fmt ");
    qToLittleEndian<quint32>(formatChunkSize, output + formatChunkSizeOffset);
    qToLittleEndian<quint16>(format.formatTag, fields + formatTagField);
    qToLittleEndian<quint16>(format.channels, fields + channelsField);
    qToLittleEndian<quint32>(format.sampleRate, fields + sampleRateField);
    qToLittleEndian<quint32>(format.byteRate, fields + byteRateField);
    qToLittleEndian<quint16>(format.blockAlign, fields + blockAlignField);
    qToLittleEndian<quint16>(format.bitsPerSample, fields + bitsPerSampleField);
    putTag(output + dataIdOffset, "data");
    qToLittleEndian<quint32>(dataBytes, output + dataSizeOffset);
}

} // namespace

int WavHeader::Layout::sampleCount() const
{
    return static_cast<int>(qMin<qint64>(presentDataBytes / pcmBytesPerSample, INT_MAX));
}

WavHeader::Layout WavHeader::locate(const char *file, qint64 length)
{
    Layout layout;
    if (length < riffHeaderBytes || !hasBytes(file, 0, "RIFF")
            || !hasBytes(file, formatOffset, "WAVE"))
        return layout;
    layout.riffWave = true;
    // Offsets stay below length plus two chunk sizes, far from overflowing.
    qint64 offset = riffHeaderBytes;
    while (length - offset >= chunkHeaderBytes && !(layout.hasFormat && layout.dataOffset >= 0)) {
        const qint64 body = offset + chunkHeaderBytes;
        const quint32 declared = read32(file, offset + 4);
        const qint64 present = qMin<qint64>(declared, length - body);
        if (!layout.hasFormat && hasBytes(file, offset, "fmt ") && present == declared
                && declared >= pcmFormatChunkSize) {
            layout.hasFormat = true;
            layout.format = readFormat(file + body);
            if (isCompressedFormatChunk(file, length, offset, layout.format)) {
                offset = dataIdOffset;
                continue;
            }
        } else if (layout.dataOffset < 0 && hasBytes(file, offset, "data")) {
            layout.dataOffset = body;
            layout.declaredDataBytes = declared;
            layout.presentDataBytes = present;
        }
        offset = body + declared + (declared & 1);
    }
    return layout;
}

WavHeader::PcmVerdict WavHeader::checkPcm(const char *file, qint64 length, Layout *layout)
{
    *layout = locate(file, length);
    if (length <= size)
        return TooShort;
    const Format &format = layout->format;
    // Samples are always read as 16-bit values, so anything else would be
    // encoded as noise and reported as done.
    if (!layout->riffWave || !layout->hasFormat || layout->dataOffset < 0
            || format.formatTag != pcmFormatTag || format.bitsPerSample != pcmBitsPerSample)
        return Unsupported;
    if (format.channels != 1)
        return NotMono;
    if (format.sampleRate > maxSampleRate)
        return RateTooHigh;
    return PcmAccepted;
}

void WavHeader::writeCompressed(const Format &format, quint32 dataBytes, char *output)
{
    Format compressed = format;
    compressed.formatTag = imaAdpcmFormatTag;
    writeCanonical(compressed, compressedFormatChunkSize, dataBytes, output);
}

WavHeader::CompressedVerdict WavHeader::checkCompressed(
        const char *file, qint64 length, quint32 *dataBytes, quint32 *sampleRate)
{
    if (length < size || !hasBytes(file, 0, "RIFF") || !hasBytes(file, formatOffset, "WAVE")
            || !hasBytes(file, dataIdOffset, "data"))
        return NotCompressed;
    const Format format = readFormat(file + formatFieldsOffset);
    if (format.formatTag != imaAdpcmFormatTag || format.channels != 1)
        return NotCompressed;
    const quint32 declared = read32(file, dataSizeOffset);
    if (declared > length - size)
        return Truncated;
    *dataBytes = declared;
    *sampleRate = format.sampleRate;
    return CompressedAccepted;
}

void WavHeader::writePcm(quint32 sampleRate, quint32 dataBytes, char *output)
{
    Format format;
    format.formatTag = pcmFormatTag;
    format.channels = 1;
    format.sampleRate = sampleRate;
    format.byteRate = sampleRate * pcmBytesPerSample;
    format.blockAlign = pcmBytesPerSample;
    format.bitsPerSample = pcmBitsPerSample;
    writeCanonical(format, pcmFormatChunkSize, dataBytes, output);
}
