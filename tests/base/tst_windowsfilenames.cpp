#include "windowsfilenames.h"

#include <QtTest>

// The names Windows cannot hold, the same answer on every system.
class tst_WindowsFileNames : public QObject
{
    Q_OBJECT

private slots:
    void unfitReason_data();
    void unfitReason();
    void misreadReason_data();
    void misreadReason();
};

void tst_WindowsFileNames::unfitReason_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("reason"); // a part of the reason; empty: the name is fit

    QTest::newRow("plain") << "minifs_rom.img" << QString();
    QTest::newRow("chinese") << QStringLiteral("提示音.wav") << QString();
    QTest::newRow("leadingDot") << ".hidden" << QString();
    QTest::newRow("innerSpace") << "a b.img" << QString();
    QTest::newRow("deviceNameInside") << "console.txt" << QString();
    QTest::newRow("deviceNameLonger") << "COM10" << QString();
    QTest::newRow("deviceNamePrefix") << "nullable" << QString();
    QTest::newRow("lptWithLetter") << "LPTX" << QString();

    QTest::newRow("nul") << "NUL"
                         << "\"NUL\" is a device name";
    QTest::newRow("conLowerCaseWithExtension") << "con.txt"
                                               << "\"CON\" is a device name";
    QTest::newRow("com1") << "COM1"
                          << "\"COM1\" is a device name";
    QTest::newRow("com0") << "com0.bin"
                          << "\"COM0\" is a device name";
    QTest::newRow("comSuperscript") << QStringLiteral("COM\u00b9") << "is a device name";
    QTest::newRow("lpt9") << "Lpt9"
                          << "\"LPT9\" is a device name";
    QTest::newRow("auxTwoExtensions") << "aux.tar.gz"
                                      << "\"AUX\" is a device name";
    QTest::newRow("prnSpaceBeforeExtension") << "prn .txt"
                                             << "\"PRN\" is a device name";
    QTest::newRow("conout") << "CONOUT$"
                            << "\"CONOUT$\" is a device name";

    QTest::newRow("stream") << "a:b"
                            << "holds ':'";
    QTest::newRow("streamType") << "a.img::$DATA"
                                << "holds ':'";
    QTest::newRow("star") << "a*.img"
                          << "holds '*'";
    QTest::newRow("question") << "a?.img"
                              << "holds '?'";
    QTest::newRow("quote") << "a\"b"
                           << "holds '\"'";
    QTest::newRow("less") << "a<b"
                          << "holds '<'";
    QTest::newRow("greater") << "a>b"
                             << "holds '>'";
    QTest::newRow("bar") << "a|b"
                         << "holds '|'";
    QTest::newRow("slash") << "a/b"
                           << "holds '/'";
    QTest::newRow("backslash") << "a\\b"
                               << "holds '\\'";
    QTest::newRow("tab") << "a\tb"
                         << "control character";
    QTest::newRow("trailingDot") << "a.img."
                                 << "ends in a dot";
    QTest::newRow("dot") << "."
                         << "ends in a dot";
    QTest::newRow("dotDot") << ".."
                            << "ends in a dot";
    QTest::newRow("trailingSpace") << "a.img "
                                   << "ends in a space";
    QTest::newRow("empty") << ""
                           << "empty";
}

void tst_WindowsFileNames::unfitReason()
{
    QFETCH(QString, name);
    QFETCH(QString, reason);
    const QString found = WindowsFileNames::unfit_reason(name);
    if (reason.isEmpty())
        QVERIFY2(found.isEmpty(), qPrintable(found));
    else
        QVERIFY2(found.contains(reason), qPrintable(found));
}

void tst_WindowsFileNames::misreadReason_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("misread");
    QTest::newRow("plain") << "minifs_rom.img" << false;
    QTest::newRow("device") << "nul.img" << true;
    QTest::newRow("stream") << "a.img:x" << true;
    QTest::newRow("trailingDot") << "a.img." << true;
    QTest::newRow("trailingSpace") << "a " << true;
    // Refused by Windows, so a look-up fails there: no other file is reached.
    QTest::newRow("wildcard") << "a*.img" << false;
    QTest::newRow("angleBrackets") << "<b>.img" << false;
}

void tst_WindowsFileNames::misreadReason()
{
    QFETCH(QString, name);
    QFETCH(bool, misread);
    const QString reason = WindowsFileNames::misread_reason(name);
    QCOMPARE(!reason.isEmpty(), misread);
    if (misread)
        QCOMPARE(WindowsFileNames::unfit_reason(name), reason);
}

QTEST_APPLESS_MAIN(tst_WindowsFileNames)
#include "tst_windowsfilenames.moc"
