// Makes the README pictures of the video dialog: idle with a filled list, during a batch (the
// second of three files converting), the same batch stopped with the right-click menu open,
// and the open dialog.
//   video_screenshots <output folder> <folder holding vv and h264.dat>
#include "logic/filefilters.h"
#include "logic/videoprompts.h"
#include "ui/cvideodlg.h"
#include "ui/dg3.h"
#include "ui/videotranslations.h"

#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QMenu>
#include <QTableView>
#include <QProgressBar>
#include <functional>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QScreen>
#include <QTemporaryDir>
#include <QThread>

#include <cstdio>

using namespace vidrune;

namespace {

class SilentPrompts final : public VideoPrompts
{
public:
    void Message(const QString &, const QString &, bool) override {}
    bool AskOkCancel(const QString &, const QString &) override { return true; }
    bool AskYesNo(const QString &, const QString &) override { return true; }
    QStringList OpenFiles(const QString &, const QStringList &) override { return {}; }
    QString ChooseFolder(const QString &, const QString &) override { return {}; }
    void OpenPath(const QString &) override {}
};

// The window as the screen shows it (includes the web view's own rendering).
QPixmap Shot(QWidget &w)
{
    QScreen *screen = w.screen();
    const QPixmap full = screen->grabWindow(0);
    const QRect r(w.mapToGlobal(QPoint(0, 0)), w.size());
    return full.copy(r);
}

void Wait(const std::function<bool()> &done, int ms)
{
    QDeadlineTimer deadline(ms);
    while (!done() && !deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(10);
    }
}

bool MakeInput(const QString &path, int seconds)
{
    QProcess p;
    p.start("ffmpeg", {"-v", "error", "-f", "lavfi", "-i",
                       QString("testsrc2=size=640x480:rate=25:duration=%1").arg(seconds), "-f",
                       "lavfi", "-i", QString("sine=frequency=330:duration=%1").arg(seconds),
                       "-c:v", "mpeg4", "-q:v", "3", "-c:a", "mp2", "-y", path});
    return p.waitForFinished(120000) && p.exitCode() == 0;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    VideoTranslations::Install(app);
    if (argc < 3) {
        std::fprintf(stderr, "usage: video_screenshots <output folder> <vv folder>\n");
        return 2;
    }
    const QString outDir = QString::fromLocal8Bit(argv[1]);
    const QString vvDir = QString::fromLocal8Bit(argv[2]);
    QTemporaryDir tmp;
    const QString appFolder = tmp.filePath("app");
    QDir().mkpath(appFolder);
    QDir().mkpath(tmp.filePath("videos"));
    QFile::copy(vvDir + "/vv", appFolder + "/vv");
    QFile::setPermissions(appFolder + "/vv", QFile::ReadOwner | QFile::ExeOwner);
    QFile::copy(vvDir + "/h264.dat", appFolder + "/h264.dat");
    const QStringList names{"家庭聚会 2024.avi", "holiday-trip.avi", "会议记录.avi"};
    const QList<int> seconds{4, 40, 6};
    for (int i = 0; i < names.size(); ++i) {
        if (!MakeInput(tmp.filePath("videos/" + names[i]), seconds[i])) {
            std::fprintf(stderr, "ffmpeg failed\n");
            return 1;
        }
    }
    SilentPrompts prompts;
    CvideoDlg::Options o;
    o.appFolder = appFolder;
    o.outputFolder = tmp.filePath("converted");
    o.prompts = &prompts;
    o.logRoot = tmp.filePath("logs");
    o.notify = [](const QString &) {};
    QDir().mkpath(o.outputFolder);
    CvideoDlg dlg(o);
    for (int i = names.size() - 1; i >= 0; --i)
        dlg.FileList().InsertAt(0, tmp.filePath("videos/" + names[i]));
    QComboBox *format = dlg.SettingCombo(FormatList);
    format->setCurrentIndex(2);
    emit format->activated(2); // mp4
    dlg.OutputFolderBox()->setText("/home/user/视频/converted");
    dlg.move(40, 40);
    dlg.show();
    Wait([] { return false; }, 4000); // the page band loads its page
    Shot(dlg).save(outDir + "/video-idle.png");

    {
        Dg3 about(&dlg);
        about.move(200, 150);
        about.show();
        Wait([] { return false; }, 800);
        Shot(about).save(outDir + "/video-about.png");
    }

    o.outputFolder = tmp.filePath("converted");
    dlg.OutputFolderBox()->setText(o.outputFolder);
    dlg.OnConvert();
    // Past the pause between files (the bar stays full during it), a third of the way in.
    Wait([&] {
        const int bar = dlg.ProgressBar()->value();
        return dlg.Batch().CurrentIndex() == 1 && bar >= 350 && bar < 1000;
    }, 120000);
    dlg.OutputFolderBox()->setText("/home/user/视频/converted"); // disabled box, shown only
    Wait([] { return false; }, 300);
    Shot(dlg).save(outDir + "/video-batch.png");

    // The stop button, then the right-click menu on the stopped file.
    dlg.OnConvert();
    Wait([&] { return !dlg.Batch().IsBusy(); }, 20000);
    dlg.OutputFolderBox()->setText(o.outputFolder); // the menu opens only a folder that exists
    QTableView *view = dlg.FileListView();
    const QRect row = view->visualRect(dlg.FileList().index(1, 0));
    QMenu *menu = dlg.FileListMenu(1);
    menu->popup(view->viewport()->mapToGlobal(row.center() + QPoint(40, 4)));
    Wait([] { return false; }, 500);
    Shot(dlg).save(outDir + "/video-stopped.png");
    menu->close();
    delete menu;

    // The open dialog in Chinese with the catch-all video filter chosen.
    const QStringList filters = FileFilters::ToQtFilters(FileFilters::VideoEntries());
    QFileDialog open(&dlg, QStringLiteral("选择打开的文件"), tmp.filePath("videos"),
                     filters.join(QStringLiteral(";;")));
    open.setOption(QFileDialog::DontUseNativeDialog);
    open.setFileMode(QFileDialog::ExistingFiles);
    open.selectNameFilter(filters.at(filters.size() - 2));
    open.resize(640, 400);
    open.move(120, 100);
    open.show();
    Wait([] { return false; }, 800);
    Shot(open).save(outDir + "/video-open.png");
    open.close();
    dlg.close();
    return 0;
}
