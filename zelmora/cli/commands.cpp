#include "cli/commands.h"

#include "cli/clibatch.h"
#include "cli/convertoptions.h"
#include "cli/reporters.h"
#include "cli/stopsignals.h"
#include "probe/durationprobe.h"
#include "queue/filesearch.h"
#include "queue/naturalorder.h"
#include "suite/version.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QThread>
#include <QUrl>

namespace zm::cli {

const QList<Command> &commands()
{
    static const QList<Command> table{
        {"convert", "convert files and folders (what runs when no command is named)", &runConvert},
        {"plan", "write a job file: one line per file to convert", &runPlan},
        {"run", "run the jobs of a job file (all, --index N or --shard I/N)", &runJobs},
        {"status", "count the jobs of a job file done, to do and failed", &runStatus},
        {"albums", "write the album tags of a job file's jobs run with --replaygain album", &runAlbums},
    };
    return table;
}

int runCli(const QStringList &arguments, const Streams &streams)
{
    const QString first = arguments.value(0);
    QString program = first.mid(first.lastIndexOf(QLatin1Char('/')) + 1);
    if (program.isEmpty())
        program = QStringLiteral("zelmora-cli");
    const QStringList rest = arguments.mid(1);
    for (const Command &c : commands())
        if (!rest.isEmpty() && rest.first() == QLatin1String(c.name))
            return c.run(program, rest.mid(1), streams);
    return runConvert(program, rest, streams);
}

ExpandedInputs expandInputs(const QStringList &inputs)
{
    ExpandedInputs e;
    const QDir here = QDir::current();
    for (QString input : inputs) {
        if (input.startsWith(QLatin1String("file://"))) {
            const QUrl url(input);
            if (url.isLocalFile())
                input = url.toLocalFile();
        }
        const QString path = QDir::cleanPath(here.absoluteFilePath(input));
        const QFileInfo info(path);
        if (info.isDir()) {
            SearchFolder(path, e.files);
            while (e.folders.size() < e.files.size())
                e.folders << path;
        } else if (isRegularFile(path)) {
            e.files << path;
            e.folders << QString();
        } else if (!info.exists() && !info.isSymLink())
            e.refused.append({input, QStringLiteral("no such file or folder")});
        else
            e.refused.append({input, QStringLiteral("not a regular file or a folder")});
    }
    return e;
}

int runConvert(const QString &program, const QStringList &arguments, const Streams &streams)
{
    const QString appDir = QCoreApplication::applicationDirPath();
    const SavedChoices saved = readSavedChoices(appDir);
    const ConvertOptions options = parseConvertOptions(arguments, saved, QThread::idealThreadCount(), program);
    if (options.help) {
        print(streams.out, convertUsage(program));
        return kAllConverted;
    }
    if (options.version) {
        print(streams.out, QStringLiteral("zelmora-cli " ZM_PACKAGE_VERSION "\n"));
        return kAllConverted;
    }
    if (!options.errors.isEmpty()) {
        print(streams.err, options.errors.join(QLatin1Char('\n')) + QLatin1Char('\n'));
        print(streams.err, QStringLiteral("Try '%1 --help'.\n").arg(program));
        return kBadUsage;
    }
    for (const QString &note : options.notes)
        print(streams.err, note + QLatin1Char('\n'));

    const std::unique_ptr<Reporter> report = Reporter::make(options.json, streams.out, streams.err);
    report->settings(saved.readFrom);
    const ExpandedInputs inputs = expandInputs(options.inputs);
    for (const auto &[input, reason] : inputs.refused)
        report->refused(input, reason);

    QList<CliBatch::Source> sources;
    for (qsizetype i = 0; i < inputs.files.size(); ++i) {
        // Covers found in a folder are copied beside the music, not converted.
        if (options.copyCovers && !inputs.folders.at(i).isEmpty()
            && isCoverImage(QFileInfo(inputs.files.at(i)).fileName()))
            continue;
        CliBatch::Source s{inputs.files.at(i), {}, {}, {}};
        if (options.mirror)
            s.outputDir = mirroredFolder(options.selections.outputDir, inputs.folders.at(i), s.input);
        sources << s;
    }
    CliBatch::Library library;
    library.existing = options.existing;
    library.retries = options.retries;
    library.trashOriginals = options.trashOriginals;
    library.copyCovers = options.copyCovers;
    library.journalRoot = options.selections.outputDir;
    library.converterVersion = converterVersion(appDir);
    library.replayGain = options.replayGain;
    library.normalize = options.normalize;
    library.albumTagOf = probeAlbumTag;
    return runBatch(program, appDir, options, sources, library, *report, streams, inputs.refused.size());
}

int runBatch(const QString &program, const QString &appDir, const ConvertOptions &options,
             const QList<CliBatch::Source> &sources, const CliBatch::Library &library, Reporter &reporter,
             const Streams &streams, qsizetype refused)
{
    Reporter *report = &reporter;
    CliBatch batch(appDir, options.selections, options.settings, sources, options.jobs, library);
    QObject::connect(&batch, &CliBatch::fileStarted, [&](int i) { report->started(batch, i); });
    QObject::connect(&batch, &CliBatch::fileProgress, [&](int i) { report->progress(batch, i); });
    QObject::connect(&batch, &CliBatch::fileFinished, [&](int i) {
        report->finished(batch, i);
        if (!options.json)
            for (const QString &note : batch.files().at(i).notes)
                print(streams.err, program + QStringLiteral(": ") + note + QLatin1Char('\n'));
    });
    QObject::connect(&batch, &CliBatch::fileRetried, [&](int i) {
        const CliBatch::File &f = batch.files().at(i);
        print(streams.err, program + QStringLiteral(": %1 failed (%2); trying again\n").arg(f.input, f.reason));
    });
    // The first SIGINT or SIGTERM stops every converter (each removes what it had begun); a
    // second one does not wait for the grace time.
    StopSignals stops;
    QObject::connect(&stops, &StopSignals::received, [&](int, int count) {
        if (count == 1)
            print(streams.err, program + QStringLiteral(": stopping; the files being converted are left out\n"));
        batch.stop(count > 1);
    });
    QEventLoop loop;
    QObject::connect(&batch, &CliBatch::finished, &loop, &QEventLoop::quit);
    batch.start();
    if (batch.isRunning())
        loop.exec();

    if (!batch.startError().isEmpty())
        print(streams.err, program + QStringLiteral(": ") + batch.startError() + QLatin1Char('\n'));
    for (const QString &warning : batch.warnings())
        print(streams.err, program + QStringLiteral(": ") + warning + QLatin1Char('\n'));
    int code = kAllConverted;
    if (batch.wasStopped() || stops.count() > 0)
        code = kInterrupted;
    else if (batch.failed() > 0 || refused > 0 || batch.albumFailures() > 0)
        code = kSomeFailed;
    report->done(batch, int(refused), code);
    return code;
}

} // namespace zm::cli
