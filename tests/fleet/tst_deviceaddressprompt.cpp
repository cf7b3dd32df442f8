#include "deviceaddressprompt.h"

#include <QtTest>

using Kind = Ipv4AddressList::Error::Kind;
Q_DECLARE_METATYPE(Kind)

class tst_DeviceAddressPrompt : public QObject
{
    Q_OBJECT

private slots:
    void problemInInterfaceWords_data();
    void problemInInterfaceWords();
};

// The command line words the same values in English (tst_upgradecommand).
void tst_DeviceAddressPrompt::problemInInterfaceWords_data()
{
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<QString>("text");
    QTest::newRow("malformed") << Kind::Malformed << "\"10.0.1\" 不是IPv4地址或范围";
    QTest::newRow("reversed") << Kind::Reversed << "\"10.0.1\" 范围的结尾小于开头";
    QTest::newRow("tooMany") << Kind::TooMany << "\"10.0.1\" 超过 4096 个地址";
}

void tst_DeviceAddressPrompt::problemInInterfaceWords()
{
    QFETCH(Kind, kind);
    QFETCH(QString, text);
    QCOMPARE(DeviceAddressPrompt::problem_text({ kind, QStringLiteral("10.0.1"), 4096 }), text);
}

QTEST_APPLESS_MAIN(tst_DeviceAddressPrompt)
#include "tst_deviceaddressprompt.moc"
