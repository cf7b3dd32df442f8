#ifndef OPTIONTABLE_H
#define OPTIONTABLE_H

#include <QString>
#include <QStringList>
#include <QVector>

#include <optional>
#include <type_traits>
#include <variant>

class QCommandLineParser;

// The numeric options of a command, read by a table: one row per option with
// its name, the range its value must lie in, where the value goes and what
// to say when it does not. Shared by the command-line tools; it knows nothing
// of what they do. Main thread; no output of its own.
class OptionTable
{
public:
    enum class Unit {
        Whole, // a whole number
        Seconds, // seconds, fractions allowed, stored in milliseconds
    };

    struct Range
    {
        qint64 minimum;
        qint64 maximum;
        // Refuses the minimum itself; seconds above it never round down to it.
        bool aboveMinimum = false;
    };

    // The range must fit the target; milliseconds go to an int.
    using Target = std::variant<int *, quint16 *, qint64 *>;

    struct Row
    {
        QString name; // the long name, without the dashes
        Unit unit;
        Range range;
        Target target; // written only when the option is given and in range
        QString message; // what the value must be
    };

    // A value outside its range: the row's message and the text given.
    struct Refusal
    {
        QString message;
        QString given;
    };

    // Reads, in the table's order, the value of each row's option that parser
    // holds into its target. Returns nothing when each lies in its range;
    // else the refusal of the first that does not, leaving the later rows'
    // targets as they were.
    static std::optional<Refusal> read(const QCommandLineParser &parser, const QVector<Row> &rows);

    // Qt's parser error as the tools word their messages: "Missing value
    // after '-o'." reads "missing value after '-o'". An unknown option is
    // named as typed in arguments (those the parser was given), "--bogus"
    // rather than Qt's "bogus", without a value given with "=".
    static QString parserError(const QCommandLineParser &parser, const QStringList &arguments);
};

#endif // OPTIONTABLE_H
