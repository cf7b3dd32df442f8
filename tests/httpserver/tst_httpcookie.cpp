#include "httpcookie.h"
#include "httptestsupport.h"

#include <QtTest>

using quenmar::HttpCookie;

class tst_HttpCookie : public QObject
{
    Q_OBJECT

private slots:
    void splitSemicolonList_data();
    void splitSemicolonList();
    void parse_data();
    void parse();
    void render_data();
    void render();
    void unknownAttributeIsLogged();
    void setters();
};

void tst_HttpCookie::splitSemicolonList_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QList<QByteArray>>("pieces");

    QTest::newRow("quoted-semicolon")
            << QByteArray("a; b;; \"c;d\"") << QList<QByteArray>{ "a", "b", "c;d" };
    QTest::newRow("empty") << QByteArray() << QList<QByteArray>{};
    QTest::newRow("only-separators") << QByteArray(" ; ;;  ; ") << QList<QByteArray>{};
    QTest::newRow("trimmed") << QByteArray("  x=1 ;\ty = 2 ")
                             << QList<QByteArray>{ "x=1", "y = 2" };
    QTest::newRow("quotes-dropped-inside-piece")
            << QByteArray("n=\"v w\"") << QList<QByteArray>{ "n=v w" };
    QTest::newRow("unclosed-quote") << QByteArray("a;\"b;c") << QList<QByteArray>{ "a", "b;c" };
    QTest::newRow("empty-quotes") << QByteArray("\"\";a") << QList<QByteArray>{ "a" };
}

void tst_HttpCookie::splitSemicolonList()
{
    QFETCH(QByteArray, text);
    QFETCH(QList<QByteArray>, pieces);
    QCOMPARE(HttpCookie::splitSemicolonList(text), pieces);
}

void tst_HttpCookie::parse_data()
{
    QTest::addColumn<QByteArray>("source");
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<int>("maxAge");
    QTest::addColumn<bool>("httpOnly");
    QTest::addColumn<bool>("secure");
    QTest::addColumn<int>("version");

    QTest::newRow("pair-path-httponly")
            << QByteArray("sid=abc; Path=/; HttpOnly") << QByteArray("sid") << QByteArray("abc")
            << QByteArray("/") << 0 << true << false << 1;
    QTest::newRow("attribute-before-pair")
            << QByteArray("Path=/; id=7") << QByteArray("id") << QByteArray("7") << QByteArray("/")
            << 0 << false << false << 1;
    QTest::newRow("max-age-not-a-number")
            << QByteArray("a=1; Max-Age=x") << QByteArray("a") << QByteArray("1") << QByteArray()
            << 0 << false << false << 1;
    QTest::newRow("max-age-and-version")
            << QByteArray("a=1; Max-Age=60; Version=0; Secure=no") << QByteArray("a")
            << QByteArray("1") << QByteArray() << 60 << false << true << 0;
    QTest::newRow("lower-case-attribute-is-unknown")
            << QByteArray("path=/x; secure") << QByteArray("path") << QByteArray("/x")
            << QByteArray() << 0 << false << false << 1;
    QTest::newRow("no-pair") << QByteArray("Path=/") << QByteArray() << QByteArray()
                             << QByteArray("/") << 0 << false << false << 1;
    QTest::newRow("bare-name") << QByteArray("flag") << QByteArray("flag") << QByteArray()
                               << QByteArray() << 0 << false << false << 1;
}

void tst_HttpCookie::parse()
{
    QFETCH(QByteArray, source);
    MessageCapture capture;
    const HttpCookie cookie(source);
    QTEST(cookie.getName(), "name");
    QTEST(cookie.getValue(), "value");
    QTEST(cookie.getPath(), "path");
    QTEST(cookie.getMaxAge(), "maxAge");
    QTEST(cookie.getHttpOnly(), "httpOnly");
    QTEST(cookie.getSecure(), "secure");
    QTEST(cookie.getVersion(), "version");
}

void tst_HttpCookie::render_data()
{
    QTest::addColumn<QByteArray>("source");
    QTest::addColumn<QByteArray>("rendered");

    QTest::newRow("round-trip") << QByteArray("sid=abc; Path=/; HttpOnly")
                                << QByteArray("sid=abc; Path=/; HttpOnly; Version=1");
    QTest::newRow("attribute-order")
            << QByteArray("HttpOnly; Secure; Path=/p; Max-Age=5; Domain=d; Comment=c; k=v")
            << QByteArray("k=v; Comment=c; Domain=d; Max-Age=5; Path=/p; Secure; HttpOnly; "
                          "Version=1");
    QTest::newRow("max-age-zero-not-sent")
            << QByteArray("a=1; Max-Age=x") << QByteArray("a=1; Version=1");
    QTest::newRow("empty-value-kept") << QByteArray("a") << QByteArray("a=; Version=1");
}

void tst_HttpCookie::render()
{
    QFETCH(QByteArray, source);
    QTEST(HttpCookie(source).toByteArray(), "rendered");
}

void tst_HttpCookie::unknownAttributeIsLogged()
{
    const DebugLines debugLines;
    QTest::ignoreMessage(QtDebugMsg, "HttpCookie: Ignoring unknown b=2");
    const HttpCookie cookie("a=1; b=2");
    QCOMPARE(cookie.getName(), QByteArray("a"));
    QCOMPARE(cookie.getValue(), QByteArray("1"));
}

void tst_HttpCookie::setters()
{
    HttpCookie built;
    QCOMPARE(built.toByteArray(), QByteArray("=; Version=1"));
    built.setName("id");
    built.setValue("42");
    built.setMaxAge(-1);
    QCOMPARE(built.toByteArray(), QByteArray("id=42; Max-Age=-1; Version=1"));
    built.setComment("c");
    built.setDomain("example.test");
    built.setPath("/");
    built.setSecure(true);
    built.setHttpOnly(true);
    QCOMPARE(built.toByteArray(),
            QByteArray("id=42; Comment=c; Domain=example.test; Max-Age=-1; Path=/; Secure; "
                       "HttpOnly; Version=1"));
}

QTEST_APPLESS_MAIN(tst_HttpCookie)
#include "tst_httpcookie.moc"
