#include "shell/frmmain.h"

#include "shell/commandtable.h"
#include "engine/commandline.h"
#include "feedbackwindow/frmsuggest.h"
#include "shell/frmexisting.h"
#include "shell/frmoptions.h"
#include "settings/optionsrules.h"
#include "queue/filesearch.h"
#include "queue/naturalorder.h"
#include "skin/hotspot.h"
#include "skin/skin.h"
#include "suite/version.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QCursor>
#include <QDBusConnection>
#include <QDialog>
#include <QDir>
#include <QFileInfo>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QMimeData>
#include <QDropEvent>
#include <QUrl>
#include <QPainter>
#include <QPointer>
#include <QShortcut>
#include <QThread>
#include <QTimer>
#include <QTreeView>
#include <QWindow>
#include <algorithm>
#include <utility>

namespace zm {

namespace {

const QString kMediaFilter =
    QStringLiteral("FLV Files(*.FLV)|*.FLV|AVI Files(*.avi)|*.avi|MPG Files(*.mpg)|*.mpg|WMV Files(*.wmv)|*.wmv|MP4 "
                   "Files(*.mp4)|*.mp4|QuickTime Format(*.mov)|*.mov|DVD VOB(*.vob)|*.vob|Real Video(*.rm)|*.rm|3GP "
                   "Video(*.3gp)|*.3gp|MP3 Audio(*.mp3)|*.mp3|WAVE Files(*.wav)|*.wav|WMA Audio(*.wma)|*.wma|All Media "
                   "Formats(*.*)|*.*");

} // namespace

QString webBase()
{
    QString base = qEnvironmentVariable("ZELMORA_WEB_BASE", QStringLiteral("https://zelmora.net"));
    while (base.endsWith(QLatin1Char('/')))
        base.chop(1);
    return base;
}

frmMain::frmMain(QString appDir, UiSeams seams, ProgramSettings &settings, QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint), m_appDir(std::move(appDir)), m_store(m_appDir),
      m_seams(seams), m_settings(settings), m_dialogs(seams.files)
{
    runDialog = [](QDialog &d) { d.exec(); };
    runPopup = [](QMenu &m, const QPoint &at) { m.exec(at); };
    Form_Load();
}

frmMain::~frmMain()
{
    if (m_dos)
        m_dos->abandon();
}

void frmMain::Form_Load()
{
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(QString::fromLatin1(kAppTitle));
    setWindowIcon(programIcon());
    setFixedSize(698, 496);
    setMouseTracking(true);
    setAcceptDrops(false);
    m_dialogs.Init(this);
    m_background = skinBackground(QStringLiteral("main.png"), QSize(700, 500));
    ApplySkinColourKey(this, m_background);
    buildControls();
    buildMenus();
    setKeyboardOrder();

    m_imgPB->resize(0, m_imgPB->height());
    m_dos = new DOSOutputs(m_seams.boxes, this);
    m_lblWeb->setStyleSheet(QStringLiteral("color: black; background: transparent;"));
    m_lblWeb->setText(QString::fromLatin1(kAppTitle));

    const MainChoices c = m_store.readChoices();
    m_cmbBR->setCurrentIndex(c.bitrateIndex);
    m_cmbR->setCurrentIndex(c.rateIndex);
    m_cmbChannel->setCurrentIndex(c.channelIndex);
    m_txtPath->setText(c.outputFolder);
    m_cmbOF->setCurrentIndex(c.formatIndex);

    m_store.readOptions(m_settings);

    BatchDriver::Seams bs{m_seams.boxes, m_seams.shell, m_seams.sound};
    m_batch = new BatchDriver(
        m_queue, *m_dos, m_settings, m_appDir, bs, [this] { return selections(); }, this);
    m_batch->setDurationSource(&m_probe);
    m_batchOptions = m_store.readBatchOptions();
    m_planner = std::make_unique<LibraryPlanner>(m_appDir);
    m_planner->setKeepFolderStructure(m_batchOptions.keepFolderStructure);
    m_planner->setTrashOriginals(m_batchOptions.trashOriginals);
    m_keepFoldersAction->setChecked(m_batchOptions.keepFolderStructure);
    m_trashAction->setChecked(m_batchOptions.trashOriginals);
    showExistingChoice();
    m_batch->setPlanner(m_planner.get());
    m_batch->setBeforeStart([this] { return prepareBatch(); });
    m_keeper = new QueueKeeper(
        m_queue, *m_batch,
        QueueKeeper::pathFor(OutputJournal::defaultStateFolder(), QFileInfo(state().jobsConf()).path()), this);
    m_presenter = new BatchPresenter(
        {this, m_imgPB, m_lblPB, m_lblStatus, m_lblCut}, *m_batch, m_queue, m_settings, m_seams,
        [this](QDialog &d) { runDialog(d); }, this);
    connect(m_batch, &BatchDriver::controlsLocked, this, &frmMain::lockControls);
    connect(m_batch, &BatchDriver::stopping, this, [this] { setConvertState(ConvertState::Stopping); });
    connect(m_batch, &BatchDriver::batchEnded, this, &frmMain::batchEnded);
    connect(m_presenter, &BatchPresenter::addBackRequested, this, &frmMain::addBack);
    m_intake = new FileIntake(m_queue, this);
    connect(m_intake, &FileIntake::entriesQueued, m_picText, &QWidget::hide);
    m_jobsChoice = m_store.readJobs();
    applyJobsChoice();
    m_batch->setOpenFolderWhenDone(m_store.readOpenFolderWhenDone());
    m_openFolderAction->setChecked(m_batch->openFolderWhenDone());
    m_batch->setAlbumTagReader(probeAlbumTag);
    setLoudnessChoice(readLoudnessSetting(m_store.locations().jobsConf()), false);
    setNotificationBus(QDBusConnection::sessionBus());
    connect(m_cmbOF, &QComboBox::currentIndexChanged, this, &frmMain::updateMp3Selectors);
    updateMp3Selectors();
    m_presenter->updateCutIndicator();

    // Keys: Delete removes the selected entries of the list, Ctrl+O adds files.
    auto *del = new QShortcut(QKeySequence::Delete, m_LV, nullptr, nullptr, Qt::WidgetWithChildrenShortcut);
    connect(del, &QShortcut::activated, this, [this] {
        if (!m_batch->isRunning())
            imgRemove_Click();
    });
    auto *open = new QShortcut(QKeySequence::Open, this, nullptr, nullptr, Qt::WindowShortcut);
    connect(open, &QShortcut::activated, this, [this] {
        if (!m_batch->isRunning())
            imgAdd_Click();
    });
    applyHintRule();
}

MainChoices frmMain::choices() const
{
    MainChoices c;
    c.bitrateIndex = m_cmbBR->currentIndex();
    c.rateIndex = m_cmbR->currentIndex();
    c.channelIndex = m_cmbChannel->currentIndex();
    c.outputFolder = m_txtPath->text();
    c.formatIndex = m_cmbOF->currentIndex();
    return c;
}

Selections frmMain::selections() const
{
    Selections s;
    s.formatIndex = m_cmbOF->currentIndex();
    s.bitrate = m_cmbBR->currentText();
    s.sampleRate = m_cmbR->currentText();
    s.channelIndex = m_cmbChannel->currentIndex();
    s.outputDir = m_txtPath->text();
    return s;
}

void frmMain::AddQueueEntry(const QString &path)
{
    m_queue.AddQueueEntry(path);
}

void frmMain::applyHintRule()
{
    m_picText->setVisible(m_queue.isEmpty());
}

void frmMain::imgAdd_Click()
{
    m_dialogs.setFileName(QString());
    m_dialogs.setFilter(kMediaFilter);
    m_dialogs.setTitle(QStringLiteral("Open Files"));
    if (!m_dialogs.ShowOpen())
        return;
    QStringList files = m_dialogs.FileNames();
    files.erase(std::remove_if(files.begin(), files.end(), [](const QString &p) { return !isRegularFile(p); }),
                files.end());
    m_queue.appendEntries(files);
    applyHintRule();
    update();
}

void frmMain::imgRemove_Click()
{
    // Every selected entry goes (the list allows several to be selected).
    if (!m_queue.isEmpty()) {
        QList<int> rows;
        for (const QModelIndex &i : m_LV->selectionModel()->selectedRows())
            rows << i.row();
        m_queue.removeRowsAt(rows);
    }
    if (m_queue.isEmpty())
        m_picText->show();
}

void frmMain::menuRemoveAll_Click()
{
    // One removal for the whole list: the view updates once, however long the list is.
    m_queue.clear();
    QCoreApplication::processEvents();
    m_picText->show();
    m_lblText->setText(dropCaption());
}

void frmMain::imgBrowse_Click()
{
    m_dialogs.setTitle(QStringLiteral("Please select a folder:"));
    if (m_dialogs.ShowFolder() && !m_dialogs.Path().isEmpty())
        m_txtPath->setText(m_dialogs.Path());
    else
        m_txtPath->setText(state().defaultOutputFolder());
}

void frmMain::imgExit_Click()
{
    if (m_batch->isRunning()) {
        close(); // asks first, and ends the program itself once the batch has stopped
        return;
    }
    saveSetupIni();
    close();
    emit exitRequested();
}

void frmMain::saveSetupIni()
{
    // A setup.ini that cannot be written loses only the saving.
    m_store.writeChoices(choices());
}

void frmMain::imgToolbar_Click(int index)
{
    QPointer<frmMain> self(this);
    repaint();
    QCoreApplication::processEvents();
    if (!self)
        return;
    switch (index) {
    case 0:
        imgAdd_Click();
        break;
    case 1: {
        // From the keyboard the menu opens under the button, as the menu bar's do.
        const HotSpot *remove = m_imgToolbar[1];
        runPopup(*m_menuRemove, remove->activatedByKeyboard()
                                    ? mapToGlobal(remove->geometry().bottomLeft() + QPoint(0, 1))
                                    : QCursor::pos());
        break;
    }
    case 2:
        showOptions();
        break;
    case 3:
        imgHelp_Click();
        break;
    case 4:
        imgExit_Click();
        break;
    case 6:
        AddFolder();
        break;
    default:
        break;
    }
}

void frmMain::showOptions()
{
    QPointer<frmMain> self(this);
    frmOptions options(m_settings, state().optionsIni(), m_seams.boxes, this);
    runDialog(options);
    if (self)
        m_presenter->updateCutIndicator();
}

void frmMain::imgHelp_Click()
{
    const QString local = m_appDir + QStringLiteral("/help/tutorial.html");
    if (m_seams.shell)
        m_seams.shell->open(QFileInfo(local).isFile() ? local : webBase() + QStringLiteral("/tutorial.html"));
}

void frmMain::AddFolder()
{
    if (m_intake->isSearching())
        return; // one search at a time
    m_dialogs.setTitle(QStringLiteral("Please select a folder:"));
    const bool chosen = m_dialogs.ShowFolder();
    m_picText->show();
    m_lblText->setText(QStringLiteral("Searching Files..."));
    QStringList lstAddFolder; // the scratch list of one search
    if (chosen && !m_dialogs.Path().isEmpty()) {
        QPointer<frmMain> self(this);
        m_intake->searchFolder(m_dialogs.Path(), lstAddFolder, folderLister);
        if (!self)
            return;
        // Each file remembers the folder it was found in, for Keep Folder Structure.
        m_queue.appendEntries(lstAddFolder, m_dialogs.Path());
    }
    lstAddFolder.clear();
    m_lblText->setText(dropCaption());
    applyHintRule();
}

void frmMain::dropFiles(QDropEvent *event)
{
    event->setDropAction(Qt::CopyAction);
    event->accept();
    const QMimeData *mime = event->mimeData();
    QStringList paths;
    if (mime && mime->hasUrls()) {
        for (const QUrl &url : mime->urls())
            if (url.isLocalFile())
                paths << url.toLocalFile();
    }
    m_intake->queueDropped(paths, folderLister);
}

bool frmMain::openFromLaunch(const LaunchRequest &request)
{
    if (m_intake->isClosing() || m_quitAfterStop)
        return false;
    bringToFront(request.activationToken);
    if (!request.paths.isEmpty()) {
        // Queued from the event loop: the start that sent them has its answer at once, however
        // long the folders take to search.
        m_intake->handOver(request.paths, folderLister);
    }
    return true;
}

void frmMain::bringToFront(const QString &activationToken)
{
    // The desktop lets a window come to the front with the token of the start that asked.
    if (!activationToken.isEmpty())
        qputenv("XDG_ACTIVATION_TOKEN", activationToken.toUtf8());
    if (isMinimized())
        showNormal();
    // An open options or feedback window stays in front of the main window.
    QWidget *front = QApplication::activeModalWidget();
    if (!front)
        front = this;
    front->raise();
    front->activateWindow();
}

bool frmMain::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    // The list, its header and the drop hint take drops.
    case QEvent::DragEnter:
    case QEvent::DragMove: {
        auto *e = static_cast<QDragMoveEvent *>(event);
        e->setDropAction(Qt::CopyAction);
        e->accept();
        return true;
    }
    case QEvent::Drop:
        dropFiles(static_cast<QDropEvent *>(event));
        return true;
    default:
        break;
    }
    return QWidget::eventFilter(watched, event);
}

