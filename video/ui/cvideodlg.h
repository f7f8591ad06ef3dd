#pragma once

#include "logic/filelistmodel.h"
#include "logic/presets.h"
#include "logic/videobatch.h"

#include <QDialog>
#include <QHash>
#include <QPixmap>

#include <array>
#include <functional>
#include <memory>

class QComboBox;
class QLabel;
class QMenu;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTableView;

namespace batch {
class FocusMark;
class LauncherEntry;
} // namespace batch

namespace vidrune {

class CControlButton;
class CExplorer1;
class VideoPrompts;

// The main dialog of `video`: the file list, the ten setting lists, the output folder and the
// convert button; the batch itself runs in VideoBatch.
class CvideoDlg final : public QDialog
{
    Q_OBJECT
public:
    struct Options {
        QString appFolder;    // empty: the folder of the running executable
        QString converter;    // empty: <appFolder>/vv
        QString outputFolder; // empty: the user's home folder
        int tickMs = 1000;
        int pauseMs = 1000;
        VideoPrompts *prompts = nullptr; // null: real message boxes and file dialogs
        bool browser = true;             // false: the page band stays empty
        QString logRoot;                 // empty: $XDG_STATE_HOME/vidrune/logs
        // Sends a desktop notification; null: org.freedesktop.Notifications on the session bus.
        std::function<void(const QString &)> notify;
        // Where the converter keeps its progress; Auto: progress.txt beside the program when
        // its folder is writable (and no other window has it), else a file of this window's.
        VideoBatch::ProgressPlace progressPlace = VideoBatch::ProgressPlace::Auto;
        QString instanceFolder; // empty: $XDG_RUNTIME_DIR/vidrune (or the cache folder)
        // The bus of the progress on the task bar (com.canonical.Unity.LauncherEntry); empty:
        // the session bus.
        QString busAddress;
    };

    explicit CvideoDlg(QWidget *parent = nullptr);
    explicit CvideoDlg(const Options &options, QWidget *parent = nullptr);
    ~CvideoDlg() override;

    // Handlers.
    void OnAddFile();
    // Adds files as one multiple choice of the open dialog does: one add at the top for each,
    // in the order given (the command line's files come here too).
    void AddFiles(const QStringList &paths);
    void OnDeleteFile();
    void OnClearList();
    void OnMoveUp();
    void OnMoveDown();
    void OnBrowseOutputFolder();
    void OnConvert();
    void OnAbout();
    void OnMinimizeButton();
    void OnCloseButton();
    void OnFileListClick();
    // Every way of closing the dialog passes here. While converting it asks whether to stop;
    // true when the dialog may close now (false: it keeps converting, or closes by itself once
    // the stop it has begun is over).
    bool OnClose();
    // The right-click menu of a list item ("查看日志", "打开输出目录"); the caller owns it.
    QMenu *FileListMenu(int row);

    // Access for the application and for tests.
    QWidget *Control(int id) const { return m_controls.value(id); }
    FileListModel &FileList() { return m_fileList; }
    VideoSettings &Settings() { return m_settings; }
    VideoBatch &Batch() { return *m_batch; }
    QTableView *FileListView() const { return m_listView; }
    QComboBox *SettingCombo(int id) const;
    QLineEdit *OutputFolderBox() const { return m_outputFolder; }
    QProgressBar *ProgressBar() const { return m_progress; }
    int SelectedIndex() const { return selectedIndex; }
    QString AppFolder() const { return appFolder; }
    CExplorer1 *Browser() const { return m_browser; }
    CControlButton *MinimizeButton() const { return m_minimize; }
    CControlButton *CloseButton() const { return m_close; }
    batch::FocusMark *FocusMarker() const { return m_focusMark; }
    // The controls in the order Tab visits them (hidden and disabled ones are passed over).
    QList<QWidget *> TabChain() const;

    void done(int result) override;

protected:
    void paintEvent(QPaintEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    // Tab and Shift+Tab follow TabChain(); the page band, which holds nothing to press, is
    // never visited (its web view would otherwise take Tab into its page).
    bool focusNextPrevChild(bool next) override;

private:
    void OnInitDialog(const Options &options);
    void OnPaint();
    // Colours of a control: labels transparent with black text.
    static void OnCtlColor(QWidget *control);
    void CreateControls(bool browser);
    QLabel *AddLabel(const QString &text, int x, int y, int w, int h);
    // The label names `control` for screen readers (its accessible name and label relation).
    static void Name(QLabel *label, QWidget *control);
    QPushButton *AddButton(int id, const QString &text, int x, int y, int w, int h);
    QComboBox *AddCombo(int id, int x, int y, int w);
    void OnSettingActivated(int id, int index);
    void SyncCombos();
    void SetBusy(bool busy);
    void SetStopping(bool stopping);
    void OnBatchCompleted(int files, int failures);
    void OnBatchStopped();
    void ShowTaskProgress();
    void OnFileListContextMenu(const QPoint &pos);
    void SelectRow(int row);

    std::unique_ptr<VideoPrompts> m_ownPrompts;
    VideoPrompts *m_prompts = nullptr;
    QString appFolder;
    FileListModel m_fileList;
    VideoSettings m_settings;
    VideoBatch *m_batch = nullptr;
    QHash<int, QWidget *> m_controls;
    std::array<QComboBox *, SettingListCount> m_combos{};
    QTableView *m_listView = nullptr;
    QLineEdit *m_outputFolder = nullptr;
    QProgressBar *m_progress = nullptr;
    QPixmap m_background;
    CExplorer1 *m_browser = nullptr;
    CControlButton *m_minimize = nullptr;
    CControlButton *m_close = nullptr;
    batch::FocusMark *m_focusMark = nullptr;
    int selectedIndex = -1;
    std::function<void(const QString &)> m_notify;
    std::unique_ptr<batch::LauncherEntry> m_launcher;
    bool m_closeAfterStop = false; // a close request waits for the stop to end
    int m_closeResult = 0;
};

} // namespace vidrune
