#pragma once
#include "engine/outputplanner.h"
#include "library/journal.h"
#include "library/librarywork.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <memory>

namespace zm {

// The window's library work over its batches: outputs below mirrored folders (Keep Folder
// Structure), the answer about outputs that already exist, the record of every conversion in
// the output folder's journal (the one zelmora-cli reads), and the originals moved to the trash
// once their outputs were checked and named (Move Originals to Trash After Converting).
class LibraryPlanner final : public OutputPlanner
{
public:
    explicit LibraryPlanner(QString appDir, QString stateFolder = OutputJournal::defaultStateFolder());

    void setKeepFolderStructure(bool on) { m_mirror = on; }
    bool keepFolderStructure() const { return m_mirror; }
    void setTrashOriginals(bool on) { m_trash = on; }
    bool trashOriginals() const { return m_trash; }

    // Reads the journal of `outputRoot` again (before a question is asked about the batch).
    void load(const QString &outputRoot);
    // How many of the planned outputs a file on disk already has. A continued batch (`resuming`)
    // does not count the outputs its earlier run made (up to date in the journal): those are
    // left out without a word.
    int existingCount(const QList<PlannedOutput> &planned, bool resuming) const;
    // The batch about to start: what to do with an existing output (Replace, Skip or Number),
    // and whether it continues an unfinished one.
    void beginBatch(const QString &outputRoot, ExistingPolicy policy, bool resuming);
    ExistingPolicy policy() const { return m_policy; }

    // Why originals were not moved to the trash in this batch, one line each.
    const QStringList &trashNotes() const { return m_trashNotes; }
    int trashed() const { return m_trashed; }
    // Problems keeping the journal, each once.
    const QStringList &warnings() const { return m_warnings; }

    QString outputFolder(const QString &outputDir, const QString &root, const QString &input) override;
    bool avoidExisting() const override { return m_policy == ExistingPolicy::Number; }
    bool accept(const CommandInputs &in, const QString &output, QString *reason) override;
    void started(const CommandInputs &in, const QString &output) override;
    void ended(const QString &input, const QString &output, FileVerdict::Kind kind, const QString &reason) override;

private:
    struct Running {
        QString input, output, fingerprint;
        FileStamp inputStamp;
    };
    void record(JournalRecord record);

    QString m_appDir;
    QString m_stateFolder;
    bool m_mirror = false;
    bool m_trash = false;
    bool m_resuming = false;
    ExistingPolicy m_policy = ExistingPolicy::Replace;
    QString m_version;
    std::unique_ptr<OutputJournal> m_journal;
    QList<Running> m_running;
    QStringList m_trashNotes;
    QStringList m_warnings;
    int m_trashed = 0;
};

} // namespace zm
