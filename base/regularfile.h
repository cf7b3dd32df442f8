#ifndef REGULARFILE_H
#define REGULARFILE_H

#include <QString>

class QFile;

// Opens a file for reading, unbuffered, without blocking: opening or reading
// a FIFO or a device could block the thread for good. On Windows the file
// stays free to be renamed or replaced while it is open, as on Unix (see
// FileReplace). Plain functions; any thread.
class RegularFile
{
public:
    // Opens path only when it is a regular file or a link to one; false
    // otherwise or when it cannot be opened.
    static bool open(QFile &file, const QString &path);

    // Opens path, which a listing has just found to be a regular file,
    // without following a link, and checks the open file is still a regular
    // one: a name replaced by a link or a pipe since the listing is refused.
    // False when it cannot be opened.
    static bool open_listed(QFile &file, const QString &path);

private:
    // The system's open, one file per platform; what was opened must be a
    // regular file. Without follow_links a link is refused, not followed.
    static bool open_native(QFile &file, const QString &path, bool follow_links);
};

#endif // REGULARFILE_H
