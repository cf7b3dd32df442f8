#ifndef WINDOWCHECKS_H
#define WINDOWCHECKS_H

#include <QLatin1String>
#include <QWidget>

// A widget of the form by its object name; null when the form lacks it.
template <typename Widget> Widget *child(const QWidget &window, const char *name)
{
    return window.findChild<Widget *>(QLatin1String(name));
}

// The tool windows offer a close button and nothing else on their title bar.
inline bool hasOnlyCloseButton(const QWidget &window)
{
    const Qt::WindowFlags flags = window.windowFlags();
    return flags.testFlag(Qt::WindowCloseButtonHint)
            && !flags.testFlag(Qt::WindowMinimizeButtonHint)
            && !flags.testFlag(Qt::WindowMaximizeButtonHint);
}

#endif // WINDOWCHECKS_H
