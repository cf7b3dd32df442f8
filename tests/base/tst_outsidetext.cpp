#include "outsidetext.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

class tst_OutsideText : public QObject
{
    Q_OBJECT

private slots:
    void escaped_data();
    void escaped();
    void escapedName_data();
    void escapedName();
    void jsonLine_data();
    void jsonLine();
};

void tst_OutsideText::escaped_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("shown");
    QTest::newRow("plain") << "SN-0001 ver 1.2"
                           << "SN-0001 ver 1.2";
    QTest::newRow("chinese") << QString::fromUtf8("升级文件") << QString::fromUtf8("升级文件");
    QTest::newRow("clearScreen") << "\x1b[2J"
                                 << "\\x1b[2J";
    QTest::newRow("windowTitle") << "\x1b]0;owned\x07"
                                 << "\\x1b]0;owned\\x07";
    QTest::newRow("forgedLine") << "x\r\nFAKE 10.0.0.9 file sent"
                                << "x\\x0d\\x0aFAKE 10.0.0.9 file sent";
    QTest::newRow("nul") << QString::fromLatin1("a\0b", 3) << "a\\x00b";
    QTest::newRow("tab") << "a\tb"
                         << "a\\x09b";
    QTest::newRow("delete") << "a\x7f"
                            << "a\\x7f";
    QTest::newRow("nextLine") << QString(QChar(0x85)) << "\\x85";
    QTest::newRow("c1Csi") << QString(QChar(0x9b)) << "\\x9b";
    QTest::newRow("lineSeparator") << QString(QChar(0x2028)) << "\\u2028";
    QTest::newRow("paragraphSeparator") << QString(QChar(0x2029)) << "\\u2029";
    QTest::newRow("noBreakSpaceKept") << QString(QChar(0xa0)) << QString(QChar(0xa0));
}

void tst_OutsideText::escaped()
{
    QFETCH(QString, text);
    QFETCH(QString, shown);
    QCOMPARE(OutsideText::escaped(text), shown);
}

void tst_OutsideText::escapedName_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QString>("shown");
    QTest::newRow("ascii") << QByteArray("a.wav") << "a.wav";
    QTest::newRow("utf8") << QByteArray("\xe5\x8d\x87.wav") << QString::fromUtf8("升.wav");
    QTest::newRow("latin1Byte") << QByteArray("caf\xe9.wav") << "caf\\xe9.wav";
    QTest::newRow("truncatedSequence") << QByteArray("a\xe5\x8d") << "a\\xe5\\x8d";
    QTest::newRow("overlongSlash") << QByteArray("\xc0\xaf") << "\\xc0\\xaf";
    QTest::newRow("surrogate") << QByteArray("\xed\xa0\x80") << "\\xed\\xa0\\x80";
    QTest::newRow("beyondUnicode") << QByteArray("\xf4\x90\x80\x80") << "\\xf4\\x90\\x80\\x80";
    QTest::newRow("fourBytes") << QByteArray("\xf0\x9f\x94\x8a")
                               << QString::fromUtf8("\xf0\x9f\x94\x8a");
    QTest::newRow("newlineInName") << QByteArray("a\nb") << "a\\x0ab";
    QTest::newRow("encodedNextLine") << QByteArray("\xc2\x85") << "\\x85";
}

void tst_OutsideText::escapedName()
{
    QFETCH(QByteArray, name);
    QFETCH(QString, shown);
    QCOMPARE(OutsideText::escaped_name(name), shown);
}

void tst_OutsideText::jsonLine_data()
{
    QTest::addColumn<QString>("value");
    QTest::addColumn<QByteArray>("line");
    QTest::newRow("plain") << "ok" << QByteArray("{\"sn\":\"ok\"}");
    QTest::newRow("lineSeparator") << QString(QChar(0x2028)) << QByteArray("{\"sn\":\"\\u2028\"}");
    QTest::newRow("paragraphSeparator")
            << QString(QChar(0x2029)) << QByteArray("{\"sn\":\"\\u2029\"}");
    QTest::newRow("nextLine") << QString(QChar(0x85)) << QByteArray("{\"sn\":\"\\u0085\"}");
    QTest::newRow("newline") << "\n" << QByteArray("{\"sn\":\"\\n\"}");
}

// The line stays one line, and reads back as the same value.
void tst_OutsideText::jsonLine()
{
    QFETCH(QString, value);
    QFETCH(QByteArray, line);
    const QByteArray json = OutsideText::json_line(
            QJsonDocument(QJsonObject{ { "sn", value } }).toJson(QJsonDocument::Compact));
    QCOMPARE(json, line);
    QCOMPARE(QJsonDocument::fromJson(json).object().value("sn").toString(), value);
}

QTEST_APPLESS_MAIN(tst_OutsideText)
#include "tst_outsidetext.moc"
