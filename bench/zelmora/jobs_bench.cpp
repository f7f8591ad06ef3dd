// zelmora_jobs_bench [--conv PATH] [--files N] [--seconds S] [--rounds R] [--jobs 1,2] [--format INDEX]
// A batch of N generated clips of S seconds (mpeg4 video + stereo AAC at 44.1 kHz), converted
// through the real main window (offscreen) with each number of simultaneous conversions in turn,
// alternating, R rounds each: press Convert, wait for the batch's end. Prints one row per run
// (wall time, CPU time of the converters, load average before the run) and the medians with the
// speed-up over one job.
#include "shell/frmmain.h"
#include "skin/skin.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLineEdit>
#include <QComboBox>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <map>
#include <sys/resource.h>

using namespace zm;

namespace {

class Quiet final : public MessageBoxes, public DesktopShell, public SoundPlayer
{
public:
    void show(MsgIcon, const QString &, const QString &t) override { std::fprintf(stderr, "box: %s\n", qPrintable(t)); }
    bool ask(const QString &, const QString &) override { return false; }
    bool open(const QString &) override { return true; }
    void playSync(const QString &) override {}
};

double childrenCpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_CHILDREN, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

QString loadAverage()
{
    QFile f(QStringLiteral("/proc/loadavg"));
    return f.open(QIODevice::ReadOnly) ? QString::fromLatin1(f.readAll()).section(QLatin1Char(' '), 0, 0)
                                       : QStringLiteral("?");
}

double median(QList<double> v)
{
    std::sort(v.begin(), v.end());
    return v.isEmpty() ? 0 : v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

const char *jobsWord(int jobs)
{
    switch (jobs) {
    case 1:
        return "menuJobs1";
    case 2:
        return "menuJobs2";
    case 4:
        return "menuJobs4";
    default:
        return "menuJobsAll";
    }
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    SkinH_Attach(&app);
    QString conv = QStringLiteral(ZM_DEFAULT_CONV);
    int files = 16, seconds = 30, rounds = 3, format = 0;
    QList<int> jobList{1, 2};
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); ++i) {
        if (args[i] == QLatin1String("--conv"))
            conv = args[++i];
        else if (args[i] == QLatin1String("--files"))
            files = args[++i].toInt();
        else if (args[i] == QLatin1String("--seconds"))
            seconds = args[++i].toInt();
        else if (args[i] == QLatin1String("--rounds"))
            rounds = args[++i].toInt();
        else if (args[i] == QLatin1String("--format"))
            format = args[++i].toInt();
        else if (args[i] == QLatin1String("--jobs")) {
            jobList.clear();
            for (const QString &j : args[++i].split(QLatin1Char(',')))
                jobList << j.toInt();
        }
    }
    QTemporaryDir dir;
    const QString appDir = dir.path();
    qputenv("XDG_STATE_HOME", (appDir + QStringLiteral("/state")).toUtf8()); // the converter logs
    QDir().mkpath(appDir + QStringLiteral("/data"));
    if (!QFile::copy(conv, appDir + QStringLiteral("/data/conv"))) {
        std::fprintf(stderr, "no converter at %s\n", qPrintable(conv));
        return 1;
    }
    const QString first = appDir + QStringLiteral("/clip00.mp4");
    QProcess gen;
    gen.start(QStringLiteral("ffmpeg"),
              {"-v",        "error",
               "-f",        "lavfi",
               "-i",        QStringLiteral("testsrc=size=320x240:rate=25:duration=%1").arg(seconds),
               "-f",        "lavfi",
               "-i",        QStringLiteral("sine=frequency=440:sample_rate=44100:duration=%1").arg(seconds),
               "-ac",       "2",
               "-c:v",      "mpeg4",
               "-q:v",      "8",
               "-c:a",      "aac",
               "-b:a",      "128k",
               "-shortest", "-y",
               first});
    if (!gen.waitForFinished(300000) || gen.exitCode() != 0) {
        std::fprintf(stderr, "ffmpeg could not make the clips\n");
        return 1;
    }
    QStringList inputs{first};
    for (int i = 1; i < files; ++i) {
        const QString p = appDir + QStringLiteral("/clip%1.mp4").arg(i, 2, 10, QLatin1Char('0'));
        QFile::copy(first, p);
        inputs << p;
    }

    Quiet quiet;
    ProgramSettings settings;
    settings.gSoundReminder = 1;
    frmMain window(appDir, {&quiet, &quiet, &quiet, nullptr}, settings);
    window.runDialog = [](QDialog &) {};
    window.show();
    window.cmbOF()->setCurrentIndex(format);
    window.txtPath()->setText(appDir + QStringLiteral("/out"));

    std::printf("batch of %d clips of %d s to %s through the window, alternating, %d rounds, %d cores\n", files,
                seconds, qPrintable(formatItems().value(format)), rounds, QThread::idealThreadCount());
    std::printf("| round | jobs | wall s | converters' CPU s | load avg before |\n|---|---|---|---|---|\n");
    std::map<int, QList<double>> walls, cpus;
    int failed = 0;
    for (int r = 0; r < rounds; ++r) {
        for (int jobs : jobList) {
            window.txtAction()->setText(QString::fromLatin1(jobsWord(jobs)));
            window.queue().appendEntries(inputs);
            const QString load = loadAverage();
            const double cpu0 = childrenCpuSeconds();
            QEventLoop loop;
            QObject::connect(&window.batch(), &BatchDriver::batchFinished, &loop, &QEventLoop::quit);
            QElapsedTimer t;
            t.start();
            window.imgConvert_Click();
            loop.exec();
            const double wall = t.elapsed() / 1000.0;
            const double cpu = childrenCpuSeconds() - cpu0;
            failed += int(window.batch().lastOutcome().failed);
            walls[jobs] << wall;
            cpus[jobs] << cpu;
            std::printf("| %d | %d | %.2f | %.2f | %s |\n", r + 1, window.batch().jobs(), wall, cpu, qPrintable(load));
            std::fflush(stdout);
            QDir(appDir + QStringLiteral("/out")).removeRecursively();
        }
    }
    const double base = median(walls[jobList.first()]);
    std::printf("\n| jobs | median wall s | median CPU s | speed-up over %d job(s) |\n|---|---|---|---|\n",
                jobList.first());
    for (int jobs : jobList)
        std::printf("| %d | %.2f | %.2f | %.2fx |\n", jobs, median(walls[jobs]), median(cpus[jobs]),
                    base / median(walls[jobs]));
    if (failed)
        std::printf("%d conversions failed\n", failed);
    return failed ? 1 : 0;
}
