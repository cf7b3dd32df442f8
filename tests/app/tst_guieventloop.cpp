#include "guieventloop.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

class tst_GuiEventLoop : public QObject
{
    Q_OBJECT

private slots:
    void gtkThemePossible_data();
    void gtkThemePossible();
};

void tst_GuiEventLoop::gtkThemePossible_data()
{
    QTest::addColumn<QStringList>("variables"); // NAME=value
    QTest::addColumn<bool>("pluginInstalled");
    QTest::addColumn<bool>("expected");

    QTest::newRow("nothing") << QStringList() << true << false;
    QTest::newRow("gtk3-named") << QStringList{ "QT_QPA_PLATFORMTHEME=gtk3" } << false << true;
    QTest::newRow("gtk2-named-on-kde")
            << QStringList{ "QT_QPA_PLATFORMTHEME=gtk2", "XDG_CURRENT_DESKTOP=KDE" } << false
            << true;
    QTest::newRow("qt5ct-named-on-gnome")
            << QStringList{ "QT_QPA_PLATFORMTHEME=qt5ct", "XDG_CURRENT_DESKTOP=GNOME" } << true
            << false;
    QTest::newRow("portal-over-gnome")
            << QStringList{ "QT_QPA_PLATFORMTHEME=xdgdesktopportal", "XDG_CURRENT_DESKTOP=GNOME" }
            << true << true;
    QTest::newRow("gnome") << QStringList{ "XDG_CURRENT_DESKTOP=GNOME" } << true << true;
    QTest::newRow("gnome-without-plugin")
            << QStringList{ "XDG_CURRENT_DESKTOP=GNOME" } << false << false;
    QTest::newRow("ubuntu-gnome-list")
            << QStringList{ "XDG_CURRENT_DESKTOP=ubuntu:GNOME" } << true << true;
    QTest::newRow("cinnamon") << QStringList{ "XDG_CURRENT_DESKTOP=X-Cinnamon" } << true << true;
    QTest::newRow("kde") << QStringList{ "XDG_CURRENT_DESKTOP=KDE" } << true << false;
    QTest::newRow("xfce-session-only") << QStringList{ "DESKTOP_SESSION=xfce" } << true << true;
    QTest::newRow("session-ignored-when-desktop-set")
            << QStringList{ "XDG_CURRENT_DESKTOP=KDE", "DESKTOP_SESSION=gnome" } << true << false;
}

void tst_GuiEventLoop::gtkThemePossible()
{
    QFETCH(QStringList, variables);
    QFETCH(bool, pluginInstalled);
    QFETCH(bool, expected);

    QProcessEnvironment environment;
    for (const QString &variable : variables)
        environment.insert(
                variable.section(QLatin1Char('='), 0, 0), variable.section(QLatin1Char('='), 1));
    QTemporaryDir plugins;
    QVERIFY(plugins.isValid());
    if (pluginInstalled) {
        QVERIFY(QDir(plugins.path()).mkdir(QStringLiteral("platformthemes")));
        QFile plugin(plugins.filePath(QStringLiteral("platformthemes/libqgtk3.so")));
        QVERIFY(plugin.open(QIODevice::WriteOnly));
    }
    QCOMPARE(GuiEventLoop::gtkThemePossible(environment,
                     { plugins.filePath(QStringLiteral("elsewhere")), plugins.path() }),
            expected);
}

QTEST_GUILESS_MAIN(tst_GuiEventLoop)
#include "tst_guieventloop.moc"
