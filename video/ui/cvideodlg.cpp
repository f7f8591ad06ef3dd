#include "ui/cvideodlg.h"

#include "core/converterprogress.h"
#include "core/statelocations.h"
#include "logic/filefilters.h"
#include "ui/ccontrolbutton.h"
#include "ui/cexplorer1.h"
#include "ui/desktopnotifier.h"
#include "ui/dg3.h"
#include "ui/dialogunits.h"
#include "gui/focusmark.h"
#include "gui/launcherentry.h"
#include "ui/qtvideoprompts.h"
#include "ui/videosite.h"
#include "ui/videoskin.h"

#include <QApplication>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QTableView>
#include <QTimer>

namespace vidrune {

namespace {

QFont DialogFont()
{
    QFont font(QStringLiteral("Noto Sans CJK SC"));
    font.setFamilies({QStringLiteral("Noto Sans CJK SC"), QStringLiteral("Noto Sans CJK JP"),
                      QStringLiteral("DejaVu Sans")});
    font.setPixelSize(DialogUnits::FontPixels);
    return font;
}

} // namespace

CvideoDlg::CvideoDlg(QWidget *parent) : CvideoDlg(Options(), parent) {}

CvideoDlg::CvideoDlg(const Options &options, QWidget *parent)
    : QDialog(parent),
      appFolder(options.appFolder.isEmpty() ? QCoreApplication::applicationDirPath()
                                            : options.appFolder),
      m_settings([this] { return appFolder; })
{
    if (options.prompts) {
        m_prompts = options.prompts;
    } else {
        m_ownPrompts = std::make_unique<QtVideoPrompts>(this);
        m_prompts = m_ownPrompts.get();
    }
    VideoBatch::Config config;
    config.appFolder = appFolder;
    config.converter = options.converter;
    config.tickMs = options.tickMs;
    config.pauseMs = options.pauseMs;
    config.logRoot = options.logRoot;
    config.progressPlace = options.progressPlace;
    config.instanceFolder = options.instanceFolder;
    m_batch = new VideoBatch(m_fileList, m_settings, *m_prompts, config, this);
    m_notify = options.notify;
    if (!m_notify)
        m_notify = [](const QString &text) { NotifyDesktop(text); };
    OnInitDialog(options);

    connect(m_batch, &VideoBatch::busyChanged, this, &CvideoDlg::SetBusy);
    connect(m_batch, &VideoBatch::stoppingChanged, this, &CvideoDlg::SetStopping);
    connect(m_batch, &VideoBatch::barChanged, m_progress, &QProgressBar::setValue);
    // The task bar and docks follow the bar and count the files left.
    m_launcher = std::make_unique<batch::LauncherEntry>(
        options.busAddress.isEmpty()
            ? QDBusConnection::sessionBus()
            : QDBusConnection::connectToBus(options.busAddress, QStringLiteral("vidrune-launcher ")
                                                                    + options.busAddress),
        QString::fromLatin1(StateLocations::DesktopId), QString::fromLatin1(LauncherPath));
    connect(m_batch, &VideoBatch::barChanged, this, &CvideoDlg::ShowTaskProgress);
    connect(m_batch, &VideoBatch::busyChanged, this, &CvideoDlg::ShowTaskProgress);
    connect(m_batch, &VideoBatch::completed, this, &CvideoDlg::OnBatchCompleted);
    connect(m_batch, &VideoBatch::stopped, this, &CvideoDlg::OnBatchStopped);
    qApp->installEventFilter(this);
}

void CvideoDlg::OnInitDialog(const Options &options)
{
    // Template 102: title bar, system menu and minimize box, fixed size, a taskbar button.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                   | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint
                   | Qt::WindowCloseButtonHint);
    setWindowTitle(QStringLiteral("Vidrune 10.0.2"));
    setFont(DialogFont());
    setFixedSize(DialogUnits::MainWidth, DialogUnits::MainHeight);
    QPalette pal = palette();
    pal.setColor(QPalette::WindowText, Qt::black);
    setPalette(pal);

    // The controls of the template, the file list's columns and the progress bar's range.
    CreateControls(options.browser);
    setWindowIcon(VideoSkin::ProgramIcon());
    m_background = VideoSkin::Bitmap(137);

    // The output folder starts at the given one (the last used) or the user's home folder.
    m_outputFolder->setText(options.outputFolder.isEmpty() ? QDir::homePath()
                                                           : options.outputFolder);
    // The two skinned title buttons exist with their images although the template hides them.
    m_minimize->SetBackground(137, 147);
    m_minimize->LoadImages(145, 144, 146, 144);
    m_close->SetBackground(137, 143);
    m_close->LoadImages(141, 140, 142, 141);
    // "3gp" chosen with its preset, then the eight option slots.
    m_settings.Initialise();
    SyncCombos();
    m_browser->Navigate2(VideoSite::PageUrl());
}

