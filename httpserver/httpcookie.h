#ifndef QUENMAR_HTTPCOOKIE_H
#define QUENMAR_HTTPCOOKIE_H

// A plain value type; copies may be used on any thread.

#include <QByteArray>
#include <QList>

namespace quenmar {

// One cookie of the HTTP server: its name, value and "Set-Cookie" attributes. Renders itself as
// a "Set-Cookie" header value and can be built from one.
class HttpCookie
{
public:
    // An empty cookie: no name, version 1, max-age 0 (not sent), no flags.
    HttpCookie() = default;

    // Parses a "Set-Cookie" header value. Never fails: the first piece that is not one of the
    // attributes Comment, Domain, Max-Age, Path, Secure, HttpOnly, Version (case-sensitive) names
    // the cookie; later unknown pieces are logged and skipped; numbers that do not parse are 0.
    explicit HttpCookie(const QByteArray &source);

    void setName(const QByteArray &name) { this->name = name; }
    void setValue(const QByteArray &value) { this->value = value; }
    void setComment(const QByteArray &comment) { this->comment = comment; }
    void setDomain(const QByteArray &domain) { this->domain = domain; }
    // Seconds; 0 means the attribute is not sent, negative values are sent as they are.
    void setMaxAge(int maxAge) { this->maxAge = maxAge; }
    void setPath(const QByteArray &path) { this->path = path; }
    void setSecure(bool secure) { this->secure = secure; }
    void setHttpOnly(bool httpOnly) { this->httpOnly = httpOnly; }

    QByteArray getName() const { return name; }
    QByteArray getValue() const { return value; }
    QByteArray getComment() const { return comment; }
    QByteArray getDomain() const { return domain; }
    int getMaxAge() const { return maxAge; }
    QByteArray getPath() const { return path; }
    bool getSecure() const { return secure; }
    bool getHttpOnly() const { return httpOnly; }
    int getVersion() const { return version; }

    // The "Set-Cookie" header value, e.g. "id=42; Path=/; Version=1". Nothing is quoted.
    QByteArray toByteArray() const;

    // Splits a header value at ';' outside double quotes. Quote characters are dropped, pieces
    // are trimmed, empty pieces are left out (the result never holds an empty string).
    static QList<QByteArray> splitSemicolonList(const QByteArray &text);

private:
    QByteArray name;
    QByteArray value;
    QByteArray comment;
    QByteArray domain;
    int maxAge = 0;
    QByteArray path;
    bool secure = false;
    bool httpOnly = false;
    int version = 1;
};

} // namespace quenmar

#endif // QUENMAR_HTTPCOOKIE_H
