#pragma once

#include "core/conversionlogs.h"
#include "core/mirelffmpeg.h"
#include "core/progressslot.h"
#include "shared/outputnames.h"

#include <QObject>
#include <QString>
#include <QTimer>
#include <QVector>

#include <memory>

namespace vidrune {

class FileListModel;
class VideoPrompts;
class VideoSettings;

// The batch flow of the main dialog: the files of the list are converted one after another,
// top to bottom, each by its own MirelFFmpeg. A periodic tick (one second) reads the progress
// file, updates the status column and the bar, and moves on when the runner has finished. The
// progress file is this batch's own (ProgressSlot), named to the converter in its environment,
// so two windows converting at once never read each other's progress. Nothing
// here waits on the calling thread: the pause between files is a timer, and a runner follows
// its converter on the event loop (a stopped one reports its end when the converter has gone).
class VideoBatch final : public QObject
{
    Q_OBJECT
public:
    // Where the converter keeps its progress.
    enum class ProgressPlace {
        Auto,          // beside the program when it is portable (StateLocations::IsPortable)
        BesideProgram, // progress.txt in appFolder, unless another window holds it
        OwnFile,       // a file of this window's own in the instance folder
    };

    struct Config {
        QString appFolder;  // holds progress.txt (and, by default, vv)
        QString converter;  // empty: <appFolder>/vv
        int tickMs = 1000;  // period of the progress tick
        int pauseMs = 1000; // pause after starting the next file
        QString logRoot;    // empty: $XDG_STATE_HOME/vidrune/logs
        ProgressPlace progressPlace = ProgressPlace::Auto;
        QString instanceFolder; // empty: $XDG_RUNTIME_DIR/vidrune (or the cache folder)
    };

    enum class FileState { Waiting, Converting, Done, Failed, Stopped };

    VideoBatch(FileListModel &list, VideoSettings &settings, VideoPrompts &prompts, Config config,
               QObject *parent = nullptr);
    // A converter still running is asked to end (SIGTERM) and killed after the grace time, by
    // the reaper: nothing waits here.
    ~VideoBatch() override;

    // The convert button. Returns false when nothing was started (empty list, or an output
    // folder that does not exist and cannot be made).
    bool Start(const QString &outputFolder);
    // The stop button: the current converter is asked to end (SIGTERM, SIGKILL after 3 s)
    // without waiting here. When it is gone the current file shows "已停止", later files keep
    // "等待", busyChanged(false) and stopped() follow; `announce` shows "转换已停止" first.
    void Stop(bool announce = true);
    // One tick of the timer (public so tests can drive it).
    void OnTimer();

    bool IsBusy() const { return m_busy; }
    bool IsStopping() const { return m_stopping; }
    int BarValue() const { return m_bar; }
    int CurrentIndex() const { return currentIndex; }
    // Files of the batch not yet converted, the current one included (0 when idle).
    int FilesLeft() const { return m_busy ? fileCount - currentIndex : 0; }
    int Failures() const;
    FileState StateOf(int row) const;
    QString OutputPathOf(int row) const;
    QString CommandLineOf(int row) const;
    // The progress file of this window: decided when the first file starts, empty before.
    QString ProgressFilePath() const;
    bool ProgressBesideProgram() const { return m_progress.IsBesideProgram(); }
    QString ConverterPath() const;
    // Converter process of the current file (0 when none), for diagnostics and tests.
    pid_t CurrentPid() const;

    static QString CompletionText(int failures);
    // The desktop notification at the end of a batch.
    static QString NotificationText(int files, int failures);
    // Why a run failed, in the dialog's language (empty for a success). The converter's own
    // last line comes first; the exit code only when it printed nothing.
    static QString FailureDetail(const RunResult &result, bool outputWritten);
    // The common reasons a conversion fails, in the dialog's language, told by vv's exit code
    // and its error line: not media, no video, the input missing or unreadable, the output
    // folder not writable, a full disk, stopped, damaged input. Empty for any other reason.
    static QString CommonReason(const RunResult &result);
    static const QString ReasonNotMedia;
    static const QString ReasonNoVideo;
    static const QString ReasonInputMissing;
    static const QString ReasonInputUnreadable;
    static const QString ReasonCannotWrite;
    static const QString ReasonDiskFull;
    static const QString ReasonStopped;
    static const QString ReasonDamaged;
    static const QString StatusWaiting;
    static const QString StatusDone;
    static const QString StatusFailed;
    static const QString StatusTooLong;
    static const QString StatusStopped;

signals:
    void busyChanged(bool busy);
    void stoppingChanged(bool stopping);
    void barChanged(int value);
    // The batch has converted its last file; emitted before the final message box.
    void completed(int files, int failures);
    // A stop has ended the batch (after the "转换已停止" message when there was one).
    void stopped();

private:
    void StartFile();
    void FinishCurrent(const RunResult &result);
    void FinishStop(const RunResult *result);
    void EndPause();
    void RefreshStatuses();
    void ShowFinal(int row);
    void SetBar(int value);
    void LogResult(int row);

    FileListModel &m_list;
    VideoSettings &m_settings;
    VideoPrompts &m_prompts;
    Config m_config;
    ConversionLogs m_logs;
    ProgressSlot m_progress; // outlives the runners, which may still write into it
    QTimer m_timer;
    QTimer m_pauseTimer;
    std::unique_ptr<MirelFFmpeg> runner; // the conversion in progress; null when none

    bool m_busy = false;
    bool m_starting = false;    // inside StartFile (the overwrite question may be open)
    bool m_startFailed = false; // the current file could not be given a runner
    bool m_pausing = false;     // between starting the next file and the end of the pause
    bool m_tickHeld = false;    // a tick came during the pause; it runs when the pause ends
    bool m_stopping = false;    // a stop waits for the converter to end
    bool m_announceStop = true;
    QString m_outputFolder;
    QString m_extension;
    QString m_logFolder;  // this batch's log folder; empty: no logs
    int fileCount = 0;    // number of list items when the batch started
    int currentIndex = 0; // list index of the file being converted
    int m_bar = 0;
    quint64 m_generation = 0; // changes on Start and Stop: a nested loop can tell
    QVector<FileState> m_states;
    QVector<QString> m_outputs;
    batch::OutputNames m_names; // the outputs this batch has named
    QVector<QString> m_commandLines;
    QVector<QString> m_failureTexts;
    QVector<QString> m_failureDetails;
};

} // namespace vidrune
