#ifndef COMMANDRUN_H
#define COMMANDRUN_H

#include <QProcess>
#include <QString>
#include <QStringList>

// One run of a command-line program: its exit status and what it printed.
struct CommandRun
{
    int exitCode = -1; // -1 when it did not end by itself in time
    QString out;
    QString err;

    // Runs command (the program, then its arguments) with environment
    // (empty: this process's own) and waits at most timeoutMs; the bound
    // only stops a hang.
    static CommandRun of(
            QStringList command, const QProcessEnvironment &environment = {}, int timeoutMs = 30000)
    {
        QProcess process;
        if (!environment.isEmpty())
            process.setProcessEnvironment(environment);
        process.start(command.takeFirst(), command);
        CommandRun run;
        if (!process.waitForFinished(timeoutMs) || process.exitStatus() != QProcess::NormalExit)
            return run;
        run.exitCode = process.exitCode();
        run.out = QString::fromUtf8(process.readAllStandardOutput());
        run.err = QString::fromUtf8(process.readAllStandardError());
        return run;
    }
};

#endif // COMMANDRUN_H
