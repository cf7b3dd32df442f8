#ifndef JSONEVENTS_H
#define JSONEVENTS_H

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QString>

// The JSON Lines events of an `ondaspa-cli upgrade --json` run, by name.
inline QList<QJsonObject> jsonEvents(const QByteArray &output, const QString &name)
{
    QList<QJsonObject> found;
    for (const QByteArray &line : output.split('\n')) {
        const QJsonObject event = QJsonDocument::fromJson(line).object();
        if (event.value(QStringLiteral("event")).toString() == name)
            found << event;
    }
    return found;
}

#endif // JSONEVENTS_H
