// ondaspa-cli minifs: builds, checks and unpacks MiniFs images.

#include "commands.h"

#include "commandline.h"
#include "minifsbuilder.h"
#include "minifsbuildlistener.h"
#include "minifsimage.h"
#include "minifslogging.h"
#include "windowsfilenames.h"

#include "extractfolder.h"
#include "outsidetext.h"
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <QTextStream>

#include <algorithm>

namespace {

using namespace CommandLine;

// The window's version field takes this many characters.
constexpr int versionLength = 8;
// Highest character code Latin-1 holds, the version field's encoding.
constexpr uint maxLatin1 = 0xff;

const char minifsUsage[] =
        "usage: ondaspa-cli minifs build FOLDER [--image-version TEXT] [-o FILE]\n"
        "       ondaspa-cli minifs list IMAGE\n"
        "       ondaspa-cli minifs extract [--force] IMAGE DIR\n"
        "\n"
        "Builds, checks and unpacks MiniFs images, the devices' read-only file systems.\n"
        "Each command takes -h/--help; --version prints the program's version.\n"
        "\n"
        "Exit status: 0 success, 1 failure (reason on stderr), 2 bad arguments or a\n"
        "malformed image.\n";

const char buildHelp[] =
        "usage: ondaspa-cli minifs build FOLDER [--image-version TEXT] [-o FILE]\n"
        "\n"
        "Packs every regular file directly inside FOLDER (hidden files included; no\n"
        "subfolders, symbolic links or special files) into a MiniFs image, exactly as\n"
        "the builder window does, and prints the window's log lines. A FOLDER with no\n"
        "file to pack still gives an image (without entries), with a warning.\n"
        "\n"
        "  --image-version TEXT  version text stored in the header, at most 8\n"
        "                        Latin-1 characters (default: empty)\n"
        "  -o FILE               image to write, in a folder that exists; default:\n"
        "                        minifs_rom.img in the folder \"html\" of this\n"
        "                        program's folder (of the folder that holds\n"
        "                        tavirex_tools.app when it runs inside one), created\n"
        "                        when missing: the place the window writes to beside\n"
        "                        its own program\n"
        "  -h, --help            show this text\n"
        "  --version             show the program's version\n"
        "\n"
        "Exit status: 0 built, 1 failed (reason on stderr), 2 bad arguments.\n";

const char listHelp[] = "usage: ondaspa-cli minifs list IMAGE\n"
                        "\n"
                        "Checks IMAGE against every rule of the MiniFs format and prints its\n"
                        "version, creation time (UTC), file count and one line per entry:\n"
                        "name, size and offset, separated by tabs.\n"
                        "\n"
                        "  -h, --help  show this text\n"
                        "  --version   show the program's version\n"
                        "\n"
                        "Exit status: 0 valid, 1 unreadable, 2 malformed or bad arguments.\n";

const char extractHelp[] =
        "usage: ondaspa-cli minifs extract [--force] IMAGE DIR\n"
        "\n"
        "Checks IMAGE and writes each entry's content to DIR (created when missing)\n"
        "under its stored name. Names that are empty, \".\" or \"..\", or hold '/', '\\'\n"
        "or a zero byte are refused, and so are names an earlier entry had and names\n"
        "that exist in DIR; the other entries are still written. Each file is written\n"
        "to a temporary file in DIR that takes its name only when whole. Links in DIR\n"
        "are never followed. Names that Windows cannot hold (device names such as CON,\n"
        "NUL or COM1, also with an extension; ':', '*', '?', '\"', '<', '>', '|'; a dot\n"
        "or a space at the end) are refused on Windows and written with a warning\n"
        "elsewhere.\n"
        "\n"
        "  --force     replace existing files (a link is replaced itself)\n"
        "  -h, --help  show this text\n"
        "  --version   show the program's version\n"
        "\n"
        "Exit status: 0 all written, 1 a name refused or a write failed,\n"
        "2 malformed image or bad arguments.\n";

// Prints the build's log lines on stdout; its developer diagnostics go to
// the message log, where they are off unless switched on.
class StdoutLog : public MiniFsBuildListener
{
public:
    void logCleared() override { }
    void logLine(const QString &line) override { out() << OutsideText::escaped(line) << '\n'; }
    void debugLine(const QString &line) override { qCDebug(minifsLog).noquote() << line; }
};

// Why a build failed, for stderr: the builder's own texts are the window's.
QString buildFailure(MiniFsBuilder::Outcome outcome, const QString &folder, const QString &image,
        const QString &reason)
{
    switch (outcome) {
    case MiniFsBuilder::FolderMissing:
        return folderError(folder);
    case MiniFsBuilder::ImageFolderNotCreated:
        return QFileInfo(image).absolutePath() + QStringLiteral(": the folder cannot be created");
    case MiniFsBuilder::FolderNotSet:
        return QStringLiteral("the folder path is empty");
    case MiniFsBuilder::TooLarge:
        return image + QStringLiteral(": the image would reach 4 GiB");
    case MiniFsBuilder::OpenFailed:
        return QStringLiteral("cannot open %1 for writing: %2").arg(image, reason);
    case MiniFsBuilder::WriteFailed:
        return QStringLiteral("cannot write %1: %2").arg(image, reason);
    case MiniFsBuilder::Built:
        break;
    }
    return QString();
}

int build(const QStringList &arguments)
{
    const QString command = QStringLiteral("minifs build");
    QCommandLineParser parser;
    const QCommandLineOption versionOption(
            QStringLiteral("image-version"), QString(), QStringLiteral("TEXT"));
    const QCommandLineOption outputOption(QStringLiteral("o"), QString(), QStringLiteral("FILE"));
    parser.addOption(versionOption);
    parser.addOption(outputOption);
    const int parsed = parse(parser, command, arguments, buildHelp, { QStringLiteral("FOLDER") });
    if (parsed >= 0)
        return parsed;
    const QString folder = parser.positionalArguments().constFirst();
    const QString version = parser.value(versionOption);
    if (version.size() > versionLength)
        return usageError(command,
                QStringLiteral("--image-version: \"%1\" is longer than %2 characters")
                        .arg(version)
                        .arg(versionLength));
    // The window stores such characters as "?"; given here, they are a mistake.
    const QVector<uint> characters = version.toUcs4();
    const auto beyondLatin1 = std::find_if(characters.cbegin(), characters.cend(),
            [](uint character) { return character > maxLatin1; });
    if (beyondLatin1 != characters.cend())
        return usageError(command,
                QStringLiteral("--image-version: \"%1\" holds '%2', which Latin-1 cannot hold")
                        .arg(version, QString::fromUcs4(&*beyondLatin1, 1)));
    const bool outputGiven = parser.isSet(outputOption);
    const QString image = outputGiven
            ? parser.value(outputOption)
            : MiniFsBuilder::defaultImagePath(QCoreApplication::applicationDirPath());
    if (image.isEmpty())
        return usageError(command, QStringLiteral("-o needs a file name"));
    // Only the window's own folder is created: a mistyped -o must not leave
    // a tree of new folders behind.
    const QString imageFolder = QFileInfo(image).absolutePath();
    if (outputGiven && !QFileInfo(imageFolder).isDir())
        return fail(command, folderError(imageFolder));

    StdoutLog log;
    MiniFsBuilder builder(log);
    const MiniFsBuilder::Outcome outcome = builder.build(folder, version, image);
    out().flush();
    if (outcome != MiniFsBuilder::Built)
        return fail(command, buildFailure(outcome, folder, image, builder.errorString()));
    if (QFileInfo(image).size() == MiniFsImage::headerSize)
        warn(command,
                QStringLiteral("%1 holds no file to pack; the image has no entries").arg(folder));
    return exitSuccess;
}

// For list and extract: parses the arguments (IMAGE first), then opens and
// checks the image. Returns -1 when it is valid, else the exit status after
// reporting.
int openImage(const QString &command, const QStringList &arguments, const char *help,
        const QStringList &positionals, QCommandLineParser &parser, QFile &file, MiniFsImage &image)
{
    const int parsed = parse(parser, command, arguments, help, positionals);
    if (parsed >= 0)
        return parsed;
    file.setFileName(parser.positionalArguments().constFirst());
    if (!file.open(QIODevice::ReadOnly))
        return fail(command,
                QStringLiteral("cannot open %1: %2").arg(file.fileName(), file.errorString()));
    if (!image.read(&file))
        return fail(command,
                file.fileName() + QStringLiteral(": malformed image: ") + image.errorString(),
                exitUsage);
    return -1;
}

int list(const QStringList &arguments)
{
    QCommandLineParser parser;
    QFile file;
    MiniFsImage image;
    const int opened = openImage(QStringLiteral("minifs list"), arguments, listHelp,
            { QStringLiteral("IMAGE") }, parser, file, image);
    if (opened >= 0)
        return opened;
    out() << "version: " << image.version() << '\n'
          << "created: "
          << QDateTime::fromSecsSinceEpoch(image.created(), Qt::UTC).toString(Qt::ISODate) << '\n'
          << "files: " << image.entries().size() << '\n';
    for (const MiniFsImage::Entry &entry : image.entries())
        out() << OutsideText::escaped_name(entry.name) << '\t' << entry.size << '\t' << entry.offset
              << '\n';
    return exitSuccess;
}

int extract(const QStringList &arguments)
{
    const QString command = QStringLiteral("minifs extract");
    QCommandLineParser parser;
    const QCommandLineOption forceOption(QStringLiteral("force"));
    parser.addOption(forceOption);
    QFile file;
    MiniFsImage image;
    const int opened = openImage(command, arguments, extractHelp,
            { QStringLiteral("IMAGE"), QStringLiteral("DIR") }, parser, file, image);
    if (opened >= 0)
        return opened;
    const QString folder = parser.positionalArguments().at(1);
    if (QFileInfo::exists(folder) && !QFileInfo(folder).isDir())
        return fail(command, folderError(folder));
    if (!QDir().mkpath(folder))
        return fail(command, folder + QStringLiteral(": the folder cannot be created"));
    ExtractFolder target(folder, parser.isSet(forceOption));
    int result = exitSuccess;
    const QVector<MiniFsImage::Entry> &entries = image.entries();
    for (int index = 0; index < entries.size(); ++index) {
        const MiniFsImage::Entry &entry = entries.at(index);
        const QString name = QString::fromUtf8(entry.name);
        QString refused = MiniFsImage::unsafeNameReason(entry.name);
        const QString unfit = refused.isEmpty() ? WindowsFileNames::unfit_reason(name) : QString();
        if (!unfit.isEmpty() && WindowsFileNames::system_refuses)
            refused = unfit;
        else if (!unfit.isEmpty())
            warn(command,
                    QStringLiteral("%1: entry %2 \"%3\" cannot be unpacked on Windows: %4")
                            .arg(file.fileName())
                            .arg(index)
                            .arg(OutsideText::escaped_name(entry.name), unfit));
        if (refused.isEmpty())
            refused = target.refusal(name, index);
        if (!refused.isEmpty()) {
            result = fail(command,
                    QStringLiteral("%1: entry %2 \"%3\" refused: %4")
                            .arg(file.fileName())
                            .arg(index)
                            .arg(OutsideText::escaped_name(entry.name), refused));
            continue;
        }
        QFile output;
        QString error;
        if (!target.open_temporary(output, &error)) {
            result = fail(command,
                    QStringLiteral("cannot create a temporary file in %1: %2").arg(folder, error));
            continue;
        }
        if (!MiniFsImage::copyContent(&file, entry, &output)) {
            const QString reason = output.error() != QFileDevice::NoError ? output.errorString()
                                                                          : file.errorString();
            output.remove();
            result = fail(command,
                    QStringLiteral("cannot write %1: %2")
                            .arg(QDir(folder).filePath(OutsideText::escaped(name)), reason));
            continue;
        }
        if (!target.place(output, name, &error))
            result = fail(command,
                    QStringLiteral("cannot write %1: %2")
                            .arg(QDir(folder).filePath(OutsideText::escaped(name)), error));
    }
    return result;
}

} // namespace

int minifsCommand(const QStringList &arguments)
{
    return dispatch(QStringLiteral("minifs"), arguments,
            { { QStringLiteral("build"), build }, { QStringLiteral("list"), list },
                    { QStringLiteral("extract"), extract } },
            minifsUsage);
}
