#pragma once
#include "shell/desktopseams.h"
#include "engine/batchdriver.h"
#include "engine/dosoutputs.h"
#include "engine/programsettings.h"
#include "queue/commondialogs.h"
#include "queue/fileintake.h"
#include "queue/queuemodel.h"
#include "probe/durationprobe.h"
#include "launch/launchrequest.h"
#include "library/queuekeeper.h"
#include "library/windowbatch.h"
#include "shell/batchpresenter.h"
#include "settings/settingsstore.h"
#include "settings/loudnesssetting.h"

#include <QImage>
#include <QWidget>
#include <array>
#include <functional>
#include <memory>

class QAction;
class QComboBox;
class QLabel;
class QLineEdit;
class QMenu;
class QTreeView;
class QDialog;
class QDropEvent;

namespace zm {

class FocusMark;
class HotSpot;

// The main window: a borderless picture with the file list, the four selectors, the output
// folder, the progress bar and the hot spots of the menu bar and toolbar drawn on it.
class frmMain final : public QWidget
{
    Q_OBJECT
public:
    frmMain(QString appDir, UiSeams seams, ProgramSettings &settings, QWidget *parent = nullptr);
    ~frmMain() override;

    // Routines of the window.
    void AddQueueEntry(const QString &path);
    void applyHintRule();
    void imgAdd_Click();
    void imgRemove_Click();
    void menuRemoveAll_Click();
    void imgBrowse_Click();
    void imgStart_Click() { m_batch->imgStart_Click(); }
    // imgConvert: Convert while idle, Stop while a batch runs.
    void imgConvert_Click();
    void imgExit_Click();
    void imgToolbar_Click(int index);
    void showOptions();
    void imgHelp_Click();
    void AddFolder();
    void lblWeb_Click();
    void lblFeed_Click();
    // The drop routine of LV, picText and lblText: queues the dropped local files and folders.
    void dropFiles(QDropEvent *event);
    // Files given to a start of zelmora, or handed over by a later start: they join the queue
    // as dropped ones do (during a batch too, after the files already queued), and the window
    // comes to the front. False while the window is closing: nothing is taken then, and the
    // later start tries again.
    bool openFromLaunch(const LaunchRequest &request);
    void aboutBox();
    void txtAction_Change();
    // Options, Simultaneous Conversions: keeps the choice in zelmora.conf; batches started
    // from now on convert that many files at once.
    void setJobsChoice(JobsChoice choice);
    JobsChoice jobsChoice() const { return m_jobsChoice; }
    // Options, Open Output Folder When Done: kept in zelmora.conf; the end of a batch opens the
    // output folder only while it is on.
    void setOpenFolderWhenDone(bool open);
    QAction *openFolderWhenDoneAction() const { return m_openFolderAction; }
    // Options, Loudness: Off, Tag Only (track and album), Normalise to ... LUFS; kept in
    // zelmora.conf (unless `keep` is false); batches started from now on follow it.
    void setLoudnessChoice(const LoudnessChoice &choice, bool keep = true);
    LoudnessChoice loudnessChoice() const { return m_loudness; }
    QMenu *menuLoudness() const { return m_menuLoudness; }
    // Options, Keep Folder Structure: files found in an added or dropped folder are written
    // below the output folder under their path relative to that folder. Kept in zelmora.conf.
    void setKeepFolderStructure(bool on);
    QAction *keepFolderStructureAction() const { return m_keepFoldersAction; }
    // Options, Move Originals to Trash After Converting: kept in zelmora.conf.
    void setTrashOriginals(bool on);
    QAction *trashOriginalsAction() const { return m_trashAction; }
    // Options, When Outputs Exist: ask before a batch (the default), or the remembered answer.
    void setExistingChoice(ExistingChoice choice);
    QMenu *menuExisting() const { return m_menuExisting; }
    // The library choices as they are now (and as zelmora.conf holds them).
    const BatchOptions &batchOptions() const { return m_batchOptions; }
    // At start: when the last run left a batch unfinished (a crash, a kill, or the window
    // closed during it), asks "The last batch did not finish: N files were left. Continue?";
    // Continue queues those files and converts them, Discard forgets them.
    void offerUnfinishedBatch();
    LibraryPlanner &planner() { return *m_planner; }
    QueueKeeper &keeper() { return *m_keeper; }

    // How modal windows and popups are run; tests replace these so nothing blocks.
    std::function<void(QDialog &)> runDialog;
    std::function<void(QMenu &, const QPoint &)> runPopup;
    // How the folder search, of Add Folder and of dropped or handed-over folders, lists a folder.
    FolderLister folderLister = listFolder;

    QString appDir() const { return m_appDir; }
    // Where this copy keeps its settings and converts into by default.
    const StateLocations &state() const { return m_store.locations(); }
    MainChoices choices() const;
    Selections selections() const;

