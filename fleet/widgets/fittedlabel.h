#ifndef FITTEDLABEL_H
#define FITTEDLABEL_H

#include <QLabel>

// A label for a line of any length that must not widen its window (a run's
// summary names every failed device): the text is broken into at most
// max_lines lines of the label's width, the last one elided, and the whole
// text is its tool tip. Takes the width its layout gives it. GUI thread.
class FittedLabel : public QLabel
{
    Q_OBJECT

public:
    static constexpr int max_lines = 3;

    explicit FittedLabel(QWidget *parent = nullptr);

    void set_full_text(const QString &text);
    const QString &full_text() const { return whole; }

    // text in at most lines lines no wider than width pixels in font,
    // broken where it would wrap; the last line ends with "…" when text goes
    // on. Lines are joined by '\n'.
    static QString fit(const QString &text, const QFont &font, int width, int lines);

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    void refit();

    QString whole;
};

#endif // FITTEDLABEL_H
