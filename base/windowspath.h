#ifndef WINDOWSPATH_H
#define WINDOWSPATH_H

#include <QString>

#include <string>

// File names for the Windows API, built only for Windows. Plain functions; any thread.
class WindowsPath
{
public:
    // path as the wide-character calls take it: absolute, with backslashes, and with the prefix
    // that lifts the limit of 260 characters, as QFile passes its names.
    static std::wstring long_name(const QString &path);
};

#endif // WINDOWSPATH_H
