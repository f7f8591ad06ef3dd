#include "core/statelocations.h"
#include "gui/screenfit.h"
#include "process/reaper.h"
#include "logic/launcharguments.h"
#include "ui/cvideoapp.h"
#include "ui/dialogunits.h"

#include <QApplication>
#include <QDir>

#include <cstdio>

using namespace vidrune;

int main(int argc, char *argv[])
{
    // --help and --version need no display.
    {
        QStringList raw;
        for (int i = 0; i < argc; ++i)
            raw << QString::fromLocal8Bit(argv[i]);
        if (batch::answerInformation(LaunchRules(), batch::LaunchArguments::parse(
                                                        LaunchRules(), raw, QDir::currentPath())))
            return 0;
    }
    // The page band's web view shares OpenGL contexts; this must precede the application.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    // The dialog's designed size (and a title bar) fits the screen: at a scale that would make
    // it larger than the screen (QT_SCALE_FACTOR=2 on a small one), the scale is lowered as far
    // as it must be.
    const std::unique_ptr<QApplication> app = batch::makeFittedApplication(
        argc, argv, QSize(DialogUnits::MainWidth, DialogUnits::MainHeight), QSize(8, 40));
    // On the desktop the program is vidrune (notifications, screen readers, the window class);
    // its file keeps the name video.
    QApplication::setApplicationName(QString::fromLatin1(StateLocations::DesktopName));
    // The installed desktop entry: the desktop finds its name and icon for the window by it.
    QApplication::setDesktopFileName(QString::fromLatin1(StateLocations::DesktopId));

    // `vidrune FILE...`: the files join the list; what cannot be added is said on stderr.
    const batch::LaunchArguments launch = batch::LaunchArguments::parse(
        LaunchRules(), QCoreApplication::arguments(), QDir::currentPath());
    for (const QString &message : launch.messages)
        std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
    if (launch.action == batch::LaunchArguments::Action::Error) {
        std::fputs(LaunchRules().usageText(launch.program).toLocal8Bit().constData(), stderr);
        return 2;
    }
    CvideoApp theApp;
    const int rc = theApp.Run(launch.paths);
    // A converter stopped as the dialog closed is killed when its grace time is over, and reaped.
    batch::Reaper::instance().finish();
    return rc;
}
