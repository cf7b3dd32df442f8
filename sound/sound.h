#ifndef SOUND_H
#define SOUND_H

#include <QWidget>

// Tool window placeholder: top-level, emits ExitWin() on every close.
class sound : public QWidget
{
    Q_OBJECT

public:
    explicit sound(QWidget *parent = nullptr);

signals:
    void ExitWin();

protected:
    void closeEvent(QCloseEvent *event) override;
};

#endif // SOUND_H
