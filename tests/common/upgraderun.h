#ifndef UPGRADERUN_H
#define UPGRADERUN_H

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QProcess>

// One run of `ondaspa-cli upgrade ... --json`: its exit status, its JSON
// events and its human lines.
struct CliRun
{
    int exit_code = -1;
    QList<QJsonObject> events;
    QString errors;

    // Runs program (ondaspa-cli) with "upgrade" and arguments, for at most limit_ms; a
    // run that did not end in time has exit_code -1.
    static CliRun of(const QString &program, const QStringList &arguments, int limit_ms)
    {
        QProcess process;
        process.start(program, QStringList{ QStringLiteral("upgrade") } + arguments);
        CliRun run;
        if (!process.waitForFinished(limit_ms) || process.exitStatus() != QProcess::NormalExit)
            return run;
        run.exit_code = process.exitCode();
        run.errors = QString::fromUtf8(process.readAllStandardError());
        for (const QByteArray &line : process.readAllStandardOutput().split('\n')) {
            if (!line.isEmpty())
                run.events << QJsonDocument::fromJson(line).object();
        }
        return run;
    }

    QList<QJsonObject> all(const QString &name) const
    {
        QList<QJsonObject> found;
        for (const QJsonObject &event : events) {
            if (event.value(QStringLiteral("event")).toString() == name)
                found << event;
        }
        return found;
    }
    QJsonObject summary() const { return all(QStringLiteral("summary")).value(0); }
    // The summary's device object of each serial number.
    QMap<QString, QJsonObject> devices() const
    {
        QMap<QString, QJsonObject> found;
        const QJsonArray devices = summary().value(QStringLiteral("devices")).toArray();
        for (const QJsonValue device : devices)
            found.insert(device[QStringLiteral("sn")].toString(), device.toObject());
        return found;
    }
};

#endif // UPGRADERUN_H
