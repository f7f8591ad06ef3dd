#include "engine/batchdriver.h"

#include "engine/albums.h"

#include "engine/dosoutputs.h"
#include "engine/durationsource.h"
#include "engine/outputplanner.h"
#include "engine/progressparser.h"
#include "engine/seams.h"
#include "queue/queuemodel.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QPointer>

#include <algorithm>

namespace zm {

BatchDriver::BatchDriver(QueueModel &queue, DOSOutputs &dos, const ProgramSettings &settings, QString appDir,
                         Seams seams, std::function<Selections()> selections, QObject *parent)
    : QObject(parent), m_queue(queue), m_dos(dos), m_settings(settings), m_appDir(std::move(appDir)), m_seams(seams),
      m_selections(std::move(selections)), m_pool(1, [this](int slot, QObject *pool) -> batch::ConverterProcess * {
          DOSOutputs *runner = slot == 0 ? &m_dos : new DOSOutputs(m_seams.boxes, pool);
          connect(runner, &DOSOutputs::ReceiveOutputs, this, &BatchDriver::objDOS_ReceiveOutputs);
          connect(runner, &DOSOutputs::CommandOver, this, &BatchDriver::objDOS_CommandOver);
          return runner;
      })
{
    m_timer.setInterval(100);
    m_timer.setTimerType(Qt::PreciseTimer); // a coarse timer may fire up to 5 % early
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &BatchDriver::Timer1_Tick);
    m_statusTimer.setInterval(kStatusIntervalMs);
    m_statusTimer.setTimerType(Qt::PreciseTimer); // never more often than once a second
    connect(&m_statusTimer, &QTimer::timeout, this, &BatchDriver::refreshStatus);
    m_pool.slot(0); // objDOS is the first runner from the start
    // A file added while a runner is free starts at the next tick.
    connect(&m_queue, &QueueModel::rowsInserted, this, [this] {
        if (m_running && !m_stopRequested && runningJobs() < m_batchJobs && !m_timer.isActive())
            m_timer.start();
    });
}

BatchDriver::~BatchDriver() = default;

void BatchDriver::setLoudness(ReplayGain replayGain, std::optional<double> normalize)
{
    m_replayGain = replayGain;
    m_normalize = normalize;
}

QString BatchDriver::albumOf(const QString &input, const QString &outputDir)
{
    auto it = m_albumKeys.find(input);
    if (it == m_albumKeys.end())
        it = m_albumKeys.insert(input, m_albumTagOf ? m_albumTagOf(input) : QString());
    return albumKey(outputDir, *it, input);
}

bool BatchDriver::albumWorkIdle() const
{
    return (!m_tagger || m_tagger->isIdle()) && (!m_measurePool || m_measurePool->running() == 0);
}

QString BatchDriver::measurementFolder() const
{
    return m_measurements.isEmpty() ? QFileInfo(logsRoot()).path() + QStringLiteral("/loudness") : m_measurements;
}

