#include "deviceaddressprompt.h"

#include <QApplication>
#include <QInputDialog>
#include <QLineEdit>
#include <QTimer>
#include <QtTest>

using Kind = Ipv4AddressList::Error::Kind;
Q_DECLARE_METATYPE(Kind)

class tst_DeviceAddressPrompt : public QObject
{
    Q_OBJECT

private slots:
    void problemInInterfaceWords_data();
    void problemInInterfaceWords();
    void everyBadItemNamed();
    void correctionKeepsTheText();
};

// The command line words the same values in English (tst_upgradecommand).
void tst_DeviceAddressPrompt::problemInInterfaceWords_data()
{
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<QString>("text");
    QTest::newRow("malformed") << Kind::Malformed << "\"10.0.1\" 不是IPv4地址或范围";
    QTest::newRow("reversed") << Kind::Reversed << "\"10.0.1\" 范围的结尾小于开头";
    QTest::newRow("tooMany") << Kind::TooMany << "\"10.0.1\" 超过 4096 个地址";
    QTest::newRow("empty") << Kind::Empty << "多了一个逗号 (逗号之间或最后没有地址)";
}

void tst_DeviceAddressPrompt::problemInInterfaceWords()
{
    QFETCH(Kind, kind);
    QFETCH(QString, text);
    QCOMPARE(DeviceAddressPrompt::problem_text({ kind, QStringLiteral("10.0.1"), 4096 }), text);
}

void tst_DeviceAddressPrompt::everyBadItemNamed()
{
    QStringList answers{ QStringLiteral("10.0.0.1,,10.0.0.x,,10.0.0.9-3"),
        QStringLiteral("10.0.0.1") };
    QStringList problems;
    DeviceAddressPrompt::set_asker([&](QWidget *, const QString &, const QString &problem) {
        problems << problem;
        return answers.takeFirst();
    });
    QCOMPARE(DeviceAddressPrompt::ask(nullptr), QList<QHostAddress>{ QHostAddress("10.0.0.1") });
    DeviceAddressPrompt::set_asker(nullptr);
    QCOMPARE(problems.size(), 2);
    QCOMPARE(problems.at(1),
            QStringLiteral("多了一个逗号 (逗号之间或最后没有地址)\n"
                           "\"10.0.0.x\" 不是IPv4地址或范围\n"
                           "\"10.0.0.9-3\" 范围的结尾小于开头"));
}

// The real input dialog: asked again, the text stays unselected with the
// cursor after the first bad item.
void tst_DeviceAddressPrompt::correctionKeepsTheText()
{
    const QString slip = QStringLiteral("10.0.0.1,10.0.0.x,10.0.0.3");
    QStringList seen;
    const std::function<void()> answer = [&] {
        auto *dialog = qobject_cast<QInputDialog *>(QApplication::activeModalWidget());
        if (!dialog) {
            QTimer::singleShot(10, answer);
            return;
        }
        auto *edit = dialog->findChild<QLineEdit *>();
        seen << QStringLiteral("%1|%2|%3")
                        .arg(edit->hasSelectedText())
                        .arg(edit->cursorPosition())
                        .arg(edit->text());
        if (seen.size() == 1) {
            dialog->setTextValue(slip);
            dialog->accept();
            // Once the next one has settled.
            QTimer::singleShot(200, answer);
        } else {
            dialog->reject();
        }
    };
    QTimer::singleShot(10, answer);
    QVERIFY(DeviceAddressPrompt::ask(nullptr).isEmpty());
    QCOMPARE(seen.size(), 2);
    QCOMPARE(seen.at(1), QStringLiteral("0|17|") + slip);
}

QTEST_MAIN(tst_DeviceAddressPrompt)
#include "tst_deviceaddressprompt.moc"
