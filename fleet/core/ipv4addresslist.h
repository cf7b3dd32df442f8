#ifndef IPV4ADDRESSLIST_H
#define IPV4ADDRESSLIST_H

#include <QHostAddress>
#include <QString>
#include <QVector>

// IPv4 addresses as users type them: a comma-separated list of addresses and
// ranges, "192.168.1.20-60" (last part) or "192.168.1.20-192.168.2.7".
// Pure functions.
class Ipv4AddressList
{
public:
    // Most addresses one text may name, so a slip such as 10.0.0.0-10.255.0.0
    // cannot start a million probes.
    static constexpr int max_addresses = 4096;

    struct Entry
    {
        QHostAddress address;
        // Named by a range: a site's range usually has gaps, so an address
        // from one that never answers is not a missing device.
        bool from_range = false;
    };

    // Why a text was refused, for the caller to word in its own language.
    struct Error
    {
        enum class Kind {
            None,
            Malformed, // the item is no IPv4 address or range
            Reversed, // the range ends before it starts
            TooMany, // the item would make more than limit addresses in all
            Empty, // nothing between two commas, or after the last
        };
        Kind kind = Kind::None;
        // The offending item as written, without the spaces around it.
        QString item;
        int limit = 0;
        // Where item ends in the text, for putting the cursor there.
        int end = 0;
    };

    // Appends the addresses of text to entries, skipping any already there,
    // in the order written; spaces around items are ignored. On a malformed
    // item, a reversed range or too many addresses returns false with the
    // reason in error; entries then holds what came before.
    static bool parse(const QString &text, QVector<Entry> *entries, Error *error);
    // Every reason to refuse text, in the order written: each bad item, then
    // too many addresses in all; empty when parse() takes it.
    static QVector<Error> problems(const QString &text);
};

#endif // IPV4ADDRESSLIST_H
