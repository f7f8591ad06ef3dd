// plan, run and status: job files for the schedulers people already run (GNU parallel, Slurm
// arrays, HTCondor, Kubernetes Indexed Jobs). Every job is idempotent: run reads the output
// folder's journal and skips an output that is up to date, so any job can run twice.
#include "cli/clibatch.h"
#include "cli/commands.h"
#include "cli/convertoptions.h"
#include "cli/jobfile.h"
#include "cli/reporters.h"
#include "cli/stopsignals.h"
#include "engine/albums.h"
#include "probe/durationprobe.h"
#include "queue/filesearch.h"
#include "queue/naturalorder.h"
#include "shared/outputnames.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QThread>

#include <memory>

namespace zm::cli {

namespace {

// The choices of a conversion as a job keeps them (no paths).
CommandInputs choicesOf(const ConvertOptions &o)
{
    CommandInputs c;
    c.formatIndex = o.selections.formatIndex;
    c.bitrate = o.selections.bitrate;
    c.sampleRate = o.selections.sampleRate;
    c.channelIndex = o.selections.channelIndex;
    c.cutterOn = cutterOn(o.settings);
    c.cutFrom = o.settings.gCutFrom;
    c.cutTo = o.settings.gCutTo;
    c.replayGain = o.replayGain;
    c.normalize = o.normalize;
    return c;
}

// The length the output should have: the input's, or the cut's part of it.
std::optional<double> expectedDuration(const QString &input, const CommandInputs &c)
{
    std::optional<double> length = probeMediaDuration(input);
    if (!c.cutterOn)
        return length;
    if (!length)
        return double(c.cutTo);
    return std::clamp(*length - double(c.cutFrom), 0.0, double(c.cutTo));
}

QString planUsage(const QString &program)
{
    return QStringLiteral("usage: %1 plan [OPTIONS] [--root DIR] FILE|FOLDER... > jobs.jsonl\n"
                          "Writes one job a line (JSON) for every file a conversion with the same options would\n"
                          "convert, in the same order, and converts nothing. Paths are kept relative to --root\n"
                          "(default: the current folder), so the file runs where the library is mounted\n"
                          "elsewhere (%1 run --root-map OLD=NEW).\n"
                          "\n"
                          "%2"
                          "      --root DIR           the folder job paths are relative to\n"
                          "  -h, --help               show this text\n"
                          "\n"
                          "Exit status: 0 the plan was written; 1 some inputs are missing (they are left out and\n"
                          "named); 2 bad usage.\n")
        .arg(program, choiceOptionsUsage());
}

QString runUsage(const QString &program)
{
    return QStringLiteral("usage: %1 run [OPTIONS] JOBS.jsonl\n"
                          "Runs the jobs of a job file made by '%1 plan': every job, one line, or a share.\n"
                          "An output that is up to date is skipped, so any job can run twice.\n"
                          "\n"
                          "      --index N            run line N only (0-based): $SLURM_ARRAY_TASK_ID,\n"
                          "                           $JOB_COMPLETION_INDEX, HTCondor's queue from, parallel's {#}\n"
                          "      --shard I/N          run every line whose number modulo N is I-1\n"
                          "      --root-map OLD=NEW   read paths planned below OLD below NEW (repeatable)\n"
                          "      --existing POLICY    update (default), replace, skip or number\n"
                          "      --retry N            try each failed job N more times\n"
                          "  -j, --jobs N             how many jobs convert at once (default: the number of cores)\n"
                          "      --json               one JSON object per line and event\n"
                          "  -h, --help               show this text\n"
                          "\n"
                          "Exit status: 0 done or up to date; 1 a job failed (run it again); 2 bad usage (a bad\n"
                          "job file, an index out of range); 3 an input is not there (a missing mount: never\n"
                          "taken as nothing to do); 130 interrupted.\n")
        .arg(program);
}

QString statusUsage(const QString &program)
{
    return QStringLiteral("usage: %1 status [--root-map OLD=NEW] [--json] JOBS.jsonl\n"
                          "Reads the outputs and this machine's journals and counts the jobs done, to do and\n"
                          "failed.\n"
                          "\n"
                          "Exit status: 0 every job is done; 1 some are to do or failed; 2 bad usage; 3 inputs\n"
                          "are missing.\n")
        .arg(program);
}

QString albumsUsage(const QString &program)
{
    return QStringLiteral("usage: %1 albums [--root-map OLD=NEW] [--json] JOBS.jsonl\n"
                          "Writes the album tags (ReplayGain 2.0, Opus: R128) of jobs planned with --replaygain\n"
                          "album, once they have run on any number of machines: each job left its track's\n"
                          "measurement beside this machine's journal of the output folder (share the state\n"
                          "folder, $XDG_STATE_HOME/zelmora, between the machines), and every output of an album\n"
                          "gets the album's gain from all of them together (tags only; a file is replaced whole\n"
                          "or not at all). Failed jobs are left out of their album; an album with a job not done\n"
                          "yet waits. The measurements of a tagged album are removed.\n"
                          "\n"
                          "Exit status: 0 every album is tagged; 1 an album waits for a job or a file could not\n"
                          "be tagged; 2 bad usage.\n")
        .arg(program);
}

// Album normalisation needs every track of an album measured before any of them is converted,
// which jobs run one by one on several machines cannot wait for.
QString albumNormaliseRefusal(const QString &program)
{
    return QStringLiteral("--replaygain album with --normalize does not go into a job file: each album's files "
                          "must all be measured before any is converted. Convert them on this machine with "
                          "'%1 --replaygain album --normalize LUFS ...', or plan with --replaygain track")
        .arg(program);
}

int usageError(const QString &program, const QString &command, const QString &text, const Streams &streams)
{
    print(streams.err, program + QStringLiteral(": ") + text + QLatin1Char('\n'));
    print(streams.err, QStringLiteral("Try '%1 %2 --help'.\n").arg(program, command));
    return kBadUsage;
}

// The options of run and status.
struct JobOptions {
    QString jobFile;
    Selection selection;
    bool selected = false;
    RootMap rootMap;
    std::optional<ExistingPolicy> existing;
    int retries = 0;
    int jobs = 1;
    bool json = false;
    bool help = false;
    QString error;
};

JobOptions parseJobOptions(const QStringList &args, bool run)
{
    JobOptions o;
    o.jobs = std::max(1, QThread::idealThreadCount());
    const auto valueOf = [&](qsizetype &i, const QString &name) -> std::optional<QString> {
        const QString &a = args.at(i);
        if (a.startsWith(name + QLatin1Char('=')))
            return a.mid(name.size() + 1);
        if (i + 1 < args.size())
            return args.at(++i);
        o.error = QStringLiteral("%1 needs a value").arg(name);
        return std::nullopt;
    };
    const auto is = [&](const QString &a, const char *name) {
        return a == QLatin1String(name) || a.startsWith(QLatin1String(name) + QLatin1Char('='));
    };
    for (qsizetype i = 0; i < args.size() && o.error.isEmpty(); ++i) {
        const QString &a = args.at(i);
        if (a == QLatin1String("-h") || a == QLatin1String("--help")) {
            o.help = true;
        } else if (a == QLatin1String("--json")) {
            o.json = true;
        } else if (is(a, "--root-map")) {
            if (const auto v = valueOf(i, QStringLiteral("--root-map"))) {
                if (const auto m = parseRootMap(*v))
                    o.rootMap << *m;
                else
                    o.error = QStringLiteral("--root-map '%1' is not OLD=NEW").arg(*v);
            }
        } else if (run && is(a, "--index")) {
            if (const auto v = valueOf(i, QStringLiteral("--index"))) {
                bool ok = false;
                const int n = v->toInt(&ok);
                if (!ok || n < 0 || o.selected)
                    o.error = o.selected ? QStringLiteral("--index and --shard go alone")
                                         : QStringLiteral("--index '%1' is not a line number (from 0)").arg(*v);
                o.selection.index = n;
                o.selected = true;
            }
        } else if (run && is(a, "--shard")) {
            if (const auto v = valueOf(i, QStringLiteral("--shard"))) {
                const auto s = parseShard(*v);
                if (!s || o.selected)
                    o.error = o.selected ? QStringLiteral("--index and --shard go alone")
                                         : QStringLiteral("--shard '%1' is not I/N with 1 <= I <= N").arg(*v);
                else
                    o.selection = *s;
                o.selected = true;
            }
        } else if (run && is(a, "--existing")) {
            if (const auto v = valueOf(i, QStringLiteral("--existing"))) {
                o.existing = existingPolicyFromName(*v);
                if (!o.existing)
                    o.error = QStringLiteral("--existing '%1' is not replace, skip, number or update").arg(*v);
            }
        } else if (run && is(a, "--retry")) {
            if (const auto v = valueOf(i, QStringLiteral("--retry"))) {
                bool ok = false;
                o.retries = v->toInt(&ok);
                if (!ok || o.retries < 0 || o.retries > 100)
                    o.error = QStringLiteral("--retry '%1' is not a number of 0 to 100").arg(*v);
            }
        } else if (run && (is(a, "--jobs") || a == QLatin1String("-j"))) {
            if (const auto v = valueOf(i, a == QLatin1String("-j") ? QStringLiteral("-j") : QStringLiteral("--jobs"))) {
                bool ok = false;
                o.jobs = v->toInt(&ok);
                if (!ok || o.jobs < 1 || o.jobs > 256)
                    o.error = QStringLiteral("--jobs '%1' is not a number of 1 to 256").arg(*v);
            }
        } else if (a.startsWith(QLatin1Char('-')) && a.size() > 1) {
            o.error = QStringLiteral("unknown option %1").arg(a.section(QLatin1Char('='), 0, 0));
        } else if (!o.jobFile.isEmpty()) {
            o.error = QStringLiteral("one job file only");
        } else {
            o.jobFile = a;
        }
    }
    if (o.error.isEmpty() && !o.help && o.jobFile.isEmpty())
        o.error = QStringLiteral("no job file");
    return o;
}

} // namespace

int runPlan(const QString &program, const QStringList &arguments, const Streams &streams)
{
    const QString appDir = QCoreApplication::applicationDirPath();
    const SavedChoices saved = readSavedChoices(appDir);
    ConvertOptions options = parseConvertOptions(arguments, saved, 1, program, true);
    if (options.help) {
        print(streams.out, planUsage(program));
        return kAllConverted;
    }
    if (!options.errors.isEmpty()) {
        print(streams.err, options.errors.join(QLatin1Char('\n')) + QLatin1Char('\n'));
        print(streams.err, QStringLiteral("Try '%1 plan --help'.\n").arg(program));
        return kBadUsage;
    }
    if (options.replayGain == ReplayGain::Album && options.normalize)
        return usageError(program, QStringLiteral("plan"), albumNormaliseRefusal(program), streams);
    for (const QString &note : options.notes)
        print(streams.err, note + QLatin1Char('\n'));
    settingsNote(streams.err, saved.readFrom);
    const QString root = options.root.isEmpty() ? QDir::cleanPath(QDir::currentPath()) : options.root;
    const CommandInputs choices = choicesOf(options);
    const QString hash = settingsHash(choices);
    const QString outputRoot = options.selections.outputDir;

    const ExpandedInputs inputs = expandInputs(options.inputs);
    for (const auto &[input, reason] : inputs.refused)
        print(streams.err, QStringLiteral("%1: %2: %3\n").arg(program, input, reason));
    batch::OutputNames names;
    int index = 0;
    for (qsizetype i = 0; i < inputs.files.size(); ++i) {
        const QString &input = inputs.files.at(i);
        if (options.copyCovers && !inputs.folders.at(i).isEmpty() && isCoverImage(QFileInfo(input).fileName()))
            continue;
        CommandInputs in = choices;
        in.inputPath = input;
        in.outputDir = options.mirror ? mirroredFolder(outputRoot, inputs.folders.at(i), input) : outputRoot;
        const QString output = names.take(outputPathFor(in));
        Job job;
        job.index = index++;
        job.root = root;
        job.input = relativeIfBelow(root, input);
        job.outputRoot = relativeIfBelow(root, outputRoot);
        job.output = relativeIfBelow(outputRoot, output);
        job.choices = choices;
        job.settingsHash = hash;
        job.duration = expectedDuration(input, choices);
        const FileStamp stamp = FileStamp::of(input);
        job.size = stamp.size;
        job.mtimeMs = stamp.mtimeMs;
        print(streams.out, QString::fromUtf8(jobLine(job)) + QLatin1Char('\n'));
    }
    return inputs.refused.isEmpty() ? kAllConverted : kSomeFailed;
}

int runJobs(const QString &program, const QStringList &arguments, const Streams &streams)
{
    const JobOptions o = parseJobOptions(arguments, true);
    if (o.help) {
        print(streams.out, runUsage(program));
        return kAllConverted;
    }
    if (!o.error.isEmpty())
        return usageError(program, QStringLiteral("run"), o.error, streams);
    QString error;
    const auto jobs = readJobFile(o.jobFile, &error);
    if (!jobs)
        return usageError(program, QStringLiteral("run"), error, streams);
    const QList<int> picked = selectJobs(int(jobs->size()), o.selection);
    for (const Job &job : *jobs)
        if (job.choices.replayGain == ReplayGain::Album && job.choices.normalize)
            return usageError(program, QStringLiteral("run"), albumNormaliseRefusal(program), streams);
    if (o.selection.index && picked.isEmpty())
        return usageError(program, QStringLiteral("run"),
                          QStringLiteral("no job %1: %2 holds %3 jobs (0 to %4)")
                              .arg(*o.selection.index)
                              .arg(o.jobFile)
                              .arg(jobs->size())
                              .arg(jobs->size() - 1),
                          streams);

    const QString appDir = QCoreApplication::applicationDirPath();
    QList<CliBatch::Source> sources;
    QStringList missing;
    QString outputRoot;
    for (int i : picked) {
        const Job &job = jobs->at(i);
        const JobPaths p = resolve(job, o.rootMap);
        // A missing input is never "nothing to do": its mount may be missing.
        if (!QFileInfo(p.input).isFile()) {
            missing << QStringLiteral("job %1: the input is not there: %2").arg(i).arg(p.input);
            continue;
        }
        if (outputRoot.isEmpty())
            outputRoot = p.outputRoot;
        CliBatch::Source s;
        s.input = p.input;
        s.outputDir = QFileInfo(p.output).path();
        s.wanted = p.output;
        s.choices = job.choices;
        sources << s;
    }
    for (const QString &m : missing)
        print(streams.err, program + QStringLiteral(": ") + m + QLatin1Char('\n'));

    ConvertOptions options;
    options.jobs = o.jobs;
    options.json = o.json;
    options.selections.outputDir = outputRoot;
    CliBatch::Library library;
    library.existing = o.existing.value_or(ExistingPolicy::Update);
    library.retries = o.retries;
    library.journalRoot = outputRoot;
    library.converterVersion = converterVersion(appDir);
    // Album gain: the jobs of an album may run on several machines, so each leaves its
    // measurement beside the journal and `albums` tags the albums once every job is done.
    library.tagAlbums = false;
    const std::unique_ptr<Reporter> report = Reporter::make(o.json, streams.out, streams.err);
    int code = kAllConverted;
    if (!sources.isEmpty())
        code = runBatch(program, appDir, options, sources, library, *report, streams, 0);
    if (std::any_of(sources.cbegin(), sources.cend(),
                    [](const CliBatch::Source &s) { return s.choices && s.choices->replayGain == ReplayGain::Album; })
        && !o.json)
        print(streams.err,
              QStringLiteral("%1: album tags: run '%1 albums %2' once every job is done\n").arg(program, o.jobFile));
    if (code == kInterrupted)
        return code;
    return missing.isEmpty() ? code : kInputMissing;
}

int runStatus(const QString &program, const QStringList &arguments, const Streams &streams)
{
    const JobOptions o = parseJobOptions(arguments, false);
    if (o.help) {
        print(streams.out, statusUsage(program));
        return kAllConverted;
    }
    if (!o.error.isEmpty())
        return usageError(program, QStringLiteral("status"), o.error, streams);
    QString error;
    const auto jobs = readJobFile(o.jobFile, &error);
    if (!jobs)
        return usageError(program, QStringLiteral("status"), error, streams);
    const QString version = converterVersion(QCoreApplication::applicationDirPath());
    QHash<QString, std::shared_ptr<OutputJournal>> journals;
    int done = 0, toDo = 0, failed = 0, missing = 0, unrecorded = 0;
    for (const Job &job : *jobs) {
        const JobPaths p = resolve(job, o.rootMap);
        auto &journal = journals[p.outputRoot];
        if (!journal) {
            journal = std::make_shared<OutputJournal>(p.outputRoot);
            journal->load();
        }
        if (!QFileInfo(p.input).isFile()) {
            ++missing;
            continue;
        }
        CommandInputs in = job.choices;
        in.inputPath = p.input;
        switch (journal->standing(p.output, p.input, settingsFingerprint(in, version))) {
        case Standing::UpToDate:
            ++done;
            break;
        case Standing::Foreign:
            // Made on another machine (its journal is there) or by hand: the file is there.
            ++done;
            ++unrecorded;
            break;
        case Standing::Missing:
        case Standing::OutOfDate: {
            const auto last = journal->last(p.output);
            if (last && last->kind == JournalRecord::Kind::Failed && QDir::cleanPath(last->input) == p.input)
                ++failed;
            else
                ++toDo;
            break;
        }
        }
    }
    if (o.json) {
        print(streams.out, QString::fromUtf8(QJsonDocument(QJsonObject{{QStringLiteral("jobs"), int(jobs->size())},
                                                                       {QStringLiteral("done"), done},
                                                                       {QStringLiteral("to_do"), toDo},
                                                                       {QStringLiteral("failed"), failed},
                                                                       {QStringLiteral("missing"), missing},
                                                                       {QStringLiteral("unrecorded"), unrecorded}})
                                                 .toJson(QJsonDocument::Compact))
                               + QLatin1Char('\n'));
    } else {
        QString line =
            QStringLiteral("%1 jobs: %2 done, %3 to do, %4 failed").arg(jobs->size()).arg(done).arg(toDo).arg(failed);
        if (missing > 0)
            line += QStringLiteral(", %1 with the input missing").arg(missing);
        if (unrecorded > 0)
            line += QStringLiteral(" (%1 done without a record on this machine)").arg(unrecorded);
        print(streams.out, line + QLatin1Char('\n'));
    }
    if (missing > 0)
        return kInputMissing;
    return toDo == 0 && failed == 0 ? kAllConverted : kSomeFailed;
}

} // namespace zm::cli

