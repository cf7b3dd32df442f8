#include "httptemporaryfile.h"

#include <QDir>
#include <QTemporaryFile>

namespace quenmar {

HttpTemporaryFile::~HttpTemporaryFile()
{
    close();
    if (!fileName().isEmpty())
        remove();
}

bool HttpTemporaryFile::create()
{
    // QTemporaryFile picks a unique name and creates the file with owner-only permissions; its
    // own descriptor is released when it goes out of scope, which QTemporaryFile::close() does not.
    QString name;
    {
        QTemporaryFile creator(QDir::tempPath() + QStringLiteral("/ondaspa-http-XXXXXX"));
        creator.setAutoRemove(false);
        if (!creator.open()) {
            setErrorString(creator.errorString());
            return false;
        }
        name = creator.fileName();
    }
    setFileName(name);
    if (!open(QIODevice::ReadWrite)) {
        const QString reason = errorString();
        QFile::remove(name);
        setFileName(QString());
        setErrorString(reason);
        return false;
    }
    return true;
}

} // namespace quenmar
