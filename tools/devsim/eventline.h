#ifndef EVENTLINE_H
#define EVENTLINE_H

class QString;

// Writes one event line on standard output and flushes it: tests and
// scripts read the lines while the simulator runs. Main thread only.
void print_event(const QString &line);

#endif // EVENTLINE_H
