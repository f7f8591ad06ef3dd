#pragma once
#include "engine/albums.h"
#include "engine/batchdriver.h"
#include "engine/batchlogs.h"
#include "engine/batchstatus.h"
#include "engine/commandline.h"
#include "engine/programsettings.h"
#include "library/journal.h"
#include "library/librarywork.h"
#include "pool/jobpool.h"
#include "shared/outputnames.h"

#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QObject>
#include <QSet>
#include <functional>
#include <memory>
#include <optional>

namespace zm::cli {

// One batch of zelmora-cli: the files of a list converted by conv, N at once, with the window's
// command lines (BuildCommandLine, BuildArguments), the window's naming (OutputNames), its logs
// (BatchLogs) and its verdict on each file (judgeConversion). Files start in list order as soon
// as a job is free; nothing waits between them. A stop asks every converter to end (SIGTERM,
// SIGKILL after the grace time); converters remove what they had begun, so no partial file is
// left.
//
// Album normalisation (--replaygain album with --normalize): every such file is measured first
// (`conv -measure-only`, on the same jobs, side by side), and conversions start once every
// measurement has ended; each track of an album is then converted with the measurements of all
// of them, which give it the album's one gain. An album whose measuring failed is not converted
// at all: its files fail, naming the file that could not be measured.
//
// Library work: each output is checked against what exists before its conversion starts
// (`--existing`: replace, skip, number, or update with the output folder's journal), every
// conversion is recorded in that journal (begun, done, failed), a failed file can be tried again
// at the end of the list, and a converted input can go to the trash.
class CliBatch final : public QObject
{
    Q_OBJECT
public:
    static constexpr int kStopGraceMs = BatchDriver::kStopGraceMs;

    struct File {
        enum class State { Waiting, Running, Converted, Failed, Stopped, Skipped };
        QString input;
        QString outputDir; // where its output goes (the batch's folder, or a mirrored one)
        QString wanted;    // the output it should have; empty: named from the input
        std::optional<CommandInputs> choices;
        QString output;        // given when it starts
        QString commandLine;   // as the window and the logs show it
        QStringList arguments; // what conv is started with
        State state = State::Waiting;
        QString reason;        // why it failed, or was skipped
        bool upToDate = false; // skipped as up to date
        int attempts = 0;
        QString fingerprint;          // settings and converter, as the journal keeps them
        FileStamp inputStamp;         // the input when its conversion began
        QStringList notes;            // said after it ended (trash, covers)
        QString measurement;          // album gain: its loudness measurement (state folder)
        QString preMeasurement;       // album normalisation: its sound measured before the gain
        std::optional<double> length; // media seconds it converts, once known
        double position = 0;          // media seconds done
        int slot = -1;
    };

    // One input to convert: its path, and optionally where its output goes.
    struct Source {
        QString input;
        QString outputDir; // empty: the batch's output folder
        QString wanted;    // empty: named from the input in its folder
        // Its own choices (format, options, cut), when they are not the batch's.
        std::optional<CommandInputs> choices;
    };
    struct Library {
        ExistingPolicy existing = ExistingPolicy::Replace;
        int retries = 0;
        bool trashOriginals = false;
        bool copyCovers = false;  // copy cover images into the folders outputs go to
        QString journalRoot;      // the output folder whose journal records the conversions
        QString converterVersion; // part of every output's fingerprint
        QString stateFolder = OutputJournal::defaultStateFolder();
        // Loudness of the files without choices of their own (those carry theirs).
        ReplayGain replayGain = ReplayGain::Off;
        std::optional<double> normalize;
        // With album gain: tag each album once its last file has ended. Off: the measurements
        // stay in the state folder for `zelmora-cli albums`.
        bool tagAlbums = true;
        // Reads a file's album tag (none: every file goes by its folder).
        std::function<QString(const QString &)> albumTagOf;
    };

    CliBatch(QString appDir, Selections selections, ProgramSettings settings, const QStringList &inputs, int jobs,
             QObject *parent = nullptr);
    CliBatch(QString appDir, Selections selections, ProgramSettings settings, const QList<Source> &sources, int jobs,
             Library library, QObject *parent = nullptr);

