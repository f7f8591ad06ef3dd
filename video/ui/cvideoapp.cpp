#include "ui/cvideoapp.h"

#include "core/statelocations.h"
#include "gui/screenfit.h"
#include "ui/cvideodlg.h"
#include "ui/videoskin.h"
#include "ui/videotranslations.h"

#include <QApplication>
#include <QLineEdit>
#include <QScreen>

namespace vidrune {

int CvideoApp::Run(const QStringList &files)
{
    // Qt's own buttons and file dialogs speak the dialog's language.
    VideoTranslations::Install(*qApp);
    // A copy in a folder we may write to (the build tree, a portable copy) keeps its files as
    // it always has; an installed one keeps them per user.
    const bool portable = StateLocations::IsPortable(QCoreApplication::applicationDirPath());
    // What earlier versions kept under the name "video" moves to the places named vidrune.
    StateLocations::MigrateOldPlaces(portable);
    const QString settingsFile = StateLocations::SettingsFile(portable);
    // Every window (the About dialog and the message boxes too) carries the program's icon.
    QApplication::setWindowIcon(VideoSkin::ProgramIcon());
    CvideoDlg::Options options;
    options.progressPlace =
        portable ? VideoBatch::ProgressPlace::BesideProgram : VideoBatch::ProgressPlace::OwnFile;
    // The output folder starts at the last one used, or the user's home folder.
    options.outputFolder = StateLocations::LoadOutputFolder(settingsFile);
    CvideoDlg dialog(options);
    dialog.AddFiles(files);
    // Centred on the screen, its title bar always on it.
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        dialog.move(batch::placeOn(screen->availableGeometry(), dialog.frameGeometry().size()));
    dialog.exec();
    StateLocations::SaveOutputFolder(settingsFile, dialog.OutputFolderBox()->text());
    return 0;
}

} // namespace vidrune
