// The system's open of RegularFile on Unix.

#include "regularfile.h"

#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

bool RegularFile::open_native(QFile &file, const QString &path, bool follow_links)
{
    // Opened by hand: QFile's own open examines the file once more, and it
    // cannot open without blocking.
    const int flags = O_RDONLY | O_NONBLOCK | O_CLOEXEC | (follow_links ? 0 : O_NOFOLLOW);
    const int descriptor = ::open(QFile::encodeName(path).constData(), flags);
    if (descriptor < 0)
        return false;
    struct stat status = {};
    if (::fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(descriptor);
        return false;
    }
    if (file.open(descriptor, QIODevice::ReadOnly | QIODevice::Unbuffered,
                QFileDevice::AutoCloseHandle))
        return true;
    ::close(descriptor);
    return false;
}
