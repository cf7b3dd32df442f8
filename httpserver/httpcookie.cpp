#include "httpcookie.h"

#include "httplogging.h"

#include <QtDebug>

namespace quenmar {

HttpCookie::HttpCookie(const QByteArray &source)
{
    const QList<QByteArray> pieces = splitSemicolonList(source);
    for (const QByteArray &piece : pieces) {
        const int equals = piece.indexOf('=');
        QByteArray attributeName;
        QByteArray attributeValue;
        if (equals >= 0) {
            attributeName = piece.left(equals).trimmed();
            attributeValue = piece.mid(equals + 1).trimmed();
        } else {
            attributeName = piece.trimmed();
        }

        if (attributeName == "Comment") {
            comment = attributeValue;
        } else if (attributeName == "Domain") {
            domain = attributeValue;
        } else if (attributeName == "Max-Age") {
            maxAge = attributeValue.toInt();
        } else if (attributeName == "Path") {
            path = attributeValue;
        } else if (attributeName == "Secure") {
            secure = true;
        } else if (attributeName == "HttpOnly") {
            httpOnly = true;
        } else if (attributeName == "Version") {
            version = attributeValue.toInt();
        } else if (name.isEmpty()) {
            name = attributeName;
            value = attributeValue;
        } else {
            qCDebug(httpLog, "HttpCookie: Ignoring unknown %s=%s", attributeName.constData(),
                    attributeValue.constData());
        }
    }
}

QByteArray HttpCookie::toByteArray() const
{
    QByteArray buffer = name + '=' + value;
    if (!comment.isEmpty())
        buffer += "; Comment=" + comment;
    if (!domain.isEmpty())
        buffer += "; Domain=" + domain;
    if (maxAge != 0)
        buffer += "; Max-Age=" + QByteArray::number(maxAge);
    if (!path.isEmpty())
        buffer += "; Path=" + path;
    if (secure)
        buffer += "; Secure";
    if (httpOnly)
        buffer += "; HttpOnly";
    buffer += "; Version=" + QByteArray::number(version);
    return buffer;
}

QList<QByteArray> HttpCookie::splitSemicolonList(const QByteArray &text)
{
    QList<QByteArray> pieces;
    QByteArray piece;
    bool inQuotes = false;
    const auto finishPiece = [&pieces, &piece]() {
        const QByteArray trimmed = piece.trimmed();
        if (!trimmed.isEmpty())
            pieces.append(trimmed);
        piece.clear();
    };
    for (const char byte : text) {
        if (byte == '"')
            inQuotes = !inQuotes;
        else if (byte == ';' && !inQuotes)
            finishPiece();
        else
            piece.append(byte);
    }
    finishPiece();
    return pieces;
}

} // namespace quenmar
