#include "retrycommand.h"

#include <QRegularExpression>

namespace {

// The options that choose the devices, for which the retry names its own, and the report,
// which the retry must not write over.
const QSet<QString> notRepeated{ QStringLiteral("all"), QStringLiteral("sn"), QStringLiteral("ip"),
    QStringLiteral("report") };

QString quoted(const QString &argument)
{
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9_./,:=%@+-]+$"));
    if (plain.match(argument).hasMatch())
        return argument;
    QString inside = argument;
    inside.replace(QLatin1Char('\''), QStringLiteral("'\\''"));
    return QLatin1Char('\'') + inside + QLatin1Char('\'');
}

} // namespace

QString RetryCommand::line(
        const QStringList &arguments, const QSet<QString> &valued, const QStringList &addresses)
{
    if (addresses.isEmpty())
        return QString();
    QStringList kept{ QStringLiteral("ondaspa-cli"), QStringLiteral("upgrade") };
    // Where "--" ends the options, if anywhere.
    int end = -1;
    for (int at = 0; at < arguments.size(); ++at) {
        const QString &argument = arguments.at(at);
        // Long options take one dash or two; "--" ends them.
        static const QRegularExpression option(QStringLiteral("^--?([a-z-]+)(=.*)?$"));
        const QRegularExpressionMatch match = option.match(argument);
        if (argument == QLatin1String("--"))
            end = kept.size();
        if (end >= 0 || !match.hasMatch()) {
            kept << quoted(argument);
            continue;
        }
        const QString name = match.captured(1);
        const bool takesNext =
                valued.contains(name) && match.capturedStart(2) < 0 && at + 1 < arguments.size();
        if (!notRepeated.contains(name)) {
            kept << quoted(argument);
            if (takesNext)
                kept << quoted(arguments.at(at + 1));
        }
        if (takesNext)
            ++at;
    }
    const QStringList retry{ QStringLiteral("--ip"), addresses.join(QLatin1Char(',')) };
    if (end < 0)
        kept << retry;
    else
        kept = kept.mid(0, end) + retry + kept.mid(end);
    return kept.join(QLatin1Char(' '));
}
