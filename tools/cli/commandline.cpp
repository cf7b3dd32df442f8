#include "commandline.h"

#include "consolestream.h"
#include "optiontable.h"

#include <QCommandLineParser>
#include <QFileInfo>
#include <QTextStream>

namespace CommandLine {

namespace {

const char program[] = "ondaspa-cli";

QString prefix(const QString &command)
{
    return command.isEmpty() ? QLatin1String(program)
                             : QLatin1String(program) + QLatin1Char(' ') + command;
}

bool isHelp(const QString &argument)
{
    return argument == QLatin1String("-h") || argument == QLatin1String("--help");
}

// "a, b or c"
QString alternatives(const QList<Subcommand> &subcommands)
{
    QStringList names;
    for (const Subcommand &subcommand : subcommands)
        names << subcommand.name;
    const QString last = names.takeLast();
    return names.isEmpty() ? last
                           : names.join(QStringLiteral(", ")) + QStringLiteral(" or ") + last;
}

} // namespace

ConsoleStream &errorDevice()
{
    // Never destroyed: Qt's messages may come until the process ends.
    static auto *device = new ConsoleStream(stderr);
    return *device;
}

QTextStream &out()
{
    static ConsoleStream device(stdout);
    static QTextStream stream(&device);
    stream.setCodec("UTF-8");
    return stream;
}

QTextStream &err()
{
    static QTextStream stream(&errorDevice());
    stream.setCodec("UTF-8");
    return stream;
}

int fail(const QString &command, const QString &message, int status)
{
    out().flush();
    err() << prefix(command) << ": " << message << '\n' << Qt::flush;
    return status;
}

void warn(const QString &command, const QString &message)
{
    fail(command, QStringLiteral("warning: ") + message);
}

int usageError(const QString &command, const QString &message)
{
    fail(command, message, exitUsage);
    err() << "Try '" << prefix(command) << " --help'.\n" << Qt::flush;
    return exitUsage;
}

int showVersion()
{
    out() << program << ' ' << ONDASPA_VERSION << '\n' << Qt::flush;
    return exitSuccess;
}

QString folderError(const QString &path)
{
    return path
            + (QFileInfo::exists(path) ? QStringLiteral(": not a folder")
                                       : QStringLiteral(": no such folder"));
}

int dispatch(const QString &command, const QStringList &arguments,
        const QList<Subcommand> &subcommands, const char *help)
{
    if (arguments.isEmpty())
        return usageError(command, QStringLiteral("missing command: ") + alternatives(subcommands));
    const QString &first = arguments.first();
    if (isHelp(first)) {
        out() << help << Qt::flush;
        return exitSuccess;
    }
    if (first == QLatin1String("--version"))
        return showVersion();
    for (const Subcommand &subcommand : subcommands) {
        if (first == subcommand.name)
            return subcommand.run(arguments.mid(1));
    }
    if (first.startsWith(QLatin1Char('-')))
        return usageError(command, QStringLiteral("unknown option '%1'").arg(first));
    return usageError(command, QStringLiteral("unknown command '%1'").arg(first));
}

int parseOptions(QCommandLineParser &parser, const QString &command, const QStringList &arguments,
        const char *help)
{
    const QCommandLineOption helpOption(QStringList{ QStringLiteral("h"), QStringLiteral("help") });
    const QCommandLineOption versionOption(QStringLiteral("version"));
    parser.addOption(helpOption);
    parser.addOption(versionOption);
    // The parser takes its first argument for the program's name.
    if (!parser.parse(QStringList{ prefix(command) } + arguments))
        return usageError(command, OptionTable::parserError(parser, arguments));
    if (parser.isSet(helpOption)) {
        out() << help << Qt::flush;
        return exitSuccess;
    }
    if (parser.isSet(versionOption))
        return showVersion();
    return -1;
}

int checkPositionals(
        const QCommandLineParser &parser, const QString &command, const QStringList &names)
{
    const QStringList given = parser.positionalArguments();
    if (given.size() < names.size())
        return usageError(command, QStringLiteral("missing ") + names.at(given.size()));
    if (given.size() > names.size())
        return usageError(
                command, QStringLiteral("unexpected argument '%1'").arg(given.at(names.size())));
    return -1;
}

int parse(QCommandLineParser &parser, const QString &command, const QStringList &arguments,
        const char *help, const QStringList &positionals)
{
    const int parsed = parseOptions(parser, command, arguments, help);
    return parsed >= 0 ? parsed : checkPositionals(parser, command, positionals);
}

} // namespace CommandLine