    QueueModel &queue() { return m_queue; }
    DOSOutputs &objDOS() { return *m_dos; }
    BatchDriver &batch() { return *m_batch; }
    CCommonDialogs &dialogs() { return m_dialogs; }
    QTreeView *LV() const { return m_LV; }
    QComboBox *cmbOF() const { return m_cmbOF; }
    QComboBox *cmbBR() const { return m_cmbBR; }
    QComboBox *cmbR() const { return m_cmbR; }
    QComboBox *cmbChannel() const { return m_cmbChannel; }
    QLineEdit *txtPath() const { return m_txtPath; }
    QLineEdit *txtAction() const { return m_txtAction; }
    QLabel *imgPB() const { return m_imgPB; }
    QLabel *lblPB() const { return m_lblPB; }
    QWidget *picText() const { return m_picText; }
    QLabel *lblText() const { return m_lblText; }
    HotSpot *lblFeed() const { return m_lblFeed; }
    HotSpot *lblWeb() const { return m_lblWeb; }
    QLabel *lblStatus() const { return m_lblStatus; }
    HotSpot *lblCut() const { return m_lblCut; }
    HotSpot *arrow(int i) const { return m_arrows[size_t(i)]; }
    // The bus of the desktop notifications (the session bus unless a test gives its own).
    void setNotificationBus(const QDBusConnection &bus) { m_presenter->setNotificationBus(bus); }
    // What imgConvert offers now.
    enum class ConvertState { Convert, Stop, Stopping };
    ConvertState convertState() const { return m_convertState; }
    HotSpot *imgConvert() const { return m_imgConvert; }
    HotSpot *imgMin() const { return m_imgMin; }
    HotSpot *imgHelp() const { return m_imgHelp; }
    HotSpot *imgExit() const { return m_imgExit; }
    HotSpot *imgBrowse() const { return m_imgBrowse; }
    FocusMark *focusMark() const { return m_focusMark; }
    HotSpot *imgToolbar(int i) const { return m_imgToolbar[size_t(i)]; }
    HotSpot *imgMenu(int i) const { return m_imgMenu[size_t(i)]; }
    QMenu *menuRemove() const { return m_menuRemove; }
    QMenu *menuOptions() const { return m_menuOptions; }
    QMenu *menuJobs() const { return m_menuJobs; }

signals:
    // The exit routine has saved the settings and closed the window: end the program.
    void exitRequested();

protected:
    void paintEvent(QPaintEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void Form_Load();
    void buildControls();
    void buildMenus();
    void setKeyboardOrder();
    void resetHotSpots();
    void lockControls(bool locked);
    void setConvertState(ConvertState state);
    void showConvertPicture(bool hot);
    void updateMp3Selectors();
    void applyJobsChoice();
    QPixmap arrowPicture(int i, bool hot) const;
    void batchEnded(const BatchOutcome &outcome);
    // Before a batch starts: the question about outputs that exist already; false: cancelled.
    bool prepareBatch();
    void addBack(const QList<FailedFile> &files);
    void showExistingChoice();
    bool confirmQuitWhileConverting();
    void saveSetupIni();
    void bringToFront(const QString &activationToken);
    // "Drag & Drop Files Here", the hint over the empty list.
    static QString dropCaption();
    QComboBox *makeBox(const QStringList &items, const QRect &geometry, const char *name, const QString &caption);
    HotSpot *makeArrow(QComboBox *box, const QRect &geometry, const QString &tip);

    QString m_appDir;
    SettingsStore m_store;
    UiSeams m_seams;
    ProgramSettings &m_settings;
    QueueModel m_queue;
    CCommonDialogs m_dialogs;
    DOSOutputs *m_dos = nullptr;
    BatchDriver *m_batch = nullptr;
    QImage m_background;

    QTreeView *m_LV = nullptr;
    QWidget *m_picText = nullptr;
    QLabel *m_lblText = nullptr;
    QComboBox *m_cmbOF = nullptr, *m_cmbBR = nullptr, *m_cmbR = nullptr, *m_cmbChannel = nullptr;
    QLineEdit *m_txtPath = nullptr;
    QLineEdit *m_txtAction = nullptr;
    QLabel *m_imgPB = nullptr, *m_lblPB = nullptr, *m_lblStatus = nullptr;
    HotSpot *m_lblFeed = nullptr, *m_lblWeb = nullptr, *m_lblCut = nullptr;
    std::array<QLabel *, 4> m_comboOff{}; // the disabled look of the lists, under them
    HotSpot *m_imgMin = nullptr, *m_imgHelp = nullptr, *m_imgExit = nullptr, *m_imgBrowse = nullptr,
            *m_imgConvert = nullptr;
    std::array<HotSpot *, 4> m_arrows{};
    FocusMark *m_focusMark = nullptr;
    std::array<HotSpot *, 7> m_imgToolbar{}; // index 5 is not used
    std::array<HotSpot *, 3> m_imgMenu{};
    std::array<QPixmap, 7> m_imgButtonData;
    std::array<QPixmap, 3> m_imgMenuData;
    QPixmap m_imgMinLight, m_imgHelpLight, m_imgExitLight, m_imgBrowseLight, m_imgBrowseDark, m_imgConvertData,
        m_imgButton, m_imgButtonLight, m_progressFill, m_imgStop, m_imgStopLight, m_imgStopping, m_imgButtonOff,
        m_comboOffPicture;
    ConvertState m_convertState = ConvertState::Convert;
    DurationProbe m_probe;
    BatchPresenter *m_presenter = nullptr;
    FileIntake *m_intake = nullptr;
    bool m_quitAfterStop = false;
    QMenu *m_menuFile = nullptr, *m_menuOptions = nullptr, *m_menuAbout = nullptr, *m_menuRemove = nullptr,
          *m_menuJobs = nullptr;
    JobsChoice m_jobsChoice = JobsChoice::One;
    QAction *m_openFolderAction = nullptr;
    void buildLoudnessMenu();
    QMenu *m_menuLoudness = nullptr;
    LoudnessChoice m_loudness;
    QAction *m_keepFoldersAction = nullptr;
    QAction *m_trashAction = nullptr;
    QMenu *m_menuExisting = nullptr;
    BatchOptions m_batchOptions;
    std::unique_ptr<LibraryPlanner> m_planner;
    QueueKeeper *m_keeper = nullptr;
    bool m_resuming = false; // the next batch continues an unfinished one
};

// Address of the program's web site (ZELMORA_WEB_BASE overrides it), without a trailing "/".
QString webBase();

} // namespace zm
