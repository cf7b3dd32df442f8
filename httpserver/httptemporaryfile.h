#ifndef QUENMAR_HTTPTEMPORARYFILE_H
#define QUENMAR_HTTPTEMPORARYFILE_H

// Used by one thread at a time, like any QFile.

#include <QFile>

namespace quenmar {

// A private temporary file (readable and writable by the owner only) in the system's temporary
// folder, removed when the object is destroyed. Unlike QTemporaryFile, close() really releases the
// descriptor and open() opens the same file again, so many such files can be kept without holding
// a descriptor each.
class HttpTemporaryFile : public QFile
{
    Q_OBJECT

public:
    HttpTemporaryFile() = default;
    // Closes and removes the file.
    ~HttpTemporaryFile() override;

    // Creates a new empty file and opens it read-write. Returns false (with errorString() set)
    // when no file could be created.
    virtual bool create();
};

} // namespace quenmar

#endif // QUENMAR_HTTPTEMPORARYFILE_H
