#include "cli/clibatch.h"

#include "engine/batchreport.h"
#include "engine/commandline.h"
#include "engine/progressparser.h"

#include <QDateTime>
#include <QDir>
#include <QPointer>

namespace zm::cli {

CliBatch::CliBatch(QString appDir, Selections selections, ProgramSettings settings, const QStringList &inputs, int jobs,
                   QObject *parent)
    : QObject(parent), m_appDir(std::move(appDir)), m_selections(std::move(selections)), m_settings(settings),
      m_pool(jobs)
{
    for (const QString &in : inputs) {
        File f;
        f.input = in;
        m_files << f;
    }
    connect(&m_pool, &batch::JobPool::output, this, &CliBatch::output);
    connect(&m_pool, &batch::JobPool::finished, this, &CliBatch::ended);
}

CommandInputs CliBatch::inputsFor(const QString &inputPath) const
{
    CommandInputs in;
    in.appDir = m_appDir;
    in.inputPath = inputPath;
    in.outputDir = m_selections.outputDir;
    in.formatIndex = m_selections.formatIndex;
    in.bitrate = m_selections.bitrate;
    in.sampleRate = m_selections.sampleRate;
    in.channelIndex = m_selections.channelIndex;
    in.cutterOn = cutterOn(m_settings);
    in.cutFrom = m_settings.gCutFrom;
    in.cutTo = m_settings.gCutTo;
    return in;
}

double CliBatch::fraction(int index) const
{
    const File &f = m_files.at(index);
    if (f.state == File::State::Converted)
        return 1.0;
    if (!f.length || *f.length <= 0)
        return 0.0;
    return std::clamp(f.position / *f.length, 0.0, 1.0);
}

void CliBatch::start()
{
    m_running = true;
    m_clock.start();
    m_status.setCut(cutterOn(m_settings), m_settings.gCutFrom, m_settings.gCutTo);
    m_status.begin(0);
    m_status.setWaiting(QList<std::optional<double>>(m_files.size()));
    QDir().mkpath(m_selections.outputDir); // with the folders above it, as the window does
    m_logs.begin(QDateTime::currentDateTime());
    fill();
    finishIfDone();
}

void CliBatch::fill()
{
    if (!m_running || m_stopped)
        return;
    QPointer<CliBatch> self(this);
    m_pool.fill([this](batch::ConverterProcess &p, int slot) { return startNext(p, slot); });
    if (self)
        m_status.setWaiting(QList<std::optional<double>>(m_files.size() - m_next));
}

bool CliBatch::startNext(batch::ConverterProcess &process, int slot)
{
    if (m_stopped || m_next >= m_files.size())
        return false;
    const int index = m_next++;
    File &f = m_files[index];
    const CommandInputs in = inputsFor(f.input);
    f.output = m_names.take(outputPathFor(in));
    f.commandLine = BuildCommandLine(in, f.output);
    f.arguments = BuildArguments(in, f.output);
    batch::ProcessSpec spec;
    spec.arguments = f.arguments;
    // The converter's share of the cores: one of as many converters as the pool runs at once,
    // or as this file, the files after it and those running make, when that is fewer.
    spec.environment = {batch::threadShareEntry(
        int(std::min<qsizetype>(m_pool.capacity(), m_pool.running() + (m_files.size() - index))))};
    m_status.fileStarted(index, std::nullopt);
    if (!process.start(spec)) {
        // Without a converter nothing of this batch can be converted: it ends here, and every
        // file not converted counts as failed.
        m_startError =
            QStringLiteral("cannot start the converter %1: %2").arg(f.arguments.value(0), process.outcome().describe());
        m_names.release(f.output);
        for (int i = index; i < m_files.size(); ++i) {
            m_files[i].state = File::State::Failed;
            m_files[i].reason = QStringLiteral("not converted: the converter could not be started");
            m_status.fileStarted(i, std::nullopt);
            m_status.fileEnded(i, false);
        }
        m_next = int(m_files.size());
        m_stopped = true;
        QPointer<CliBatch> self(this);
        for (int i = index; self && i < m_files.size(); ++i)
            emit fileFinished(i);
        return self;
    }
    f.state = File::State::Running;
    f.slot = slot;
    emit fileStarted(index);
    return true;
}

int CliBatch::fileAt(int slot) const
{
    for (int i = 0; i < m_files.size(); ++i)
        if (m_files.at(i).state == File::State::Running && m_files.at(i).slot == slot)
            return i;
    return -1;
}

void CliBatch::output(int slot, const QString &chunk)
{
    const int index = fileAt(slot);
    if (index < 0)
        return;
    File &f = m_files[index];
    bool changed = false;
    if (!f.length) {
        if (cutterOn(m_settings)) {
            f.length = double(m_settings.gCutTo);
        } else if (const auto d = durationSecondsIn(chunk)) {
            f.length = *d;
        }
        if (f.length) {
            m_status.setCurrentDuration(index, *f.length);
            changed = true;
        }
    }
    if (const auto t = progressSecondsIn(chunk)) {
        f.position = *t;
        m_status.setCurrentPosition(index, *t);
        changed = true;
    }
    if (changed)
        emit fileProgress(index);
}

void CliBatch::ended(int slot, const batch::ProcessOutcome &outcome)
{
    const int index = fileAt(slot);
    if (index < 0)
        return;
    File &f = m_files[index];
    const QString outputs = m_pool.slot(slot) ? m_pool.slot(slot)->outputs() : QString();
    const FileVerdict verdict = judgeConversion(outcome, outputs, f.input, f.output, m_stopped);
    switch (verdict.kind) {
    case FileVerdict::Kind::Converted:
        f.state = File::State::Converted;
        break;
    case FileVerdict::Kind::Failed:
        f.state = File::State::Failed;
        f.reason = verdict.reason;
        m_names.releaseIfLast(f.output);
        break;
    case FileVerdict::Kind::Stopped:
        f.state = File::State::Stopped;
        m_names.release(f.output);
        break;
    }
    m_logs.write(f.input, conversionLogText(f.input, f.output, f.commandLine, outputs, verdict.logResult));
    if (f.state != File::State::Stopped)
        m_status.fileEnded(index, f.state == File::State::Converted);
    QPointer<CliBatch> self(this);
    emit fileFinished(index);
    if (!self)
        return;
    fill();
    if (self)
        finishIfDone();
}

void CliBatch::finishIfDone()
{
    if (!m_running || m_pool.running() > 0 || (!m_stopped && m_next < m_files.size()))
        return;
    m_running = false;
    emit finished();
}

void CliBatch::stop(bool now)
{
    if (!m_running)
        return;
    m_stopped = true;
    m_interrupted = true;
    if (now) {
        for (int slot : m_pool.busySlots())
            m_pool.slot(slot)->kill();
    } else {
        m_pool.stopAll(kStopGraceMs);
    }
    finishIfDone();
}

} // namespace zm::cli
