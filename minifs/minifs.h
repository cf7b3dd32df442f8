#ifndef MINIFS_H
#define MINIFS_H

#include <QWidget>

// Tool window placeholder: top-level, emits ExitWin() on every close.
class minifs : public QWidget
{
    Q_OBJECT

public:
    explicit minifs(QWidget *parent = nullptr);

signals:
    void ExitWin();

protected:
    void closeEvent(QCloseEvent *event) override;
};

#endif // MINIFS_H
