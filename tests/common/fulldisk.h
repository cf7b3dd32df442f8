#ifndef FULLDISK_H
#define FULLDISK_H

// Runs a command where a folder is as good as full, for tests of how write failures are reported:
//   "fileSizeLimit"  a file size limit of 32 KiB, 64 KiB where sh is bash (a write beyond it fails
//                    with "File too large");
//   "fullTmpfs"      a 32 KiB tmpfs mounted over the folder in a mount namespace of the command's
//                    own ("No space left on device"); needs root and unshare.

#include <QProcess>
#include <QStringList>
#include <QTest>

#include <cerrno>

// Adds the columns "disk" and "reason" (the system's text) with one row per kind.
inline void addFullDiskRows()
{
    QTest::addColumn<QString>("disk");
    QTest::addColumn<QString>("reason");
    QTest::newRow("fileSizeLimit") << QStringLiteral("fileSizeLimit") << qt_error_string(EFBIG);
    QTest::newRow("fullTmpfs") << QStringLiteral("fullTmpfs") << qt_error_string(ENOSPC);
}

// What goes before a command to run it with folder (which must exist) full in that way.
inline QStringList fullDiskPrefix(const QString &disk, const QString &folder)
{
    if (disk == QLatin1String("fileSizeLimit")) {
        // 64 blocks of 512 bytes (1024 in bash); with SIGXFSZ ignored the write fails with EFBIG.
        return { QStringLiteral("sh"), QStringLiteral("-c"),
            QStringLiteral("trap '' XFSZ; ulimit -f 64; exec \"$@\""), QStringLiteral("sh") };
    }
    return { QStringLiteral("unshare"), QStringLiteral("-m"), QStringLiteral("sh"),
        QStringLiteral("-c"),
        QStringLiteral("mount -t tmpfs -o size=32k none \"$0\" && exec \"$@\""), folder };
}

// Whether that kind can be made on this machine.
inline bool fullDiskAvailable(const QString &disk, const QString &folder)
{
    QStringList command = fullDiskPrefix(disk, folder) + QStringList{ QStringLiteral("true") };
    QProcess process;
    process.start(command.takeFirst(), command);
    return process.waitForFinished(30000) && process.exitStatus() == QProcess::NormalExit
            && process.exitCode() == 0;
}

#endif // FULLDISK_H
