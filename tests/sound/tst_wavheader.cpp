#include "wavfile.h"
#include "wavheader.h"

#include <QtTest>

class tst_WavHeader : public QObject
{
    Q_OBJECT

private slots:
    void chunkSearch_data();
    void chunkSearch();
    void everyPrefixStaysInsideTheFile();
    void compressedRoundTrip();
    void checkCompressed_data();
    void checkCompressed();
};

void tst_WavHeader::chunkSearch_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<int>("verdict");
    QTest::addColumn<int>("dataOffset");
    QTest::addColumn<int>("samples");

    const WavFile wav = WavFile::withSamples({ 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12 });
    const QByteArray fmt = WavFile::chunk("fmt ", wav.formatBody());
    const QByteArray data = WavFile::chunk("data", wav.data);
    const QByteArray list =
            WavFile::chunk("LIST", QByteArrayLiteral("INFOISFT\x0e\0\0\0Lavf59.27.100\0"));
    const int accepted = WavHeader::PcmAccepted;
    const int unsupported = WavHeader::Unsupported;

    QTest::newRow("canonical") << wav.bytes() << accepted << 44 << 12;
    QTest::newRow("listBeforeData") << WavFile::riff(fmt + list + data) << accepted << 78 << 12;
    QTest::newRow("factAndCueBeforeData")
            << WavFile::riff(fmt + WavFile::chunk("fact", QByteArrayLiteral("\x0c\0\0\0"))
                       + WavFile::chunk("cue ", QByteArray(28, 'c')) + data)
            << accepted << 92 << 12;
    QTest::newRow("oddChunk-padded")
            << WavFile::riff(WavFile::chunk("junk", "12345") + fmt + data) << accepted << 58 << 12;
    QTest::newRow("fmtAfterData") << WavFile::riff(data + fmt) << accepted << 20 << 12;
    QTest::newRow("fmtExtended") << WavFile::riff(
            WavFile::chunk("fmt ", wav.formatBody() + QByteArray(2, '\0')) + data)
                                 << accepted << 46 << 12;
    QTest::newRow("dataMissing") << WavFile::riff(fmt + list + list) << unsupported << -1 << 0;
    QTest::newRow("fmtTruncated") << WavFile::riff(data + fmt.left(18)) << unsupported << 20 << 12;
    QTest::newRow("chunkBeyondFile-beforeData")
            << WavFile::riff(fmt + WavFile::chunk("LIST", list, 0xfffffff0) + data) << unsupported
            << -1 << 0;
    QTest::newRow("dataBeyondFile")
            << WavFile::riff(fmt + WavFile::chunk("data", wav.data, 1000)) << accepted << 44 << 12;

    // The devices' compressed files: their format chunk says 20 bytes but
    // holds 16, so their "data" chunk is found at 36, where it is.
    char compressed[WavHeader::size];
    WavHeader::writeCompressed(
            WavHeader::locate(wav.bytes().constData(), 44).format, 6, compressed);
    QTest::newRow("compressedOutput-dataAt36")
            << QByteArray(compressed, sizeof compressed) + QByteArray(6, 'x') << unsupported << 44
            << 3;
    // Other tools' IMA ADPCM files hold all 20 bytes of their format chunk.
    WavFile ima = wav;
    ima.formatTag = WavHeader::imaAdpcmFormatTag;
    QTest::newRow("imaAdpcmFormatChunkOf20")
            << WavFile::riff(WavFile::chunk("fmt ", ima.formatBody() + QByteArray(4, '\0')) + data)
            << unsupported << 48 << 12;
}

void tst_WavHeader::chunkSearch()
{
    QFETCH(QByteArray, file);
    QFETCH(int, verdict);
    QFETCH(int, dataOffset);
    QFETCH(int, samples);
    WavHeader::Layout layout;
    QCOMPARE(int(WavHeader::checkPcm(file.constData(), file.size(), &layout)), verdict);
    QCOMPARE(layout.dataOffset, qint64(dataOffset));
    QCOMPARE(layout.sampleCount(), samples);
}

void tst_WavHeader::everyPrefixStaysInsideTheFile()
{
    const QByteArray file = WavFile::withSamples({ 1, 2, 3, 4, 5 }).bytes();
    for (int length = 0; length <= file.size(); ++length) {
        WavHeader::Layout layout;
        const WavHeader::PcmVerdict verdict =
                WavHeader::checkPcm(file.constData(), length, &layout);
        if (length <= WavHeader::size) {
            QCOMPARE(verdict, WavHeader::TooShort);
            continue;
        }
        QCOMPARE(verdict, WavHeader::PcmAccepted);
        QCOMPARE(layout.sampleCount(), (length - WavHeader::size) / 2);
    }
}

void tst_WavHeader::compressedRoundTrip()
{
    WavFile input = WavFile::withSamples({ 0, 1000, 2000, 1000 });
    input.sampleRate = 12000;
    const QByteArray pcmFile = input.bytes();
    char header[WavHeader::size];
    WavHeader::writeCompressed(
            WavHeader::locate(pcmFile.constData(), pcmFile.size()).format, 2, header);
    const QByteArray file = QByteArray(header, sizeof header) + QByteArray::fromHex("0777");
    quint32 dataBytes = 0;
    quint32 rate = 0;
    QCOMPARE(WavHeader::checkCompressed(file.constData(), file.size(), &dataBytes, &rate),
            WavHeader::CompressedAccepted);
    QCOMPARE(dataBytes, 2u);
    QCOMPARE(rate, 12000u);

    char pcm[WavHeader::size];
    WavHeader::writePcm(12000, 8, pcm);
    QCOMPARE(QByteArray(pcm, sizeof pcm), input.bytes().left(WavHeader::size));
}

void tst_WavHeader::checkCompressed_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<int>("verdict");

    WavFile compressed = WavFile::withSamples({ 1, 2 });
    compressed.formatTag = WavHeader::imaAdpcmFormatTag;
    QTest::newRow("accepted") << compressed.bytes() << int(WavHeader::CompressedAccepted);
    QTest::newRow("headerOnly-emptyData") << compressed.bytes().left(WavHeader::size - 4)
                    + QByteArray(4, '\0') << int(WavHeader::CompressedAccepted);
    QTest::newRow("shorterThanHeader")
            << compressed.bytes().left(WavHeader::size - 1) << int(WavHeader::NotCompressed);
    QTest::newRow("pcm") << WavFile::withSamples({ 1, 2 }).bytes() << int(WavHeader::NotCompressed);
    compressed.declaredSize = 5;
    QTest::newRow("dataSize-beyondFile") << compressed.bytes() << int(WavHeader::Truncated);
    compressed.declaredSize = -1;
    compressed.dataId = "LIST";
    QTest::newRow("listChunk") << compressed.bytes() << int(WavHeader::NotCompressed);
}

void tst_WavHeader::checkCompressed()
{
    QFETCH(QByteArray, file);
    QFETCH(int, verdict);
    quint32 dataBytes = 0;
    quint32 rate = 0;
    QCOMPARE(int(WavHeader::checkCompressed(file.constData(), file.size(), &dataBytes, &rate)),
            verdict);
}

QTEST_APPLESS_MAIN(tst_WavHeader)
#include "tst_wavheader.moc"