bool BatchDriver::measureWaiting(const Selections &sel)
{
    for (int row = int(m_head.size()); row < m_queue.count(); ++row) {
        const QString input = m_queue.at(row);
        const auto queued = [&input](const Measuring &m) { return m.input == input; };
        if (m_preMeasurement.contains(input) || std::any_of(m_measureWaiting.cbegin(), m_measureWaiting.cend(), queued)
            || std::any_of(m_measuring.cbegin(), m_measuring.cend(), queued))
            continue;
        CommandInputs in = inputsFor(sel, input, m_queue.rootAt(row));
        Measuring m;
        m.input = input;
        m.album = albumOf(input, in.outputDir);
        if (m_unmeasured.contains(m.album))
            continue;
        QDir().mkpath(measurementFolder());
        m.measurement = measurementFolder() + QLatin1Char('/')
                        + measurementFileName(QStringLiteral("before gain\n%1\n%2").arg(input, in.outputDir));
        in.measureOnly = true;
        in.loudnessOut = m.measurement;
        // The output's name only tells conv the format to measure at; nothing is written there.
        m.arguments = BuildArguments(in, outputPathFor(in));
        m_measureWaiting << m;
    }
    if (m_measureWaiting.isEmpty() && m_measuring.isEmpty())
        return false;
    if (runningJobs() > 0)
        return true; // the measurements take the jobs once the conversions have ended
    if (!m_measurePool) {
        m_measurePool = std::make_unique<batch::JobPool>(m_batchJobs);
        connect(m_measurePool.get(), &batch::JobPool::finished, this, &BatchDriver::measureEnded);
    }
    m_measurePool->fill([this](batch::ConverterProcess &process, int slot) {
        while (!m_measureWaiting.isEmpty()) {
            const Measuring m = m_measureWaiting.takeFirst();
            if (m_unmeasured.contains(m.album))
                continue;
            batch::ProcessRequest request;
            request.arguments = m.arguments;
            request.stdoutTo = batch::Stream::Null;
            request.environment = {batch::threadShareEntry(m_batchJobs)};
            if (!process.start(request)) {
                m_unmeasured.insert(m.album, QStringLiteral("%1: %2").arg(m.input, process.outcome().describe()));
                continue;
            }
            m_measuring.insert(slot, m);
            return true;
        }
        return false;
    });
    if (m_measuring.isEmpty()) {
        m_measureWaiting.clear();
        return false; // nothing could start: the albums fail below
    }
    return true;
}

void BatchDriver::measureEnded(int slot, const batch::ProcessOutcome &outcome)
{
    const auto it = m_measuring.find(slot);
    if (it == m_measuring.end())
        return;
    const Measuring m = *it;
    m_measuring.erase(it);
    if (outcome.succeeded() && QFileInfo::exists(m.measurement)) {
        m_preMeasurement.insert(m.input, m.measurement);
        m_albumMeasured[m.album] << m.measurement;
    } else {
        QFile::remove(m.measurement);
        if (!m_stopRequested)
            m_unmeasured.insert(m.album,
                                QStringLiteral("%1: %2").arg(m.input, outcome.lastLine.isEmpty() ? outcome.describe()
                                                                                                 : outcome.lastLine));
    }
    if (m_running && !m_timer.isActive())
        m_timer.start();
}

void BatchDriver::failUnmeasuredAlbums(const Selections &sel)
{
    for (int row = int(m_head.size()); row < m_queue.count();) {
        const QString input = m_queue.at(row);
        const QString album = albumOf(input, inputsFor(sel, input, m_queue.rootAt(row)).outputDir);
        const auto why = m_unmeasured.constFind(album);
        if (why == m_unmeasured.constEnd()) {
            ++row;
            continue;
        }
        const QString reason =
            QStringLiteral("not converted: the loudness of its album could not be measured (%1)").arg(*why);
        m_failures.append({input, reason, m_queue.rootAt(row)});
        const int id = m_nextId++;
        m_status.fileStarted(id, std::nullopt);
        m_status.fileEnded(id, false);
        m_logs.write(input, conversionLogText(input, QString(), QString(), QString(), reason));
        m_queue.removeAt(row);
    }
}

void BatchDriver::albumStep(const QString &album)
{
    if (album.isEmpty() || m_stopRequested)
        return;
    for (const HeadFile &h : m_head)
        if (h.runner && h.album == album)
            return; // a file of the album still converts
    const Selections sel = m_selections ? m_selections() : Selections{};
    if (m_replayGain == ReplayGain::Album && formatCarriesGainTags(sel.formatIndex))
        for (int row = int(m_head.size()); row < m_queue.count(); ++row)
            if (albumOf(m_queue.at(row), inputsFor(sel, m_queue.at(row), m_queue.rootAt(row)).outputDir) == album)
                return; // and one more waits
    const QStringList outputs = m_albumOutputs.take(album);
    if (outputs.isEmpty())
        return;
    QList<AlbumTagger::Track> tracks;
    for (const QString &o : outputs)
        tracks << AlbumTagger::Track{o, m_measurementOf.take(o)};
    if (!m_tagger) {
        m_tagger = std::make_unique<AlbumTagger>(m_appDir + QStringLiteral("/data/conv"), m_batchJobs);
        connect(m_tagger.get(), &AlbumTagger::idle, this, [this] {
            if (m_running && !m_timer.isActive())
                m_timer.start(); // the tick that finds nothing left ends the batch
        });
    }
    m_tagger->tagAlbum(tracks);
}

