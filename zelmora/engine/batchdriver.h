#pragma once
#include "commandline.h"
#include "programsettings.h"

#include <QObject>
#include <QSet>
#include <QTimer>
#include <functional>

namespace zm {

class DOSOutputs;
class QueueModel;
class MessageBoxes;
class DesktopShell;
class SoundPlayer;

// What the window's selectors hold when a file's conversion starts.
struct Selections {
    int formatIndex = 1;
    QString bitrate = QStringLiteral("192");
    QString sampleRate = QStringLiteral("44100");
    int channelIndex = 1;
    QString outputDir; // txtPath
};

// One file of the batch that did not convert, with the converter's last words.
struct FailedFile {
    QString inputPath;
    QString reason;
};

// Converts the queue head first, one file per tick of the one-shot timer Timer1, until the
// queue is empty; then opens the output folder, plays the finish sound when it is on, unlocks
// the controls and shows "Done.". The queue may grow while it runs.
class BatchDriver final : public QObject {
    Q_OBJECT
public:
    struct Seams {
        MessageBoxes *boxes = nullptr;
        DesktopShell *shell = nullptr;
        SoundPlayer *sound = nullptr;
    };

    BatchDriver(QueueModel &queue, DOSOutputs &dos, const ProgramSettings &settings, QString appDir, Seams seams,
                std::function<Selections()> selections, QObject *parent = nullptr);

    // Click of imgStart: "Please add a file" on an empty queue, otherwise lock and arm Timer1.
    void imgStart_Click();
    bool isRunning() const { return m_running; }
    qint32 TotalSeconds() const { return m_totalSeconds; }
    const QList<FailedFile> &failures() const { return m_failures; }
    QTimer &Timer1() { return m_timer; }

signals:
    void controlsLocked(bool locked);
    // New width of imgPB in twips (0 ... 5415) and caption of lblPB.
    void progressChanged(float widthTwips, const QString &caption);
    // A conversion is about to start (input, command line).
    void fileStarted(const QString &inputPath, const QString &commandLine);
    void batchFinished();

private:
    void Timer1_Tick();
    void ConvertNextFile();
    void objDOS_ReceiveOutputs(const QString &chunk);
    void objDOS_CommandOver();
    void finishBatch();
    QString freeOutputPath(const QString &wanted) const;

    QueueModel &m_queue;
    DOSOutputs &m_dos;
    const ProgramSettings &m_settings;
    QString m_appDir;
    Seams m_seams;
    std::function<Selections()> m_selections;
    QTimer m_timer;
    qint32 m_totalSeconds = 0;
    bool m_running = false;
    bool m_overSeen = false;
    QString m_currentInput;
    QString m_currentOutput;
    QSet<QString> m_producedThisBatch;
    QList<FailedFile> m_failures;
};

// The converter's last non-empty line of text (its error, when it failed).
QString lastOutputLine(const QString &outputs);

} // namespace zm
