#ifndef FILESTAMP_H
#define FILESTAMP_H

#include <QString>

class QFile;

// What shows that a file changed without reading it: its size, its
// modification time and its identity (device and inode where the system has
// them). A file overwritten in place changes size or time; a name replaced by
// another file changes identity. Plain value; any thread.
struct FileStamp
{
    // Of the file open in file; invalid when the system cannot tell.
    static FileStamp of_open(const QFile &file);
    // Of the file path names, without following a final link.
    static FileStamp of_path(const QString &path);

    bool operator==(const FileStamp &other) const
    {
        return valid && other.valid && size == other.size && modified_ns == other.modified_ns
                && device == other.device && inode == other.inode;
    }
    bool operator!=(const FileStamp &other) const { return !(*this == other); }

    bool valid = false;
    qint64 size = -1;
    // Nanoseconds since the epoch, as fine as the file system keeps them.
    qint64 modified_ns = 0;
    quint64 device = 0;
    quint64 inode = 0;
};

#endif // FILESTAMP_H
