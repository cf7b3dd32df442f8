// FileStamp on POSIX systems: the status of the descriptor and of the name.

#include "filestamp.h"

#include <QFile>

#include <sys/stat.h>

namespace {

FileStamp from_status(const struct stat &status)
{
    FileStamp stamp;
    stamp.valid = true;
    stamp.size = qint64(status.st_size);
    stamp.modified_ns = qint64(status.st_mtim.tv_sec) * 1000000000 + status.st_mtim.tv_nsec;
    stamp.device = quint64(status.st_dev);
    stamp.inode = quint64(status.st_ino);
    return stamp;
}

} // namespace

FileStamp FileStamp::of_open(const QFile &file)
{
    struct stat status = {};
    if (file.handle() < 0 || ::fstat(file.handle(), &status) != 0)
        return FileStamp();
    return from_status(status);
}

FileStamp FileStamp::of_path(const QString &path)
{
    struct stat status = {};
    if (::lstat(QFile::encodeName(path).constData(), &status) != 0)
        return FileStamp();
    return from_status(status);
}