namespace zm::cli {

int runAlbums(const QString &program, const QStringList &arguments, const Streams &streams)
{
    const JobOptions o = parseJobOptions(arguments, false);
    if (o.help) {
        print(streams.out, albumsUsage(program));
        return kAllConverted;
    }
    if (!o.error.isEmpty())
        return usageError(program, QStringLiteral("albums"), o.error, streams);
    QString error;
    const auto jobs = readJobFile(o.jobFile, &error);
    if (!jobs)
        return usageError(program, QStringLiteral("albums"), error, streams);

    QHash<QString, std::shared_ptr<OutputJournal>> journals;
    QList<AlbumMember> members;
    QList<JobPaths> paths;
    QList<std::shared_ptr<OutputJournal>> journalOf;
    for (const Job &job : *jobs) {
        if (job.choices.replayGain != ReplayGain::Album || !formatCarriesGainTags(job.choices.formatIndex))
            continue;
        const JobPaths p = resolve(job, o.rootMap);
        auto &journal = journals[p.outputRoot];
        if (!journal) {
            journal = std::make_shared<OutputJournal>(p.outputRoot);
            journal->load();
        }
        QString tag = probeAlbumTag(p.input);
        if (tag.isEmpty() && !QFileInfo(p.input).isFile())
            tag = probeAlbumTag(p.output); // the output carries the input's tags
        members << AlbumMember{p.input, QFileInfo(p.output).path(), tag};
        paths << p;
        journalOf << journal;
    }
    if (members.isEmpty())
        return usageError(program, QStringLiteral("albums"),
                          QStringLiteral("no job of %1 was planned with --replaygain album").arg(o.jobFile), streams);

    AlbumTagger tagger(QCoreApplication::applicationDirPath() + QStringLiteral("/data/conv"),
                       std::max(1, QThread::idealThreadCount()));
    QHash<QString, std::shared_ptr<OutputJournal>> journalByOutput;
    int albums = 0, waiting = 0, before = 0;
    QStringList problems;
    for (const QList<int> &album : groupAlbums(members)) {
        QList<AlbumTagger::Track> tracks;
        QStringList notDone;
        for (int i : album) {
            const JobPaths &p = paths.at(i);
            const QString measurement = journalOf.at(i)->measurementPath(p.output);
            const auto last = journalOf.at(i)->last(p.output);
            if (last && last->kind == JournalRecord::Kind::Failed)
                continue; // a failed job is left out of its album
            if (QFileInfo::exists(measurement) && QFileInfo::exists(p.output)) {
                tracks << AlbumTagger::Track{p.output, measurement};
                journalByOutput.insert(p.output, journalOf.at(i));
            } else {
                notDone << p.output;
            }
        }
        if (tracks.isEmpty()) {
            ++before; // tagged before (its measurements are gone), or none of its jobs has run
            continue;
        }
        if (!notDone.isEmpty()) {
            ++waiting;
            problems << QStringLiteral("the album in %1 waits for %2 of its jobs (%3): run them (again, with "
                                       "--existing replace when their outputs exist)")
                            .arg(QFileInfo(tracks.first().output).path())
                            .arg(notDone.size())
                            .arg(notDone.join(QStringLiteral(", ")));
            continue;
        }
        ++albums;
        tagger.tagAlbum(tracks);
    }
    QObject::connect(&tagger, &AlbumTagger::trackTagged, [&](const QString &output, bool ok) {
        const auto journal = journalByOutput.value(output);
        if (!ok || !journal)
            return;
        if (std::optional<JournalRecord> r = journal->last(output); r && r->kind != JournalRecord::Kind::Failed) {
            r->kind = JournalRecord::Kind::Done;
            r->outputStamp = FileStamp::of(output);
            QString why;
            if (!journal->append(*r, &why))
                problems << why;
        }
    });
    StopSignals stops;
    QObject::connect(&stops, &StopSignals::received, [&](int, int count) { tagger.stop(count > 1 ? 0 : 3000); });
    if (!tagger.isIdle()) {
        QEventLoop loop;
        QObject::connect(&tagger, &AlbumTagger::idle, &loop, &QEventLoop::quit);
        loop.exec();
    }
    problems += tagger.failures();
    if (o.json) {
        print(streams.out,
              QString::fromUtf8(QJsonDocument(QJsonObject{{QStringLiteral("albums"), albums},
                                                          {QStringLiteral("files"), tagger.tagged()},
                                                          {QStringLiteral("waiting"), waiting},
                                                          {QStringLiteral("tagged_before"), before},
                                                          {QStringLiteral("failed"), int(tagger.failures().size())}})
                                    .toJson(QJsonDocument::Compact))
                  + QLatin1Char('\n'));
    } else {
        print(streams.out, QStringLiteral("%1 albums tagged (%2 files), %3 waiting, %4 without measurements (tagged "
                                          "before)\n")
                               .arg(albums)
                               .arg(tagger.tagged())
                               .arg(waiting)
                               .arg(before));
    }
    for (const QString &p : problems)
        print(streams.err, program + QStringLiteral(": ") + p + QLatin1Char('\n'));
    if (stops.count() > 0)
        return kInterrupted;
    return problems.isEmpty() ? kAllConverted : kSomeFailed;
}

} // namespace zm::cli