QList<pid_t> BatchDriver::runningPids() const
{
    return m_measurePool ? m_pool.pids() + m_measurePool->pids() : m_pool.pids();
}

int BatchDriver::runningJobs() const
{
    return m_pool.running();
}

qsizetype BatchDriver::headIndexOf(const QObject *runner) const
{
    for (qsizetype i = 0; i < m_head.size(); ++i)
        if (runner && m_head.at(i).runner == runner)
            return i;
    return -1;
}

qint64 BatchDriver::now() const
{
    static QElapsedTimer clock;
    if (!clock.isValid())
        clock.start();
    return clock.elapsed();
}

void BatchDriver::imgStart_Click()
{
    if (m_running)
        return;
    if (m_queue.isEmpty()) {
        if (m_seams.boxes)
            m_seams.boxes->show(MsgIcon::Warning, QStringLiteral("Add"), QStringLiteral("Please add a file"));
        return;
    }
    if (m_beforeStart) {
        QPointer<BatchDriver> self(this);
        const bool go = m_beforeStart();
        if (!self || !go || m_running || m_queue.isEmpty())
            return;
    }
    m_running = true;
    m_stopRequested = false;
    m_skipped = 0;
    m_batchJobs = m_jobs;
    m_pool.setCapacity(m_batchJobs);
    m_head.clear();
    m_totalSeconds = 0;
    m_shown = ProgressDisplay{};
    m_names.clear();
    m_failures.clear();
    m_albumKeys.clear(); // tags may have changed since the last batch
    m_outcome = BatchOutcome{};
    m_status.setCut(cutterOn(m_settings), m_settings.gCutFrom, m_settings.gCutTo);
    m_status.begin(now());
    m_logs.begin(QDateTime::currentDateTime());
    if (m_durations)
        m_durations->request(m_queue.paths());
    emit controlsLocked(true);
    m_statusText.clear();
    refreshStatus();
    m_statusTimer.start();
    m_timer.start();
}

void BatchDriver::stop()
{
    if (!m_running || m_stopRequested)
        return;
    m_stopRequested = true;
    emit stopping();
    // Every converter that runs is asked to end; each end arms Timer1 as usual. Between two
    // files Timer1 is armed already. Either way the tick after the last converter's end ends
    // the batch.
    m_pool.stopAll(m_stopGraceMs);
    if (m_tagger)
        m_tagger->stop(m_stopGraceMs);
    m_measureWaiting.clear();
    if (m_measurePool)
        m_measurePool->stopAll(m_stopGraceMs);
    if (runningJobs() == 0 && !m_timer.isActive())
        m_timer.start();
}

void BatchDriver::Timer1_Tick()
{
    m_timer.stop();
    QPointer<BatchDriver> self(this);
    QCoreApplication::processEvents();
    if (!self)
        return;
    ConvertNextFile();
}

QList<PlannedOutput> BatchDriver::plannedOutputs() const
{
    const Selections sel = m_selections ? m_selections() : Selections{};
    batch::OutputNames names;
    QList<PlannedOutput> planned;
    for (int row = 0; row < m_queue.count(); ++row) {
        PlannedOutput p;
        p.inputs = inputsFor(sel, m_queue.at(row), m_queue.rootAt(row));
        p.output = names.take(outputPathFor(p.inputs));
        planned << p;
    }
    return planned;
}

