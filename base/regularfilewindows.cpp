// The system's open of RegularFile on Windows.

#include "regularfile.h"

#include "windowspath.h"

#include <QFile>

#include <fcntl.h>
#include <io.h>
#include <windows.h>

bool RegularFile::open_native(QFile &file, const QString &path, bool follow_links)
{
    // Shared for deletion as well, which QFile's own open does not do: a build may then rename
    // the image aside and put a new one in place while a device downloads the old one.
    // FILE_FLAG_OPEN_REPARSE_POINT opens a link itself, so that it can be refused below.
    const DWORD flags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN
            | (follow_links ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
    const HANDLE handle = ::CreateFileW(WindowsPath::long_name(path).c_str(), GENERIC_READ,
            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, flags,
            nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    // Folders do not open without FILE_FLAG_BACKUP_SEMANTICS; pipes and devices are no disk files.
    BY_HANDLE_FILE_INFORMATION information = {};
    if (::GetFileType(handle) != FILE_TYPE_DISK
            || !::GetFileInformationByHandle(handle, &information)
            || (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        ::CloseHandle(handle);
        return false;
    }
    const int descriptor =
            ::_open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDONLY | _O_BINARY);
    if (descriptor < 0) {
        ::CloseHandle(handle);
        return false;
    }
    if (file.open(descriptor, QIODevice::ReadOnly | QIODevice::Unbuffered,
                QFileDevice::AutoCloseHandle))
        return true;
    ::_close(descriptor);
    return false;
}