void frmMain::lblWeb_Click()
{
    if (m_seams.shell)
        m_seams.shell->open(webBase() + QLatin1Char('/'));
}

void frmMain::lblFeed_Click()
{
    frmSuggest suggest(webBase(), this);
    runDialog(suggest);
}

void frmMain::aboutBox()
{
    if (m_seams.boxes)
        m_seams.boxes->show(MsgIcon::None, QString::fromLatin1(kAppTitle),
                            webBase() + QStringLiteral(" 2026\r\nAll rights reserved.\r\n") + webBase()
                                + QStringLiteral("\r\nVersion " ZM_PACKAGE_VERSION));
}

void frmMain::txtAction_Change()
{
    if (m_txtAction->text().isEmpty())
        return;
    QPointer<frmMain> self(this);
    const std::array<std::function<void()>, kCommandWords.size()> handlers = {
        [this] { imgRemove_Click(); },
        [this] { aboutBox(); },
        [this] { imgAdd_Click(); },
        [this] { imgToolbar_Click(6); },
        [this] { imgExit_Click(); },
        [this] { imgHelp_Click(); },
        [this] { imgToolbar_Click(2); },
        [this] { setJobsChoice(JobsChoice::One); },
        [this] { setJobsChoice(JobsChoice::Two); },
        [this] { setJobsChoice(JobsChoice::Four); },
        [this] { setJobsChoice(JobsChoice::AllCores); },
        [this] { setOpenFolderWhenDone(!m_batch->openFolderWhenDone()); },
    };
    dispatchCommandWord([this, self] { return self ? m_txtAction->text() : QString(); }, handlers);
    if (self)
        m_txtAction->clear();
}

