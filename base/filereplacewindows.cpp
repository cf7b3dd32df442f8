// FileReplace on Windows: an old file that is open is renamed aside first.

#include "filereplace.h"

#include "windowspath.h"

#include <QSaveFile>
#include <QUuid>

#include <windows.h>

namespace {

// True when a handle holds name open: an open that shares nothing is then refused.
bool held_open(const std::wstring &name)
{
    const HANDLE probe = ::CreateFileW(
            name.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (probe != INVALID_HANDLE_VALUE) {
        ::CloseHandle(probe);
        return false;
    }
    return ::GetLastError() == ERROR_SHARING_VIOLATION;
}

FileReplace::Result plain_commit(QSaveFile &file, QString *reason)
{
    if (file.commit())
        return FileReplace::Replaced;
    *reason = file.errorString();
    return FileReplace::Failed;
}

} // namespace

FileReplace::Result FileReplace::commit(QSaveFile &file, QString *reason)
{
    const QString target = file.fileName();
    const std::wstring name = WindowsPath::long_name(target);
    if (!held_open(name))
        return plain_commit(file, reason);

    // A unique name beside it: the old file keeps that name until its last reader closes it.
    const std::wstring aside = WindowsPath::long_name(
            target + QStringLiteral(".replaced-") + QUuid::createUuid().toString(QUuid::Id128));
    if (!::MoveFileExW(name.c_str(), aside.c_str(), 0)) {
        const DWORD error = ::GetLastError();
        *reason = qt_error_string(int(error));
        // Drops the new file now rather than when the object goes.
        file.cancelWriting();
        file.commit();
        return error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED ? InUse : Failed;
    }
    if (!file.commit()) {
        *reason = file.errorString();
        ::MoveFileExW(aside.c_str(), name.c_str(), 0);
        return Failed;
    }
    ::DeleteFileW(aside.c_str());
    return Replaced;
}
