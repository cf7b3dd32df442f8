#ifndef MINIFSIMAGE_H
#define MINIFSIMAGE_H

#include <QByteArray>
#include <QString>
#include <QVector>

class QIODevice;

// The MiniFs image layout: a 36-byte header, a table of 48-byte entries and
// the packed contents back to back. All integers are unsigned big-endian,
// except the fixed word, which the devices expect least significant byte
// first. This class encodes headers and entries for the builder and reads an
// image back, checking every layout rule.
class MiniFsImage
{
public:
    // Bytes of the header at offset 0.
    static constexpr int headerSize = 36;
    // Bytes of one table entry; entry k starts at headerSize + entrySize * k.
    static constexpr int entrySize = 48;
    // Bytes of the name field; longer UTF-8 names are cut to this length.
    static constexpr int nameCapacity = 32;
    // Bytes of the version field.
    static constexpr int versionCapacity = 8;
    // Offsets and sizes are 32-bit, so an image must stay below 4 GiB.
    static constexpr quint64 sizeLimit = Q_UINT64_C(1) << 32;

    struct Entry
    {
        QByteArray name; // the stored bytes, UTF-8, possibly cut inside a character
        quint32 size = 0;
        quint32 offset = 0;
    };

    // The version text as stored: Latin-1 ("?" for other characters), at
    // most versionCapacity bytes, zero-padded.
    static QByteArray versionField(const QString &text);
    // The 36-byte header.
    static QByteArray header(quint32 created, quint32 fileCount, const QByteArray &versionField);
    // The 48-byte entry; name holds at most nameCapacity bytes.
    static QByteArray entry(const QByteArray &name, quint32 size, quint32 offset);
    // Size of an image with the given number of table slots and content
    // bytes, or of the header alone when nothing is packed.
    static quint64 imageSize(quint64 slotCount, quint64 contentBytes, bool anyPacked);

    // Why name cannot be used as a file name when unpacking: empty, "." or
    // "..", or holding '/', '\\' or a zero byte; empty when it can.
    static QString unsafeNameReason(const QByteArray &name);
    // Copies the content of entry from image to output in bounded pieces.
    // Returns false when either device fails; the image must have been
    // checked by read().
    static bool copyContent(QIODevice *image, const Entry &entry, QIODevice *output);

    // Reads the header and table of the image in device (open for reading,
    // random access) and checks every rule of the layout against its size.
    // Returns false at the first broken rule; errorString() then describes it.
    bool read(QIODevice *device);

    QString errorString() const { return failure; }
    QString version() const { return versionText; }
    quint32 created() const { return createdSeconds; }
    const QVector<Entry> &entries() const { return table; }

private:
    bool fail(const QString &rule);
    bool readHeader(QIODevice *device, qint64 fileSize);
    bool readTable(QIODevice *device, qint64 fileSize, quint32 fileCount);

    QString failure;
    QString versionText;
    quint32 createdSeconds = 0;
    QVector<Entry> table;
};

#endif // MINIFSIMAGE_H
