#include "minifsimage.h"

#include "wholewrite.h"

#include <QIODevice>
#include <QtEndian>

#include <algorithm>

namespace {

// "M0-MINIFS" and its terminating zero byte.
const char magicBytes[] = "M0-MINIFS";
constexpr int magicSize = sizeof magicBytes;
constexpr int createdOffset = 16;
constexpr int fileCountOffset = 20;
constexpr int fixedWordOffset = 24;
constexpr int versionOffset = 28;
// 0x01700000 stored least significant byte first, unlike every other field.
const char fixedWordBytes[] = { 0x00, 0x00, 0x70, 0x01 };
constexpr int entrySizeOffset = 4;
constexpr int entryOffsetOffset = 8;
constexpr int entryNameOffset = 16;
// Piece size when unpacking contents: bounded memory, few system calls.
constexpr qint64 copyPieceSize = 1 << 20;

bool allZero(const char *begin, const char *end)
{
    return std::all_of(begin, end, [](char byte) { return byte == 0; });
}

} // namespace

QByteArray MiniFsImage::versionField(const QString &text)
{
    QByteArray field = text.left(versionCapacity).toLatin1();
    field.append(QByteArray(versionCapacity - field.size(), '\0'));
    return field;
}

QByteArray MiniFsImage::header(quint32 created, quint32 fileCount, const QByteArray &versionField)
{
    char data[headerSize] = {};
    std::copy(magicBytes, magicBytes + magicSize, data);
    qToBigEndian(created, data + createdOffset);
    qToBigEndian(fileCount, data + fileCountOffset);
    std::copy(fixedWordBytes, fixedWordBytes + sizeof fixedWordBytes, data + fixedWordOffset);
    std::copy_n(versionField.constData(), std::min<int>(versionField.size(), versionCapacity),
            data + versionOffset);
    return QByteArray(data, headerSize);
}

QByteArray MiniFsImage::entry(const QByteArray &name, quint32 size, quint32 offset)
{
    char data[entrySize] = {};
    const int nameLength = std::min<int>(name.size(), nameCapacity);
    qToBigEndian(quint16(nameLength), data);
    qToBigEndian(size, data + entrySizeOffset);
    qToBigEndian(offset, data + entryOffsetOffset);
    std::copy_n(name.constData(), nameLength, data + entryNameOffset);
    return QByteArray(data, entrySize);
}

quint64 MiniFsImage::imageSize(quint64 slotCount, quint64 contentBytes, bool anyPacked)
{
    if (!anyPacked)
        return headerSize;
    return headerSize + entrySize * slotCount + contentBytes;
}

QString MiniFsImage::unsafeNameReason(const QByteArray &name)
{
    if (name.isEmpty())
        return QStringLiteral("the name is empty");
    if (name == "." || name == "..")
        return QStringLiteral("the name is \"%1\"").arg(QString::fromLatin1(name));
    if (name.contains('/') || name.contains('\\'))
        return QStringLiteral("the name holds a path separator");
    if (name.contains('\0'))
        return QStringLiteral("the name holds a zero byte");
    return QString();
}

bool MiniFsImage::copyContent(QIODevice *image, const Entry &entry, QIODevice *output)
{
    if (!image->seek(entry.offset))
        return false;
    QByteArray piece(int(std::min<qint64>(copyPieceSize, entry.size)), Qt::Uninitialized);
    qint64 left = entry.size;
    while (left > 0) {
        const qint64 wanted = std::min<qint64>(left, piece.size());
        if (image->read(piece.data(), wanted) != wanted
                || !WholeWrite::write(output, piece.constData(), wanted))
            return false;
        left -= wanted;
    }
    return true;
}

bool MiniFsImage::read(QIODevice *device)
{
    failure.clear();
    versionText.clear();
    createdSeconds = 0;
    table.clear();
    const qint64 fileSize = device->size();
    if (!device->seek(0))
        return fail(QStringLiteral("cannot seek to the start"));
    return readHeader(device, fileSize);
}

bool MiniFsImage::fail(const QString &rule)
{
    failure = rule;
    table.clear();
    return false;
}