    // Makes the output folder and starts the first files. `finished` follows when the last has
    // ended (at once for an empty list).
    void start();
    // Stops the batch: every running converter is asked to end, and killed after the grace time
    // (`now`: at once); no file starts any more.
    void stop(bool now = false);

    bool isRunning() const { return m_running; }
    // Whether stop() ended the batch.
    bool wasStopped() const { return m_interrupted; }
    const QList<File> &files() const { return m_files; }
    int converted() const { return m_status.converted(); }
    int failed() const { return m_status.failed(); }
    int skipped() const { return m_skipped; }
    int upToDate() const { return m_upToDate; }
    // Problems outside the conversions (journal, covers), each once.
    const QStringList &warnings() const { return m_warnings; }
    // Album gain: outputs given their album's tags, and the rewrites that failed.
    int albumTagged() const { return m_tagger ? m_tagger->tagged() : 0; }
    int albumFailures() const { return m_tagger ? int(m_tagger->failures().size()) : 0; }
    int running() const { return m_pool.running(); }
    // The share of a file done (0 to 1), and of the whole batch.
    double fraction(int index) const;
    double batchFraction() const { return m_status.batchFraction(); }
    // Seconds left by the batch's pace so far, when there is enough to go on.
    std::optional<qint64> secondsLeft() const { return m_status.secondsLeft(m_clock.elapsed()); }
    qint64 elapsedMs() const { return m_clock.elapsed(); }
    // "Converting 3–4 of 14 · about 0:42 left", as the window's status strip says it.
    QString statusText() const { return m_status.text(m_clock.elapsed()); }
    // "9 converted, 1 failed · 1:23" ("Stopped · ..." after a stop).
    // With skipped files: "2 skipped (2 up to date), 9 converted, 1 failed · 1:23".
    QString summary() const;
    QString logFolder() const { return m_logs.folder(); }
    // The error of a converter that could not be started (the batch then ends), empty otherwise.
    QString startError() const { return m_startError; }

signals:
    void fileStarted(int index);
    void fileProgress(int index);
    void fileFinished(int index);
    // A file failed and waits to be tried again (--retry); its notes say so.
    void fileRetried(int index);
    void finished();

private:
    bool startNext(batch::ConverterProcess &process, int slot);
    void output(int slot, const QString &chunk);
    void ended(int slot, const batch::ProcessOutcome &outcome);
    int fileAt(int slot) const;
    void fill();
    void finishIfDone();
    CommandInputs inputsFor(const File &file) const;
    void concluded(int index);
    void warn(const QString &text);
    bool albumMode(const File &file) const;
    // Whether the file is normalised with its album's gain (any format).
    bool albumNormalise(const File &file) const;
    bool startMeasuring(batch::ConverterProcess &process, int slot);
    void measured(int slot, const batch::ProcessOutcome &outcome);
    // Fails a file whose album could not be measured; false when it may convert.
    bool failUnmeasuredAlbum(int index);
    // A file has ended for good: when it was its album's last, the album is tagged.
    void albumStep(int index);
    void trackTagged(const QString &output, bool ok);

    QString m_appDir;
    Selections m_selections;
    ProgramSettings m_settings;
    QList<File> m_files;
    QList<int> m_queue; // files still to start, in order
    Library m_library;
    OutputJournal m_journal;
    int m_skipped = 0;
    int m_upToDate = 0;
    QStringList m_warnings;
    QHash<QString, bool> m_coversDone; // output folder -> covers copied
    QStringList m_albumKeys;           // by file (album gain only)
    QSet<QString> m_albumsDone;
    QList<int> m_measureQueue;            // album normalisation: files still to measure
    QHash<int, int> m_measuring;          // slot -> file being measured
    QHash<QString, QString> m_unmeasured; // album key -> why it could not be measured
    std::unique_ptr<AlbumTagger> m_tagger;
    batch::JobPool m_pool;
    batch::OutputNames m_names;
    BatchLogs m_logs;
    BatchStatus m_status;
    QElapsedTimer m_clock;
    QString m_startError;
    bool m_running = false;
    bool m_stopped = false;     // no file starts any more
    bool m_interrupted = false; // stop() was called
};

} // namespace zm::cli
