// FileStamp on Windows: the file information of a handle, whose volume serial number and file
// index stand for device and inode. A file opened through a descriptor (as RegularFile opens
// the served files) has no name in QFile, so the open file is asked through its handle.

#include "filestamp.h"

#include "windowspath.h"

#include <QFile>

#include <io.h>
#include <windows.h>

namespace {

FileStamp from_handle(HANDLE handle)
{
    BY_HANDLE_FILE_INFORMATION information = {};
    if (handle == INVALID_HANDLE_VALUE || !::GetFileInformationByHandle(handle, &information))
        return FileStamp();
    FileStamp stamp;
    stamp.valid = true;
    stamp.size = qint64((quint64(information.nFileSizeHigh) << 32) | information.nFileSizeLow);
    // FILETIME counts 100-nanosecond steps; only equality matters here, not the epoch.
    const quint64 written = (quint64(information.ftLastWriteTime.dwHighDateTime) << 32)
            | information.ftLastWriteTime.dwLowDateTime;
    stamp.modified_ns = qint64(written * 100);
    stamp.device = information.dwVolumeSerialNumber;
    stamp.inode = (quint64(information.nFileIndexHigh) << 32) | information.nFileIndexLow;
    return stamp;
}

} // namespace

FileStamp FileStamp::of_open(const QFile &file)
{
    if (file.handle() < 0)
        return FileStamp();
    return from_handle(reinterpret_cast<HANDLE>(::_get_osfhandle(file.handle())));
}

FileStamp FileStamp::of_path(const QString &path)
{
    // No access asked and every sharing allowed, so that the look disturbs no reader or writer;
    // a link is looked at itself, and a folder opens only with backup semantics.
    const HANDLE handle = ::CreateFileW(WindowsPath::long_name(path).c_str(), 0,
            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
            FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    const FileStamp stamp = from_handle(handle);
    if (handle != INVALID_HANDLE_VALUE)
        ::CloseHandle(handle);
    return stamp;
}
