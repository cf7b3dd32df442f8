#include "folderchooser.h"

#include <QFileDialog>

QString choose_folder_in_dialog(QWidget *parent, const QString &caption, const QString &start)
{
    return QFileDialog::getExistingDirectory(parent, caption, start, QFileDialog::ShowDirsOnly);
}
