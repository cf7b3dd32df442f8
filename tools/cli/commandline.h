#ifndef COMMANDLINE_H
#define COMMANDLINE_H

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

class ConsoleStream;
class QCommandLineParser;
class QTextStream;

// What every ondaspa-cli command shares: the exit statuses, the UTF-8 output
// streams (with Qt's messages on stderr), one error style ("ondaspa-cli minifs build: reason" on stderr) and
// the options every command takes (-h/--help on stdout, --version). Main
// thread only.
namespace CommandLine {

constexpr int exitSuccess = 0;
constexpr int exitFailure = 1; // the operation failed; the reason is on stderr
// Nothing was done, as what was asked for is refused: an unknown command or
// option, a missing or extra argument, and likewise a malformed image, a file
// that fails the upgrade's pre-flight check or a port that cannot be bound.
constexpr int exitUsage = 2;

// "command" below is the command's words after the program's name, such as
// "minifs build"; empty for the program itself.

// stdout and stderr, as ConsoleStream writes them.
QTextStream &out();
QTextStream &err();
// The device under err(), which Qt's messages share.
ConsoleStream &errorDevice();

// Writes "ondaspa-cli COMMAND: message" to stderr; returns status.
int fail(const QString &command, const QString &message, int status = exitFailure);
// Writes "ondaspa-cli COMMAND: warning: message" to stderr.
void warn(const QString &command, const QString &message);
// A usage error: the message, then where the help is. Returns exitUsage.
int usageError(const QString &command, const QString &message);
// Writes the program's name and version to stdout; returns exitSuccess.
int showVersion();
// Why path cannot serve as a folder: "PATH: not a folder" when something
// else is there, "PATH: no such folder" when nothing is.
QString folderError(const QString &path);

struct Subcommand
{
    QString name;
    // Takes the arguments after the subcommand's name; returns the exit status.
    std::function<int(const QStringList &arguments)> run;
};

// Runs the subcommand that the first argument names, or answers -h/--help
// (help on stdout) and --version. A missing or unknown subcommand or an
// option here is a usage error.
int dispatch(const QString &command, const QStringList &arguments,
        const QList<Subcommand> &subcommands, const char *help);

// Parses the arguments after the command's name with parser, which holds the
// command's own options; adds -h/--help and --version. Returns -1 when the
// command is to go on, else the exit status: help or version printed, or an
// unknown option or a missing option value reported.
int parseOptions(QCommandLineParser &parser, const QString &command, const QStringList &arguments,
        const char *help);

// Checks that the positional arguments are exactly the ones named (such as
// IMAGE and DIR); -1 when they are, else the usage error's status.
int checkPositionals(
        const QCommandLineParser &parser, const QString &command, const QStringList &names);

// parseOptions, then checkPositionals: for a command whose positional
// arguments are all required.
int parse(QCommandLineParser &parser, const QString &command, const QStringList &arguments,
        const char *help, const QStringList &positionals);

} // namespace CommandLine

#endif // COMMANDLINE_H
