#include "outsidetext.h"

namespace {

bool is_control(uint code)
{
    return code < 0x20 || (code >= 0x7f && code <= 0x9f);
}

bool is_separator(uint code)
{
    return code == 0x2028 || code == 0x2029;
}

QString hex(uint code, int digits, const char *prefix)
{
    return QLatin1String(prefix) + QStringLiteral("%1").arg(code, digits, 16, QLatin1Char('0'));
}

// Bytes of the well-formed UTF-8 sequence at name[at] (no overlong form, no
// surrogate, nothing beyond U+10FFFF), or 0.
int utf8_length(const QByteArray &name, int at)
{
    const uint lead = uchar(name.at(at));
    if (lead < 0x80)
        return 1;
    const int length = lead >= 0xc2 && lead <= 0xdf ? 2
            : lead >= 0xe0 && lead <= 0xef          ? 3
            : lead >= 0xf0 && lead <= 0xf4          ? 4
                                                    : 0;
    if (length == 0 || at + length > name.size())
        return 0;
    uint code = lead & (0x7f >> length);
    for (int next = 1; next < length; ++next) {
        const uint byte = uchar(name.at(at + next));
        if ((byte & 0xc0) != 0x80)
            return 0;
        code = (code << 6) | (byte & 0x3f);
    }
    const uint smallest[] = { 0, 0, 0x80, 0x800, 0x10000 };
    if (code < smallest[length] || (code >= 0xd800 && code <= 0xdfff) || code > 0x10ffff)
        return 0;
    return length;
}

} // namespace

QString OutsideText::escaped(const QString &text)
{
    QString result;
    result.reserve(text.size());
    for (const QChar character : text) {
        const uint code = character.unicode();
        if (is_control(code))
            result += hex(code, 2, "\\x");
        else if (is_separator(code))
            result += hex(code, 4, "\\u");
        else
            result += character;
    }
    return result;
}

QString OutsideText::escaped_name(const QByteArray &name)
{
    QString text;
    int at = 0;
    while (at < name.size()) {
        const int length = utf8_length(name, at);
        if (length == 0) {
            text += hex(uchar(name.at(at)), 2, "\\x");
            ++at;
            continue;
        }
        text += escaped(QString::fromUtf8(name.constData() + at, length));
        at += length;
    }
    return text;
}

QByteArray OutsideText::json_line(const QByteArray &json)
{
    QByteArray result = json;
    result.replace("\xe2\x80\xa8", "\\u2028");
    result.replace("\xe2\x80\xa9", "\\u2029");
    result.replace("\xc2\x85", "\\u0085");
    return result;
}
