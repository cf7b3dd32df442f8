#include "qttranslation.h"

#include <QCoreApplication>
#include <QDir>
#include <QLibraryInfo>
#include <QTranslator>

QString QtTranslation::file_name()
{
    return QStringLiteral("qtbase_zh_CN.qm");
}

QStringList QtTranslation::folders(const QString &program_folder)
{
    return { QDir(program_folder).filePath(QStringLiteral("translations")),
        QLibraryInfo::location(QLibraryInfo::TranslationsPath) };
}

QString QtTranslation::install(const QString &program_folder)
{
    for (const QString &folder : folders(program_folder)) {
        QString path = QDir(folder).filePath(file_name());
        auto *translator = new QTranslator(QCoreApplication::instance());
        if (translator->load(path) && QCoreApplication::installTranslator(translator))
            return path;
        delete translator;
    }
    return QString();
}
