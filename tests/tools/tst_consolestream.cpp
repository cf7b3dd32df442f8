#include "consolestream.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTextStream>
#include <QtTest>

#include <cstdio>

#ifdef Q_OS_WIN
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#endif

// The command line's streams: the same bytes on every system when redirected, Qt's messages
// in UTF-8, and wide text where the stream is a Windows console.
class tst_ConsoleStream : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void redirectedStreamGetsTheBytes();
    void messagesInUtf8();
    void consoleShowsChinese();

private:
    // The bytes written to the temporary file so far.
    QByteArray written() const;

    std::unique_ptr<QTemporaryDir> work;
    QString path;
};

namespace {

const QByteArray lines = QStringLiteral("开始合成文件：\n{\"event\":\"state\"}\n\n").toUtf8();

} // namespace

void tst_ConsoleStream::init()
{
    work.reset(new QTemporaryDir);
    QVERIFY(work->isValid());
    path = work->filePath(QStringLiteral("stream"));
}

QByteArray tst_ConsoleStream::written() const
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A file opened in text mode, as stdout is when a script redirects it.
void tst_ConsoleStream::redirectedStreamGetsTheBytes()
{
    FILE *file = std::fopen(QFile::encodeName(path).constData(), "w");
    QVERIFY(file);
    {
        ConsoleStream stream(file);
        QVERIFY(!stream.writesToConsole());
        QTextStream text(&stream);
        text.setCodec("UTF-8");
        const int firstLine = lines.indexOf('\n') + 1;
        text << QString::fromUtf8(lines.left(firstLine));
        text.flush();
        // Without a CR before each LF, also for bytes that come in pieces.
        QVERIFY(stream.writeText(lines.constData() + firstLine, 3));
        QVERIFY(stream.writeText(lines.constData() + firstLine + 3, lines.size() - firstLine - 3));
        QCOMPARE(written(), lines);
    }
    std::fclose(file);
}

void tst_ConsoleStream::messagesInUtf8()
{
    FILE *file = std::fopen(QFile::encodeName(path).constData(), "w");
    QVERIFY(file);
    {
        ConsoleStream stream(file);
        ConsoleStream::installMessageHandler(&stream);
        qSetMessagePattern(QStringLiteral("%{type}: %{message}"));
        qWarning("%s", QStringLiteral("未找到: 提示.img").toUtf8().constData());
        qInstallMessageHandler(nullptr);
        qSetMessagePattern(QString());
        QCOMPARE(written(), QStringLiteral("warning: 未找到: 提示.img\n").toUtf8());
    }
    std::fclose(file);
}

void tst_ConsoleStream::consoleShowsChinese()
{
#ifdef Q_OS_WIN
    const HANDLE console = ::CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE,
            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    CONSOLE_SCREEN_BUFFER_INFO before{};
    if (console == INVALID_HANDLE_VALUE || !::GetConsoleScreenBufferInfo(console, &before))
        QSKIP("no console here (wine gives one to programs on a terminal)");
    FILE *file = ::_fdopen(::_open_osfhandle(reinterpret_cast<intptr_t>(console), _O_WRONLY), "w");
    QVERIFY(file);
    ConsoleStream stream(file);
    QVERIFY(stream.writesToConsole());
    // Whatever the console's own code page, the characters arrive as text.
    const QByteArray text = QStringLiteral("\n中文 ok\n").toUtf8();
    // A character split between two writes still arrives whole.
    QVERIFY(stream.writeText(text.constData(), 3));
    QVERIFY(stream.writeText(text.constData() + 3, text.size() - 3));
    // The text ends the line before the cursor's.
    CONSOLE_SCREEN_BUFFER_INFO after{};
    QVERIFY(::GetConsoleScreenBufferInfo(console, &after));
    wchar_t shown[16] = {};
    DWORD read = 0;
    const COORD line{ 0, SHORT(after.dwCursorPosition.Y - 1) };
    QVERIFY(::ReadConsoleOutputCharacterW(console, shown, 16, line, &read));
    const QString back = QString::fromWCharArray(shown, int(read));
    QVERIFY2(back.contains(QChar(0x4e2d)) && back.contains(QChar(0x6587))
                    && back.contains(QLatin1String("ok")),
            qPrintable(back));
    std::fclose(file);
#else
    QSKIP("a Windows console only");
#endif
}

QTEST_GUILESS_MAIN(tst_ConsoleStream)
#include "tst_consolestream.moc"
