#ifndef PROBETALLY_H
#define PROBETALLY_H

#include <QHostAddress>
#include <QList>
#include <QSet>
#include <QString>

// Who answered the fleet dialog's unicast probe ("按IP添加…"): the addresses
// probed, those that answered, and the log line that says so once the
// replies have had their time. Plain value; one thread.
class ProbeTally
{
public:
    // How long replies are waited for, in ms: devices answer within
    // milliseconds, a busy network or device may take a moment.
    static constexpr int answer_time_ms = 2000;
    // Silent addresses the line names; more are only counted.
    static constexpr int max_named = 8;

    // A new probe of addresses; forgets an earlier one.
    void start(const QList<QHostAddress> &addresses);
    // A discovery reply from sender (IPv4-mapped forms count as their IPv4
    // address); false when it was not probed or answered already.
    bool take(const QHostAddress &sender);
    bool is_open() const { return !probed.isEmpty(); }
    // "探测 N 个地址: A 个应答, S 个无应答 (…)", and the tally is closed.
    QString finish();

private:
    QList<QHostAddress> probed;
    QSet<quint32> wanted;
    QSet<quint32> answered;
};

#endif // PROBETALLY_H
