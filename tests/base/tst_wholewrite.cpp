#include "wholewrite.h"
#include "writelimit.h"

#include <QBuffer>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>

// Writing a buffer whole: short writes are continued, and a failure carries
// the system's reason.
class tst_WholeWrite : public QObject
{
    Q_OBJECT

private slots:
    void shortWritesAreContinued_data();
    void shortWritesAreContinued();
    void failureCarriesTheReason();
};

namespace {

// A buffer that takes at most pieceSize bytes per write, and none once it
// holds capacity bytes.
class ShortWrites : public QBuffer
{
public:
    ShortWrites(qint64 pieceSize, qint64 capacity) : pieceSize(pieceSize), capacity(capacity) { }

    int writes = 0;

protected:
    qint64 writeData(const char *data, qint64 size) override
    {
        ++writes;
        const qint64 taken = qMin(qMin(size, pieceSize), capacity - buffer().size());
        return taken <= 0 ? 0 : QBuffer::writeData(data, taken);
    }

private:
    const qint64 pieceSize;
    const qint64 capacity;
};

} // namespace

void tst_WholeWrite::shortWritesAreContinued_data()
{
    QTest::addColumn<qint64>("pieceSize");
    QTest::addColumn<qint64>("capacity");
    QTest::addColumn<bool>("written");
    QTest::addColumn<int>("writes");

    QTest::newRow("takenAtOnce") << qint64(1000) << qint64(1000) << true << 1;
    QTest::newRow("takenInPieces") << qint64(300) << qint64(1000) << true << 4;
    QTest::newRow("byteByByte") << qint64(1) << qint64(1000) << true << 1000;
    QTest::newRow("stopsWhenNothingIsTaken") << qint64(300) << qint64(700) << false << 4;
}

void tst_WholeWrite::shortWritesAreContinued()
{
    QFETCH(qint64, pieceSize);
    QFETCH(qint64, capacity);
    QFETCH(bool, written);
    QFETCH(int, writes);

    const QByteArray data(1000, 'w');
    ShortWrites output(pieceSize, capacity);
    QVERIFY(output.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
    QCOMPARE(WholeWrite::write(&output, data.constData(), data.size()), written);
    QCOMPARE(output.writes, writes);
    QCOMPARE(output.buffer(), data.left(int(capacity)));
}

void tst_WholeWrite::failureCarriesTheReason()
{
#ifdef Q_OS_UNIX
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const QByteArray data(64 * 1024, 'f');
    QFile file(folder.filePath(QStringLiteral("out")));
    // Buffered, so the write below is taken whole and only the flush meets the limit.
    QVERIFY(file.open(QIODevice::WriteOnly));
    const WriteLimit limit(16 * 1024);
    if (!limit.active)
        QSKIP("no file size limit can be set here");
    QVERIFY(!WholeWrite::write_and_flush(file, data.constData(), data.size()));
    QCOMPARE(file.errorString(), qt_error_string(EFBIG));
    QCOMPARE(file.size(), qint64(16 * 1024));
#else
    QSKIP("file size limits (rlimits) are POSIX");
#endif
}

QTEST_APPLESS_MAIN(tst_WholeWrite)
#include "tst_wholewrite.moc"