CommandInputs BatchDriver::inputsFor(const Selections &sel, const QString &inputPath, const QString &root) const
{
    CommandInputs in;
    in.appDir = m_appDir;
    in.inputPath = inputPath;
    in.outputDir = m_planner ? m_planner->outputFolder(sel.outputDir, root, inputPath) : sel.outputDir;
    in.formatIndex = sel.formatIndex;
    in.bitrate = sel.bitrate;
    in.sampleRate = sel.sampleRate;
    in.channelIndex = sel.channelIndex;
    in.cutterOn = cutterOn(m_settings);
    in.cutFrom = m_settings.gCutFrom;
    in.cutTo = m_settings.gCutTo;
    in.replayGain = m_replayGain;
    in.normalize = m_normalize;
    return in;
}

void BatchDriver::ConvertNextFile()
{
    if (!m_running)
        return;
    if (m_stopRequested) {
        if (runningJobs() == 0 && albumWorkIdle())
            endBatch(true);
        return;
    }
    const Selections sel = m_selections ? m_selections() : Selections{};
    QDir().mkpath(sel.outputDir); // with the folders above it: ~/Music may not be there yet

    if (m_queue.count() <= m_head.size()) {
        // No file waits: the batch is over once the last runner has ended (and the last album
        // has its tags).
        if (m_head.isEmpty() && albumWorkIdle())
            endBatch(false);
        return;
    }
    if (albumNormalising()) {
        // Every album is measured before its tracks convert.
        if (measureWaiting(sel))
            return;
        failUnmeasuredAlbums(sel);
        if (m_queue.count() <= m_head.size()) {
            if (m_head.isEmpty() && albumWorkIdle())
                endBatch(false);
            return;
        }
    }
    QPointer<BatchDriver> self(this);
    const int started = m_pool.fill([&](batch::ConverterProcess &runner, int) {
        return m_running && !m_stopRequested && m_queue.count() > m_head.size()
               && startFile(static_cast<DOSOutputs &>(runner), sel);
    });
    if (self && started > 0 && m_running) {
        updateWaiting();
        if (parallel())
            showBatchProgress();
    }
    // Every file left was left out: nothing runs that would end the batch.
    if (self && m_running && !m_stopRequested && m_head.isEmpty() && m_queue.count() == 0)
        endBatch(false);
}

bool BatchDriver::nextAccepted(const Selections &sel, CommandInputs &in, QString &output)
{
    while (m_queue.count() > m_head.size()) {
        const int row = int(m_head.size());
        in = inputsFor(sel, m_queue.at(row), m_queue.rootAt(row));
        // A later file with the same output name never overwrites what this batch already wrote.
        const bool avoid = m_planner && m_planner->avoidExisting();
        output = m_names.take(outputPathFor(in), [avoid](const QString &p) {
            return avoid && (QFileInfo::exists(p) || QFileInfo(p).isSymLink());
        });
        QString reason;
        if (!m_planner || m_planner->accept(in, output, &reason))
            return true;
        // Left out: its output stays as it is, and the name is free again for later files.
        m_names.releaseIfLast(output);
        ++m_skipped;
        m_queue.removeAt(row);
    }
    return false;
}

