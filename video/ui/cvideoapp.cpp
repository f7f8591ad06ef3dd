#include "cvideoapp.h"

#include "cvideodlg.h"
#include "videotranslations.h"

#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QSettings>

int CvideoApp::Run()
{
    // Qt's own buttons and file dialogs speak the dialog's language.
    VideoTranslations::Install(*qApp);
    // The output folder starts at the last one used, or the user's home folder.
    QSettings settings(QStringLiteral("zelmora-suite"), QStringLiteral("video"));
    CvideoDlg::Options options;
    const QString last = settings.value(QStringLiteral("outputFolder")).toString();
    if (!last.isEmpty() && QDir(last).exists())
        options.outputFolder = last;
    CvideoDlg dialog(options);
    dialog.exec();
    settings.setValue(QStringLiteral("outputFolder"), dialog.OutputFolderBox()->text());
    return 0;
}
