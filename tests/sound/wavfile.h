#ifndef WAVFILE_H
#define WAVFILE_H

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QtEndian>

#include <vector>

// Builds canonical 44-byte-header WAV files for the sound tests.
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

    QByteArray bytes() const
    {
        char h[44] = {};
        const quint32 size = declaredSize < 0 ? quint32(data.size()) : quint32(declaredSize);
        memcpy(h, "RIFF", 4);
        qToLittleEndian<quint32>(quint32(data.size()) + 36, h + 4);
        memcpy(h + 8, "WAVEfmt ", 8);
        qToLittleEndian<quint32>(16, h + 16);
        qToLittleEndian<quint16>(formatTag, h + 20);
        qToLittleEndian<quint16>(channels, h + 22);
        qToLittleEndian<quint32>(sampleRate, h + 24);
        qToLittleEndian<quint32>(sampleRate * channels * bitsPerSample / 8, h + 28);
        qToLittleEndian<quint16>(quint16(channels * bitsPerSample / 8), h + 32);
        qToLittleEndian<quint16>(bitsPerSample, h + 34);
        memcpy(h + 36, dataId.constData(), 4);
        qToLittleEndian<quint32>(size, h + 40);
        return QByteArray(h, sizeof h) + data;
    }

    bool write(const QString &path) const
    {
        QFile file(path);
        return file.open(QIODevice::WriteOnly) && file.write(bytes()) == bytes().size();
    }
};

#endif // WAVFILE_H
