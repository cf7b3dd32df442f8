#ifndef FILEREPLACE_H
#define FILEREPLACE_H

#include <QByteArray>
#include <QString>

class QSaveFile;

// Puts a written QSaveFile in place of the file it replaces, also while that file is being
// read. On Unix the rename does this, and readers go on reading the old content whole. Windows
// refuses to rename over an open file: there the old file, when its readers share it for
// deletion (as RegularFile opens it), is first renamed aside and deleted, which takes effect
// when its last reader closes it; when a program holds it without that sharing, nothing
// changes. Plain functions; the caller's thread.
class FileReplace
{
public:
    enum Result {
        Replaced, // the new file is in place
        InUse, // another program holds the old file open: it is unchanged, the new one dropped
        Failed, // the replace failed otherwise: the old file is unchanged
    };

    // Commits file; reason receives the system's reason for InUse and Failed.
    static Result commit(QSaveFile &file, QString *reason);
    // Writes content whole to a temporary file beside path and commits it; false, with the
    // system's reason, when path is unchanged.
    static bool write_whole(const QString &path, const QByteArray &content, QString *reason);
};

#endif // FILEREPLACE_H
