#ifndef WINDOWSFILENAMES_H
#define WINDOWSFILENAMES_H

#include <QString>

// The names Windows cannot give a file, the one rule for every place that turns outside text
// into a file name (request paths, unpacked image entries): its device names (CON, PRN, AUX,
// NUL, COM0 to COM9, LPT0 to LPT9, CONIN$, CONOUT$), also with an extension ("con.txt") and in
// any letter case, since they name the device in every folder; names holding a control
// character or one of < > : " / \ | ? * (a ':' would name an alternate stream of the file
// before it); and names ending in a dot or a space, which Windows cuts off, so that they would
// name another file. Plain functions; any thread.
class WindowsFileNames
{
public:
    // True where the system itself refuses such names.
#ifdef Q_OS_WIN
    static constexpr bool system_refuses = true;
#else
    static constexpr bool system_refuses = false;
#endif

    // Why name, one path segment, cannot name a file on Windows; empty when it can. "." and
    // ".." name folders, not files: they are refused too, so callers that allow them as path
    // steps check them first.
    static QString unfit_reason(const QString &name);
    // The part of unfit_reason() by which Windows would open something other than the file
    // named: a device, an alternate stream (':'), or, once it drops a trailing dot or space,
    // another file. Names it merely refuses ('*', '?', ...) are not among them.
    static QString misread_reason(const QString &name);
};

#endif // WINDOWSFILENAMES_H
