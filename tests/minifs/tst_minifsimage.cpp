#include "minifsimage.h"

#include <QBuffer>
#include <QtEndian>
#include <QtTest>

namespace {

// The worked example: a.txt ("hello") and index.html (10 bytes), version
// V1.0, built at 1600000000, with spare table slots after the two entries.
QByteArray exampleImage(int spareSlots = 0)
{
    const int slotCount = 2 + spareSlots;
    const quint32 contentStart = quint32(36 + 48 * slotCount);
    QByteArray image = MiniFsImage::header(1600000000, 2, MiniFsImage::versionField("V1.0"));
    image += MiniFsImage::entry("a.txt", 5, contentStart);
    image += MiniFsImage::entry("index.html", 10, contentStart + 5);
    image += QByteArray(48 * spareSlots, '\0');
    image += "hello0123456789";
    return image;
}

void putWord(QByteArray &image, int offset, quint32 value)
{
    qToBigEndian(value, image.data() + offset);
}

} // namespace

class tst_MiniFsImage : public QObject
{
    Q_OBJECT

private slots:
    void versionField_data();
    void versionField();
    void readsValidImages_data();
    void readsValidImages();
    void rejectsBrokenRules_data();
    void rejectsBrokenRules();
    void unsafeNames_data();
    void unsafeNames();
    void copiesContent();
};

void tst_MiniFsImage::versionField_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("field");
    QTest::newRow("empty") << QString() << QByteArray(8, '\0');
    QTest::newRow("short") << "V1.0" << QByteArray("V1.0\0\0\0\0", 8);
    QTest::newRow("eight-no-terminator") << "12345678" << QByteArray("12345678");
    QTest::newRow("nine-cut") << "123456789" << QByteArray("12345678");
    QTest::newRow("latin1") << QStringLiteral("é1")
                            << QByteArray("\xe9"
                                          "1\0\0\0\0\0\0",
                                       8);
    QTest::newRow("outside-latin1") << QStringLiteral("版本2") << QByteArray("??2\0\0\0\0\0", 8);
}

void tst_MiniFsImage::versionField()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, field);
    QCOMPARE(MiniFsImage::versionField(text), field);
}

void tst_MiniFsImage::readsValidImages_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("version");
    QTest::addColumn<int>("entries");
    QTest::newRow("worked-example") << exampleImage() << "V1.0" << 2;
    QTest::newRow("spare-slots") << exampleImage(3) << "V1.0" << 2;
    QTest::newRow("header-only") << MiniFsImage::header(7, 0, QByteArray("12345678")) << "12345678"
                                 << 0;
    QByteArray emptyFile = MiniFsImage::header(7, 1, QByteArray());
    emptyFile += MiniFsImage::entry(QByteArray(32, 'n'), 0, 84);
    QTest::newRow("one-empty-file-long-name") << emptyFile << "" << 1;
}

void tst_MiniFsImage::readsValidImages()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, version);
    QFETCH(int, entries);
    QBuffer buffer(&bytes);
    QVERIFY(buffer.open(QIODevice::ReadOnly));
    MiniFsImage image;
    QVERIFY2(image.read(&buffer), qPrintable(image.errorString()));
    QCOMPARE(image.version(), version);
    QCOMPARE(image.entries().size(), entries);
    if (entries == 2) {
        QCOMPARE(image.created(), 1600000000u);
        QCOMPARE(image.entries().at(1).name, QByteArray("index.html"));
        QCOMPARE(image.entries().at(1).size, 10u);
        QCOMPARE(image.entries().at(1).offset, image.entries().at(0).offset + 5);
    }
}