void frmMain::setJobsChoice(JobsChoice choice)
{
    m_jobsChoice = choice;
    // A choice that cannot be kept still holds now.
    m_store.writeJobs(choice);
    applyJobsChoice();
}

void frmMain::setOpenFolderWhenDone(bool open)
{
    m_batch->setOpenFolderWhenDone(open);
    m_openFolderAction->setChecked(open);
    m_store.writeOpenFolderWhenDone(open);
}

void frmMain::setKeepFolderStructure(bool on)
{
    m_batchOptions.keepFolderStructure = on;
    m_planner->setKeepFolderStructure(on);
    m_keepFoldersAction->setChecked(on);
    m_store.writeBatchOptions(m_batchOptions);
}

void frmMain::setTrashOriginals(bool on)
{
    m_batchOptions.trashOriginals = on;
    m_planner->setTrashOriginals(on);
    m_trashAction->setChecked(on);
    m_store.writeBatchOptions(m_batchOptions);
}

void frmMain::setExistingChoice(ExistingChoice choice)
{
    m_batchOptions.existing = choice;
    m_store.writeBatchOptions(m_batchOptions);
    showExistingChoice();
}

void frmMain::showExistingChoice()
{
    for (QAction *a : m_menuExisting->actions())
        a->setChecked(a->data().toInt() == int(m_batchOptions.existing));
}

