#include "ipv4addresslist.h"

#include <QSet>
#include <QStringList>

namespace {

// Strict dotted quad: four decimal parts of 0 to 255. (QHostAddress would
// also take "10.1" or "0x0a.0.0.1".)
bool parse_address(const QString &text, quint32 *address)
{
    const QStringList parts = text.split(QLatin1Char('.'));
    if (parts.size() != 4)
        return false;
    quint32 value = 0;
    for (const QString &part : parts) {
        bool ok = false;
        const uint byte = part.toUInt(&ok);
        if (!ok || part.isEmpty() || part.size() > 3 || byte > 255 || !part.at(0).isDigit())
            return false;
        value = (value << 8) | byte;
    }
    *address = value;
    return true;
}

// The end of a range: a whole address, or a last part replacing the first's.
bool parse_range_end(const QString &text, quint32 first, quint32 *last)
{
    if (text.contains(QLatin1Char('.')))
        return parse_address(text, last);
    bool ok = false;
    const uint byte = text.toUInt(&ok);
    if (!ok || text.isEmpty() || text.size() > 3 || byte > 255 || !text.at(0).isDigit())
        return false;
    *last = (first & 0xffffff00u) | byte;
    return true;
}

// One item of the list, without the spaces around it, and where it ends.
struct Item
{
    QString text;
    int end = 0;
    bool is_range = false;
    quint32 first = 0;
    quint32 last = 0;
};

QVector<Item> split_items(const QString &text)
{
    QVector<Item> items;
    int start = 0;
    for (const QString &raw : text.split(QLatin1Char(','))) {
        Item item;
        item.text = raw.trimmed();
        const int leading = raw.indexOf(item.text);
        item.end = start + (item.text.isEmpty() ? 0 : leading + int(item.text.size()));
        items.append(item);
        start += int(raw.size()) + 1;
    }
    return items;
}

// Why item names no addresses, or Kind::None with its first and last set.
Ipv4AddressList::Error::Kind check_item(Item &item)
{
    using Kind = Ipv4AddressList::Error::Kind;
    if (item.text.isEmpty())
        return Kind::Empty;
    const int dash = item.text.indexOf(QLatin1Char('-'));
    item.is_range = dash >= 0;
    bool valid = false;
    if (dash < 0) {
        valid = parse_address(item.text, &item.first);
        item.last = item.first;
    } else {
        valid = parse_address(item.text.left(dash).trimmed(), &item.first)
                && parse_range_end(item.text.mid(dash + 1).trimmed(), item.first, &item.last);
    }
    if (!valid)
        return Kind::Malformed;
    return item.last < item.first ? Kind::Reversed : Kind::None;
}

} // namespace

bool Ipv4AddressList::parse(const QString &text, QVector<Entry> *entries, Error *error)
{
    QSet<quint32> known;
    for (const Entry &entry : qAsConst(*entries))
        known.insert(entry.address.toIPv4Address());
    QVector<Item> items = split_items(text);
    for (Item &item : items) {
        Error::Kind refusal = check_item(item);
        if (refusal == Error::Kind::None
                && quint64(item.last - item.first) + 1 + quint64(entries->size())
                        > quint64(max_addresses))
            refusal = Error::Kind::TooMany;
        if (refusal != Error::Kind::None) {
            *error = { refusal, item.text, max_addresses, item.end };
            return false;
        }
        for (quint64 address = item.first; address <= item.last; ++address) {
            if (!known.contains(quint32(address))) {
                known.insert(quint32(address));
                entries->append({ QHostAddress(quint32(address)), item.is_range });
            }
        }
    }
    return true;
}

QVector<Ipv4AddressList::Error> Ipv4AddressList::problems(const QString &text)
{
    QVector<Error> found;
    QVector<Item> items = split_items(text);
    for (Item &item : items) {
        const Error::Kind refusal = check_item(item);
        if (refusal != Error::Kind::None)
            found.append({ refusal, item.text, max_addresses, item.end });
    }
    if (found.isEmpty()) {
        QVector<Entry> entries;
        Error error;
        if (!parse(text, &entries, &error))
            found.append(error);
    }
    return found;
}
