#ifndef EXTRACTFOLDER_H
#define EXTRACTFOLDER_H

#include <QHash>
#include <QString>

class QFile;

// The folder `minifs extract` writes into. Each file goes through a new
// temporary file in the folder that takes the final name only when whole, so
// a failure (a full disk) leaves any earlier file as it was. A name is never
// followed: an existing entry, a link included, is refused, or with force
// replaced itself (the link, never its target). Main thread.
class ExtractFolder
{
public:
    ExtractFolder(const QString &path, bool force);

    // Why name of entry index cannot be written, or empty: a name an
    // earlier entry had (also one that decodes to the same text), or one
    // that exists already while force is off.
    QString refusal(const QString &name, int index);
    // Opens a new temporary file in the folder for writing, unbuffered (so a
    // failed write keeps its reason); false with the reason in error.
    bool open_temporary(QFile &file, QString *error);
    // Gives the whole temporary file its final name (see refusal()); false
    // with the reason in error, and the temporary file removed.
    bool place(QFile &file, const QString &name, QString *error);

private:
    const QString path;
    const bool force;
    // Names written or refused so far, with the entry that had them first.
    QHash<QString, int> seen;
};

#endif // EXTRACTFOLDER_H