bool BatchDriver::startFile(DOSOutputs &runner, const Selections &sel)
{
    HeadFile f;
    CommandInputs in;
    if (!nextAccepted(sel, in, f.output))
        return false;
    f.id = m_nextId++;
    f.input = in.inputPath;
    f.root = m_queue.rootAt(int(m_head.size()));
    if (in.outputDir != sel.outputDir)
        QDir().mkpath(in.outputDir); // a mirrored folder; the converter names one it cannot make
    CommandInputs run = in;
    if (m_replayGain == ReplayGain::Album && formatCarriesGainTags(in.formatIndex)) {
        // An album ends in one output folder: the mirrored one where the tree is kept.
        f.album = albumOf(f.input, in.outputDir);
        const QString folder =
            m_measurements.isEmpty() ? QFileInfo(logsRoot()).path() + QStringLiteral("/loudness") : m_measurements;
        QDir().mkpath(folder);
        f.measurement = folder + QLatin1Char('/') + measurementFileName(f.output);
        run.loudnessOut = f.measurement;
    }
    if (albumNormalising())
        run.albumFrom = m_albumMeasured.value(albumOf(f.input, in.outputDir));
    f.line = BuildCommandLine(run, f.output);
    const auto probed = m_durations ? m_durations->knownDurations({f.input}).value(0) : std::nullopt;
    m_status.fileStarted(f.id, probed);
    QPointer<BatchDriver> self(this);
    emit fileStarted(f.input, f.line);
    if (!self || !m_running || m_stopRequested)
        return false; // a handler ended or stopped the batch

    runner.setCommandLine(f.line);
    runner.setArguments(BuildArguments(run, f.output));
    // The converter's share of the cores: as many converters run at once as there are jobs,
    // unless fewer files are left (this one and the waiting ones) beside those running.
    const qsizetype left = m_queue.count() - m_head.size();
    runner.setEnvironment({batch::threadShareEntry(int(std::min<qsizetype>(m_batchJobs, runningJobs() + left)))});
    if (!runner.ExecuteCommand(QString())) {
        // The message has been shown ("File or command not found"): the batch ends with the
        // file still queued and gives the controls back.
        if (self)
            startFailed(f);
        return true;
    }
    f.runner = &runner;
    m_head.append(f);
    if (m_planner)
        m_planner->started(in, f.output);
    return true;
}

void BatchDriver::startFailed(const HeadFile &file)
{
    m_names.release(file.output);
    if (!m_running)
        return;
    // Converters already running are stopped first and keep their files queued.
    m_stopRequested = true;
    if (runningJobs() > 0) {
        emit stopping();
        m_pool.stopAll(m_stopGraceMs);
        return;
    }
    endBatch(true);
}

void BatchDriver::objDOS_ReceiveOutputs(const QString &CommandOutputs)
{
    const qsizetype at = headIndexOf(sender());
    if (!m_running || at < 0)
        return;
    const int id = m_head.at(at).id;
    const auto d = durationSecondsIn(CommandOutputs);
    const auto t = progressSecondsIn(CommandOutputs);
    if (d)
        m_status.setCurrentDuration(id, *d);
    if (t)
        m_status.setCurrentPosition(id, *t);
    if (parallel()) {
        if (d || t)
            showBatchProgress();
        return;
    }
    // One file at a time: the bar and the caption follow the file.
    const auto display = parseProgressChunk(CommandOutputs, m_totalSeconds, cutterOn(m_settings), m_settings.gCutTo);
    if (display)
        emit progressChanged(display->widthTwips, display->caption);
}

void BatchDriver::writeLog(const HeadFile &file, const QString &outputs, const QString &result)
{
    m_logs.write(file.input, conversionLogText(file.input, file.output, file.line, outputs, result));
}

bool BatchDriver::concludeFile(const HeadFile &file, const batch::ProcessOutcome &end, const QString &outputs,
                               bool *converted)
{
    const FileVerdict verdict = judgeConversion(end, outputs, file.input, file.output, m_stopRequested);
    if (converted)
        *converted = verdict.kind == FileVerdict::Kind::Converted;
    writeLog(file, outputs, verdict.logResult);
    switch (verdict.kind) {
    case FileVerdict::Kind::Stopped:
        // The file stays in its place in the queue, to be converted another time.
        m_names.release(file.output);
        return false;
    case FileVerdict::Kind::Failed:
        m_failures.append({file.input, verdict.reason, file.root});
        // Free again for the files still to be named, never for one already named.
        m_names.releaseIfLast(file.output);
        break;
    case FileVerdict::Kind::Converted:
        break;
    }
    if (m_planner)
        m_planner->ended(file.input, file.output, verdict.kind, verdict.reason);
    m_status.fileEnded(file.id, verdict.kind == FileVerdict::Kind::Converted);
    return true;
}

