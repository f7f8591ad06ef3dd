#include "batchdriver.h"

#include "../queue/queuemodel.h"
#include "dosoutputs.h"
#include "progressparser.h"
#include "seams.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QPointer>
#include <QRegularExpression>

namespace zm {

QString lastOutputLine(const QString &outputs)
{
    static const QRegularExpression lineEnd(QStringLiteral("[\r\n]"));
    const QStringList lines = outputs.split(lineEnd, Qt::SkipEmptyParts);
    for (qsizetype i = lines.size() - 1; i >= 0; --i) {
        const QString t = lines[i].trimmed();
        if (!t.isEmpty())
            return t;
    }
    return QString();
}

BatchDriver::BatchDriver(QueueModel &queue, DOSOutputs &dos, const ProgramSettings &settings, QString appDir,
                         Seams seams, std::function<Selections()> selections, QObject *parent)
    : QObject(parent), m_queue(queue), m_dos(dos), m_settings(settings), m_appDir(std::move(appDir)),
      m_seams(seams), m_selections(std::move(selections))
{
    m_timer.setInterval(100);
    m_timer.setTimerType(Qt::PreciseTimer); // a coarse timer may fire up to 5 % early
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &BatchDriver::Timer1_Tick);
    connect(&m_dos, &DOSOutputs::ReceiveOutputs, this, &BatchDriver::objDOS_ReceiveOutputs);
    connect(&m_dos, &DOSOutputs::CommandOver, this, &BatchDriver::objDOS_CommandOver);
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
    m_producedThisBatch.clear();
    m_failures.clear();
    emit controlsLocked(true);
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
    const Selections sel = m_selections ? m_selections() : Selections{};
    QDir().mkdir(sel.outputDir);

    if (m_queue.isEmpty()) {
        finishBatch();
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
    in.cutterOn = m_settings.gCutterOn != 0;
    in.cutFrom = m_settings.gCutFrom;
    in.cutTo = m_settings.gCutTo;

    // A later file with the same output name never overwrites what this batch already wrote.
    m_currentOutput = freeOutputPath(outputPathFor(in));
    m_producedThisBatch.insert(QDir::cleanPath(m_currentOutput));
    m_currentInput = in.inputPath;
    const QString line = BuildCommandLine(in, m_currentOutput);
    emit fileStarted(m_currentInput, line);

    m_dos.setCommandLine(line);
    m_overSeen = false;
    QPointer<BatchDriver> self(this);
    m_dos.ExecuteCommand(QString());
    if (!self)
        return;
    if (!m_overSeen && m_running && !m_timer.isActive()) {
        // The converter could not be started (its message has been shown): end the batch with
        // the file still queued and give the controls back.
        m_running = false;
        emit controlsLocked(false);
        emit batchFinished();
    }
}

void BatchDriver::objDOS_ReceiveOutputs(const QString &chunk)
{
    if (!m_running)
        return;
    const auto display = parseProgressChunk(chunk, m_totalSeconds, m_settings.gCutterOn != 0, m_settings.gCutTo);
    if (display)
        emit progressChanged(display->widthTwips, display->caption);
}

void BatchDriver::objDOS_CommandOver()
{
    if (!m_running)
        return;
    m_overSeen = true;
    const DOSOutputs::Ending end = m_dos.lastEnding();
    QString reason;
    if (end.known && end.signal != 0)
        reason = QStringLiteral("the converter was stopped by signal %1").arg(end.signal);
    else if (end.known && end.exitCode != 0)
        reason = QStringLiteral("the converter ended with code %1").arg(end.exitCode);
    else if (!QFileInfo(m_currentOutput).isFile())
        reason = QStringLiteral("no output file was written");
    if (!reason.isEmpty()) {
        const QString last = lastOutputLine(m_dos.Outputs());
        m_failures.append({m_currentInput, last.isEmpty() ? reason : reason + QStringLiteral(": ") + last});
    }

    m_queue.removeHead();
    m_totalSeconds = 0;
    m_timer.start();
}

void BatchDriver::finishBatch()
{
    const Selections sel = m_selections ? m_selections() : Selections{};
    if (m_seams.shell)
        m_seams.shell->open(sel.outputDir);
    if (m_settings.gSoundReminder == 0 && m_seams.sound)
        m_seams.sound->playSync(m_appDir + QStringLiteral("/sound.wav"));
    m_running = false;
    emit controlsLocked(false);
    emit progressChanged(0.0f, QStringLiteral("Done."));
    if (!m_failures.isEmpty() && m_seams.boxes) {
        QString text = m_failures.size() == 1 ? QStringLiteral("1 file could not be converted:")
                                              : QStringLiteral("%1 files could not be converted:").arg(m_failures.size());
        for (const FailedFile &f : std::as_const(m_failures))
            text += QStringLiteral("\n\n") + f.inputPath + QStringLiteral("\n") + f.reason;
        m_seams.boxes->show(MsgIcon::Warning, QString::fromLatin1(kAppTitle), text);
    }
    emit batchFinished();
}

} // namespace zm
