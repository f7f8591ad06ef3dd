#pragma once
#include "engine/batchreport.h"
#include "engine/programsettings.h"
#include "notify/desktopnotifier.h"
#include "notify/launcherentry.h"
#include "engine/seams.h"
#include "settings/statelocations.h"
#include "shell/desktopseams.h"

#include <QObject>
#include <functional>
#include <memory>

class QDBusConnection;
class QDialog;
class QLabel;
class QWidget;

namespace zm {

class BatchDriver;
class HotSpot;
class QueueModel;

// Shows a batch of the main window beyond its progress bar: the window's title and the launcher
// entry on the task bar ("42% — Zelmora", the files left), the status strip at the bottom (the
// batch in words and, while the cutter is on, the cut), the desktop notification when a batch
// ends while the window is in the background, and the failures window.
class BatchPresenter final : public QObject
{
    Q_OBJECT
public:
    // The window's parts it shows the batch in.
    struct Parts {
        QWidget *window = nullptr;
        QLabel *imgPB = nullptr, *lblPB = nullptr, *lblStatus = nullptr;
        HotSpot *lblCut = nullptr;
    };
    BatchPresenter(Parts parts, BatchDriver &batch, QueueModel &queue, const ProgramSettings &settings, UiSeams seams,
                   std::function<void(QDialog &)> runDialog, QObject *parent = nullptr);
    ~BatchPresenter() override;

    // The bus of the notifications and of the launcher entry.
    void setNotificationBus(const QDBusConnection &bus);

    // The bar (its width in twips) and its caption; while a batch runs, the task bar too.
    void showProgress(float widthTwips, const QString &caption);
    // A batch begins (true) or has ended (false): the task bar shows it from 0, or forgets it.
    void batchRunning(bool running);
    // A batch has ended: the notification when the window is not the active one, and the
    // failures window when a file failed.
    void batchEnded(const BatchOutcome &outcome);
    // The cut of the options, shown at the right of the status strip while the cutter is on.
    void updateCutIndicator();

signals:
    // The failures window's Add Back to Queue: the files are to join the queue again.
    void addBackRequested(const QList<zm::FailedFile> &files);

private:
    void showTaskProgress(double fraction);
    void clearTaskProgress();
    void showStatus(const QString &text);
    void layoutStatusStrip();

    Parts m_parts;
    BatchDriver &m_batch;
    QueueModel &m_queue;
    const ProgramSettings &m_settings;
    UiSeams m_seams;
    std::function<void(QDialog &)> m_runDialog;
    QString m_status;
    double m_taskFraction = 0; // what the launcher shows of the batch
    std::unique_ptr<DesktopNotifier> m_notifier;
    std::unique_ptr<LauncherEntry> m_launcher;
};

} // namespace zm
