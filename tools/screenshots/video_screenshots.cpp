// Makes the README pictures of the video dialog: idle with a filled list, during a batch (the
// second of three files converting), the same batch stopped with the right-click menu open,
// and the open dialog. The videos live in /tmp/vidrune-shots (made afresh, removed at the end)
// with fixed times, and the batch runs on video_shots_vv, which holds the second file at 39%,
// so every run gives the same pictures.
//   video_screenshots <output folder>
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
#include <QHeaderView>
#include <QTableView>
#include <QTreeView>
#include <QProgressBar>
#include <functional>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QScreen>
#include <QDateTime>
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

// A clip with a fixed modification time (the open dialog shows it).
bool MakeInput(const QString &path, int seconds, const QDateTime &modified)
{
    QProcess p;
    p.start("ffmpeg", {"-v",      "error",
                       "-f",      "lavfi",
                       "-i",      QString("testsrc2=size=640x480:rate=25:duration=%1").arg(seconds),
                       "-f",      "lavfi",
                       "-i",      QString("sine=frequency=330:duration=%1").arg(seconds),
                       "-c:v",    "mpeg4",
                       "-q:v",    "3",
                       "-c:a",    "mp2",
                       "-fflags", "+bitexact",
                       "-y",      path});
    if (!p.waitForFinished(120000) || p.exitCode() != 0)
        return false;
    QFile file(path);
    return file.open(QIODevice::ReadWrite)
           && file.setFileTime(modified, QFileDevice::FileModificationTime);
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    VideoTranslations::Install(app);
    if (argc < 2) {
        std::fprintf(stderr, "usage: video_screenshots <output folder>\n");
        return 2;
    }
    const QString outDir = QString::fromLocal8Bit(argv[1]);
    QDir root(QStringLiteral("/tmp/vidrune-shots"));
    root.removeRecursively();
    const QString videos = root.filePath(QStringLiteral("视频"));
    const QString converted = root.filePath(QStringLiteral("converted"));
    QDir().mkpath(videos);
    QDir().mkpath(converted);
    const QStringList names{"家庭聚会 2024.avi", "holiday-trip.avi", "会议记录.avi"};
    const QList<int> seconds{4, 40, 6};
    const QDateTime modified(QDate(2024, 5, 18), QTime(20, 30)); // local time, as shown
    for (int i = 0; i < names.size(); ++i) {
        if (!MakeInput(videos + '/' + names[i], seconds[i], modified.addSecs(qint64{60} * i))) {
            std::fprintf(stderr, "ffmpeg failed\n");
            return 1;
        }
    }
    // The converter holds the second file part-way until the stop button ends it.
    qputenv("VV_SHOTS_HOLD", names[1].toUtf8());
    SilentPrompts prompts;
    CvideoDlg::Options o;
    o.appFolder = root.filePath(QStringLiteral("app"));
    o.converter = QStringLiteral(SHOTS_VV_PATH);
    o.outputFolder = converted;
    o.prompts = &prompts;
    o.logRoot = root.filePath(QStringLiteral("logs"));
    o.instanceFolder = root.filePath(QStringLiteral("instance"));
    o.notify = [](const QString &) {};
    QDir().mkpath(o.appFolder);
    CvideoDlg dlg(o);
    for (qsizetype i = names.size() - 1; i >= 0; --i)
        dlg.FileList().InsertAt(0, videos + '/' + names[i]);
    QComboBox *format = dlg.SettingCombo(FormatList);
    format->setCurrentIndex(2);
    emit format->activated(2); // mp4
    dlg.OutputFolderBox()->setText(converted);
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

    dlg.OnConvert();
    // Past the pause between files (the bar stays full during it), where the converter holds.
    Wait([&] { return dlg.Batch().CurrentIndex() == 1 && dlg.ProgressBar()->value() == 390; },
         60000);
    Wait([] { return false; }, 300);
    Shot(dlg).save(outDir + "/video-batch.png");

    // The stop button, then the right-click menu on the stopped file.
    dlg.OnConvert();
    Wait([&] { return !dlg.Batch().IsBusy(); }, 20000);
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
    QFileDialog open(&dlg, QStringLiteral("选择打开的文件"), videos,
                     filters.join(QStringLiteral(";;")));
    open.setOption(QFileDialog::DontUseNativeDialog);
    // The computer and the videos' folder, not the home folder of whoever runs this.
    open.setSidebarUrls({QUrl(QStringLiteral("file:")), QUrl::fromLocalFile(videos)});
    open.setFileMode(QFileDialog::ExistingFiles);
    open.selectNameFilter(filters.at(filters.size() - 2));
    open.resize(640, 400);
    open.move(120, 100);
    open.show();
    // Sizes and times in full, the name column giving way.
    if (auto *files = open.findChild<QTreeView *>(QStringLiteral("treeView"))) {
        const QList<int> widths{190, 80, 80, 150};
        for (int column = 0; column < widths.size(); ++column)
            files->header()->resizeSection(column, widths[column]);
    }
    Wait([] { return false; }, 800);
    Shot(open).save(outDir + "/video-open.png");
    open.close();
    dlg.close();
    root.removeRecursively();
    return 0;
}
