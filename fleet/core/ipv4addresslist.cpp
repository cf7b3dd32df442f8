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

} // namespace

bool Ipv4AddressList::parse(const QString &text, QVector<Entry> *entries, Error *error)
{
    QSet<quint32> known;
    for (const Entry &entry : qAsConst(*entries))
        known.insert(entry.address.toIPv4Address());
    const QStringList items = text.split(QLatin1Char(','));
    for (const QString &raw : items) {
        const QString item = raw.trimmed();
        const int dash = item.indexOf(QLatin1Char('-'));
        quint32 first = 0;
        quint32 last = 0;
        bool valid = false;
        if (dash < 0) {
            valid = parse_address(item, &first);
            last = first;
        } else {
            valid = parse_address(item.left(dash).trimmed(), &first)
                    && parse_range_end(item.mid(dash + 1).trimmed(), first, &last);
        }
        Error::Kind refusal = Error::Kind::None;
        if (!valid)
            refusal = Error::Kind::Malformed;
        else if (last < first)
            refusal = Error::Kind::Reversed;
        else if (quint64(last - first) + 1 + quint64(entries->size()) > quint64(max_addresses))
            refusal = Error::Kind::TooMany;
        if (refusal != Error::Kind::None) {
            *error = { refusal, item, max_addresses };
            return false;
        }
        for (quint64 address = first; address <= last; ++address) {
            if (!known.contains(quint32(address))) {
                known.insert(quint32(address));
                entries->append({ QHostAddress(quint32(address)), dash >= 0 });
            }
        }
    }
    return true;
}
