#pragma once
#include "engine/batchlogs.h"
#include "engine/batchreport.h"
#include "engine/batchstatus.h"
#include "engine/commandline.h"
#include "engine/outputplanner.h"
#include "engine/progressparser.h"
#include "engine/programsettings.h"
#include "pool/jobpool.h"
#include "shared/outputnames.h"

#include <QHash>
#include <QObject>
#include <QTimer>
#include <functional>
#include <memory>
#include <optional>

namespace zm {

class DOSOutputs;
class DurationSource;
class QueueModel;
class MessageBoxes;
class DesktopShell;
class SoundPlayer;
class AlbumTagger;

// What the window's selectors hold when a file's conversion starts.
struct Selections {
    int formatIndex = 1;
    QString bitrate = QStringLiteral("192");
    QString sampleRate = QStringLiteral("44100");
    int channelIndex = 1;
    QString outputDir; // txtPath
};

// Converts the queue head first, one file per tick of the one-shot timer Timer1, until the
// queue is empty; then opens the output folder, plays the finish sound when it is on, unlocks
// the controls and shows "Done.". The queue may grow while it runs.
//
// The files run on a pool of Jobs converter runners (batch::JobPool), the first of which is
// the window's objDOS; with one job the pool is objDOS alone and the batch is exactly the
// one-file-at-a-time flow: ConvertNextFile stores the command line in objDOS and calls
// ExecuteCommand, objDOS_ReceiveOutputs shows the file's progress, objDOS_CommandOver removes
// the file and re-arms Timer1. With more jobs the same handlers run for every runner; a tick
// starts as many waiting files, in queue order, as there are free runners, and the bar shows
// the whole batch (media seconds converted over the media seconds of all its files).
//
// Output names are taken in queue order as files start (OutputNames): a later file with the
// same name gets " (2)", " (3)", ...; a failed file gives its name back only when no file has
// been named after it, so a name once given never changes and the numbers rise along the queue.
//
// A running batch can be stopped: every converter is asked to end (and killed when it does
// not within the grace time), the files it was working on stay in their places in the queue,
// the rest stay queued, and the batch ends without opening the folder or playing the sound.
// Every conversion's full converter output is kept as a log file; the status text follows the
// batch ("Converting 3 of 14 · about 0:42 left", at most once a second) and sums it up at the
// end.
class BatchDriver final : public QObject
{
    Q_OBJECT
public:
    struct Seams {
        MessageBoxes *boxes = nullptr;
        DesktopShell *shell = nullptr;
        SoundPlayer *sound = nullptr;
    };
    static constexpr int kStopGraceMs = 3000;
    static constexpr int kStatusIntervalMs = 1000;

    BatchDriver(QueueModel &queue, DOSOutputs &dos, const ProgramSettings &settings, QString appDir, Seams seams,
                std::function<Selections()> selections, QObject *parent = nullptr);
    ~BatchDriver() override;

    // Click of imgStart: "Please add a file" on an empty queue, otherwise lock and arm Timer1.
    void imgStart_Click();
    // Stops the running batch (see above); nothing happens when none runs.
    void stop();
    bool isRunning() const { return m_running; }
    // How many files convert at once in batches started from now on (at least 1).
    void setJobs(int jobs) { m_jobs = std::max(jobs, 1); }
    int jobs() const { return m_jobs; }
    // Whether the tick that ends a batch opens the output folder (Options, "Open Output Folder
    // When Done"; on unless the user turned it off).
    void setOpenFolderWhenDone(bool open) { m_openFolderWhenDone = open; }
    bool openFolderWhenDone() const { return m_openFolderWhenDone; }
    // Options, "Loudness", for batches started from now on: ReplayGain tags (with Album, each
    // album gets its album tags once its last file has ended; see engine/albums.h) and a
    // loudness every file is brought to. Off and none: the command lines as they always were.
    // Album with a target normalises albums: before conversions start, every waiting file is
    // measured (`conv -measure-only`, as many at once as the jobs, none beside a conversion), and
    // each track is converted with the measurements of its whole album, which give it the album's
    // one gain. An album one of whose files cannot be measured fails without being converted.
    // Files added later are measured when the batch reaches them, after the running conversions
    // have ended; one that joins an album already converted gets the gain of the album with it.
    void setLoudness(ReplayGain replayGain, std::optional<double> normalize);
    ReplayGain replayGain() const { return m_replayGain; }
    std::optional<double> normalize() const { return m_normalize; }
    // Reads a file's album tag (none: every file goes by its folder).
    void setAlbumTagReader(std::function<QString(const QString &)> reader) { m_albumTagOf = std::move(reader); }
    // Where the tracks' measurements are kept until their album is tagged.
    void setMeasurementFolder(const QString &folder) { m_measurements = folder; }
    // The process ids of the converters running now.
    QList<pid_t> runningPids() const;
    bool isStopping() const { return m_running && m_stopRequested; }
    const QList<FailedFile> &failures() const { return m_failures; }
    const BatchOutcome &lastOutcome() const { return m_outcome; }
    QTimer &Timer1() { return m_timer; }

    // Where outputs go and what happens to existing ones (optional; see OutputPlanner).
    void setPlanner(OutputPlanner *planner) { m_planner = planner; }
    // Asked when Convert is pressed on a queue that holds files, before anything starts: false
    // leaves the batch unstarted (the user cancelled).
    void setBeforeStart(std::function<bool()> check) { m_beforeStart = std::move(check); }
    // The outputs the queued files would get if a batch started now, in queue order: the
    // folders the planner gives and the batch's own numbering, without looking at the disk.
    QList<PlannedOutput> plannedOutputs() const;
    // How many head rows of the queue are the batch's started files (the rest wait).
    int startedFiles() const { return int(m_head.size()); }

