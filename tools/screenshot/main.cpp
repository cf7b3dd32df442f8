// Renders every top-level window of the program to a PNG file named after
// the window's class, so the UI can be looked at without clicking through it;
// the fleet dialog in the middle of a made-up run, and once more stopped with
// nine failures (fleetdialog-stopped.png).
// Usage: ondaspa-screenshot OUTPUT_FOLDER

#include "fleetdialogscene.h"
#include "qttranslation.h"
#include "widget.h"

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QStandardPaths>
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

bool save(QWidget *window, const QString &folder, const QString &name)
{
    window->show();
    settle();
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
    // The made-up runs stay out of the user's run history.
    QStandardPaths::setTestModeEnabled(true);
    // Fusion gives the same pictures on every Linux desktop; on Windows the pictures show the
    // system's own style, as users see it.
    if (QGuiApplication::platformName() != QLatin1String("windows"))
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
    FleetDialogScene fleet(FleetDialogScene::Moment::MidRun);
    FleetDialogScene stopped(FleetDialogScene::Moment::Stopped);
    bool ok = save(&stopped.dialog(), folder, QStringLiteral("fleetdialog-stopped"));
    stopped.dialog().close();
    const auto windows = QApplication::topLevelWidgets();
    for (QWidget *window : windows) {
        if (window->inherits("QMenu") || window->windowType() == Qt::Desktop
                || window == &stopped.dialog())
            continue;
        const QString name = QString::fromLatin1(window->metaObject()->className()).toLower();
        ok = save(window, folder, name) && ok;
    }
    return ok ? 0 : 1;
}
