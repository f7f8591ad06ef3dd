#include "cvideoapp.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    // The page band's web view shares OpenGL contexts; this must precede the application.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("video"));
    // The installed desktop entry: the desktop finds its name and icon for the window by it.
    QApplication::setDesktopFileName(QStringLiteral("net.zelmora.Vidrune"));
    CvideoApp theApp;
    return theApp.Run();
}
