#ifndef SETTINGSFOLDER_H
#define SETTINGSFOLDER_H

#include <QString>

// Which folder holds the window's "config.ini" (ProgramPaths::settings_file(), relative to the
// working directory). On Windows the Start menu starts the program in its installed folder,
// which a normal user cannot write; there, and wherever the working directory cannot take the
// settings file, the per-user folder becomes the working directory instead, while an unpacked
// ZIP keeps its own folder. Linux keeps the working directory as it is: its launcher script
// starts the program in the per-user folder. Plain functions; GUI thread, at start-up, before
// any settings object is opened.
class SettingsFolder
{
public:
    // True where the working directory moves when it cannot be written.
#ifdef Q_OS_WIN
    static constexpr bool moves_when_unwritable = true;
#else
    static constexpr bool moves_when_unwritable = false;
#endif

    // True when the settings file in folder can be written: it exists and opens for writing,
    // or a new file can be made there. Tried rather than looked up, as Windows keeps its
    // permissions in lists that the file's attributes do not show.
    static bool is_writable(const QString &folder);
    // The folder to keep the settings in: working when it is writable; else per_user, made
    // when missing, when that is writable; else working.
    static QString choose(const QString &working, const QString &per_user);
    // The per-user folder: QStandardPaths::AppConfigLocation, on Windows
    // %LOCALAPPDATA%\ondaspa (not roaming: the settings name this computer's folders), on
    // Linux ~/.config/ondaspa.
    static QString per_user_folder();
    // Where moves_when_unwritable, makes the folder choose() picks the working directory.
    // Returns the folder left when the working directory moved, else an empty string.
    static QString apply();
};

#endif // SETTINGSFOLDER_H
