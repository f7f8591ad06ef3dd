#include "cvideoapp.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("video"));
    CvideoApp theApp;
    return theApp.Run();
}
