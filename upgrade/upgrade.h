#ifndef UPGRADE_H
#define UPGRADE_H

#include <QWidget>

// Tool window placeholder: top-level, emits ExitWin() on every close.
class upgrade : public QWidget
{
    Q_OBJECT

public:
    explicit upgrade(QWidget *parent = nullptr);

    // HTTP port announced in upgrade commands; set at start-up.
    quint16 port = 0;

signals:
    void ExitWin();

protected:
    void closeEvent(QCloseEvent *event) override;
};

#endif // UPGRADE_H