CvideoDlg::~CvideoDlg()
{
    qApp->removeEventFilter(this);
    disconnect(m_batch, nullptr, this, nullptr);
    delete m_batch; // ends a running converter before the list and settings go away
    m_batch = nullptr;
    m_launcher->clear();
}

QComboBox *CvideoDlg::SettingCombo(int id) const
{
    if (id < FirstSettingList || id >= FirstSettingList + SettingListCount)
        return nullptr;
    return m_combos[static_cast<std::size_t>(id - FirstSettingList)];
}

void CvideoDlg::OnSettingActivated(int id, int index)
{
    m_settings.Select(id, index);
    SyncCombos();
}

void CvideoDlg::SyncCombos()
{
    for (int id = FirstSettingList; id < FirstSettingList + SettingListCount; ++id) {
        QComboBox *combo = SettingCombo(id);
        const ChoiceList &list = m_settings.List(id);
        const QSignalBlocker block(combo);
        QStringList shown;
        for (int i = 0; i < combo->count(); ++i)
            shown << combo->itemText(i);
        if (shown != list.entries) {
            combo->clear();
            // Filled by position, so the entries keep their order.
            for (int i = 0; i < list.entries.size(); ++i)
                combo->insertItem(i, list.entries.at(i));
        }
        combo->setCurrentIndex(list.current);
    }
}

void CvideoDlg::SetBusy(bool busy)
{
    m_outputFolder->setEnabled(!busy);
    for (QComboBox *combo : m_combos)
        combo->setEnabled(!busy);
    for (int id = 1000; id <= 1005; ++id)
        m_controls.value(id)->setEnabled(!busy);
    // The convert button stays usable: while converting it stops the batch.
    auto *convert = qobject_cast<QPushButton *>(m_controls.value(1006));
    convert->setText(busy ? QStringLiteral("停止转换") : QStringLiteral("立即转换"));
    convert->setEnabled(true);
    m_listView->setEnabled(true);
    if (!busy)
        SyncCombos();
}

void CvideoDlg::SetStopping(bool stopping)
{
    // A second click cannot hurry the stop that is under way.
    m_controls.value(1006)->setEnabled(!stopping);
}

void CvideoDlg::OnAddFile()
{
    AddFiles(m_prompts->OpenFiles(QStringLiteral("选择打开的文件"),
                                  FileFilters::ToQtFilters(FileFilters::VideoEntries())));
}

void CvideoDlg::AddFiles(const QStringList &paths)
{
    // Each file is one add at the top, in the order given.
    for (const QString &path : paths) {
        if (!path.isEmpty())
            m_fileList.InsertAt(0, path, QString());
    }
}

void CvideoDlg::OnDeleteFile()
{
    // selectedIndex keeps its value: a second press deletes the item that moved into place.
    m_fileList.RemoveAt(selectedIndex);
}

void CvideoDlg::OnClearList()
{
    m_fileList.Clear();
}

void CvideoDlg::SelectRow(int row)
{
    const QModelIndex index = m_fileList.index(row, FileListModel::PathColumn);
    m_listView->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect
                                                             | QItemSelectionModel::Rows);
}

void CvideoDlg::OnMoveUp()
{
    m_listView->setFocus();
    // A remembered index past the end (after deleting the last item) names no item.
    if (selectedIndex <= 0 || selectedIndex >= m_fileList.Count())
        return;
    // The item keeps its status, the reason of a failure and its log.
    m_fileList.Move(selectedIndex, selectedIndex - 1);
    --selectedIndex;
    SelectRow(selectedIndex);
}

void CvideoDlg::OnMoveDown()
{
    m_listView->setFocus();
    if (selectedIndex < 0 || selectedIndex >= m_fileList.Count() - 1)
        return;
    m_fileList.Move(selectedIndex, selectedIndex + 1);
    ++selectedIndex;
    SelectRow(selectedIndex);
}

void CvideoDlg::OnFileListClick()
{
    int first = -1;
    const QModelIndexList rows = m_listView->selectionModel()->selectedRows();
    for (const QModelIndex &index : rows) {
        if (first < 0 || index.row() < first)
            first = index.row();
    }
    selectedIndex = first;
}

void CvideoDlg::OnBrowseOutputFolder()
{
    const QString folder =
        m_prompts->ChooseFolder(QStringLiteral("请选择要打开的文件夹:"), m_outputFolder->text());
    if (!folder.isEmpty())
        m_outputFolder->setText(QDir::cleanPath(folder));
}

void CvideoDlg::OnConvert()
{
    if (m_batch->IsBusy())
        m_batch->Stop();
    else
        m_batch->Start(m_outputFolder->text());
}

void CvideoDlg::OnBatchCompleted(int files, int failures)
{
    // Someone working in another window learns that the batch is over.
    if (!isActiveWindow())
        m_notify(VideoBatch::NotificationText(files, failures));
}

