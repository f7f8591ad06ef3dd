#pragma once

#include "mirelffmpeg.h"

#include <QObject>
#include <QString>
#include <QTimer>
#include <QVector>

#include <memory>

class FileListModel;
class VideoPrompts;
class VideoSettings;

// The batch flow of the main dialog: the files of the list are converted one after another,
// top to bottom, each by its own MirelFFmpeg. A periodic tick (one second) reads progress.txt,
// updates the status column and the bar, and moves on when the runner has finished.
class VideoBatch final : public QObject
{
    Q_OBJECT
public:
    struct Config {
        QString appFolder;       // holds progress.txt (and, by default, vv)
        QString converter;       // empty: <appFolder>/vv
        int tickMs = 1000;       // period of the progress tick
        int pauseMs = 1000;      // pause after starting the next file
    };

    enum class FileState { Waiting, Converting, Done, Failed };

    VideoBatch(FileListModel &list, VideoSettings &settings, VideoPrompts &prompts,
               Config config, QObject *parent = nullptr);
    ~VideoBatch() override;

    // The convert button. Returns false when nothing was started (empty list).
    bool Start(const QString &outputFolder);
    // Ends a running conversion at once (the converter is killed) and stops the batch.
    void Abort();
    // One tick of the timer (public so tests can drive it).
    void OnTimer();

    bool IsBusy() const { return m_busy; }
    int BarValue() const { return m_bar; }
    int CurrentIndex() const { return currentIndex; }
    int FileCount() const { return fileCount; }
    int Failures() const;
    FileState StateOf(int row) const;
    QString OutputPathOf(int row) const;
    QString CommandLineOf(int row) const;
    QString ProgressFilePath() const;
    QString ConverterPath() const;
    // Converter process of the current file (0 when none), for diagnostics and tests.
    pid_t CurrentPid() const;

    static QString CompletionText(int failures);
    // Why a run failed, in the dialog's language (empty for a success).
    static QString FailureDetail(const RunResult &result, bool outputWritten);
    static const QString StatusWaiting;
    static const QString StatusDone;
    static const QString StatusFailed;
    static const QString StatusTooLong;

signals:
    void busyChanged(bool busy);
    void barChanged(int value);
    void completed(int files, int failures);

private:
    void StartFile();
    void FinishCurrent();
    void RefreshStatuses(bool batchComplete);
    void SetBar(int value);

    FileListModel &m_list;
    VideoSettings &m_settings;
    VideoPrompts &m_prompts;
    Config m_config;
    QTimer m_timer;
    std::unique_ptr<MirelFFmpeg> runner; // the conversion in progress; null when none

    bool m_busy = false;
    bool m_starting = false;        // inside StartFile (the overwrite question may be open)
    bool m_startFailed = false;     // the current file could not be given a runner
    QString m_outputFolder;
    QString m_extension;
    int fileCount = 0;              // number of list items when the batch started
    int currentIndex = 0;           // list index of the file being converted
    int m_bar = 0;
    quint64 m_generation = 0;       // changes on Start and Abort: a nested loop can tell
    QVector<FileState> m_states;
    QVector<QString> m_outputs;
    QVector<QString> m_commandLines;
    QVector<QString> m_failureTexts;
    QVector<QString> m_failureDetails;
};
