// zelmora_bench [--conv PATH] [--cli PATH] [--files N] [--rounds R]
// 1. Overhead: N one-second clips converted to MP3 with 1 and with 2 jobs, by the window's batch
//    driver and by zelmora-cli, against the same conv runs started directly (back to back, or two
//    at a time); prints the times and the overhead per file beyond conv's own. The window's
//    batch waits the described 100 ms of Timer1 before each file; its overhead is also given
//    without those waits.
//    The batch runs as in the window: status text and time left once a second, lengths of the
//    waiting files probed on a worker, a converter log per file.
// 2. Responsiveness: the longest gap between two heartbeats (5 ms timer) while the batch runs.
// 3. Queue scale: 100,000 paths appended one by one to the window's list, then Remove All;
//    time of each, memory per entry, and how often the list repainted during Remove All.
#include "engine/batchdriver.h"
#include "engine/dosoutputs.h"
#include "probe/durationprobe.h"
#include "shell/frmmain.h"
#include "skin/skin.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeView>
#include <algorithm>
#include <cstdio>
#include <list>

using namespace zm;

namespace {

class NoBoxes final : public MessageBoxes
{
public:
    void show(MsgIcon, const QString &, const QString &t) override { std::fprintf(stderr, "box: %s\n", qPrintable(t)); }
    bool ask(const QString &, const QString &) override { return false; }
};

long rssKiB()
{
    QFile f(QStringLiteral("/proc/self/statm"));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> parts = f.readAll().split(' ');
    return parts.value(1).toLong() * 4;
}

double median(QList<double> v)
{
    std::sort(v.begin(), v.end());
    return v.isEmpty() ? 0 : v[v.size() / 2];
}

// Runs the command lines `jobs` at a time, straight through QProcess, and returns the seconds.
double runDirect(const QList<QStringList> &commands, int jobs)
{
    QElapsedTimer t;
    t.start();
    std::list<QProcess> running;
    qsizetype next = 0;
    while (next < commands.size() || !running.empty()) {
        while (next < commands.size() && int(running.size()) < jobs) {
            QProcess &p = running.emplace_back();
            p.setProcessChannelMode(QProcess::MergedChannels);
            p.start(commands[next].first(), commands[next].mid(1));
            ++next;
        }
        running.front().waitForFinished(60000);
        running.front().readAll();
        running.pop_front();
    }
    return t.elapsed() / 1000.0;
}

class OneFolder final : public FileDialogBackend
{
public:
    QString folder;
    QStringList openFiles(QObject *, const QString &, const QString &, const QString &, QString *) override
    {
        return {};
    }
    QString chooseFolder(QObject *, const QString &) override { return folder; }
};

class PaintCounter final : public QObject
{
public:
    int paints = 0;
    bool eventFilter(QObject *, QEvent *e) override
    {
        if (e->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QString conv = QStringLiteral(ZM_DEFAULT_CONV);
    QString cli = QStringLiteral(ZM_DEFAULT_CLI);
    int files = 50, rounds = 3;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); ++i) {
        if (args[i] == QLatin1String("--conv"))
            conv = args[++i];
        else if (args[i] == QLatin1String("--cli"))
            cli = args[++i];
        else if (args[i] == QLatin1String("--files"))
            files = args[++i].toInt();
        else if (args[i] == QLatin1String("--rounds"))
            rounds = args[++i].toInt();
    }
    QTemporaryDir dir;
    const QString appDir = dir.path();
    qputenv("XDG_STATE_HOME", (appDir + QStringLiteral("/state")).toUtf8()); // the converter logs
    QDir().mkpath(appDir + QStringLiteral("/data"));
    if (!QFile::copy(conv, appDir + QStringLiteral("/data/conv"))) {
        std::fprintf(stderr, "no converter at %s\n", qPrintable(conv));
        return 1;
    }
    if (!QFile::copy(cli, appDir + QStringLiteral("/zelmora-cli"))) {
        std::fprintf(stderr, "no zelmora-cli at %s\n", qPrintable(cli));
        return 1;
    }
    QStringList inputs;
    for (int i = 0; i < files; ++i) {
        const QString in = appDir + QStringLiteral("/in%1.mp4").arg(i, 2, 10, QLatin1Char('0'));
        QProcess p;
        p.start(QStringLiteral("ffmpeg"),
                {"-v", "error", "-f", "lavfi", "-i", "sine=frequency=440:sample_rate=44100:duration=1", "-f", "lavfi",
                 "-i", "testsrc=size=160x120:rate=15:duration=1", "-c:a", "aac", "-c:v", "mpeg4", "-shortest", "-y",
                 in});
        p.waitForFinished(60000);
        inputs << in;
    }

