#pragma once
#include <QHash>
#include <QString>

#include <optional>

namespace zm {

// A file's size and modification time (milliseconds since the epoch); size -1 when it is missing.
struct FileStamp {
    qint64 size = -1;
    qint64 mtimeMs = -1;
    bool exists() const { return size >= 0; }
    static FileStamp of(const QString &path);
    friend bool operator==(const FileStamp &, const FileStamp &) = default;
};

// One line of a journal.
struct JournalRecord {
    enum class Kind { Begun, Done, Failed };
    Kind kind = Kind::Done;
    QString output;   // relative to the journal's output folder
    QString input;    // the input's absolute path
    QString settings; // fingerprint of the settings and the converter
    FileStamp inputStamp;
    // Done: the output made. Begun: what lay at the output's name before (the conversion's own
    // file differs from it).
    FileStamp outputStamp;
    QString reason; // Failed
};

// Where an output stands for an input converted with given settings.
enum class Standing {
    Missing,   // no output: convert
    UpToDate,  // made from this input, unchanged since, with the same settings
    OutOfDate, // made here, but the input or the settings changed since (or the last try failed)
    Foreign,   // an output exists that no conversion recorded here made
};

// The record of what was converted into one output folder, kept in the user's state folder
// ($XDG_STATE_HOME/zelmora/journals/<hash of the folder>.jsonl), never in the output folder. It
// is a file of JSON lines that only grows: each line is written whole with one write under a
// lock (so several processes may share it), and a line torn by a crash is ignored when
// reading. The last line of an output counts. When it holds several times more lines than
// outputs it is rewritten, whole, under the same lock.
class OutputJournal final
{
public:
    explicit OutputJournal(const QString &outputRoot, const QString &stateFolder = defaultStateFolder());

    // $XDG_STATE_HOME/zelmora (~/.local/state/zelmora when it is not an absolute path).
    static QString defaultStateFolder();

    QString root() const { return m_root; }
    QString path() const { return m_path; }
    // The key of an output path: relative to the root when below it, else absolute.
    QString key(const QString &outputPath) const;

    // Reads the journal from disk (a missing file is an empty journal).
    void load();
    std::optional<JournalRecord> last(const QString &outputPath) const;
    // Appends a record (its output given as a path or a key) and remembers it. False, with the
    // reason in `error`, when the state folder cannot be written.
    bool append(JournalRecord record, QString *error = nullptr);

    Standing standing(const QString &outputPath, const QString &inputPath, const QString &settings) const;

    qsizetype lines() const { return m_lines; }

    // Where the loudness measurement of an output is kept for its album's tags: beside the
    // journal (<journal>.loudness/), never in the output folder.
    QString measurementPath(const QString &outputPath) const;

private:
    void compact();

    QString m_root;
    QString m_path;
    QString m_lockPath;
    QHash<QString, JournalRecord> m_last;
    qsizetype m_lines = 0;
};

} // namespace zm