    // Media lengths of waiting files, for the time left (optional).
    void setDurationSource(DurationSource *source) { m_durations = source; }
    void setStopGraceMs(int ms) { m_stopGraceMs = ms; }

signals:
    void controlsLocked(bool locked);
    // New width of imgPB in twips (0 ... 5415) and caption of lblPB.
    void progressChanged(float widthTwips, const QString &caption);
    // A conversion is about to start (input, command line).
    void fileStarted(const QString &inputPath, const QString &commandLine);
    // The stop has been asked for; the batch ends when the converter has gone.
    void stopping();
    // The text of the status strip.
    void statusChanged(const QString &text);
    // The batch has ended (after "Done." or the stop), with its failures.
    void batchEnded(const BatchOutcome &outcome);
    void batchFinished();

private:
    // A file at the head of the queue: running, or, after a stop, kept in its place. The head
    // rows of the queue are these files, in the order they started.
    struct HeadFile {
        int id = 0;
        QString input, root, output, line;
        QString album, measurement;   // album gain: its album's key and its measurement
        DOSOutputs *runner = nullptr; // none once kept
    };

    void Timer1_Tick();
    void ConvertNextFile();
    // The handlers of every runner's events (objDOS's, and the other runners' with more jobs).
    void objDOS_ReceiveOutputs(const QString &CommandOutputs);
    void objDOS_CommandOver();
    bool startFile(DOSOutputs &runner, const Selections &sel);
    void startFailed(const HeadFile &file);
    qsizetype headIndexOf(const QObject *runner) const;
    int runningJobs() const;
    bool parallel() const { return m_batchJobs > 1; }
    void showBatchProgress();
    CommandInputs inputsFor(const Selections &sel, const QString &inputPath, const QString &root) const;
    // Leaves out the waiting files at the head of the waiting part that the planner does not
    // accept; false when none is left to start.
    bool nextAccepted(const Selections &sel, CommandInputs &in, QString &output);
    // Records how one file's conversion ended; true when it leaves the queue.
    bool concludeFile(const HeadFile &file, const batch::ProcessOutcome &end, const QString &outputs,
                      bool *converted = nullptr);
    QString albumOf(const QString &input, const QString &outputDir);
    // A file of an album has ended: when none of the album is left, its tracks get their tags.
    void albumStep(const QString &album);
    bool albumWorkIdle() const;
    // Album normalisation: whether the gain of every track is its album's.
    bool albumNormalising() const { return m_replayGain == ReplayGain::Album && m_normalize.has_value(); }
    // Starts the measuring of waiting files not measured yet; true while measuring holds the
    // conversions back.
    bool measureWaiting(const Selections &sel);
    void measureEnded(int slot, const batch::ProcessOutcome &outcome);
    // Takes the waiting files of albums that could not be measured out of the queue as failed.
    void failUnmeasuredAlbums(const Selections &sel);
    QString measurementFolder() const;
    void endBatch(bool stopped);
    void refreshStatus();
    void updateWaiting();
    void writeLog(const HeadFile &file, const QString &outputs, const QString &result);
    qint64 now() const;

    QueueModel &m_queue;
    DOSOutputs &m_dos;
    const ProgramSettings &m_settings;
    QString m_appDir;
    Seams m_seams;
    std::function<Selections()> m_selections;
    DurationSource *m_durations = nullptr;
    OutputPlanner *m_planner = nullptr;
    std::function<bool()> m_beforeStart;
    int m_skipped = 0;
    QTimer m_timer;
    QTimer m_statusTimer;
    qint32 m_totalSeconds = 0;
    bool m_running = false;
    bool m_stopRequested = false;
    int m_stopGraceMs = kStopGraceMs;
    batch::OutputNames m_names;
    batch::JobPool m_pool; // slot 0 is m_dos
    int m_jobs = 1;
    bool m_openFolderWhenDone = true;
    int m_batchJobs = 1; // the jobs of the running batch
    int m_nextId = 1;
    QList<HeadFile> m_head; // queue rows 0 ... n - 1
    ProgressDisplay m_shown;
    QList<FailedFile> m_failures;
    BatchStatus m_status;
    QString m_statusText;
    BatchLogs m_logs;
    BatchOutcome m_outcome;
    ReplayGain m_replayGain = ReplayGain::Off;
    std::optional<double> m_normalize;
    std::function<QString(const QString &)> m_albumTagOf;
    QString m_measurements;
    QHash<QString, QString> m_albumKeys;        // input -> album key, as first read
    QHash<QString, QStringList> m_albumOutputs; // album -> its converted outputs so far
    QHash<QString, QString> m_measurementOf;    // output -> its measurement
    std::unique_ptr<AlbumTagger> m_tagger;
    struct Measuring {
        QString input, album, measurement;
        QStringList arguments;
    };
    std::unique_ptr<batch::JobPool> m_measurePool;
    QList<Measuring> m_measureWaiting;
    QHash<int, Measuring> m_measuring;           // by slot of m_measurePool
    QHash<QString, QString> m_preMeasurement;    // input -> its measurement before the gain
    QHash<QString, QStringList> m_albumMeasured; // album -> its tracks' measurements
    QHash<QString, QString> m_unmeasured;        // album -> why it could not be measured
};

} // namespace zm
