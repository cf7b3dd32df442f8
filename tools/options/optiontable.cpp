#include "optiontable.h"

#include <QCommandLineParser>

namespace {

constexpr qint64 millisecondsPerSecond = 1000;

bool readWhole(const QString &text, const OptionTable::Range &range, qint64 *value)
{
    bool valid = false;
    const qint64 number = text.toLongLong(&valid);
    if (!valid || number < range.minimum || number > range.maximum
            || (range.aboveMinimum && number == range.minimum))
        return false;
    *value = number;
    return true;
}

bool readSeconds(const QString &text, const OptionTable::Range &range, qint64 *milliseconds)
{
    bool valid = false;
    const double seconds = text.toDouble(&valid);
    // Written so that NaN fails every comparison and is refused.
    const bool aboveFloor =
            range.aboveMinimum ? seconds > double(range.minimum) : seconds >= double(range.minimum);
    if (!valid || !aboveFloor || !(seconds <= double(range.maximum)))
        return false;
    const qint64 rounded = qRound64(seconds * double(millisecondsPerSecond));
    const qint64 floor = range.minimum * millisecondsPerSecond;
    *milliseconds = range.aboveMinimum ? qMax(rounded, floor + 1) : rounded;
    return true;
}

// The argument that named the option name, up to any "=value". Qt strips
// the dashes; a letter of a group such as "-xv" was typed as one dash.
QString asTyped(const QString &name, const QStringList &arguments)
{
    const QString endOfOptions = QStringLiteral("--");
    for (const QString &argument : arguments) {
        if (argument == endOfOptions)
            break;
        QString option = argument.section(QLatin1Char('='), 0, 0);
        if (option == endOfOptions + name || option == QLatin1Char('-') + name)
            return option;
    }
    return (name.size() == 1 ? QStringLiteral("-") : endOfOptions) + name;
}

} // namespace

std::optional<OptionTable::Refusal> OptionTable::read(
        const QCommandLineParser &parser, const QVector<Row> &rows)
{
    for (const Row &row : rows) {
        if (!parser.isSet(row.name))
            continue;
        const QString text = parser.value(row.name);
        qint64 value = 0;
        const bool valid = row.unit == Unit::Whole ? readWhole(text, row.range, &value)
                                                   : readSeconds(text, row.range, &value);
        if (!valid)
            return Refusal{ row.message, text };
        std::visit(
                [value](auto *target) { *target = std::remove_pointer_t<decltype(target)>(value); },
                row.target);
    }
    return std::nullopt;
}

QString OptionTable::parserError(const QCommandLineParser &parser, const QStringList &arguments)
{
    const QStringList unknown = parser.unknownOptionNames();
    if (!unknown.isEmpty())
        return QStringLiteral("unknown option '%1'").arg(asTyped(unknown.first(), arguments));
    QString text = parser.errorText();
    if (text.endsWith(QLatin1Char('.')))
        text.chop(1);
    return text.left(1).toLower() + text.mid(1);
}
