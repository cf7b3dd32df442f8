#include "regularfile.h"

#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

#ifdef Q_OS_UNIX
// Opened by hand: QFile's own open examines the file once more, and it
// cannot open without blocking. Returns the descriptor, or -1.
int open_without_blocking(const QString &path)
{
    return ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
}

bool adopt(QFile &file, int descriptor)
{
    if (file.open(descriptor, QIODevice::ReadOnly | QIODevice::Unbuffered,
                QFileDevice::AutoCloseHandle))
        return true;
    ::close(descriptor);
    return false;
}

// Takes descriptor only when it is a regular file; closes it otherwise.
bool adopt_regular(QFile &file, int descriptor)
{
    struct stat status = {};
    if (::fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(descriptor);
        return false;
    }
    return adopt(file, descriptor);
}
#endif

} // namespace

bool RegularFile::open(QFile &file, const QString &path)
{
    if (!QFileInfo(path).isFile())
        return false;
#ifdef Q_OS_UNIX
    // The name may have been replaced since the check; an open that cannot
    // block, checked afterwards, closes that gap.
    const int descriptor = open_without_blocking(path);
    return descriptor >= 0 && adopt_regular(file, descriptor);
#else
    file.setFileName(path);
    return file.open(QIODevice::ReadOnly | QIODevice::Unbuffered);
#endif
}

bool RegularFile::open_listed(QFile &file, const QString &path)
{
#ifdef Q_OS_UNIX
    const int descriptor = ::open(
            QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW);
    return descriptor >= 0 && adopt_regular(file, descriptor);
#else
    file.setFileName(path);
    return file.open(QIODevice::ReadOnly | QIODevice::Unbuffered);
#endif
}
