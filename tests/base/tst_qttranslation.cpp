#include "qttranslation.h"

#include <QDialogButtonBox>
#include <QFile>
#include <QLibraryInfo>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTranslator>
#include <QtTest>

// Qt's own texts through the translation the program installs at start-up.
class tst_QtTranslation : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void standardButtonsInChinese();
    void programFolderComesFirst();
    void damagedCopyFallsBackToQt();

private:
    QString program_folder() const { return work.filePath(QStringLiteral("program")); }
    QString own_copy() const
    {
        return program_folder() + QStringLiteral("/translations/") + QtTranslation::file_name();
    }

    QTemporaryDir work;
    QString installed;
};

void tst_QtTranslation::initTestCase()
{
    QVERIFY(work.isValid());
    QVERIFY(QDir().mkpath(program_folder() + QStringLiteral("/translations")));
    installed = QDir(QLibraryInfo::location(QLibraryInfo::TranslationsPath))
                        .filePath(QtTranslation::file_name());
    if (!QFile::exists(installed))
        QSKIP(qPrintable(installed
                + QStringLiteral(
                        " is not installed (Debian: apt-get install qttranslations5-l10n)")));
}

void tst_QtTranslation::cleanup()
{
    // Deleting a translator uninstalls it.
    qDeleteAll(qApp->findChildren<QTranslator *>(QString(), Qt::FindDirectChildrenOnly));
    QFile::remove(own_copy());
}

void tst_QtTranslation::standardButtonsInChinese()
{
    QDialogButtonBox english(QDialogButtonBox::Save | QDialogButtonBox::Cancel);
    QCOMPARE(english.button(QDialogButtonBox::Cancel)->text(), QStringLiteral("Cancel"));

    QCOMPARE(QtTranslation::install(program_folder()), installed);
    QDialogButtonBox buttons(
            QDialogButtonBox::Save | QDialogButtonBox::Cancel | QDialogButtonBox::Ok);
    QCOMPARE(buttons.button(QDialogButtonBox::Cancel)->text(), QStringLiteral("取消"));
    QCOMPARE(buttons.button(QDialogButtonBox::Ok)->text(), QStringLiteral("确定"));
    QVERIFY2(buttons.button(QDialogButtonBox::Save)->text().contains(QStringLiteral("保存")),
            qPrintable(buttons.button(QDialogButtonBox::Save)->text()));
    // The text boxes' menu.
    QCOMPARE(QCoreApplication::translate("QWidgetTextControl", "Select All"),
            QStringLiteral("全选"));
}

void tst_QtTranslation::programFolderComesFirst()
{
    QVERIFY(QFile::copy(installed, own_copy()));
    QCOMPARE(QtTranslation::install(program_folder()), own_copy());
    QCOMPARE(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("取消"));
}

void tst_QtTranslation::damagedCopyFallsBackToQt()
{
    QFile damaged(own_copy());
    QVERIFY(damaged.open(QIODevice::WriteOnly));
    QVERIFY(damaged.write("not a translation") > 0);
    damaged.close();
    QCOMPARE(QtTranslation::install(program_folder()), installed);
    QCOMPARE(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("取消"));
}

QTEST_MAIN(tst_QtTranslation)
#include "tst_qttranslation.moc"
