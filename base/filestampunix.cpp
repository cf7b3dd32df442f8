#include "filestamp.h"

#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

namespace {

#ifdef Q_OS_UNIX
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
#else
// Without inodes, the name's own entry stands for the file's identity.
FileStamp from_info(const QFileInfo &info)
{
    FileStamp stamp;
    stamp.valid = info.exists();
    stamp.size = info.size();
    stamp.modified_ns = info.lastModified().toMSecsSinceEpoch() * 1000000;
    return stamp;
}
#endif

} // namespace

FileStamp FileStamp::of_open(const QFile &file)
{
#ifdef Q_OS_UNIX
    struct stat status = {};
    if (file.handle() < 0 || ::fstat(file.handle(), &status) != 0)
        return FileStamp();
    return from_status(status);
#else
    return from_info(QFileInfo(file.fileName()));
#endif
}

FileStamp FileStamp::of_path(const QString &path)
{
#ifdef Q_OS_UNIX
    struct stat status = {};
    if (::lstat(QFile::encodeName(path).constData(), &status) != 0)
        return FileStamp();
    return from_status(status);
#else
    return from_info(QFileInfo(path));
#endif
}
