#ifndef FOLDERCHOOSER_H
#define FOLDERCHOOSER_H

#include <QString>

#include <functional>

class QWidget;

// The tool windows' folder choice, replaceable so tests drive it without a
// user: asks for a folder, given the parent window, the caption and the
// folder to start from; returns an empty text when the user cancels. GUI
// thread only.
using FolderChooser =
        std::function<QString(QWidget *parent, const QString &caption, const QString &start)>;

// The system's directory chooser, showing folders only.
QString choose_folder_in_dialog(QWidget *parent, const QString &caption, const QString &start);

#endif // FOLDERCHOOSER_H
