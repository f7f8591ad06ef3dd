#include "desktopseams.h"
#include "frmmain.h"
#include "skin.h"

#include <QApplication>
#include <QDir>
#include <QIcon>
#include <QLockFile>
#include <QScreen>
#include <QStandardPaths>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Zelmora"));
    // The installed desktop entry: the desktop finds its name and icon for the window by it.
    QApplication::setDesktopFileName(QStringLiteral("net.zelmora.Zelmora"));

    // One instance per user: a second start ends at once, silently.
    QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (runtime.isEmpty())
        runtime = QDir::tempPath();
    QLockFile lock(runtime + QStringLiteral("/zelmora.lock"));
    lock.setStaleLockTime(0);
    if (!lock.tryLock(0))
        return 0;

    zm::SkinH_Attach(&app);
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/skin/icon.png")));
    zm::QtMessageBoxes boxes;
    zm::QtDesktopShell shell;
    zm::QtSoundPlayer sound;
    zm::QtFileDialogs files;
    zm::ProgramSettings settings;
    zm::frmMain window(QCoreApplication::applicationDirPath(), {&boxes, &shell, &sound, &files}, settings);
    boxes.setOwner(&window);
    QObject::connect(&window, &zm::frmMain::exitRequested, &app, &QCoreApplication::quit, Qt::QueuedConnection);
    zm::centreOnScreen(&window);
    window.show();
    const int rc = app.exec();
    zm::SkinH_Detach(&app);
    return rc;
}
