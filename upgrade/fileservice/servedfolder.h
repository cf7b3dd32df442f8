#ifndef SERVEDFOLDER_H
#define SERVEDFOLDER_H

#include <QString>

#include <functional>

// The folder the upgrade file service serves. By default it is derived anew
// for every request from "QZPATH" in the settings file (group UPDATE), which
// start-up sets to the program's folder, by ProgramPaths::html_folder(). A program that serves another
// folder (the command line's --folder) replaces the rule for the whole
// process. Thread-safe: read on every HTTP connection thread.
class ServedFolder
{
public:
    // Returns the folder, without a trailing slash.
    using Provider = std::function<QString()>;

    // The folder for the next request, by the current provider.
    static QString current();
    // An empty function restores the default rule. Process-wide because the
    // file service's interface is fixed: nothing else reaches its service().
    static void set_provider(Provider provider);

    // True when folder followed by path (a request path, with its leading
    // slash) names the folder itself or something below it: no ".."
    // segment, no backslash. Decided on the text alone, so links that the
    // user placed inside the folder are still followed.
    static bool holds(const QString &folder, const QString &path);
};

#endif // SERVEDFOLDER_H