void BatchDriver::objDOS_CommandOver()
{
    auto *runner = qobject_cast<DOSOutputs *>(sender());
    const qsizetype row = headIndexOf(runner);
    if (!m_running || row < 0)
        return;
    const HeadFile f = m_head.at(row);
    bool converted = false;
    if (concludeFile(f, runner->lastEnding(), runner->Outputs(), &converted)) {
        // The head rows are the batch's own, in the order their files started.
        m_head.removeAt(row);
        m_queue.removeAt(int(row));
    } else {
        m_head[row].runner = nullptr;
    }
    if (!f.album.isEmpty()) {
        if (converted) {
            m_albumOutputs[f.album] << f.output;
            m_measurementOf.insert(f.output, f.measurement);
        } else {
            QFile::remove(f.measurement); // a failed file is left out of its album
        }
        albumStep(f.album);
    }
    m_totalSeconds = 0;
    if (parallel()) {
        updateWaiting();
        showBatchProgress();
    }
    if (!m_timer.isActive())
        m_timer.start();
}

void BatchDriver::showBatchProgress()
{
    const ProgressDisplay d = progressDisplayFor(m_status.batchFraction());
    if (d == m_shown)
        return;
    m_shown = d;
    emit progressChanged(d.widthTwips, d.caption);
}

void BatchDriver::updateWaiting()
{
    const QStringList waiting = m_queue.paths().mid(m_head.size());
    if (m_durations) {
        m_durations->request(waiting);
        m_status.setWaiting(m_durations->knownDurations(waiting));
    } else {
        m_status.setWaiting(QList<std::optional<double>>(waiting.size()));
    }
}

void BatchDriver::refreshStatus()
{
    if (!m_running)
        return;
    updateWaiting();
    if (parallel())
        showBatchProgress(); // lengths found since change the whole
    const QString text = m_status.text(now());
    if (text != m_statusText) {
        m_statusText = text;
        emit statusChanged(text);
    }
}

void BatchDriver::endBatch(bool stopped)
{
    const Selections sel = m_selections ? m_selections() : Selections{};
    if (!stopped) {
        if (m_openFolderWhenDone && m_seams.shell)
            m_seams.shell->open(sel.outputDir);
        if (m_settings.gSoundReminder == 0 && m_seams.sound)
            m_seams.sound->playSync(m_appDir + QStringLiteral("/sound.wav"));
    }
    if (m_tagger)
        for (const QString &failure : m_tagger->failures()) {
            const qsizetype colon = failure.indexOf(QStringLiteral(": the album tags"));
            m_failures.append({failure.left(colon), failure.mid(colon + 2)});
        }
    m_tagger.reset();
    // Measurements of albums a stop left untagged are of no use to a later batch.
    for (const QString &measurement : std::as_const(m_measurementOf))
        QFile::remove(measurement);
    m_measurementOf.clear();
    m_albumOutputs.clear();
    m_albumKeys.clear();
    for (const QString &measurement : std::as_const(m_preMeasurement))
        QFile::remove(measurement);
    m_preMeasurement.clear();
    m_albumMeasured.clear();
    m_unmeasured.clear();
    m_measureWaiting.clear();
    m_measurePool.reset();
    m_running = false;
    m_stopRequested = false;
    m_head.clear();
    m_statusTimer.stop();
    emit controlsLocked(false);
    emit progressChanged(0.0f, stopped ? QStringLiteral("0%") : QStringLiteral("Done."));

    m_outcome.converted = m_status.converted();
    m_outcome.failed = m_status.failed();
    m_outcome.skipped = m_skipped;
    m_outcome.stopped = stopped;
    m_outcome.failures = m_failures;
    m_outcome.summary = m_status.summary(now(), stopped);
    m_outcome.outputFolder = sel.outputDir;
    m_outcome.logFolder = m_logs.folder();
    m_statusText = m_outcome.summary;
    emit statusChanged(m_outcome.summary);
    QPointer<BatchDriver> self(this);
    emit batchEnded(m_outcome);
    if (self)
        emit batchFinished();
}

} // namespace zm