void CvideoDlg::ShowTaskProgress()
{
    if (m_batch->IsBusy())
        m_launcher->show(m_batch->BarValue() / double(ConverterProgress::Complete),
                         m_batch->FilesLeft());
    else
        m_launcher->clear();
}

void CvideoDlg::OnBatchStopped()
{
    if (!m_closeAfterStop)
        return;
    m_closeAfterStop = false;
    QDialog::done(m_closeResult);
}

QMenu *CvideoDlg::FileListMenu(int row)
{
    auto *menu = new QMenu(this);
    const QString log = m_fileList.Log(row);
    QAction *showLog = menu->addAction(QStringLiteral("查看日志"));
    showLog->setEnabled(!log.isEmpty() && QFileInfo::exists(log));
    connect(showLog, &QAction::triggered, this, [this, log] { m_prompts->OpenPath(log); });
    QAction *openFolder = menu->addAction(QStringLiteral("打开输出目录"));
    const QString folder = QDir::cleanPath(m_outputFolder->text());
    openFolder->setEnabled(!m_outputFolder->text().isEmpty() && QFileInfo(folder).isDir());
    connect(openFolder, &QAction::triggered, this, [this, folder] { m_prompts->OpenPath(folder); });
    return menu;
}

void CvideoDlg::OnFileListContextMenu(const QPoint &pos)
{
    const int row = m_listView->indexAt(pos).row();
    if (row < 0)
        return;
    QMenu *menu = FileListMenu(row);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(m_listView->viewport()->mapToGlobal(pos));
}

void CvideoDlg::OnAbout()
{
    // Modal; the batch timer keeps running behind it.
    Dg3 about(this);
    about.exec();
}

void CvideoDlg::OnMinimizeButton()
{
    QTimer::singleShot(0, this, &QWidget::showMinimized);
}

void CvideoDlg::OnCloseButton()
{
    QTimer::singleShot(0, this, &QWidget::close);
}

bool CvideoDlg::OnClose()
{
    if (!m_batch->IsBusy())
        return true;
    if (!m_batch->IsStopping()) {
        const bool stop = m_prompts->AskYesNo(QStringLiteral("正在转换，确定要停止并退出吗？"),
                                              QStringLiteral("提示信息"));
        if (!stop)
            return false;
        // The batch may have ended while the question was open.
        if (!m_batch->IsBusy())
            return true;
    }
    // The converter is asked to end (and forced after a grace time); the dialog closes when
    // it is gone, so nothing is left half-written and the window never freezes meanwhile.
    m_closeAfterStop = true;
    m_batch->Stop(false); // OnBatchStopped closes, at once when nothing was running
    return false;
}

void CvideoDlg::done(int result)
{
    // Every way of closing (title bar, Escape, close button) passes here.
    m_closeResult = result;
    if (OnClose())
        QDialog::done(result);
}

void CvideoDlg::OnCtlColor(QWidget *control)
{
    // Labels show the background bitmap through a transparent background, in black; edit
    // boxes keep their own colours.
    if (qobject_cast<QLineEdit *>(control))
        return;
    control->setAutoFillBackground(false);
    control->setAttribute(Qt::WA_TranslucentBackground);
    QPalette pal = control->palette();
    pal.setColor(QPalette::WindowText, Qt::black);
    control->setPalette(pal);
}

void CvideoDlg::paintEvent(QPaintEvent *)
{
    OnPaint();
}

void CvideoDlg::OnPaint()
{
    QPainter painter(this);
    if (!m_background.isNull()) {
        painter.drawPixmap(rect(), m_background);
    } else {
        QLinearGradient fill(0, 0, 0, height());
        fill.setColorAt(0, QColor(0xe9, 0xf1, 0xfa));
        fill.setColorAt(1, QColor(0xc9, 0xdb, 0xee));
        painter.fillRect(rect(), fill);
    }
}

bool CvideoDlg::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyPress) {
        auto *key = static_cast<QKeyEvent *>(event);
        auto *widget = qobject_cast<QWidget *>(watched);
        if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) && widget
            && widget->window() == this) {
            // Enter does nothing in the dialog: it neither presses the focused or a default
            // button nor closes the dialog. Space presses the focused button, as in every
            // dialog, so the keyboard still reaches each of them.
            return true;
        }
        if (key->key() == Qt::Key_Delete && watched == m_listView
            && (key->modifiers() & ~Qt::KeypadModifier) == 0) {
            // Delete removes the selected item, as the delete button does (not while a batch
            // runs, when the list commands are locked).
            if (m_controls.value(1001)->isEnabled()) {
                OnFileListClick();
                OnDeleteFile();
            }
            return true;
        }
    } else if (event->type() == QEvent::MouseButtonRelease && m_listView
               && watched == m_listView->viewport()
               && static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton) {
        // A click is the left button's; the view updates its selection on this event, so
        // read it afterwards.
        QTimer::singleShot(0, this, &CvideoDlg::OnFileListClick);
    }
    return QDialog::eventFilter(watched, event);
}

} // namespace vidrune
