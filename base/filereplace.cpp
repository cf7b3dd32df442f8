#include "filereplace.h"

#include "wholewrite.h"

#include <QSaveFile>

bool FileReplace::write_whole(const QString &path, const QByteArray &content, QString *reason)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)
            || !WholeWrite::write_and_flush(file, content.constData(), content.size())) {
        *reason = file.errorString();
        return false;
    }
    return commit(file, reason) == Replaced;
}
