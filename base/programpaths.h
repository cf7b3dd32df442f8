#ifndef PROGRAMPATHS_H
#define PROGRAMPATHS_H

#include <QString>

// Where the program keeps its files, the one rule for every tool, the file
// service and the command line. Plain functions; any thread.
class ProgramPaths
{
public:
    // The settings file: "config.ini" in the working directory (not in the
    // program's folder), so each working directory keeps its own settings.
    static QString settings_file();

    // The folder "html" that the MiniFs builder writes to and the upgrade
    // file service serves, for a program in program_folder: beside the
    // program, or beside the bundle "tavirex_tools.app" when the program runs
    // inside one. No trailing slash.
    static QString html_folder(const QString &program_folder);
};

#endif // PROGRAMPATHS_H
