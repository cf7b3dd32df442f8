// ondaspa-cli minifs: builds, checks and unpacks MiniFs images.

#include "commands.h"

#include "minifsbuilder.h"
#include "minifsbuildlistener.h"
#include "minifsimage.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTextStream>

namespace {

// Exit codes.
constexpr int exitSuccess = 0;
constexpr int exitFailure = 1; // the operation failed; the reason is on stderr
constexpr int exitUsage = 2; // bad arguments
constexpr int exitMalformed = 2; // the image breaks a rule of the format

// The window's version field takes this many characters.
constexpr int versionLength = 8;

const char usage[] = "usage: ondaspa-cli minifs build FOLDER [--image-version TEXT] [-o FILE]\n"
                     "       ondaspa-cli minifs list IMAGE\n"
                     "       ondaspa-cli minifs extract IMAGE DIR\n"
                     "\n"
                     "Each command takes --help.\n";

const char buildHelp[] =
        "usage: ondaspa-cli minifs build FOLDER [--image-version TEXT] [-o FILE]\n"
        "\n"
        "Packs every regular file directly inside FOLDER (hidden files included; no\n"
        "subfolders, symbolic links or special files) into a MiniFs image, exactly as\n"
        "the builder window does, and prints the window's log lines.\n"
        "\n"
        "  --image-version TEXT  version text stored in the header, at most 8\n"
        "                        Latin-1 characters (default: empty)\n"
        "  -o FILE               image to write; default: minifs_rom.img in the folder\n"
        "                        \"html\" of this program's folder (of the folder that\n"
        "                        holds tavirex_tools.app when it runs inside one), the\n"
        "                        place the window writes to beside its own program\n"
        "\n"
        "Exit status: 0 built, 1 failed (reason on stderr), 2 bad arguments.\n";

const char listHelp[] = "usage: ondaspa-cli minifs list IMAGE\n"
                        "\n"
                        "Checks IMAGE against every rule of the MiniFs format and prints its\n"
                        "version, creation time (UTC), file count and one line per entry:\n"
                        "name, size and offset, separated by tabs.\n"
                        "\n"
                        "Exit status: 0 valid, 1 unreadable, 2 malformed or bad arguments.\n";

const char extractHelp[] =
        "usage: ondaspa-cli minifs extract IMAGE DIR\n"
        "\n"
        "Checks IMAGE and writes each entry's content to DIR under its stored name.\n"
        "Names that are empty, \".\" or \"..\", or hold '/', '\\' or a zero byte are\n"
        "refused; the other entries are still written.\n"
        "\n"
        "Exit status: 0 all written, 1 a name refused or a write failed,\n"
        "2 malformed image or bad arguments.\n";

QTextStream &out()
{
    static QTextStream stream(stdout);
    return stream;
}

QTextStream &err()
{
    static QTextStream stream(stderr);
    return stream;
}

int fail(const QString &command, const QString &message, int code = exitFailure)
{
    err() << "ondaspa-cli minifs " << command << ": " << message << '\n';
    return code;
}

// Prints the build's log lines; developer diagnostics stay out of the output.
class StdoutLog : public MiniFsBuildListener
{
public:
    void logCleared() override { }
    void logLine(const QString &line) override { out() << line << '\n'; }
    void debugLine(const QString &) override { }
};

// Parses arguments (the subcommand first) and checks the positional count.
// Returns -1 when the command is to go on, else its exit code.
int parse(
        QCommandLineParser &parser, const QStringList &arguments, int positionals, const char *help)
{
    const QCommandLineOption helpOption(QStringList{ QStringLiteral("h"), QStringLiteral("help") });
    parser.addOption(helpOption);
    if (!parser.parse(arguments)) {
        err() << parser.errorText() << '\n' << help;
        return exitUsage;
    }
    if (parser.isSet(helpOption)) {
        out() << help;
        return exitSuccess;
    }
    if (parser.positionalArguments().size() != positionals) {
        err() << help;
        return exitUsage;
    }
    return -1;
}

int build(const QStringList &arguments)
{
    const QString command = QStringLiteral("build");
    QCommandLineParser parser;
    const QCommandLineOption versionOption(
            QStringLiteral("image-version"), QString(), QStringLiteral("TEXT"));
    const QCommandLineOption outputOption(QStringLiteral("o"), QString(), QStringLiteral("FILE"));
    parser.addOption(versionOption);
    parser.addOption(outputOption);
    const int parsed = parse(parser, arguments, 1, buildHelp);
    if (parsed >= 0)
        return parsed;
    const QString folder = parser.positionalArguments().constFirst();
    const QString version = parser.value(versionOption);
    if (version.size() > versionLength)
        return fail(command,
                QStringLiteral("--image-version: \"%1\" is longer than %2 characters")
                        .arg(version)
                        .arg(versionLength),
                exitUsage);
    const QString image = parser.isSet(outputOption)
            ? parser.value(outputOption)
            : MiniFsBuilder::defaultImagePath(QCoreApplication::applicationDirPath());

    StdoutLog log;
    MiniFsBuilder builder(log);
    const MiniFsBuilder::Outcome outcome = builder.build(folder, version, image);
    out().flush();
    const QString imageFolder = QFileInfo(image).absolutePath();
    switch (outcome) {
    case MiniFsBuilder::Built:
        return exitSuccess;
    case MiniFsBuilder::FolderMissing:
        return fail(command, folder + QStringLiteral(": no such folder"));
    case MiniFsBuilder::ImageFolderNotCreated:
        return fail(command, imageFolder + QStringLiteral(": the folder cannot be created"));
    case MiniFsBuilder::FolderNotSet:
        return fail(command,
                MiniFsBuilder::warningText(outcome)
                        + QStringLiteral(" (the folder path is empty)"));
    case MiniFsBuilder::TooLarge:
        return fail(command, image + QStringLiteral(": ") + MiniFsBuilder::warningText(outcome));
    case MiniFsBuilder::OpenFailed:
    case MiniFsBuilder::WriteFailed:
        break;
    }
    QString message = image + QStringLiteral(": ") + MiniFsBuilder::warningText(outcome);
    if (!builder.errorString().isEmpty())
        message += QStringLiteral(" (") + builder.errorString() + QLatin1Char(')');
    return fail(command, message);
}

// Opens and checks an image for list and extract; returns -1 when it is
// valid, else the exit code after reporting.
int openImage(const QString &command, QFile &file, MiniFsImage &image)
{
    if (!file.open(QIODevice::ReadOnly))
        return fail(
                command, file.fileName() + QStringLiteral(": cannot open: ") + file.errorString());
    if (!image.read(&file))
        return fail(command,
                file.fileName() + QStringLiteral(": malformed image: ") + image.error(),
                exitMalformed);
    return -1;
}

int list(const QStringList &arguments)
{
    const QString command = QStringLiteral("list");
    QCommandLineParser parser;
    const int parsed = parse(parser, arguments, 1, listHelp);
    if (parsed >= 0)
        return parsed;
    QFile file(parser.positionalArguments().constFirst());
    MiniFsImage image;
    const int opened = openImage(command, file, image);
    if (opened >= 0)
        return opened;
    out() << "version: " << image.version() << '\n'
          << "created: "
          << QDateTime::fromSecsSinceEpoch(image.created(), Qt::UTC).toString(Qt::ISODate) << '\n'
          << "files: " << image.entries().size() << '\n';
    for (const MiniFsImage::Entry &entry : image.entries())
        out() << QString::fromUtf8(entry.name) << '\t' << entry.size << '\t' << entry.offset
              << '\n';
    return exitSuccess;
}

int extract(const QStringList &arguments)
{
    const QString command = QStringLiteral("extract");
    QCommandLineParser parser;
    const int parsed = parse(parser, arguments, 2, extractHelp);
    if (parsed >= 0)
        return parsed;
    QFile file(parser.positionalArguments().constFirst());
    MiniFsImage image;
    const int opened = openImage(command, file, image);
    if (opened >= 0)
        return opened;
    const QString folder = parser.positionalArguments().at(1);
    if (!QDir().mkpath(folder))
        return fail(command, folder + QStringLiteral(": the folder cannot be created"));
    int result = exitSuccess;
    const QVector<MiniFsImage::Entry> &entries = image.entries();
    for (int index = 0; index < entries.size(); ++index) {
        const MiniFsImage::Entry &entry = entries.at(index);
        const QString name = QString::fromUtf8(entry.name);
        const QString unsafe = MiniFsImage::unsafeNameReason(entry.name);
        if (!unsafe.isEmpty()) {
            result = fail(command,
                    QStringLiteral("%1: entry %2 \"%3\" refused: %4")
                            .arg(file.fileName())
                            .arg(index)
                            .arg(name, unsafe));
            continue;
        }
        QFile output(QDir(folder).filePath(name));
        // Unbuffered: each write reaches the system at once, so a failure
        // carries its reason (see MiniFsImage::writeAll); a buffered one would
        // fail later, in a flush that loses it.
        if (!output.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)) {
            result = fail(command,
                    output.fileName() + QStringLiteral(": cannot open: ") + output.errorString());
            continue;
        }
        if (!MiniFsImage::copyContent(&file, entry, &output)) {
            const QString reason = output.error() != QFileDevice::NoError ? output.errorString()
                                                                          : file.errorString();
            result = fail(command, output.fileName() + QStringLiteral(": cannot write: ") + reason);
        }
    }
    return result;
}

int dispatch(const QStringList &arguments)
{
    const QString command = arguments.value(0);
    // QCommandLineParser expects the program name first; the subcommand stands in.
    if (command == QLatin1String("build"))
        return build(arguments);
    if (command == QLatin1String("list"))
        return list(arguments);
    if (command == QLatin1String("extract"))
        return extract(arguments);
    if (command == QLatin1String("--help") || command == QLatin1String("-h")) {
        out() << usage;
        return exitSuccess;
    }
    err() << usage;
    return exitUsage;
}

} // namespace

int minifsCommand(const QStringList &arguments)
{
    const int code = dispatch(arguments);
    out().flush();
    err().flush();
    return code;
}
