#include "cli/clibatch.h"

#include "engine/batchreport.h"
#include "engine/commandline.h"
#include "engine/progressparser.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QDir>
#include <QFileInfo>
#include <QPointer>

#include <algorithm>

namespace zm::cli {

CliBatch::CliBatch(QString appDir, Selections selections, ProgramSettings settings, const QStringList &inputs, int jobs,
                   QObject *parent)
    : CliBatch(
        std::move(appDir), std::move(selections), settings,
        [&] {
            QList<Source> sources;
            for (const QString &in : inputs)
                sources << Source{in, {}, {}, {}};
            return sources;
        }(),
        jobs, Library{}, parent)
{}

CliBatch::CliBatch(QString appDir, Selections selections, ProgramSettings settings, const QList<Source> &sources,
                   int jobs, Library library, QObject *parent)
    : QObject(parent), m_appDir(std::move(appDir)), m_selections(std::move(selections)), m_settings(settings),
      m_library(std::move(library)),
      m_journal(m_library.journalRoot.isEmpty() ? m_selections.outputDir : m_library.journalRoot,
                m_library.stateFolder),
      m_pool(jobs)
{
    for (const Source &source : sources) {
        File f;
        f.input = source.input;
        f.outputDir = source.outputDir.isEmpty() ? m_selections.outputDir : source.outputDir;
        f.wanted = source.wanted;
        f.choices = source.choices;
        m_queue << int(m_files.size());
        m_files << f;
    }
    connect(&m_pool, &batch::JobPool::output, this, &CliBatch::output);
    connect(&m_pool, &batch::JobPool::finished, this, &CliBatch::ended);
}

CommandInputs CliBatch::inputsFor(const File &file) const
{
    CommandInputs in;
    if (file.choices) {
        in = *file.choices;
        in.appDir = m_appDir;
        in.inputPath = file.input;
        in.outputDir = file.outputDir;
        return in;
    }
    in.appDir = m_appDir;
    in.inputPath = file.input;
    in.outputDir = file.outputDir;
    in.formatIndex = m_selections.formatIndex;
    in.bitrate = m_selections.bitrate;
    in.sampleRate = m_selections.sampleRate;
    in.channelIndex = m_selections.channelIndex;
    in.cutterOn = cutterOn(m_settings);
    in.cutFrom = m_settings.gCutFrom;
    in.cutTo = m_settings.gCutTo;
    in.replayGain = m_library.replayGain;
    in.normalize = m_library.normalize;
    return in;
}

bool CliBatch::albumMode(const File &file) const
{
    const CommandInputs in = inputsFor(file);
    return in.replayGain == ReplayGain::Album && formatCarriesGainTags(in.formatIndex);
}

bool CliBatch::albumNormalise(const File &file) const
{
    const CommandInputs in = inputsFor(file);
    return in.replayGain == ReplayGain::Album && in.normalize.has_value();
}

bool CliBatch::startMeasuring(batch::ConverterProcess &process, int slot)
{
    while (!m_measureQueue.isEmpty()) {
        const int index = m_measureQueue.takeFirst();
        const File &f = m_files.at(index);
        if (m_unmeasured.contains(m_albumKeys.at(index)))
            continue; // its album fails anyway
        CommandInputs run = inputsFor(f);
        run.measureOnly = true;
        run.loudnessOut = f.preMeasurement;
        batch::ProcessRequest request;
        // The output's name only tells conv the format (rate, channels) to measure at.
        request.arguments = BuildArguments(run, f.wanted.isEmpty() ? outputPathFor(run) : f.wanted);
        request.stdoutTo = batch::Stream::Null;
        request.environment = {batch::threadShareEntry(m_pool.capacity())};
        if (!process.start(request)) {
            m_unmeasured.insert(m_albumKeys.at(index),
                                QStringLiteral("%1: %2").arg(f.input, process.outcome().describe()));
            continue;
        }
        m_measuring.insert(slot, index);
        return true;
    }
    return false;
}

void CliBatch::measured(int slot, const batch::ProcessOutcome &outcome)
{
    const int index = m_measuring.take(slot);
    const File &f = m_files.at(index);
    if (!m_stopped && (!outcome.succeeded() || !QFileInfo::exists(f.preMeasurement))) {
        const QString why = outcome.lastLine.isEmpty() ? outcome.describe() : outcome.lastLine;
        m_unmeasured.insert(m_albumKeys.at(index), QStringLiteral("%1: %2").arg(f.input, why));
    }
    QPointer<CliBatch> self(this);
    fill();
    if (self)
        finishIfDone();
}

bool CliBatch::failUnmeasuredAlbum(int index)
{
    const auto why = m_unmeasured.constFind(m_albumKeys.value(index));
    if (why == m_unmeasured.constEnd())
        return false;
    File &f = m_files[index];
    f.state = File::State::Failed;
    f.reason = QStringLiteral("not converted: the loudness of its album could not be measured (%1)").arg(*why);
    m_status.fileStarted(index, std::nullopt);
    m_status.fileEnded(index, false);
    m_logs.write(f.input, conversionLogText(f.input, f.output, QString(), QString(), f.reason));
    return true;
}

void CliBatch::albumStep(int index)
{
    if (m_albumKeys.isEmpty() || !albumMode(m_files.at(index)) || m_interrupted || !m_library.tagAlbums)
        return;
    const QString key = m_albumKeys.at(index);
    if (m_albumsDone.contains(key))
        return;
    QList<int> members;
    for (int i = 0; i < m_files.size(); ++i) {
        if (m_albumKeys.at(i) != key || !albumMode(m_files.at(i)))
            continue;
        const File::State s = m_files.at(i).state;
        if (s == File::State::Waiting || s == File::State::Running)
            return; // not its last file yet
        members << i;
    }
    m_albumsDone.insert(key);
    // Its tracks: the files converted now, and those up to date whose measurement is still kept
    // (a run stopped before their album was tagged). Failed files are left out.
    QList<AlbumTagger::Track> tracks;
    QStringList unmeasured;
    for (int i : members) {
        const File &f = m_files.at(i);
        const bool counts = f.state == File::State::Converted || (f.state == File::State::Skipped && f.upToDate);
        if (!counts)
            continue;
        const QString measurement = m_journal.measurementPath(f.output);
        if (QFileInfo::exists(measurement))
            tracks << AlbumTagger::Track{f.output, measurement};
        else
            unmeasured << f.output;
    }
    if (tracks.isEmpty())
        return; // tagged before, or nothing converted
    if (!unmeasured.isEmpty()) {
        // Its loudness cannot be worked out without every track: the album keeps its tags.
        warn(QStringLiteral("album tags not written for %1: %2 of its files were not measured in this run (%3); "
                            "convert them again with --existing replace")
                 .arg(QFileInfo(tracks.first().output).path())
                 .arg(unmeasured.size())
                 .arg(unmeasured.join(QStringLiteral(", "))));
        for (const AlbumTagger::Track &t : tracks)
            QFile::remove(t.measurement);
        return;
    }
    if (!m_tagger) {
        m_tagger = std::make_unique<AlbumTagger>(m_appDir + QStringLiteral("/data/conv"), m_pool.capacity());
        connect(m_tagger.get(), &AlbumTagger::trackTagged, this, &CliBatch::trackTagged);
        connect(m_tagger.get(), &AlbumTagger::idle, this, &CliBatch::finishIfDone);
    }
    m_tagger->tagAlbum(tracks);
}

void CliBatch::trackTagged(const QString &output, bool ok)
{
    if (!ok)
        return;
    // The rewrite is this program's own: the output stays up to date.
    if (std::optional<JournalRecord> r = m_journal.last(output); r && r->kind != JournalRecord::Kind::Failed) {
        r->kind = JournalRecord::Kind::Done;
        r->outputStamp = FileStamp::of(output);
        QString error;
        if (!m_journal.append(*r, &error))
            warn(error);
    }
}

void CliBatch::warn(const QString &text)
{
    if (!m_warnings.contains(text))
        m_warnings << text;
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
    m_journal.load();
    m_logs.begin(QDateTime::currentDateTime());
    if (std::any_of(m_files.cbegin(), m_files.cend(),
                    [this](const File &f) { return albumMode(f) || albumNormalise(f); })) {
        for (const File &f : m_files)
            m_albumKeys << albumKey(f.outputDir, m_library.albumTagOf ? m_library.albumTagOf(f.input) : QString(),
                                    f.input);
        QDir().mkpath(QFileInfo(m_journal.measurementPath(QStringLiteral("x"))).path());
        for (int i = 0; i < m_files.size(); ++i) {
            File &f = m_files[i];
            if (!albumNormalise(f))
                continue;
            // Of this run only: removed when it ends.
            f.preMeasurement = m_journal.measurementPath(
                QStringLiteral("before gain\n%1\n%2\n%3").arg(QCoreApplication::applicationPid()).arg(i).arg(f.input));
            m_measureQueue << i;
        }
    }
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
        m_status.setWaiting(QList<std::optional<double>>(m_queue.size()));
}

bool CliBatch::startNext(batch::ConverterProcess &process, int slot)
{
    QPointer<CliBatch> self(this);
    if (!m_stopped && startMeasuring(process, slot))
        return true;
    if (!m_measuring.isEmpty())
        return false; // conversions start once every album is measured
    while (!m_stopped && !m_queue.isEmpty()) {
        const int index = m_queue.takeFirst();
        if (albumNormalise(m_files.at(index)) && failUnmeasuredAlbum(index)) {
            emit fileFinished(index);
            if (!self)
                return false;
            continue;
        }
        File &f = m_files[index];
        const CommandInputs in = inputsFor(f);
        const QString base = f.wanted.isEmpty() ? outputPathFor(in) : f.wanted;
        const bool number = m_library.existing == ExistingPolicy::Number;
        QString name = f.output.isEmpty()
                           ? m_names.take(base,
                                          [number](const QString &p) {
                                              return number && (QFileInfo::exists(p) || QFileInfo(p).isSymLink());
                                          })
                           : f.output; // a retry keeps its name
        m_names.hold(name);
        f.fingerprint = settingsFingerprint(in, m_library.converterVersion);
        const ExistingDecision d = decideExisting(
            m_library.existing, name, m_journal.standing(name, f.input, f.fingerprint), [&] { return name; });
        f.output = d.output;
        if (m_library.copyCovers && !m_coversDone.contains(f.outputDir)) {
            m_coversDone.insert(f.outputDir, true);
            const QString from = QFileInfo(f.input).path();
            if (QDir::cleanPath(from) != QDir::cleanPath(f.outputDir))
                for (const QString &e : copyCovers(from, f.outputDir))
                    warn(e);
        }
        if (!d.convert) {
            f.state = File::State::Skipped;
            f.reason = d.reason;
            f.upToDate = d.upToDate;
            ++m_skipped;
            m_upToDate += d.upToDate ? 1 : 0;
            emit fileFinished(index);
            if (!self)
                return false;
            albumStep(index);
            continue;
        }
        CommandInputs run = in;
        if (albumMode(f)) {
            f.measurement = m_journal.measurementPath(f.output);
            run.loudnessOut = f.measurement;
        }
        if (albumNormalise(f))
            for (int i = 0; i < m_files.size(); ++i)
                if (m_albumKeys.at(i) == m_albumKeys.at(index) && !m_files.at(i).preMeasurement.isEmpty())
                    run.albumFrom << m_files.at(i).preMeasurement;
        f.commandLine = BuildCommandLine(run, f.output);
        f.arguments = BuildArguments(run, f.output);
        f.position = 0;
        f.length.reset();
        ++f.attempts;
        QDir().mkpath(f.outputDir);
        f.inputStamp = FileStamp::of(f.input);
        JournalRecord begun;
        begun.kind = JournalRecord::Kind::Begun;
        begun.output = f.output;
        begun.input = f.input;
        begun.settings = f.fingerprint;
        begun.inputStamp = f.inputStamp;
        begun.outputStamp = FileStamp::of(f.output);
        QString error;
        if (!m_journal.append(begun, &error))
            warn(error);
        batch::ProcessRequest request;
        request.arguments = f.arguments;
        // The converter's share of the cores: one of as many converters as the pool runs at once,
        // or as this file, the files after it and those running make, when that is fewer.
        request.environment = {batch::threadShareEntry(
            int(std::min<qsizetype>(m_pool.capacity(), m_pool.running() + m_queue.size() + 1)))};
        m_status.fileStarted(index, std::nullopt);
        if (!process.start(request)) {
            // Without a converter nothing of this batch can be converted: it ends here, and every
            // file not converted counts as failed.
            m_startError = QStringLiteral("cannot start the converter %1: %2")
                               .arg(f.arguments.value(0), process.outcome().describe());
            m_names.release(f.output);
            QList<int> left{index};
            left += m_queue;
            m_queue.clear();
            for (int i : left) {
                m_files[i].state = File::State::Failed;
                m_files[i].reason = QStringLiteral("not converted: the converter could not be started");
                m_status.fileStarted(i, std::nullopt);
                m_status.fileEnded(i, false);
            }
            m_stopped = true;
            for (int i : left) {
                if (!self)
                    break;
                emit fileFinished(i);
            }
            return self;
        }
        f.state = File::State::Running;
        f.slot = slot;
        emit fileStarted(index);
        return true;
    }
    return false;
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
        if (const CommandInputs in = inputsFor(f); in.cutterOn) {
            f.length = double(in.cutTo);
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
    if (m_measuring.contains(slot)) {
        measured(slot, outcome);
        return;
    }
    const int index = fileAt(slot);
    if (index < 0)
        return;
    File &f = m_files[index];
    const QString outputs = m_pool.slot(slot) ? m_pool.slot(slot)->outputs() : QString();
    const FileVerdict verdict = judgeConversion(outcome, outputs, f.input, f.output, m_stopped);
    JournalRecord record;
    record.output = f.output;
    record.input = f.input;
    record.settings = f.fingerprint;
    record.inputStamp = f.inputStamp;
    bool retry = false;
    switch (verdict.kind) {
    case FileVerdict::Kind::Converted:
        f.state = File::State::Converted;
        record.kind = JournalRecord::Kind::Done;
        record.outputStamp = FileStamp::of(f.output);
        break;
    case FileVerdict::Kind::Failed:
        f.state = File::State::Failed;
        f.reason = verdict.reason;
        record.kind = JournalRecord::Kind::Failed;
        record.reason = verdict.reason;
        retry = f.attempts <= m_library.retries && !m_stopped;
        if (!retry)
            m_names.releaseIfLast(f.output);
        break;
    case FileVerdict::Kind::Stopped:
        f.state = File::State::Stopped;
        m_names.release(f.output);
        break;
    }
    m_logs.write(f.input, conversionLogText(f.input, f.output, f.commandLine, outputs, verdict.logResult));
    if (f.state != File::State::Stopped) {
        QString error;
        if (!m_journal.append(record, &error))
            warn(error);
    }
    if (f.state == File::State::Converted && m_library.trashOriginals) {
        const TrashResult trash = trashOriginal(f.input, f.output);
        f.notes << (trash.trashed ? QStringLiteral("moved to the trash: %1").arg(f.input)
                                  : QStringLiteral("%1: %2").arg(f.input, trash.message));
    }
    if (retry) {
        // Tried again after the files not tried yet; its name stays its own.
        f.state = File::State::Waiting;
        f.slot = -1;
        m_queue << index;
        QPointer<CliBatch> self(this);
        emit fileRetried(index);
        if (!self)
            return;
        fill();
        if (self)
            finishIfDone();
        return;
    }
    if (f.state != File::State::Stopped) {
        m_status.fileEnded(index, f.state == File::State::Converted);
    }
    QPointer<CliBatch> self(this);
    emit fileFinished(index);
    if (!self)
        return;
    albumStep(index);
    fill();
    if (self)
        finishIfDone();
}

QString CliBatch::summary() const
{
    QString s = m_status.summary(m_clock.elapsed(), m_interrupted);
    if (m_skipped == 0)
        return s;
    return QStringLiteral("%1 skipped (%2 up to date), ").arg(m_skipped).arg(m_upToDate) + s;
}

void CliBatch::finishIfDone()
{
    if (!m_running || m_pool.running() > 0 || (!m_stopped && (!m_queue.isEmpty() || !m_measureQueue.isEmpty()))
        || (m_tagger && !m_tagger->isIdle()))
        return;
    for (const File &f : std::as_const(m_files))
        if (!f.preMeasurement.isEmpty())
            QFile::remove(f.preMeasurement);
    if (m_tagger)
        for (const QString &failure : m_tagger->failures())
            warn(failure);
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
    if (m_tagger)
        m_tagger->stop(now ? 0 : kStopGraceMs);
    finishIfDone();
}

} // namespace zm::cli