void tst_MiniFsImage::rejectsBrokenRules_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("rule");
    const QByteArray valid = exampleImage(1);
    QByteArray image;

    QTest::newRow("shorter-than-header") << valid.left(35) << "shorter than the 36-byte header";
    QTest::newRow("truncated-content") << valid.left(valid.size() - 1) << "runs past the end";
    QTest::newRow("truncated-table") << valid.left(100) << "table of 2 entries runs past";
    QTest::newRow("trailing-byte") << valid + 'x' << "contents end at";
    image = valid;
    image[0] = 'N';
    QTest::newRow("bad-magic") << image << "bad magic";
    image = valid;
    image[9] = '!';
    QTest::newRow("magic-without-zero") << image << "bad magic";
    image = valid;
    image[12] = 1;
    QTest::newRow("reserved-header") << image << "reserved header bytes";
    image = valid;
    image[27] = 0x02;
    QTest::newRow("bad-fixed-word") << image << "bad fixed word";
    image = valid;
    image[34] = 'x';
    QTest::newRow("version-after-terminator") << image << "version field";
    image = valid;
    image[37] = 0;
    QTest::newRow("name-length-zero") << image << "entry 0: name length 0";
    image = valid;
    image[37] = 33;
    QTest::newRow("name-length-33") << image << "entry 0: name length 33";
    image = valid;
    image[84 + 14] = 1;
    QTest::newRow("entry-reserved") << image << "entry 1: reserved bytes";
    image = valid;
    image[52 + 10] = 'z';
    QTest::newRow("name-tail") << image << "entry 0: the name field";
    image = valid;
    putWord(image, 44, 36 + 48 * 3 - 1);
    QTest::newRow("first-offset-inside-table") << image << "entry 0: offset";
    image = valid;
    putWord(image, 44, 36 + 48);
    QTest::newRow("first-offset-before-table-end")
            << image << "entry 0: offset 84 is not the end of a table of at least 2 entries";
    image = valid;
    putWord(image, 92, 36 + 48 * 3 + 6);
    QTest::newRow("offsets-out-of-order") << image << "entry 1: offset";
    image = valid;
    putWord(image, 92, 36 + 48 * 3);
    QTest::newRow("offsets-overlap") << image << "entry 1: offset";
    image = valid;
    putWord(image, 88, 0xFFFFFFF0u);
    QTest::newRow("size-out-of-file") << image << "entry 1: its content";
    image = valid;
    putWord(image, 44, 36 + 48 * 1000);
    QTest::newRow("offset-out-of-file") << image << "entry 0: its content";
    image = valid;
    image[36 + 96 + 20] = 1;
    QTest::newRow("unused-slot-not-zero") << image << "unused table slot 2";
    image = valid;
    putWord(image, 20, 1000);
    QTest::newRow("file-count-too-large") << image << "table of 1000 entries";
    image = valid;
    putWord(image, 20, 0);
    QTest::newRow("no-files-but-longer") << image << "without files";
}

void tst_MiniFsImage::rejectsBrokenRules()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, rule);
    QBuffer buffer(&bytes);
    QVERIFY(buffer.open(QIODevice::ReadOnly));
    MiniFsImage image;
    QVERIFY(!image.read(&buffer));
    QVERIFY2(image.errorString().contains(rule), qPrintable(image.errorString()));
    QVERIFY(image.entries().isEmpty());
}

void tst_MiniFsImage::unsafeNames_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<bool>("safe");
    QTest::newRow("plain") << QByteArray("index.html") << true;
    QTest::newRow("hidden") << QByteArray(".htaccess") << true;
    QTest::newRow("dots-inside") << QByteArray("a..b") << true;
    QTest::newRow("empty") << QByteArray() << false;
    QTest::newRow("dot") << QByteArray(".") << false;
    QTest::newRow("dot-dot") << QByteArray("..") << false;
    QTest::newRow("slash") << QByteArray("../etc") << false;
    QTest::newRow("backslash") << QByteArray("..\\boot.ini") << false;
    QTest::newRow("zero-byte") << QByteArray("a\0b", 3) << false;
}

void tst_MiniFsImage::unsafeNames()
{
    QFETCH(QByteArray, name);
    QFETCH(bool, safe);
    QCOMPARE(MiniFsImage::unsafeNameReason(name).isEmpty(), safe);
}

void tst_MiniFsImage::copiesContent()
{
    QByteArray big(3 * 1024 * 1024 + 17, Qt::Uninitialized);
    for (int index = 0; index < big.size(); ++index)
        big[index] = char(index * 13);
    QByteArray bytes = MiniFsImage::header(1, 2, QByteArray());
    bytes += MiniFsImage::entry("small", 3, 132);
    bytes += MiniFsImage::entry("big", quint32(big.size()), 135);
    bytes += "abc" + big;
    QBuffer buffer(&bytes);
    QVERIFY(buffer.open(QIODevice::ReadOnly));
    MiniFsImage image;
    QVERIFY2(image.read(&buffer), qPrintable(image.errorString()));
    for (const auto &[index, expected] : { std::pair<int, QByteArray>(0, "abc"), { 1, big } }) {
        QBuffer output;
        QVERIFY(output.open(QIODevice::WriteOnly));
        QVERIFY(MiniFsImage::copyContent(&buffer, image.entries().at(index), &output));
        QCOMPARE(output.data(), expected);
    }
}

QTEST_APPLESS_MAIN(tst_MiniFsImage)
#include "tst_minifsimage.moc"