bool frmMain::prepareBatch()
{
    const bool resuming = std::exchange(m_resuming, false);
    const QString root = selections().outputDir;
    m_planner->load(root);
    const int existing = m_planner->existingCount(m_batch->plannedOutputs(), resuming);
    ExistingChoice choice = m_batchOptions.existing;
    if (existing > 0 && choice == ExistingChoice::Ask) {
        QPointer<frmMain> self(this);
        frmExisting question(existing, this);
        runDialog(question);
        if (!self)
            return false;
        choice = question.choice();
        if (choice == ExistingChoice::Ask)
            return false; // Cancel: nothing starts
        if (question.remember())
            setExistingChoice(choice);
    }
    ExistingPolicy policy = ExistingPolicy::Replace;
    if (choice == ExistingChoice::Skip)
        policy = ExistingPolicy::Skip;
    else if (choice == ExistingChoice::Number)
        policy = ExistingPolicy::Number;
    m_planner->beginBatch(root, policy, resuming);
    return true;
}

void frmMain::addBack(const QList<FailedFile> &files)
{
    QStringList paths, roots;
    for (const FailedFile &f : files) {
        paths << f.inputPath;
        roots << f.root;
    }
    m_queue.appendEntries(paths, roots);
    applyHintRule();
}

void frmMain::offerUnfinishedBatch()
{
    if (!m_keeper->pending())
        return;
    QPointer<frmMain> self(this);
    QMessageBox box(
        QMessageBox::Question, QString::fromLatin1(kAppTitle),
        QStringLiteral("The last batch did not finish: %1 files were left. Continue?").arg(m_keeper->pending()->left()),
        QMessageBox::NoButton, this);
    box.setObjectName(QStringLiteral("unfinishedBatch"));
    QPushButton *resume = box.addButton(QStringLiteral("Continue"), QMessageBox::AcceptRole);
    box.addButton(QStringLiteral("Discard"), QMessageBox::DestructiveRole);
    box.setDefaultButton(resume);
    runDialog(box);
    if (!self)
        return;
    if (box.clickedButton() != resume) {
        m_keeper->discardPending();
        return;
    }
    m_keeper->takePending();
    applyHintRule();
    m_resuming = true;
    imgStart_Click();
    m_resuming = false;
}

