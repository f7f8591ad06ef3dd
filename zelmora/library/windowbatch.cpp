#include "library/windowbatch.h"

#include <QDir>
#include <QFileInfo>

namespace zm {

namespace {

bool onDisk(const QString &path)
{
    return QFileInfo::exists(path) || QFileInfo(path).isSymLink();
}

} // namespace

LibraryPlanner::LibraryPlanner(QString appDir, QString stateFolder)
    : m_appDir(std::move(appDir)), m_stateFolder(std::move(stateFolder))
{}

void LibraryPlanner::load(const QString &outputRoot)
{
    if (!m_journal || QDir::cleanPath(m_journal->root()) != QDir::cleanPath(outputRoot))
        m_journal = std::make_unique<OutputJournal>(outputRoot, m_stateFolder);
    m_journal->load();
    m_version = converterVersion(m_appDir);
}

int LibraryPlanner::existingCount(const QList<PlannedOutput> &planned, bool resuming) const
{
    int n = 0;
    for (const PlannedOutput &p : planned) {
        if (!onDisk(p.output))
            continue;
        if (resuming && m_journal
            && m_journal->standing(p.output, p.inputs.inputPath, settingsFingerprint(p.inputs, m_version))
                   == Standing::UpToDate)
            continue;
        ++n;
    }
    return n;
}

void LibraryPlanner::beginBatch(const QString &outputRoot, ExistingPolicy policy, bool resuming)
{
    load(outputRoot);
    m_policy = policy == ExistingPolicy::Update ? ExistingPolicy::Replace : policy;
    m_resuming = resuming;
    m_running.clear();
    m_trashNotes.clear();
    m_warnings.clear();
    m_trashed = 0;
}

QString LibraryPlanner::outputFolder(const QString &outputDir, const QString &root, const QString &input)
{
    return m_mirror ? mirroredFolder(outputDir, root, input) : outputDir;
}

bool LibraryPlanner::accept(const CommandInputs &in, const QString &output, QString *reason)
{
    if (!m_journal)
        load(in.outputDir);
    const Standing standing = m_journal->standing(output, in.inputPath, settingsFingerprint(in, m_version));
    // A continued batch leaves out what its earlier run finished, whatever the answer.
    const ExistingPolicy policy = m_resuming && standing == Standing::UpToDate ? ExistingPolicy::Update : m_policy;
    const ExistingDecision d = decideExisting(policy, output, standing, [&output] { return output; });
    if (!d.convert && reason)
        *reason = d.reason;
    return d.convert;
}

void LibraryPlanner::record(JournalRecord record)
{
    if (!m_journal)
        return;
    QString error;
    if (!m_journal->append(std::move(record), &error) && !m_warnings.contains(error))
        m_warnings << error;
}

void LibraryPlanner::started(const CommandInputs &in, const QString &output)
{
    Running r{in.inputPath, output, settingsFingerprint(in, m_version), FileStamp::of(in.inputPath)};
    JournalRecord begun;
    begun.kind = JournalRecord::Kind::Begun;
    begun.output = output;
    begun.input = r.input;
    begun.settings = r.fingerprint;
    begun.inputStamp = r.inputStamp;
    begun.outputStamp = FileStamp::of(output);
    record(begun);
    m_running << r;
}

void LibraryPlanner::ended(const QString &input, const QString &output, FileVerdict::Kind kind, const QString &reason)
{
    qsizetype at = -1;
    for (qsizetype i = 0; i < m_running.size(); ++i)
        if (m_running.at(i).input == input && m_running.at(i).output == output)
            at = i;
    if (at < 0 || kind == FileVerdict::Kind::Stopped) {
        if (at >= 0)
            m_running.removeAt(at);
        return;
    }
    const Running r = m_running.takeAt(at);
    JournalRecord done;
    done.output = output;
    done.input = input;
    done.settings = r.fingerprint;
    done.inputStamp = r.inputStamp;
    if (kind == FileVerdict::Kind::Converted) {
        done.kind = JournalRecord::Kind::Done;
        done.outputStamp = FileStamp::of(output);
    } else {
        done.kind = JournalRecord::Kind::Failed;
        done.reason = reason;
    }
    record(done);
    // The converter names an output only once it has read it back whole: only then may the
    // original go.
    if (kind != FileVerdict::Kind::Converted || !m_trash)
        return;
    const TrashResult trash = trashOriginal(input, output);
    if (trash.trashed)
        ++m_trashed;
    else
        m_trashNotes << QStringLiteral("%1: %2").arg(input, trash.message);
}

} // namespace zm
