#ifndef DEBUGLINES_H
#define DEBUGLINES_H

#include <QLoggingCategory>

// Switches the program's debug lines (the categories "ondaspa.*", off by
// default) on while alive, for tests that check them.
class DebugLines
{
public:
    DebugLines() { QLoggingCategory::setFilterRules(QStringLiteral("ondaspa.*.debug=true")); }
    ~DebugLines() { QLoggingCategory::setFilterRules(QString()); }
    DebugLines(const DebugLines &) = delete;
    DebugLines &operator=(const DebugLines &) = delete;
};

#endif // DEBUGLINES_H
