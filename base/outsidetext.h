#ifndef OUTSIDETEXT_H
#define OUTSIDETEXT_H

#include <QByteArray>
#include <QString>

// Text that came from outside (device replies, request paths, file names) on
// its way to a terminal or a line-based reader: nothing in it may move the
// cursor, retitle the window or forge a line. Plain functions; any thread.
class OutsideText
{
public:
    // Control characters (C0, DEL, C1) as \xNN, the line and paragraph
    // separators U+2028 and U+2029 as \uNNNN; everything else unchanged.
    static QString escaped(const QString &text);
    // A file name as the system gave it, its bytes read as UTF-8; bytes that
    // are not UTF-8 as \xNN, then escaped() as above.
    static QString escaped_name(const QByteArray &name);
    // Compact JSON whose strings may hold U+2028, U+2029 and U+0085, which
    // JSON allows raw but some readers take for line ends: those as \uNNNN.
    static QByteArray json_line(const QByteArray &json);
};

#endif // OUTSIDETEXT_H