    struct Row {
        QList<double> direct, window, cli;
    };
    Row rows[3];
    qint64 longestGap = 0;
    int statusTexts = 0;
    QString lastEstimate;
    for (int r = 0; r < rounds; ++r) {
        for (int jobs : {1, 2}) {
            Row &row = rows[jobs];
            // conv directly, with the same command lines, as many at a time as the jobs.
            QList<QStringList> commands;
            for (const QString &in : inputs) {
                CommandInputs ci;
                ci.appDir = appDir;
                ci.inputPath = in;
                ci.outputDir = appDir + QStringLiteral("/direct");
                ci.formatIndex = 0;
                QDir().mkpath(ci.outputDir);
                commands << BuildArguments(ci, outputPathFor(ci));
            }
            row.direct << runDirect(commands, jobs);

            // The window's batch driver.
            QueueModel queue;
            NoBoxes boxes;
            DOSOutputs dos(&boxes);
            ProgramSettings settings;
            BatchDriver driver(queue, dos, settings, appDir, {&boxes, nullptr, nullptr}, [&] {
                Selections s;
                s.formatIndex = 0;
                s.outputDir = appDir + QStringLiteral("/batch");
                return s;
            });
            driver.setJobs(jobs);
            DurationProbe probe;
            driver.setDurationSource(&probe);
            QObject::connect(&driver, &BatchDriver::statusChanged, [&](const QString &text) {
                ++statusTexts;
                if (text.contains(QLatin1String("left")))
                    lastEstimate = text;
            });
            queue.appendEntries(inputs);
            QElapsedTimer gap;
            QTimer beat;
            QObject::connect(&beat, &QTimer::timeout, [&] { longestGap = std::max(longestGap, gap.restart()); });
            QEventLoop loop;
            QObject::connect(&driver, &BatchDriver::batchFinished, &loop, &QEventLoop::quit);
            QElapsedTimer t;
            t.start();
            gap.start();
            beat.start(5);
            driver.imgStart_Click();
            loop.exec();
            beat.stop();
            row.window << t.elapsed() / 1000.0;
            if (!driver.failures().isEmpty())
                std::fprintf(stderr, "%lld files failed\n", (long long)driver.failures().size());

            // zelmora-cli, a copy of it beside the same converter.
            QProcess p;
            p.setProcessChannelMode(QProcess::MergedChannels);
            t.restart();
            p.start(appDir + QStringLiteral("/zelmora-cli"),
                    // every round converts: without --existing replace, a later round finds
                    // the earlier round's outputs up to date and converts nothing
                    QStringList{"-f", "mp3", "--existing", "replace", "-j", QString::number(jobs), "-o",
                                appDir + QStringLiteral("/cli")}
                        + inputs);
            p.waitForFinished(600000);
            row.cli << t.elapsed() / 1000.0;
            if (p.exitCode() != 0)
                std::fprintf(stderr, "zelmora-cli ended with %d: %s\n", p.exitCode(), p.readAll().constData());
        }
    }
    std::printf("overhead: %d files x 1 s to MP3, median of %d rounds; ms per file beyond conv's own time\n", files,
                rounds);
    std::printf("| jobs | conv directly | window | window overhead | without Timer1's 100 ms | zelmora-cli | cli "
                "overhead |\n|---|---|---|---|---|---|---|\n");
    for (int jobs : {1, 2}) {
        const double d = median(rows[jobs].direct), w = median(rows[jobs].window), c = median(rows[jobs].cli);
        const double windowMs = (w - d) * 1000.0 / files;
        // Timer1 runs once per file and, with two jobs, while the other job converts.
        std::printf("| %d | %.2f s | %.2f s | %.0f ms | %.0f ms | %.2f s | %.1f ms |\n", jobs, d, w, windowMs,
                    windowMs - 100.0 / jobs, c, (c - d) * 1000.0 / files);
    }
    std::printf("responsiveness: longest event-loop gap during the batches %lld ms\n", (long long)longestGap);
    std::printf("status: %d texts in %d rounds, last estimate \"%s\"\n", statusTexts, rounds, qPrintable(lastEstimate));

