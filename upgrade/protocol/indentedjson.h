#ifndef INDENTEDJSON_H
#define INDENTEDJSON_H

#include <QByteArray>
#include <QJsonObject>

// The text form of every datagram sent to a device: "{", one member per line
// with four spaces of indent, keys in ascending order, "}" and a final line
// feed, UTF-8 without a byte-order mark. Devices parse exactly this layout, so
// it is produced by Qt's indented JSON writer and pinned by tests.
class IndentedJson
{
public:
    static QByteArray write(const QJsonObject &object);
};

#endif // INDENTEDJSON_H
