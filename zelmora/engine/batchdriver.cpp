#include "batchdriver.h"

#include "../queue/queuemodel.h"
#include "dosoutputs.h"
#include "durationsource.h"
#include "progressparser.h"
#include "seams.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QPointer>

namespace zm {

namespace {
// How the converter ended, in words, for a failure without a line of its own and for the log.
QString endingText(const DOSOutputs::Ending &end, bool outputWritten)
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
    : QObject(parent), m_queue(queue), m_dos(dos), m_settings(settings), m_appDir(std::move(appDir)),
      m_seams(seams), m_selections(std::move(selections))
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
}

qint64 BatchDriver::now() const
{
    if (m_now)
        return m_now();
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
    m_producedThisBatch.clear();
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
    // A converter that runs is asked to end; its CommandOver then arms Timer1 as usual. Between
    // two files Timer1 is armed already. Either way the next tick ends the batch.
    if (m_dos.isRunning())
        m_dos.terminate(m_stopGraceMs);
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

QString BatchDriver::freeOutputPath(const QString &wanted) const
{
    const QString key = QDir::cleanPath(wanted);
    if (!m_producedThisBatch.contains(key))
        return wanted;
    for (int n = 2;; ++n) {
        const QString candidate = numberedPath(wanted, n);
        if (!m_producedThisBatch.contains(QDir::cleanPath(candidate)))
            return candidate;
    }
}

void BatchDriver::ConvertNextFile()
{
    if (!m_running)
        return;
    if (m_stopRequested) {
        endBatch(true);
        return;
    }
    const Selections sel = m_selections ? m_selections() : Selections{};
    QDir().mkdir(sel.outputDir);

    if (m_queue.isEmpty()) {
        endBatch(false);
        return;
    }

    CommandInputs in;
    in.appDir = m_appDir;
    in.inputPath = m_queue.at(0);
    in.outputDir = sel.outputDir;
    in.formatIndex = sel.formatIndex;
    in.bitrate = sel.bitrate;
    in.sampleRate = sel.sampleRate;
    in.channelIndex = sel.channelIndex;
    in.cutterOn = cutterOn(m_settings);
    in.cutFrom = m_settings.gCutFrom;
    in.cutTo = m_settings.gCutTo;

    // A later file with the same output name never overwrites what this batch already wrote;
    // a name whose conversion failed is free again (an earlier run's file there is replaced).
    m_currentOutput = freeOutputPath(outputPathFor(in));
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

void BatchDriver::writeLog(const QString &result)
{
    QString text = QStringLiteral("Input: ") + m_currentInput + QStringLiteral("\nOutput: ") + m_currentOutput +
                   QStringLiteral("\nCommand: ") + m_currentLine + QStringLiteral("\n\n") + m_dos.Outputs();
    if (!text.endsWith(QLatin1Char('\n')))
        text += QLatin1Char('\n');
    m_logs.write(m_currentInput, text + QStringLiteral("\nResult: ") + result + QLatin1Char('\n'));
}

void BatchDriver::objDOS_CommandOver()
{
    if (!m_running)
        return;
    m_overSeen = true;
    const DOSOutputs::Ending end = m_dos.lastEnding();
    const bool written = QFileInfo(m_currentOutput).isFile();
    const bool failed = (end.known && end.signal != 0) || (end.known && end.exitCode != 0) || !written;
    if (m_stopRequested && failed) {
        // Stopped half-way: the file stays first in the queue, to be converted another time.
        writeLog(QStringLiteral("stopped (") + endingText(end, written) + QLatin1Char(')'));
    } else {
        const QString ending = endingText(end, written);
        // The converter's last line names the reason when it reported a failure; a converter
        // that claimed success without writing the file is described by what happened.
        const bool reported = end.known && (end.signal != 0 || end.exitCode != 0);
        if (failed)
            m_failures.append({m_currentInput, reported ? failureReason(m_dos.Outputs(), m_currentInput, ending) : ending});
        else
            m_producedThisBatch.insert(QDir::cleanPath(m_currentOutput));
        writeLog(failed ? QStringLiteral("failed: ") + ending : ending);
        m_status.fileEnded(!failed);
        m_queue.removeHead();
    }
    m_totalSeconds = 0;
    m_timer.start();
}

void BatchDriver::refreshStatus()
{
    if (!m_running)
        return;
    const QStringList waiting = m_queue.paths().mid(m_dos.isRunning() ? 1 : 0);
    if (m_durations) {
        m_durations->request(waiting);
        m_status.setWaiting(m_durations->knownDurations(waiting));
    } else {
        m_status.setWaiting(QList<std::optional<double>>(waiting.size()));
    }
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
