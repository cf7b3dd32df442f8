#ifndef MINIFSBUILDER_H
#define MINIFSBUILDER_H

#include <QByteArray>
#include <QDateTime>
#include <QFileInfoList>
#include <QSet>
#include <QString>

#include <functional>
#include <memory>

class MiniFsBuildListener;
class QIODevice;
class QSaveFile;

// Packs the regular files directly inside one folder into a MiniFs image.
// Runs on the caller's thread and blocks until the image is written or the
// build is refused; progress goes to the listener given at construction.
//
// The image is written to a temporary file beside it and replaces the old
// image only when every byte was written, so a failed build leaves the old
// image as it was. A device that is downloading the old image reads it on
// whole (see FileReplace). Contents are streamed through one fixed-size buffer, so
// memory use does not depend on the file sizes.
class MiniFsBuilder
{
public:
    enum Outcome {
        Built, // the image was written
        FolderMissing, // no folder at the given path
        ImageFolderNotCreated, // the image's folder was missing and could not be made
        FolderNotSet, // the folder path is empty
        OpenFailed, // the image could not be opened for writing
        TooLarge, // the image would reach 4 GiB
        WriteFailed // writing or replacing the image failed (Windows: also while
        // another program holds the old image open)
    };

    using Clock = std::function<QDateTime()>;
    // Opens one listed input file for reading; returns null when it cannot.
    // Like a file, the device must fill each read until its end or an error:
    // a short read once the listed size has been delivered counts as the end.
    using InputOpener = std::function<std::unique_ptr<QIODevice>(const QString &path)>;
    // Lists the files of a folder in the order they are to be packed.
    using Lister = std::function<QFileInfoList(const QString &folder)>;

    // Name of the image file.
    static const QString imageFileName;

    // The listener must outlive the builder.
    explicit MiniFsBuilder(MiniFsBuildListener &listener);

    // Source of the build time; the default reads the system clock.
    void setClock(Clock clock);
    // Opener of input files; the default opens them as files.
    void setInputOpener(InputOpener opener);
    // Lister of the folder; the default is listFolder.
    void setLister(Lister lister);

    // Packs the files of folder into the image at imagePath, with the version
    // text cut to 8 Latin-1 characters.
    Outcome build(const QString &folder, const QString &version, const QString &imagePath);

    // The system's reason for the last OpenFailed or WriteFailed, if any.
    QString errorString() const { return lastError; }

    // The user-facing text of an outcome that the user must be told about,
    // without markup; empty for Built and for the silent outcomes.
    static QString warningText(Outcome outcome);

    // The regular files directly inside folder, hidden ones included, in the
    // file system's own order; no folders, symbolic links or special files.
    static QFileInfoList listFolder(const QString &folder);

    // Where the window writes the image for a program in programFolder: the
    // folder "html" beside the program, or beside the application bundle
    // "tavirex_tools.app" when the program runs inside one.
    static QString defaultImagePath(const QString &programFolder);

private:
    // What the contents' pass leaves for the header: the table of the files
    // packed, their count, the end of the last content and the names stored.
    struct Contents
    {
        QByteArray table;
        int count = 0;
        qint64 end = 0;
        QSet<QByteArray> storedNames;
    };

    // Streams the contents of files into the opened output, then writes
    // header and table and replaces the image.
    Outcome pack(QSaveFile &output, const QFileInfoList &files, quint32 created,
            const QByteArray &versionField);
    // Writes each file's content after the space of the table and notes its
    // entry; Built when every content that could be read is written.
    Outcome writeContents(QSaveFile &output, const QFileInfoList &files, Contents &contents);
    // Notes the entry of a content written at offset, with the log lines
    // about its name.
    void addEntry(const QString &name, quint32 offset, quint32 size, Contents &contents);
    // Writes start (header and table) at the image's start, cuts the image
    // to imageSize and puts it in place; Built when it is there.
    Outcome commitImage(QSaveFile &output, const QByteArray &start, qint64 imageSize);
    // Gives up the image for reason, which becomes errorString().
    Outcome writeFailed(QSaveFile &output, const QString &reason);

    MiniFsBuildListener &listener;
    Clock clock;
    InputOpener openInput;
    Lister list;
    QString lastError;
};

#endif // MINIFSBUILDER_H