bool MiniFsImage::readHeader(QIODevice *device, qint64 fileSize)
{
    if (fileSize < headerSize)
        return fail(QStringLiteral("the file is %1 bytes long, shorter than the %2-byte header")
                            .arg(fileSize)
                            .arg(headerSize));
    if (quint64(fileSize) >= sizeLimit)
        return fail(QStringLiteral("the file reaches 4 GiB, beyond 32-bit offsets"));
    char data[headerSize];
    if (device->read(data, headerSize) != headerSize)
        return fail(QStringLiteral("the header cannot be read"));
    if (!std::equal(magicBytes, magicBytes + magicSize, data))
        return fail(QStringLiteral("bad magic: the file does not start with \"M0-MINIFS\" and a "
                                   "zero byte"));
    if (!allZero(data + magicSize, data + createdOffset))
        return fail(QStringLiteral("reserved header bytes 10 to 15 are not zero"));
    if (!std::equal(fixedWordBytes, fixedWordBytes + sizeof fixedWordBytes, data + fixedWordOffset))
        return fail(QStringLiteral("bad fixed word at offset 24: expected 00 00 70 01"));
    const char *version = data + versionOffset;
    const char *versionEnd = std::find(version, version + versionCapacity, '\0');
    if (!allZero(versionEnd, version + versionCapacity))
        return fail(QStringLiteral("the version field holds bytes after its terminating zero"));
    versionText = QString::fromLatin1(version, int(versionEnd - version));
    createdSeconds = qFromBigEndian<quint32>(data + createdOffset);
    const quint32 fileCount = qFromBigEndian<quint32>(data + fileCountOffset);
    if (fileCount == 0) {
        if (fileSize != headerSize)
            return fail(QStringLiteral("an image without files must be exactly %1 bytes long, "
                                       "this one is %2")
                                .arg(headerSize)
                                .arg(fileSize));
        return true;
    }
    if (headerSize + quint64(entrySize) * fileCount > quint64(fileSize))
        return fail(QStringLiteral("the table of %1 entries runs past the end of the file")
                            .arg(fileCount));
    return readTable(device, fileSize, fileCount);
}

bool MiniFsImage::readTable(QIODevice *device, qint64 fileSize, quint32 fileCount)
{
    quint64 slotCount = 0;
    quint64 contentEnd = 0;
    for (quint32 index = 0; index < fileCount; ++index) {
        char data[entrySize];
        if (device->read(data, entrySize) != entrySize)
            return fail(QStringLiteral("entry %1 cannot be read").arg(index));
        const int nameLength = qFromBigEndian<quint16>(data);
        Entry entry;
        entry.size = qFromBigEndian<quint32>(data + entrySizeOffset);
        entry.offset = qFromBigEndian<quint32>(data + entryOffsetOffset);
        if (nameLength == 0 || nameLength > nameCapacity)
            return fail(QStringLiteral("entry %1: name length %2 is not between 1 and %3")
                                .arg(index)
                                .arg(nameLength)
                                .arg(nameCapacity));
        if (!allZero(data + 2, data + entrySizeOffset)
                || !allZero(data + entryOffsetOffset + 4, data + entryNameOffset))
            return fail(QStringLiteral("entry %1: reserved bytes are not zero").arg(index));
        if (!allZero(data + entryNameOffset + nameLength, data + entrySize))
            return fail(QStringLiteral("entry %1: the name field holds bytes after the name")
                                .arg(index));
        entry.name = QByteArray(data + entryNameOffset, nameLength);
        if (index == 0) {
            const quint64 tableEnd = headerSize + quint64(entrySize) * fileCount;
            if (entry.offset < tableEnd || (entry.offset - headerSize) % entrySize != 0)
                return fail(QStringLiteral("entry 0: offset %1 is not the end of a table of at "
                                           "least %2 entries")
                                    .arg(entry.offset)
                                    .arg(fileCount));
            slotCount = (entry.offset - headerSize) / entrySize;
        } else if (entry.offset != contentEnd) {
            return fail(QStringLiteral("entry %1: offset %2 does not follow the previous "
                                       "content, which ends at %3")
                                .arg(index)
                                .arg(entry.offset)
                                .arg(contentEnd));
        }
        contentEnd = quint64(entry.offset) + entry.size;
        if (contentEnd > quint64(fileSize))
            return fail(QStringLiteral("entry %1: its content (offset %2, size %3) runs past "
                                       "the end of the file")
                                .arg(index)
                                .arg(entry.offset)
                                .arg(entry.size));
        table.append(entry);
    }
    for (quint64 slot = fileCount; slot < slotCount; ++slot) {
        char data[entrySize];
        if (device->read(data, entrySize) != entrySize || !allZero(data, data + entrySize))
            return fail(QStringLiteral("unused table slot %1 is not zero").arg(slot));
    }
    if (contentEnd != quint64(fileSize))
        return fail(QStringLiteral("the file is %1 bytes long, but its contents end at %2")
                            .arg(fileSize)
                            .arg(contentEnd));
    return true;
}
