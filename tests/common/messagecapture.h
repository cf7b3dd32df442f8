#ifndef MESSAGECAPTURE_H
#define MESSAGECAPTURE_H

#include "debuglines.h"

#include <QList>
#include <QMutex>
#include <QMutexLocker>
#include <QPair>
#include <QStringList>
#include <QtGlobal>

#include <memory>

// Records the message log while alive, from every thread: each message with
// its type, in the order they came. The tests' one message handler.
class MessageCapture
{
public:
    enum class Mode {
        // The program's debug lines on, and nothing printed: for tests that
        // check what is logged, thousands of lines at times.
        Quiet,
        // Each message also passed on to the handler before, as it would be
        // printed; the debug lines stay as they were.
        PassOn,
    };

    explicit MessageCapture(Mode mode = Mode::Quiet) : mode(mode)
    {
        if (mode == Mode::Quiet)
            debugLines = std::make_unique<DebugLines>();
        outer = current;
        current = this;
        previous = qInstallMessageHandler(&MessageCapture::handle);
    }
    ~MessageCapture()
    {
        qInstallMessageHandler(previous);
        current = outer;
    }
    MessageCapture(const MessageCapture &) = delete;
    MessageCapture &operator=(const MessageCapture &) = delete;

    // The messages of that type.
    QStringList messages(QtMsgType type) const
    {
        QMutexLocker lock(&mutex);
        QStringList result;
        for (const auto &entry : entries) {
            if (entry.first == type)
                result.append(entry.second);
        }
        return result;
    }
    // Messages of that type starting with prefix.
    QStringList matching(QtMsgType type, const QString &prefix) const
    {
        QStringList result;
        for (const QString &message : messages(type)) {
            if (message.startsWith(prefix))
                result.append(message);
        }
        return result;
    }
    // Warnings and worse, in order.
    QStringList problems() const
    {
        QMutexLocker lock(&mutex);
        QStringList result;
        for (const auto &entry : entries) {
            if (entry.first != QtDebugMsg && entry.first != QtInfoMsg)
                result.append(entry.second);
        }
        return result;
    }
    void clear()
    {
        QMutexLocker lock(&mutex);
        entries.clear();
    }

private:
    static void handle(QtMsgType type, const QMessageLogContext &context, const QString &text)
    {
        current->take(type, context, text);
    }

    // A capture made while another lives passes its messages on to that one.
    void take(QtMsgType type, const QMessageLogContext &context, const QString &text)
    {
        {
            QMutexLocker lock(&mutex);
            entries.append({ type, text });
        }
        if (mode != Mode::PassOn)
            return;
        if (outer)
            outer->take(type, context, text);
        else if (previous)
            previous(type, context, text);
    }

    static inline MessageCapture *current = nullptr;
    const Mode mode;
    MessageCapture *outer = nullptr;
    QtMessageHandler previous = nullptr;
    std::unique_ptr<DebugLines> debugLines;
    mutable QMutex mutex;
    QList<QPair<QtMsgType, QString>> entries;
};

#endif // MESSAGECAPTURE_H
