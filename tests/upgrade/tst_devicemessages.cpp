#include "devicemessages.h"
#include "indentedjson.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

class tst_DeviceMessages : public QObject
{
    Q_OBJECT

private slots:
    void probeIsExactly31Bytes();
    void upgradeCommand_data();
    void upgradeCommand();
    void commandSize_data();
    void commandSize();
    void indentedFormMatchesQtWriter_data();
    void indentedFormMatchesQtWriter();
    void serialNumberCutAtFirstComma_data();
    void serialNumberCutAtFirstComma();
    void fileForEachCommandType();
};

void tst_DeviceMessages::probeIsExactly31Bytes()
{
    const QByteArray probe = DeviceMessages::probe();
    QCOMPARE(probe, QByteArray("{\n    \"type\": \"hellotavirex\"\n}\n"));
    QCOMPARE(probe.size(), 31);
}

void tst_DeviceMessages::upgradeCommand_data()
{
    QTest::addColumn<int>("port");
    QTest::addColumn<QString>("serialNumber");
    QTest::addColumn<QString>("type");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("update") << 81 << "A1"
                            << "update"
                            << QByteArray("{\n    \"port\": 81,\n    \"sn\": \"A1\",\n"
                                          "    \"type\": \"update\"\n}\n");
    QTest::newRow("fs") << 81 << "SN-0042"
                        << "fs"
                        << QByteArray("{\n    \"port\": 81,\n    \"sn\": \"SN-0042\",\n"
                                      "    \"type\": \"fs\"\n}\n");
    QTest::newRow("port0-notSetYet") << 0 << "A1"
                                     << "fs"
                                     << QByteArray("{\n    \"port\": 0,\n    \"sn\": \"A1\",\n"
                                                   "    \"type\": \"fs\"\n}\n");
    QTest::newRow("port65535") << 65535 << "A1"
                               << "fs"
                               << QByteArray("{\n    \"port\": 65535,\n    \"sn\": \"A1\",\n"
                                             "    \"type\": \"fs\"\n}\n");
    QTest::newRow("escapes") << 81 << "a\"b\\c\td"
                             << "fs"
                             << QByteArray(
                                        "{\n    \"port\": 81,\n    \"sn\": \"a\\\"b\\\\c\\td\",\n"
                                        "    \"type\": \"fs\"\n}\n");
    QTest::newRow("utf8") << 81 << QStringLiteral("设备1") << "update"
                          << QByteArray("{\n    \"port\": 81,\n    \"sn\": \"设备1\",\n"
                                        "    \"type\": \"update\"\n}\n");
}

void tst_DeviceMessages::upgradeCommand()
{
    QFETCH(int, port);
    QFETCH(QString, serialNumber);
    QFETCH(QString, type);
    QFETCH(QByteArray, expected);
    QCOMPARE(DeviceMessages::upgrade_command(quint16(port), serialNumber, type), expected);
}

// The sizes devices rely on: 55 + N for "update", 51 + N for "fs" (port 81).
void tst_DeviceMessages::commandSize_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("serialNumber");
    QTest::addColumn<int>("size");
    QTest::newRow("update-2") << "update"
                              << "A1" << 57;
    QTest::newRow("fs-2") << "fs"
                          << "A1" << 53;
    QTest::newRow("update-20") << "update"
                               << "ABCDEFGHIJ0123456789" << 75;
    QTest::newRow("fs-20") << "fs"
                           << "ABCDEFGHIJ0123456789" << 71;
}

void tst_DeviceMessages::commandSize()
{
    QFETCH(QString, type);
    QFETCH(QString, serialNumber);
    QFETCH(int, size);
    QCOMPARE(DeviceMessages::upgrade_command(81, serialNumber, type).size(), size);
}

void tst_DeviceMessages::indentedFormMatchesQtWriter_data()
{
    QTest::addColumn<QJsonObject>("object");
    QTest::newRow("empty") << QJsonObject();
    QTest::newRow("keysInsertedBackwards")
            << QJsonObject{ { "zeta", 1 }, { "type", "x" }, { "alpha", "y" } };
    QTest::newRow("controlCharacters")
            << QJsonObject{ { "sn", QStringLiteral("a\nb\x01") }, { "port", 81 } };
    QTest::newRow("negativeAndLarge") << QJsonObject{ { "a", -5 }, { "b", 2147483647 } };
}

void tst_DeviceMessages::indentedFormMatchesQtWriter()
{
    QFETCH(QJsonObject, object);
    QCOMPARE(IndentedJson::write(object), QJsonDocument(object).toJson(QJsonDocument::Indented));
}

void tst_DeviceMessages::serialNumberCutAtFirstComma_data()
{
    QTest::addColumn<QString>("rowText");
    QTest::addColumn<QString>("serialNumber");
    QTest::newRow("plain") << "A1"
                           << "A1";
    QTest::newRow("withVersions") << "A1,2.0,x"
                                  << "A1";
    QTest::newRow("emptyFirstPart") << ",2.0"
                                    << "";
    QTest::newRow("trailingComma") << "A1,"
                                   << "A1";
}

void tst_DeviceMessages::serialNumberCutAtFirstComma()
{
    QFETCH(QString, rowText);
    QFETCH(QString, serialNumber);
    QCOMPARE(DeviceMessages::serial_number(rowText), serialNumber);
}

void tst_DeviceMessages::fileForEachCommandType()
{
    QCOMPARE(DeviceMessages::file_for(DeviceMessages::file_system_type()),
            QStringLiteral("minifs_rom.img"));
    QCOMPARE(DeviceMessages::file_for(DeviceMessages::firmware_type()),
            QStringLiteral("firmware.bin"));
}

QTEST_APPLESS_MAIN(tst_DeviceMessages)
#include "tst_devicemessages.moc"
