#include "widget.h"
#include "windowchecks.h"
#include "wiringguard.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>

class tst_Widget : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void windowSettings();
    void formWidgets_data();
    void formWidgets();
    void wiringHasNoWarnings();
    void resourcesPresent();
    void toolButtonShowsToolAndReturns_data();
    void toolButtonShowsToolAndReturns();
    void closingLauncherEndsEventLoopWithZero();
};

void tst_Widget::init()
{
    QDir::setCurrent(QDir::tempPath());
}

void tst_Widget::windowSettings()
{
    Widget launcher;
    QCOMPARE(launcher.windowTitle(), QStringLiteral("Ondaspa v1.0.9"));
    QVERIFY(launcher.isWindow());
    QVERIFY(hasOnlyCloseButton(launcher));
    QCOMPARE(launcher.objectName(), QStringLiteral("Widget"));
    QCOMPARE(launcher.minimumSize(), QSize(425, 200));
    QCOMPARE(launcher.maximumSize(), QSize(16777215, 16777215));
    QCOMPARE(launcher.size(), QSize(425, 200));
}

void tst_Widget::formWidgets_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("image");
    QTest::addColumn<QString>("label");
    QTest::addColumn<QString>("text");
    QTest::newRow("minifs") << "minifs_on_start"
                            << "minifs.ico"
                            << "label_2"
                            << "文件合并";
    QTest::newRow("sound") << "sound_chg_start"
                           << "sound_type.ico"
                           << "label_3"
                           << "音频压缩";
    QTest::newRow("upgrade") << "update_on_start"
                             << "update.ico"
                             << "label_4"
                             << "设备升级";
}

void tst_Widget::formWidgets()
{
    QFETCH(QString, button);
    QFETCH(QString, image);
    QFETCH(QString, label);
    QFETCH(QString, text);
    Widget launcher;

    auto *pushButton = launcher.findChild<QPushButton *>(button);
    QVERIFY(pushButton);
    QVERIFY(pushButton->text().isEmpty());
    QCOMPARE(pushButton->minimumSize(), QSize(128, 128));
    QCOMPARE(pushButton->styleSheet(),
            QStringLiteral("border-image: url(:/picture/%1);").arg(image));

    auto *textLabel = launcher.findChild<QLabel *>(label);
    QVERIFY(textLabel);
    QCOMPARE(textLabel->text(), text);
    QCOMPARE(textLabel->font().family(), QStringLiteral("Calibri"));
    QCOMPARE(textLabel->font().pointSize(), 20);
    QVERIFY(textLabel->font().bold());
    QCOMPARE(textLabel->styleSheet(), QStringLiteral("color: rgb(53, 112, 168);"));
    QCOMPARE(textLabel->alignment(), Qt::AlignCenter);

    auto *row = launcher.findChild<QHBoxLayout *>(QStringLiteral("horizontalLayout_2"));
    QVERIFY(row);
    QCOMPARE(row->spacing(), 6);
    QCOMPARE(row->contentsMargins(), QMargins(11, 11, 11, 11));
}

void tst_Widget::wiringHasNoWarnings()
{
    WiringGuard guard;
    Widget launcher;
    QVERIFY2(guard.problems().isEmpty(), qPrintable(guard.problems().join('\n')));
}

void tst_Widget::resourcesPresent()
{
    for (const char *name : { "minifs", "sound_type", "update" }) {
        const QImage image(QStringLiteral(":/picture/%1.ico").arg(QLatin1String(name)));
        QVERIFY2(!image.isNull(), name);
        QCOMPARE(image.height(), 128);
    }
    for (int n = 0; n <= 10; ++n) {
        const QImage icon(QStringLiteral(":/picture/N%1.ico").arg(n));
        QVERIFY(!icon.isNull());
        QCOMPARE(icon.size(), QSize(32, 32));
    }
}

void tst_Widget::toolButtonShowsToolAndReturns_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("toolClass");
    QTest::newRow("minifs") << "minifs_on_start"
                            << "minifs";
    QTest::newRow("sound") << "sound_chg_start"
                           << "sound";
    QTest::newRow("upgrade") << "update_on_start"
                             << "upgrade";
}

void tst_Widget::toolButtonShowsToolAndReturns()
{
    QFETCH(QString, button);
    QFETCH(QString, toolClass);
    Widget launcher;
    launcher.show();

    QWidget *tool = nullptr;
    for (QWidget *window : QApplication::topLevelWidgets())
        if (QLatin1String(window->metaObject()->className()) == toolClass)
            tool = window;
    QVERIFY(tool);
    QVERIFY(!tool->parent());
    QPointer<QWidget> guard(tool);
    tool->setProperty("probe", 42);
    QSignalSpy exits(tool, SIGNAL(ExitWin()));

    for (int press = 1; press <= 2; ++press) {
        QTest::mouseClick(launcher.findChild<QPushButton *>(button), Qt::LeftButton);
        QVERIFY(tool->isVisible());
        QVERIFY(!launcher.isVisible());

        QVERIFY(tool->close());
        QCOMPARE(exits.count(), press);
        QVERIFY(launcher.isVisible());
        QVERIFY(!tool->isVisible());
        QVERIFY(guard);
        QCOMPARE(tool->property("probe").toInt(), 42);
    }
}

void tst_Widget::closingLauncherEndsEventLoopWithZero()
{
    Widget launcher;
    launcher.show();
    QTest::mouseClick(
            launcher.findChild<QPushButton *>(QStringLiteral("update_on_start")), Qt::LeftButton);
    QTimer::singleShot(0, [&] {
        for (QWidget *window : QApplication::topLevelWidgets())
            if (window != &launcher && window->isVisible())
                window->close();
        QVERIFY(launcher.isVisible());
        launcher.close();
    });
    // A loop that does not end on its own is a failure, not a hang.
    QTimer::singleShot(5000, [] { QCoreApplication::exit(1); });
    QCOMPARE(QApplication::exec(), 0);
}

QTEST_MAIN(tst_Widget)
#include "tst_widget.moc"
