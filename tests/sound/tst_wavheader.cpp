#include "wavfile.h"
#include "wavheader.h"

#include <QtTest>

class tst_WavHeader : public QObject
{
    Q_OBJECT

private slots:
    void everyPrefixStaysInsideTheFile();
    void compressedRoundTrip();
    void checkCompressed_data();
    void checkCompressed();
};

void tst_WavHeader::everyPrefixStaysInsideTheFile()
{
    const QByteArray file = WavFile::withSamples({ 1, 2, 3, 4, 5 }).bytes();
    for (int length = 0; length <= file.size(); ++length) {
        int samples = -1;
        const WavHeader::PcmVerdict verdict =
                WavHeader::checkPcm(file.constData(), length, &samples);
        if (length <= WavHeader::size) {
            QCOMPARE(verdict, WavHeader::TooShort);
            continue;
        }
        QCOMPARE(verdict, WavHeader::PcmAccepted);
        QCOMPARE(samples, (length - WavHeader::size) / 2);
    }
}

void tst_WavHeader::compressedRoundTrip()
{
    WavFile input = WavFile::withSamples({ 0, 1000, 2000, 1000 });
    input.sampleRate = 12000;
    char header[WavHeader::size];
    WavHeader::writeCompressed(input.bytes().constData(), 2, header);
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