    // Queue scale through the window.
    ProgramSettings settings;
    NoBoxes boxes;
    frmMain window(appDir, {&boxes, nullptr, nullptr, nullptr}, settings);
    window.show();
    QApplication::processEvents();
    const int n = 100000;
    const long before = rssKiB();
    QElapsedTimer t;
    t.start();
    // Paths of 50 characters, made here so the memory figure includes the strings themselves.
    for (int i = 0; i < n; ++i)
        window.AddQueueEntry(
            QStringLiteral("/home/user/Videos/holiday/clip number %1.flv").arg(i, 6, 10, QLatin1Char('0')));
    window.applyHintRule();
    QApplication::processEvents();
    const double addS = t.elapsed() / 1000.0;
    const long after = rssKiB();
    PaintCounter counter;
    window.LV()->viewport()->installEventFilter(&counter);
    t.restart();
    window.menuRemoveAll_Click();
    QApplication::processEvents();
    const double removeS = t.elapsed() / 1000.0;
    std::printf("queue: append %d paths (50 characters) %.3f s, remove all %.3f s, %.0f bytes per entry, "
                "%d list repaints during remove all\n",
                n, addS, removeS, (after - before) * 1024.0 / n, counter.paints);

    // Folder search: 100,000 files in 1,000 folders (10 top folders of 99 subfolders each).
    const QString tree = appDir + QStringLiteral("/tree");
    int made = 0;
    for (int a = 0; a < 10; ++a) {
        for (int b = 0; b < 100; ++b) {
            const QString folder =
                b == 0 ? tree + QStringLiteral("/top%1").arg(a) : tree + QStringLiteral("/top%1/sub%2").arg(a).arg(b);
            QDir().mkpath(folder);
            for (int f = 0; f < 100; ++f, ++made) {
                QFile file(folder + QStringLiteral("/video %1.flv").arg(f));
                file.open(QIODevice::WriteOnly);
            }
        }
    }
    OneFolder chooser;
    chooser.folder = tree;
    ProgramSettings searchSettings;
    frmMain searchWindow(appDir, {&boxes, nullptr, nullptr, &chooser}, searchSettings);
    searchWindow.show();
    QApplication::processEvents();
    qint64 searchGap = 0;
    QElapsedTimer gap;
    QTimer beat;
    QObject::connect(&beat, &QTimer::timeout, [&] { searchGap = std::max(searchGap, gap.restart()); });
    gap.start();
    beat.start(5);
    t.restart();
    searchWindow.AddFolder();
    QApplication::processEvents();
    const double searchS = t.elapsed() / 1000.0;
    beat.stop();
    std::printf("folder search: %d files in 1000 folders queued in %.3f s (%d in the queue), longest event-loop gap "
                "%lld ms\n",
                made, searchS, searchWindow.queue().count(), (long long)searchGap);
    return 0;
}
