#pragma once
#include "engine/batchdriver.h"
#include "engine/batchlogs.h"
#include "engine/batchstatus.h"
#include "engine/programsettings.h"
#include "pool/jobpool.h"
#include "shared/outputnames.h"

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <optional>

namespace zm::cli {

// One batch of zelmora-cli: the files of a list converted by conv, N at once, with the window's
// command lines (BuildCommandLine, BuildArguments), the window's naming (OutputNames), its logs
// (BatchLogs) and its verdict on each file (judgeConversion). Files start in list order as soon
// as a job is free; nothing waits between them. A stop asks every converter to end (SIGTERM,
// SIGKILL after the grace time); converters remove what they had begun, so no partial file is
// left.
class CliBatch final : public QObject
{
    Q_OBJECT
public:
    static constexpr int kStopGraceMs = BatchDriver::kStopGraceMs;

    struct File {
        enum class State { Waiting, Running, Converted, Failed, Stopped };
        QString input;
        QString output;        // given when it starts
        QString commandLine;   // as the window and the logs show it
        QStringList arguments; // what conv is started with
        State state = State::Waiting;
        QString reason;               // why it failed
        std::optional<double> length; // media seconds it converts, once known
        double position = 0;          // media seconds done
        int slot = -1;
    };

    CliBatch(QString appDir, Selections selections, ProgramSettings settings, const QStringList &inputs, int jobs,
             QObject *parent = nullptr);

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
    QString summary() const { return m_status.summary(m_clock.elapsed(), m_interrupted); }
    QString logFolder() const { return m_logs.folder(); }
    // The error of a converter that could not be started (the batch then ends), empty otherwise.
    QString startError() const { return m_startError; }

signals:
    void fileStarted(int index);
    void fileProgress(int index);
    void fileFinished(int index);
    void finished();

private:
    bool startNext(batch::ConverterProcess &process, int slot);
    void output(int slot, const QString &chunk);
    void ended(int slot, const batch::ProcessOutcome &outcome);
    int fileAt(int slot) const;
    void fill();
    void finishIfDone();
    CommandInputs inputsFor(const QString &inputPath) const;

    QString m_appDir;
    Selections m_selections;
    ProgramSettings m_settings;
    QList<File> m_files;
    int m_next = 0;
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
