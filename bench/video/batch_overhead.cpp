// Per-file overhead of the video batch flow against running vv directly.
//
// The same inputs are converted three ways, one after another:
//   direct  - vv started and waited for, file after file (no dialog machinery);
//   runner  - one MirelFFmpeg per file, followed on the event loop;
//   batch   - the dialog's batch flow (VideoBatch) with its real one-second tick and the
//             one-second pause after starting each next file.
// The batch notices a finished converter only at its next tick (the one-second progress tick),
// so up to about one tick per file is expected.
// Responsiveness: a 5 ms heartbeat timer runs beside the batch flow and a stop in the middle of
// a file; the longest gap between two beats is the longest time the event loop stood still
// (target: under 100 ms).
//
// usage: batch_overhead [--vv PATH] [--files N] [--seconds S] [--rounds R]
#include "core/commandline.h"
#include "core/mirelffmpeg.h"
#include "logic/filelistmodel.h"
#include "logic/presets.h"
#include "logic/videobatch.h"
#include "logic/videoprompts.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace vidrune;

namespace {

// The dialog's own timing: the one-second tick and the one-second pause after each start.
VideoBatch::Config RealConfig(const QString &appFolder)
{
    VideoBatch::Config config;
    config.appFolder = appFolder;
    config.tickMs = 1000;
    config.pauseMs = 1000;
    return config;
}

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

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QString vv = QStringLiteral(ZM_DEFAULT_VV);
    int files = 3, seconds = 4, rounds = 3;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == "--vv")
            vv = args[i + 1];
        else if (args[i] == "--files")
            files = args[i + 1].toInt();
        else if (args[i] == "--seconds")
            seconds = args[i + 1].toInt();
        else if (args[i] == "--rounds")
            rounds = args[i + 1].toInt();
    }
    if (!QFile::exists(vv) || files < 1 || seconds < 1 || rounds < 1) {
        std::fprintf(stderr,
                     "usage: batch_overhead [--vv PATH] [--files N] [--seconds S] "
                     "[--rounds R]\n(vv not found at %s)\n",
                     qPrintable(vv));
        return 2;
    }
    QTemporaryDir tmp;
    const QString appFolder = tmp.filePath("app");
    QDir().mkpath(appFolder);
    QDir().mkpath(tmp.filePath("in"));
    QDir().mkpath(tmp.filePath("out"));
    QFile::copy(vv, appFolder + "/vv");
    QFile::setPermissions(appFolder + "/vv", QFile::ReadOwner | QFile::ExeOwner);
    QFile::copy(QFileInfo(vv).path() + "/h264.dat", appFolder + "/h264.dat");

    FileListModel list;
    for (int i = 0; i < files; ++i) {
        const QString input = tmp.filePath(QStringLiteral("in/clip%1.avi").arg(i));
        QProcess ff;
        ff.start("ffmpeg",
                 {"-v", "error", "-f", "lavfi", "-i",
                  QStringLiteral("testsrc2=size=640x480:rate=25:duration=%1").arg(seconds), "-f",
                  "lavfi", "-i", QStringLiteral("sine=duration=%1").arg(seconds), "-c:v", "mpeg4",
                  "-q:v", "3", "-c:a", "mp2", "-y", input});
        if (!ff.waitForFinished(300000) || ff.exitCode() != 0) {
            std::fprintf(stderr, "ffmpeg could not make the inputs\n");
            return 1;
        }
        list.InsertAt(list.Count(), input);
    }

    // NOLINTNEXTLINE(performance-no-automatic-move): each call hands out a copy of the folder
    VideoSettings settings([&] { return appFolder; });
    settings.Initialise();
    settings.Select(FormatList, 2); // mp4: mpeg4 512k 320x240 23.976 fps, AAC
    settings.RefreshOptions(false);
    auto commandLine = [&](int i) {
        return ConverterCommand::Build(list.Path(i), settings.Slots(),
                                       tmp.filePath(QStringLiteral("out/clip%1.mp4").arg(i)));
    };

    // The longest gap between two heartbeats while `work` runs the event loop.
    qint64 longestGap = 0;
    QElapsedTimer sinceBeat;
    QTimer beat;
    QObject::connect(&beat, &QTimer::timeout,
                     [&] { longestGap = std::max(longestGap, sinceBeat.restart()); });
    auto startProbe = [&] {
        sinceBeat.start();
        beat.start(5);
    };

    std::vector<double> direct, runner, batch;
    for (int round = 0; round < rounds; ++round) {
        QElapsedTimer clock;
        clock.start();
        for (int i = 0; i < files; ++i) {
            QStringList a = QProcess::splitCommand(commandLine(i));
            a.removeFirst();
            QProcess p;
            p.start(appFolder + "/vv", a);
            p.waitForFinished(-1);
        }
        direct.push_back(clock.elapsed() / 1000.0);

        clock.restart();
        for (int i = 0; i < files; ++i) {
            MirelFFmpeg r(commandLine(i).toStdString(), (appFolder + "/vv").toStdString());
            while (!r.IsFinished())
                QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        }
        runner.push_back(clock.elapsed() / 1000.0);

        SilentPrompts prompts;
        VideoBatch flow(list, settings, prompts, RealConfig(appFolder));
        clock.restart();
        startProbe();
        flow.Start(tmp.filePath("out"));
        while (flow.IsBusy())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        beat.stop();
        batch.push_back(clock.elapsed() / 1000.0);
        if (flow.Failures() != 0) {
            std::fprintf(stderr, "the batch reported %d failures\n", flow.Failures());
            return 1;
        }
    }
    const qint64 batchGap = longestGap;

    // A stop in the middle of the second file: how long until the batch is idle again, and
    // whether the event loop kept turning meanwhile.
    longestGap = 0;
    double stopSeconds = 0;
    {
        SilentPrompts prompts;
        VideoBatch flow(list, settings, prompts, RealConfig(appFolder));
        startProbe();
        flow.Start(tmp.filePath("out"));
        while (flow.IsBusy() && !(flow.CurrentIndex() == 1 && flow.CurrentPid() > 0))
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
        QElapsedTimer stopClock;
        stopClock.start();
        flow.Stop(false);
        while (flow.IsBusy())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
        stopSeconds = stopClock.elapsed() / 1000.0;
        beat.stop();
    }
    const qint64 stopGap = longestGap;

    const double d = Median(direct), r = Median(runner), b = Median(batch);
    std::printf("video batch overhead: %d files of %d s (640x480 mpeg4/mp2 avi -> mp4 preset), "
                "median of %d rounds\n",
                files, seconds, rounds);
    std::printf("  %-28s %8.2f s  (%.2f s per file)\n", "vv directly", d, d / files);
    std::printf("  %-28s %8.2f s  overhead %+.3f s per file\n", "MirelFFmpeg runner", r,
                (r - d) / files);
    std::printf("  %-28s %8.2f s  overhead %+.3f s per file (bound: one tick, ~1 s)\n",
                "batch flow (1 s tick)", b, (b - d) / files);
    std::printf("  ratio batch / direct: %.2f\n", d > 0 ? b / d : 0.0);
    std::printf("responsiveness (target: longest event-loop gap under 100 ms)\n");
    std::printf("  %-28s %8lld ms  %s\n", "longest gap, batch flow",
                static_cast<long long>(batchGap), batchGap < 100 ? "ok" : "OVER");
    std::printf("  %-28s %8lld ms  %s (stop took %.2f s)\n", "longest gap, stop mid-file",
                static_cast<long long>(stopGap), stopGap < 100 ? "ok" : "OVER", stopSeconds);
    return 0;
}
