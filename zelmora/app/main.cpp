#include "process/reaper.h"
#include "shell/desktopseams.h"
#include "shell/frmmain.h"
#include "launch/launcharguments.h"
#include "instance/singleinstance.h"
#include "gui/screenfit.h"
#include "skin/skin.h"
#include "settings/statelocations.h"

#include <QApplication>
#include <QDir>
#include <QIcon>
#include <cstdio>

namespace {

void print(FILE *stream, const QString &text)
{
    std::fputs(text.toLocal8Bit().constData(), stream);
}

// The desktop's leave for the window to come to the front, when it gave this start one.
QString activationToken()
{
    for (const char *name : {"XDG_ACTIVATION_TOKEN", "DESKTOP_STARTUP_ID"}) {
        QString token = qEnvironmentVariable(name);
        if (!token.isEmpty())
            return token;
    }
    return QString();
}

} // namespace

int main(int argc, char *argv[])
{
    // --help and --version need no display.
    {
        QStringList raw;
        for (int i = 0; i < argc; ++i)
            raw << QString::fromLocal8Bit(argv[i]);
        if (batch::answerInformation(zm::launchRules(),
                                     batch::LaunchArguments::parse(zm::launchRules(), raw, QDir::currentPath())))
            return 0;
    }
    // The window's designed size fits the screen: at a scale that would make it larger than the
    // screen (QT_SCALE_FACTOR=2 on a small one), the scale is lowered as far as it must be.
    const std::unique_ptr<QApplication> app = batch::makeFittedApplication(argc, argv, QSize(698, 496));
    QApplication::setApplicationName(QStringLiteral("Zelmora"));
    // The installed desktop entry: the desktop finds its name and icon for the window by it.
    QApplication::setDesktopFileName(QString::fromLatin1(zm::kDesktopId));

    // `zelmora FILE|FOLDER...`: what cannot be queued is said on stderr.
    const batch::LaunchArguments launch =
        batch::LaunchArguments::parse(zm::launchRules(), QCoreApplication::arguments(), QDir::currentPath());
    for (const QString &message : launch.messages)
        print(stderr, message + QLatin1Char('\n'));
    if (launch.action == batch::LaunchArguments::Action::Error) {
        print(stderr, zm::launchRules().usageText(launch.program));
        return 2;
    }

    // One instance per user: a later start hands its files to the window already running (or
    // only brings it to the front) and ends.
    const zm::LaunchRequest request{launch.paths, activationToken()};
    zm::SingleInstance instance;
    switch (instance.start(request)) {
    case zm::SingleInstance::Outcome::HandedOver:
        return 0;
    case zm::SingleInstance::Outcome::NoAnswer:
        print(stderr, launch.program + QStringLiteral(": the running Zelmora does not answer\n"));
        return 1;
    case zm::SingleInstance::Outcome::First:
        break;
    }
    if (!instance.listenError().isEmpty())
        print(stderr, launch.program + QStringLiteral(": later starts cannot hand files to this one: ")
                          + instance.listenError() + QLatin1Char('\n'));

    zm::SkinH_Attach(app.get());
    // Every window, its task bar entry and the notifications carry the program's icon.
    QApplication::setWindowIcon(zm::programIcon());
    zm::QtMessageBoxes boxes;
    zm::QtDesktopShell shell(&boxes);
    zm::QtSoundPlayer sound;
    zm::QtFileDialogs files;
    zm::ProgramSettings settings;
    zm::frmMain window(QCoreApplication::applicationDirPath(), {&boxes, &shell, &sound, &files}, settings);
    boxes.setOwner(&window);
    instance.onRequest = [&window](const zm::LaunchRequest &r) { return window.openFromLaunch(r); };
    QObject::connect(&window, &zm::frmMain::exitRequested, app.get(), &QCoreApplication::quit, Qt::QueuedConnection);
    // Closing: later starts find no window to hand files to and start one of their own.
    QObject::connect(app.get(), &QCoreApplication::aboutToQuit, &instance, &zm::SingleInstance::stopListening);
    zm::centreOnScreen(&window);
    window.show();
    // A batch the last run left unfinished is offered first; files given now join after it.
    window.offerUnfinishedBatch();
    if (!request.paths.isEmpty())
        window.openFromLaunch(request);
    const int rc = QApplication::exec();
    instance.stopListening();
    zm::SkinH_Detach(app.get());
    // A converter asked to stop on the way out is killed when its grace time is over, and
    // reaped; one left to finish its file finishes it.
    batch::Reaper::instance().finish();
    return rc;
}