void frmMain::applyJobsChoice()
{
    m_batch->setJobs(jobsFor(m_jobsChoice, QThread::idealThreadCount()));
    for (QAction *a : m_menuJobs->actions())
        a->setChecked(a->data().toInt() == int(m_jobsChoice));
}

void frmMain::lockControls(bool locked)
{
    for (HotSpot *t : m_imgToolbar)
        if (t)
            t->setEnabled(!locked);
    for (HotSpot *m : m_imgMenu)
        m->setEnabled(!locked);
    // Convert is not locked: it turns into Stop while the batch runs.
    setConvertState(locked ? ConvertState::Stop : ConvertState::Convert);
    m_lblFeed->setEnabled(!locked);
    m_lblCut->setEnabled(!locked);
    if (!locked)
        m_imgBrowse->setEnabled(true);
    m_presenter->batchRunning(locked);
}

void frmMain::imgConvert_Click()
{
    switch (m_convertState) {
    case ConvertState::Convert:
        imgStart_Click();
        break;
    case ConvertState::Stop:
        m_batch->stop();
        break;
    case ConvertState::Stopping:
        break;
    }
}

void frmMain::setConvertState(ConvertState state)
{
    m_convertState = state;
    m_imgConvert->setToolTip(state == ConvertState::Convert ? QString() : QStringLiteral("Stop the batch"));
    m_imgConvert->setAccessibleName(state == ConvertState::Convert ? QStringLiteral("Convert")
                                                                   : QStringLiteral("Stop"));
    // What the button's picture says below "Convert"; Stop is explained by its tool tip.
    m_imgConvert->setAccessibleDescription(state == ConvertState::Convert ? QStringLiteral("Start the queue")
                                                                          : QString());
    const QPoint mouse = m_imgConvert->mapFromGlobal(QCursor::pos());
    showConvertPicture(state != ConvertState::Stopping && m_imgConvert->underMouse()
                       && m_imgConvert->rect().contains(mouse));
}

