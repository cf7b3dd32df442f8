#include "fittedlabel.h"

#include <QFontMetrics>
#include <QStringList>
#include <QTextLayout>

FittedLabel::FittedLabel(QWidget *parent) : QLabel(parent)
{
    // Its text never asks for width; the height follows the lines it has.
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    setWordWrap(false);
}

void FittedLabel::set_full_text(const QString &text)
{
    whole = text;
    setToolTip(text);
    refit();
}

QString FittedLabel::fit(const QString &text, const QFont &font, int width, int lines)
{
    if (width <= 0 || lines < 1)
        return text;
    QTextLayout layout(text, font);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    QStringList fitted;
    int rest = 0;
    layout.beginLayout();
    while (fitted.size() < lines - 1) {
        QTextLine line = layout.createLine();
        if (!line.isValid())
            break;
        line.setLineWidth(width);
        fitted << text.mid(line.textStart(), line.textLength()).trimmed();
        rest = line.textStart() + line.textLength();
    }
    layout.endLayout();
    const QString last = text.mid(rest).trimmed();
    if (!last.isEmpty())
        fitted << QFontMetrics(font).elidedText(last, Qt::ElideRight, width);
    return fitted.join(QLatin1Char('\n'));
}

void FittedLabel::resizeEvent(QResizeEvent *event)
{
    QLabel::resizeEvent(event);
    refit();
}

void FittedLabel::refit()
{
    const QString fitted = fit(whole, font(), contentsRect().width(), max_lines);
    if (fitted != text())
        setText(fitted);
}
