#ifndef UNREADABLEFILE_H
#define UNREADABLEFILE_H

// Files that cannot be opened for reading, also when the tests run as root:
// mode 000, with root's power to pass over permissions set aside, either
// for the calling thread (FilePermissionsEnforced) or for a command
// (filePermissionsEnforcedPrefix). Linux only.

#include <QFile>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <iterator>

#ifdef Q_OS_LINUX
#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

// Makes the file at path unreadable for anyone whose permissions are enforced.
inline bool makeUnreadable(const QString &path)
{
    return QFile::setPermissions(path, QFile::Permissions());
}

#ifdef Q_OS_LINUX
// While it lives, the calling thread's effective capabilities lack
// CAP_DAC_OVERRIDE and CAP_DAC_READ_SEARCH, so file permissions hold for
// root too; the permitted set keeps them and the destructor restores them.
// Capabilities belong to each thread: other threads keep theirs.
class FilePermissionsEnforced
{
public:
    FilePermissionsEnforced()
    {
        header.version = _LINUX_CAPABILITY_VERSION_3;
        if (syscall(SYS_capget, &header, saved) != 0)
            return;
        __user_cap_data_struct reduced[_LINUX_CAPABILITY_U32S_3];
        std::copy(std::begin(saved), std::end(saved), std::begin(reduced));
        reduced[0].effective &= ~((1U << CAP_DAC_OVERRIDE) | (1U << CAP_DAC_READ_SEARCH));
        changed = syscall(SYS_capset, &header, reduced) == 0;
    }
    ~FilePermissionsEnforced()
    {
        if (changed)
            syscall(SYS_capset, &header, saved);
    }
    FilePermissionsEnforced(const FilePermissionsEnforced &) = delete;
    FilePermissionsEnforced &operator=(const FilePermissionsEnforced &) = delete;

private:
    __user_cap_header_struct header{};
    __user_cap_data_struct saved[_LINUX_CAPABILITY_U32S_3]{};
    bool changed = false;
};

// What goes before a command so that file permissions hold for it: for
// root, setpriv drops both capabilities from the bounding set, which the
// command's capabilities cannot then exceed; nothing for other users.
inline QStringList filePermissionsEnforcedPrefix()
{
    if (geteuid() != 0)
        return {};
    return { QStringLiteral("setpriv"), QStringLiteral("--inh-caps=-all"),
        QStringLiteral("--bounding-set=-dac_override,-dac_read_search"), QStringLiteral("--") };
}

#endif // Q_OS_LINUX
#endif // UNREADABLEFILE_H