void frmMain::showConvertPicture(bool hot)
{
    // The background draws Convert; the other states are pictures over it.
    switch (m_convertState) {
    case ConvertState::Convert:
        if (hot)
            m_imgConvert->setPicture(m_imgConvertData);
        else
            m_imgConvert->clearPicture();
        break;
    case ConvertState::Stop:
        m_imgConvert->setPicture(hot ? m_imgStopLight : m_imgStop);
        break;
    case ConvertState::Stopping:
        m_imgConvert->setPicture(m_imgStopping);
        break;
    }
}

QPixmap frmMain::arrowPicture(int i, bool hot) const
{
    if (!m_arrows[size_t(i)]->isEnabled())
        return m_imgButtonOff.isNull() ? m_imgButton : m_imgButtonOff;
    return hot ? m_imgButtonLight : m_imgButton;
}

void frmMain::updateMp3Selectors()
{
    // Only MP3 sends the bit rate, sample rate and channels to the converter.
    const bool mp3 = m_cmbOF->currentIndex() == 0;
    QComboBox *boxes[4] = {m_cmbOF, m_cmbBR, m_cmbR, m_cmbChannel};
    for (int i = 1; i < 4; ++i) {
        boxes[i]->setEnabled(mp3);
        m_arrows[size_t(i)]->setEnabled(mp3);
        m_arrows[size_t(i)]->setPicture(arrowPicture(i, false));
        m_comboOff[size_t(i)]->setVisible(!mp3 && !m_comboOffPicture.isNull());
    }
}

bool frmMain::confirmQuitWhileConverting()
{
    return !m_seams.boxes
           || m_seams.boxes->ask(QString::fromLatin1(kAppTitle),
                                 QStringLiteral("A conversion is running. Stop it and quit?"));
}

void frmMain::batchEnded(const BatchOutcome &outcome)
{
    if (m_quitAfterStop) {
        // Quitting was asked for while converting: the batch has stopped, now leave.
        m_quitAfterStop = false;
        close();
        emit exitRequested();
        return;
    }
    QPointer<frmMain> self(this);
    m_presenter->batchEnded(outcome);
    if (!self)
        return;
    // Originals that could not go to the trash are named, with the reason (no trash on that
    // medium, the output is the input).
    const QStringList notes = m_planner->trashNotes();
    if (!notes.isEmpty() && m_seams.boxes)
        m_seams.boxes->show(MsgIcon::Information, QString::fromLatin1(kAppTitle),
                            QStringLiteral("Some originals were not moved to the trash:\n") + notes.join(u'\n'));
}

void frmMain::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.drawImage(0, 0, m_background);
}

void frmMain::mouseMoveEvent(QMouseEvent *event)
{
    resetHotSpots();
    QWidget::mouseMoveEvent(event);
}

void frmMain::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton && windowHandle())
        windowHandle()->startSystemMove();
    QWidget::mousePressEvent(event);
}

void frmMain::closeEvent(QCloseEvent *event)
{
    if (m_batch && m_batch->isRunning()) {
        // Quitting while converting: ask first. Yes stops the batch as the Stop button does,
        // keeps the settings as the exit routine does, and ends the program once the converter
        // has gone; No goes on converting.
        event->ignore();
        if (m_quitAfterStop || !confirmQuitWhileConverting())
            return;
        saveSetupIni();
        m_quitAfterStop = true;
        m_keeper->setClosing(); // what is left waits for the next start
        hide();
        m_batch->stop();
        return;
    }
    // Unload: a converter still running is left to finish on its own; we stop following it.
    m_intake->setClosing();
    if (m_dos)
        m_dos->abandon();
    event->accept();
}

} // namespace zm
