#ifndef QTTRANSLATION_H
#define QTTRANSLATION_H

#include <QString>
#include <QStringList>

// Qt's own texts (the standard buttons, the file dialog, the text boxes'
// menus) in Chinese like the rest of the interface, from Qt's translation
// qtbase_zh_CN.qm. Start-up, GUI thread, once the application exists.
class QtTranslation
{
public:
    // The file's name without its folder.
    static QString file_name();
    // Where it is looked for, in order: "translations" in program_folder,
    // where the Windows and portable packages carry it, then Qt's own
    // translations folder (Debian's qttranslations5-l10n).
    static QStringList folders(const QString &program_folder);
    // Loads the first file found and installs it on the application, which
    // owns it. Returns the file's path, or an empty string when none could
    // be loaded (Qt's texts then stay in English).
    static QString install(const QString &program_folder);
};

#endif // QTTRANSLATION_H
