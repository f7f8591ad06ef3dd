#include "engine/batchdriver.h"

#include "queue/queuemodel.h"
#include "engine/converterjob.h"
#include "engine/dosoutputs.h"
#include "engine/durationsource.h"
#include "engine/progressparser.h"
#include "engine/seams.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QPointer>

#include <algorithm>

namespace zm {

namespace {
// How the converter ended, in words, for a failure without a line of its own and for the log.
QString endingText(const ProcessEnding &end, bool outputWritten)
{
    if (!end.started)
        return QStringLiteral("the converter could not be started");
    if (end.known && end.signal != 0)
        return QStringLiteral("the converter was stopped by signal %1").arg(end.signal);
    if (end.known && end.exitCode != 0)
        return QStringLiteral("the converter ended with code %1").arg(end.exitCode);
    if (!outputWritten)
        return QStringLiteral("no output file was written");
    return QStringLiteral("converted");
}
} // namespace

BatchDriver::BatchDriver(QueueModel &queue, DOSOutputs &dos, const ProgramSettings &settings, QString appDir,
                         Seams seams, std::function<Selections()> selections, QObject *parent)
    : QObject(parent), m_queue(queue), m_dos(dos), m_settings(settings), m_appDir(std::move(appDir)), m_seams(seams),
      m_selections(std::move(selections))
{
    m_timer.setInterval(100);
    m_timer.setTimerType(Qt::PreciseTimer); // a coarse timer may fire up to 5 % early
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &BatchDriver::Timer1_Tick);
    m_statusTimer.setInterval(kStatusIntervalMs);
    m_statusTimer.setTimerType(Qt::PreciseTimer); // never more often than once a second
    connect(&m_statusTimer, &QTimer::timeout, this, &BatchDriver::refreshStatus);
    connect(&m_dos, &DOSOutputs::ReceiveOutputs, this, &BatchDriver::objDOS_ReceiveOutputs);
    connect(&m_dos, &DOSOutputs::CommandOver, this, &BatchDriver::objDOS_CommandOver);
    // A file added while several convert at once starts at the next tick when a job is free.
    connect(&m_queue, &QueueModel::rowsInserted, this, [this] {
        if (m_running && parallel() && !m_stopRequested && runningJobs() < m_batchJobs && !m_timer.isActive())
            m_timer.start();
    });
}

QList<pid_t> BatchDriver::runningPids() const
{
    QList<pid_t> pids;
    if (m_dos.childPid() > 0)
        pids << m_dos.childPid();
    for (const HeadFile &f : m_head)
        if (f.job && f.job->pid() > 0)
            pids << f.job->pid();
    return pids;
}

int BatchDriver::runningJobs() const
{
    return int(std::count_if(m_head.begin(), m_head.end(), [](const HeadFile &f) { return f.job != nullptr; }));
}

