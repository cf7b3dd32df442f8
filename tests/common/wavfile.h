#ifndef WAVFILE_H
#define WAVFILE_H

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QtEndian>

#include <vector>

// Builds WAV files for the sound tests: canonical 44-byte-header files, and
// RIFF files of any chunks.
struct WavFile
{
    quint16 formatTag = 1;
    quint16 channels = 1;
    quint32 sampleRate = 8000;
    quint16 bitsPerSample = 16;
    QByteArray dataId = "data";
    QByteArray data;
    // The data size field; negative means the real size of data.
    qint64 declaredSize = -1;

    static WavFile withSamples(const std::vector<qint16> &samples)
    {
        WavFile file;
        std::vector<char> bytes(samples.size() * 2);
        qToLittleEndian<qint16>(
                samples.data(), static_cast<qsizetype>(samples.size()), bytes.data());
        file.data = QByteArray(bytes.data(), static_cast<int>(bytes.size()));
        return file;
    }

    // One chunk: identifier, size field (by default the body's size), body,
    // and the pad byte that follows a body of odd size.
    static QByteArray chunk(const QByteArray &id, const QByteArray &body, qint64 declared = -1)
    {
        char size[4];
        qToLittleEndian<quint32>(declared < 0 ? quint32(body.size()) : quint32(declared), size);
        return id + QByteArray(size, 4) + body + QByteArray(body.size() % 2, '\0');
    }

    // A RIFF/WAVE file holding these chunks.
    static QByteArray riff(const QByteArray &chunks)
    {
        char size[4];
        qToLittleEndian<quint32>(quint32(chunks.size() + 4), size);
        return "RIFF" + QByteArray(size, 4) + "WAVE" + chunks;
    }

    // The 16 bytes of the "fmt " chunk's body.
    QByteArray formatBody() const
    {
        char fields[16];
        qToLittleEndian<quint16>(formatTag, fields);
        qToLittleEndian<quint16>(channels, fields + 2);
        qToLittleEndian<quint32>(sampleRate, fields + 4);
        qToLittleEndian<quint32>(sampleRate * channels * bitsPerSample / 8, fields + 8);
        qToLittleEndian<quint16>(quint16(channels * bitsPerSample / 8), fields + 12);
        qToLittleEndian<quint16>(bitsPerSample, fields + 14);
        return QByteArray(fields, sizeof fields);
    }

    QByteArray bytes() const
    {
        return riff(chunk("fmt ", formatBody()) + chunk(dataId, data, declaredSize));
    }

    bool write(const QString &path) const
    {
        QFile file(path);
        return file.open(QIODevice::WriteOnly) && file.write(bytes()) == bytes().size();
    }
};

#endif // WAVFILE_H
