// Renders every top-level window of the program to a PNG file named after
// the window's class, so the UI can be looked at without clicking through it;
// the fleet dialog in the middle of a made-up run.
// Usage: ondaspa-screenshot OUTPUT_FOLDER

#include "fleetdialogscene.h"
#include "qttranslation.h"
#include "widget.h"

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QStyleFactory>
#include <QTextStream>
#include <QTimer>

namespace {

// Time for the platform to map and lay out a window before it is grabbed.
constexpr int settleMilliseconds = 300;

void settle()
{
    QEventLoop loop;
    QTimer::singleShot(settleMilliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

bool save(QWidget *window, const QString &folder)
{
    window->show();
    settle();
    const QString name = QString::fromLatin1(window->metaObject()->className()).toLower();
    const QString file = QDir(folder).filePath(name + QStringLiteral(".png"));
    const bool saved = window->grab().save(file);
    QTextStream(saved ? stdout : stderr) << (saved ? "wrote " : "cannot write ") << file << '\n';
    window->hide();
    return saved;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QtTranslation::install(QCoreApplication::applicationDirPath());
    if (argc != 2) {
        QTextStream(stderr) << "usage: ondaspa-screenshot OUTPUT_FOLDER\n";
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    if (!QDir().mkpath(folder)) {
        QTextStream(stderr) << "cannot create " << folder << '\n';
        return 1;
    }

    Widget launcher;
    FleetDialogScene fleet;
    bool ok = true;
    const auto windows = QApplication::topLevelWidgets();
    for (QWidget *window : windows) {
        if (window->inherits("QMenu") || window->windowType() == Qt::Desktop)
            continue;
        ok = save(window, folder) && ok;
    }
    return ok ? 0 : 1;
}