int BatchDriver::headRows() const
{
    // The queue rows that are not waiting: the running files (and files kept by a stop).
    return parallel() ? int(m_head.size()) : (m_dos.isRunning() ? 1 : 0);
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
    m_running = true;
    m_stopRequested = false;
    m_batchJobs = m_jobs;
    m_head.clear();
    m_shown = ProgressDisplay{};
    m_names.clear();
    m_failures.clear();
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
    // A converter that runs is asked to end; its end then arms Timer1 as usual. Between two
    // files Timer1 is armed already. Either way the tick after the last converter's end ends
    // the batch.
    if (m_dos.isRunning())
        m_dos.terminate(m_stopGraceMs);
    for (const HeadFile &f : m_head)
        if (f.job)
            f.job->terminate(m_stopGraceMs);
    if (parallel() && runningJobs() == 0 && !m_timer.isActive())
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

CommandInputs BatchDriver::inputsFor(const Selections &sel, const QString &inputPath) const
{
    CommandInputs in;
    in.appDir = m_appDir;
    in.inputPath = inputPath;
    in.outputDir = sel.outputDir;
    in.formatIndex = sel.formatIndex;
    in.bitrate = sel.bitrate;
    in.sampleRate = sel.sampleRate;
    in.channelIndex = sel.channelIndex;
    in.cutterOn = cutterOn(m_settings);
    in.cutFrom = m_settings.gCutFrom;
    in.cutTo = m_settings.gCutTo;
    return in;
}

void BatchDriver::ConvertNextFile()
{
    if (!m_running)
        return;
    if (parallel()) {
        startWaitingFiles();
        return;
    }
    if (m_stopRequested) {
        endBatch(true);
        return;
    }
    const Selections sel = m_selections ? m_selections() : Selections{};
    QDir().mkpath(sel.outputDir); // with the folders above it: ~/Music may not be there yet

    if (m_queue.isEmpty()) {
        endBatch(false);
        return;
    }

    const CommandInputs in = inputsFor(sel, m_queue.at(0));

    // A later file with the same output name never overwrites what this batch already wrote;
    // a name whose conversion failed is free again (an earlier run's file there is replaced).
    m_currentOutput = m_names.take(outputPathFor(in));
    m_currentInput = in.inputPath;
    m_currentLine = BuildCommandLine(in, m_currentOutput);
    const auto probed = m_durations ? m_durations->knownDurations({m_currentInput}).value(0) : std::nullopt;
    m_status.fileStarted(probed);
    emit fileStarted(m_currentInput, m_currentLine);

    m_dos.setCommandLine(m_currentLine);
    m_overSeen = false;
    QPointer<BatchDriver> self(this);
    m_dos.ExecuteCommand(QString());
    if (!self)
        return;
    if (!m_overSeen && m_running && !m_timer.isActive()) {
        // The converter could not be started (its message has been shown): end the batch with
        // the file still queued and give the controls back.
        endBatch(true);
    }
}

void BatchDriver::objDOS_ReceiveOutputs(const QString &chunk)
{
    if (!m_running)
        return;
    if (const auto d = durationSecondsIn(chunk))
        m_status.setCurrentDuration(*d);
    if (const auto t = progressSecondsIn(chunk))
        m_status.setCurrentPosition(*t);
    const auto display = parseProgressChunk(chunk, m_totalSeconds, cutterOn(m_settings), m_settings.gCutTo);
    if (display)
        emit progressChanged(display->widthTwips, display->caption);
}

void BatchDriver::writeLog(const QString &input, const QString &output, const QString &line, const QString &outputs,
                           const QString &result)
{
    QString text = QStringLiteral("Input: ") + input + QStringLiteral("\nOutput: ") + output
                   + QStringLiteral("\nCommand: ") + line + QStringLiteral("\n\n") + outputs;
    if (!text.endsWith(QLatin1Char('\n')))
        text += QLatin1Char('\n');
    m_logs.write(input, text + QStringLiteral("\nResult: ") + result + QLatin1Char('\n'));
}

bool BatchDriver::concludeFile(int id, const QString &input, const QString &output, const QString &line,
                               const ProcessEnding &end, const QString &outputs)
{
    const bool written = QFileInfo(output).isFile();
    const bool failed = (end.known && end.signal != 0) || (end.known && end.exitCode != 0) || !written;
    const QString ending = endingText(end, written);
    if (m_stopRequested && failed) {
        // Stopped half-way: the file stays in its place in the queue, to be converted another time.
        writeLog(input, output, line, outputs, QStringLiteral("stopped (") + ending + QLatin1Char(')'));
        m_names.release(output);
        return false;
    }
    if (failed) {
        // The converter's last line names the reason when it reported a failure; a converter
        // that claimed success without writing the file is described by what happened.
        const bool reported = end.known && (end.signal != 0 || end.exitCode != 0);
        m_failures.append({input, reported ? failureReason(outputs, input, ending) : ending});
        // One file at a time, the name of a failed conversion is free again for the next file;
        // with several at once a later file may have been named already, so it stays taken.
        if (!parallel())
            m_names.release(output);
    }
    writeLog(input, output, line, outputs, failed ? QStringLiteral("failed: ") + ending : ending);
    m_status.fileEnded(id, !failed);
    return true;
}

void BatchDriver::objDOS_CommandOver()
{
    if (!m_running)
        return;
    m_overSeen = true;
    if (concludeFile(0, m_currentInput, m_currentOutput, m_currentLine, m_dos.lastEnding(), m_dos.Outputs()))
        m_queue.removeHead();
    m_totalSeconds = 0;
    m_timer.start();
}

void BatchDriver::startWaitingFiles()
{
    if (m_stopRequested) {
        if (runningJobs() == 0)
            endBatch(true);
        return;
    }
    const Selections sel = m_selections ? m_selections() : Selections{};
    QDir().mkpath(sel.outputDir); // with the folders above it: ~/Music may not be there yet
    bool started = false;
    while (runningJobs() < m_batchJobs && m_queue.count() > m_head.size()) {
        HeadFile f;
        f.id = m_nextId++;
        const CommandInputs in = inputsFor(sel, m_queue.at(int(m_head.size())));
        f.input = in.inputPath;
        f.output = m_names.take(outputPathFor(in));
        f.line = BuildCommandLine(in, f.output);
        auto *job = new ConverterJob(this);
        if (!job->start(f.line)) {
            // As with one file at a time: the message, then the batch ends with the file still
            // queued. Converters already running are stopped first and keep their files queued.
            const QString error = job->startError();
            delete job;
            m_names.release(f.output);
            m_stopRequested = true;
            if (runningJobs() > 0)
                emit stopping();
            for (const HeadFile &h : m_head)
                if (h.job)
                    h.job->terminate(m_stopGraceMs);
            QPointer<BatchDriver> self(this);
            if (m_seams.boxes)
                m_seams.boxes->show(MsgIcon::Error, QString::fromLatin1(kAppTitle), error);
            if (self && m_running && runningJobs() == 0)
                endBatch(true);
            return;
        }
        f.job = job;
        const int id = f.id;
        connect(job, &ConverterJob::output, this, [this, id](const QString &chunk) { jobOutput(id, chunk); });
        connect(job, &ConverterJob::finished, this, [this, job] { jobFinished(job); });
        m_head.append(f);
        const auto probed = m_durations ? m_durations->knownDurations({f.input}).value(0) : std::nullopt;
        m_status.fileStarted(id, probed);
        started = true;
        QPointer<BatchDriver> self(this);
        emit fileStarted(f.input, f.line);
        if (!self || !m_running || m_stopRequested)
            return; // a handler ended or stopped the batch
    }
    if (m_head.isEmpty()) {
        endBatch(false);
        return;
    }
    if (started) {
        updateWaiting();
        showBatchProgress();
    }
}

void BatchDriver::jobOutput(int id, const QString &chunk)
{
    if (!m_running)
        return;
    const auto d = durationSecondsIn(chunk);
    const auto t = progressSecondsIn(chunk);
    if (d)
        m_status.setCurrentDuration(id, *d);
    if (t)
        m_status.setCurrentPosition(id, *t);
    if (d || t)
        showBatchProgress();
}

void BatchDriver::jobFinished(ConverterJob *job)
{
    job->deleteLater();
    const auto it = std::find_if(m_head.begin(), m_head.end(), [job](const HeadFile &f) { return f.job == job; });
    if (!m_running || it == m_head.end())
        return;
    const int row = int(it - m_head.begin());
    const HeadFile f = *it;
    if (concludeFile(f.id, f.input, f.output, f.line, job->ending(), job->outputs())) {
        // The head rows are the batch's own, in the order their files started.
        m_head.removeAt(row);
        m_queue.removeAt(row);
    } else {
        m_head[row].job = nullptr;
    }
    updateWaiting();
    showBatchProgress();
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
    const QStringList waiting = m_queue.paths().mid(headRows());
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
        if (m_seams.shell)
            m_seams.shell->open(sel.outputDir);
        if (m_settings.gSoundReminder == 0 && m_seams.sound)
            m_seams.sound->playSync(m_appDir + QStringLiteral("/sound.wav"));
    }
    m_running = false;
    m_stopRequested = false;
    m_head.clear();
    m_statusTimer.stop();
    emit controlsLocked(false);
    emit progressChanged(0.0f, stopped ? QStringLiteral("0%") : QStringLiteral("Done."));

    m_outcome.converted = m_status.converted();
    m_outcome.failed = m_status.failed();
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
