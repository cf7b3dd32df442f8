#ifndef HEARDREPLIES_H
#define HEARDREPLIES_H

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QHostAddress>
#include <QVector>

// The discovery replies a socket heard before the fleet dialog existed, so
// that it opens with every device that answered, not only the window's ten
// rows: per sender the latest reply, with the time the sender first
// answered, in the order the senders first answered. Plain value; one thread.
class HeardReplies
{
public:
    // Most senders kept, so a flood of forged replies cannot grow it without
    // bound; as many as one address list may name.
    static constexpr int max_senders = 4096;

    struct Reply
    {
        // In its plain IPv4 form where it has one.
        QHostAddress sender;
        QByteArray datagram;
        QDateTime first_heard;
    };

    // Keeps datagram when it is a valid discovery reply and its sender is
    // known or there is room; returns whether it was kept.
    bool take(const QByteArray &datagram, const QHostAddress &sender, const QDateTime &when);
    const QVector<Reply> &replies() const { return kept; }
    void clear();

private:
    QVector<Reply> kept;
    // Index in kept of each sender.
    QHash<QHostAddress, int> position;
};

#endif // HEARDREPLIES_H
