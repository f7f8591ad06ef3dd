#include "shell/frmmain.h"

#include "shell/commandtable.h"
#include "engine/commandline.h"
#include "feedbackwindow/frmsuggest.h"
#include "shell/frmfailures.h"
#include "shell/frmoptions.h"
#include "settings/optionsrules.h"
#include "queue/filesearch.h"
#include "queue/naturalorder.h"
#include "skin/focusmark.h"
#include "skin/hotspot.h"
#include "skin/skin.h"
#include "suite/version.h"

#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QCursor>
#include <QDialog>
#include <QDir>
#include <QFileInfo>
#include <QFontMetrics>
#include <QHeaderView>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
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
#include <cmath>

namespace zm {

namespace {

// The program's icon as a notification carries it.
NotificationImage notificationImage(const QIcon &icon)
{
    const QImage image = icon.pixmap(QSize(48, 48)).toImage().convertToFormat(QImage::Format_RGBA8888);
    NotificationImage out;
    if (image.isNull())
        return out;
    out.width = image.width();
    out.height = image.height();
    out.rgba.reserve(qsizetype(out.width) * out.height * 4);
    for (int y = 0; y < image.height(); ++y)
        out.rgba.append(reinterpret_cast<const char *>(image.constScanLine(y)), qsizetype(out.width) * 4);
    return out;
}

constexpr int kFullBarPixels = 361;
const QString kDropCaption = QStringLiteral("Drag && Drop Files Here");
const QString kMediaFilter =
    QStringLiteral("FLV Files(*.FLV)|*.FLV|AVI Files(*.avi)|*.avi|MPG Files(*.mpg)|*.mpg|WMV Files(*.wmv)|*.wmv|MP4 "
                   "Files(*.mp4)|*.mp4|QuickTime Format(*.mov)|*.mov|DVD VOB(*.vob)|*.vob|Real Video(*.rm)|*.rm|3GP "
                   "Video(*.3gp)|*.3gp|MP3 Audio(*.mp3)|*.mp3|WAVE Files(*.wav)|*.wav|WMA Audio(*.wma)|*.wma|All Media "
                   "Formats(*.*)|*.*");

// The font of "Feedback" in its 46 pixels: the letters close up as far as needed for the whole
// word to show, bold on hover too, whatever font stands in for Tahoma.
QFont feedCaptionFont(bool bold)
{
    QFont f = skinFont(10, bold);
    for (int spacing = 100; spacing >= 70; spacing -= 2) {
        f.setLetterSpacing(QFont::PercentageSpacing, spacing);
        if (QFontMetrics(f).horizontalAdvance(QStringLiteral("Feedback")) <= 45)
            break;
    }
    return f;
}

// The badge of an entry of the format list: what kind of format it is.
struct FormatBadge {
    const char *picture;
    const char *tip;
};
const FormatBadge &formatBadge(int formatIndex)
{
    static const FormatBadge lossy{"lossy", "Lossy: small files"}, lossless{"lossless", "Lossless: the sound exactly"},
        speech{"speech", "Speech: phone quality, smallest files"};
    // MP3, WMA, OGG, WAV, FLAC, AC3, AAC, AMR, M4A, OPUS
    static const FormatBadge *const badges[] = {&lossy, &lossy, &lossy,  &lossless, &lossless,
                                                &lossy, &lossy, &speech, &lossy,    &lossy};
    return *badges[std::clamp<int>(formatIndex, 0, int(std::size(badges)) - 1)];
}

// A label caption with "&&" standing for one "&", as the user reads it.
QString shownCaption(const QString &caption)
{
    QString s = caption;
    s.replace(QStringLiteral("&&"), QStringLiteral("&"));
    return s;
}
} // namespace

QString webBase()
{
    QString base = qEnvironmentVariable("ZELMORA_WEB_BASE", QStringLiteral("https://zelmora.net"));
    while (base.endsWith(QLatin1Char('/')))
        base.chop(1);
    return base;
}

frmMain::frmMain(QString appDir, UiSeams seams, ProgramSettings &settings, QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint), m_appDir(std::move(appDir)), m_state(m_appDir),
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
    // A window that goes during a batch leaves no progress on the task bar.
    if (m_launcher)
        m_launcher->clear();
}

QComboBox *frmMain::makeBox(const QStringList &items, const QRect &geometry, const char *name, const QString &caption)
{
    auto *box = new QComboBox(this);
    box->setObjectName(QString::fromLatin1(name));
    nameForScreenReaders(box, caption);
    box->setProperty("zmBox", true);
    box->addItems(items);
    box->setGeometry(geometry);
    box->setFont(skinFont(12));
    return box;
}

HotSpot *frmMain::makeArrow(QComboBox *box, const QRect &geometry, const QString &tip)
{
    // The tool tip belongs to the list; the arrow over its right end has none of its own.
    box->setToolTip(tip);
    auto *arrow = new HotSpot(this, geometry);
    arrow->setObjectName(QStringLiteral("picButton") + box->objectName().mid(3));
    // Part of its list: Tab stops at the list (whose keys open it), screen readers may press it.
    arrow->setFocusPolicy(Qt::NoFocus);
    arrow->setAccessibleRole(QAccessible::ButtonDropDown);
    arrow->setAccessibleName(box->accessibleName());
    arrow->setPicture(m_imgButton);
    connect(arrow, &HotSpot::hovered, this, [this, arrow] {
        if (arrow->isEnabled())
            arrow->setPicture(m_imgButtonLight);
    });
    connect(arrow, &HotSpot::clicked, box, [box] {
        if (box->isEnabled())
            box->showPopup();
    });
    return arrow;
}

void frmMain::buildControls()
{
    m_imgButton = skinPixmap(QStringLiteral("arrow.png"));
    m_imgButtonLight = skinPixmap(QStringLiteral("arrow_light.png"));
    m_imgMinLight = skinPixmap(QStringLiteral("min_light.png"));
    m_imgHelpLight = skinPixmap(QStringLiteral("help_light.png"));
    m_imgExitLight = skinPixmap(QStringLiteral("exit_light.png"));
    m_imgBrowseLight = skinPixmap(QStringLiteral("browse_light.png"));
    m_imgBrowseDark = skinPixmap(QStringLiteral("browse_dark.png"));
    m_imgConvertData = skinPixmap(QStringLiteral("convert_hover.png"));
    m_imgStop = skinPixmap(QStringLiteral("stop.png"));
    m_imgStopLight = skinPixmap(QStringLiteral("stop_hover.png"));
    m_imgStopping = skinPixmap(QStringLiteral("stopping.png"));
    m_imgButtonOff = skinPixmap(QStringLiteral("arrow_disabled.png"));
    m_comboOffPicture = skinPixmap(QStringLiteral("combo_disabled.png"));
    m_progressFill = skinPixmap(QStringLiteral("progress.png"));
    for (int i = 0; i < 3; ++i)
        m_imgMenuData[size_t(i)] = skinPixmap(QStringLiteral("menu_hover_%1.png").arg(i));
    for (int i : {0, 1, 2, 3, 4, 6})
        m_imgButtonData[size_t(i)] = skinPixmap(QStringLiteral("toolbar_hover_%1.png").arg(i));

    // The file list LV over the queue model.
    m_LV = new QTreeView(this);
    m_LV->setObjectName(QStringLiteral("LV"));
    m_LV->setModel(&m_queue);
    m_LV->setGeometry(17, 160, 455, 274);
    m_LV->setRootIsDecorated(false);
    m_LV->setUniformRowHeights(true);
    m_LV->setItemsExpandable(false);
    m_LV->setAlternatingRowColors(true);
    m_LV->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_LV->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_LV->setTextElideMode(Qt::ElideMiddle);
    m_LV->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_LV->setFont(skinFont(12));
    m_LV->header()->setStretchLastSection(true);
    m_LV->header()->setSectionsMovable(false);
    m_LV->setColumnWidth(QueueModel::FileName, kFullBarPixels);
    m_LV->setAccessibleName(QStringLiteral("Queue"));

    // Drop hint over the list.
    m_picText = new QWidget(this);
    m_picText->setObjectName(QStringLiteral("picText"));
    m_picText->setGeometry(164, 264, 163, 21);
    m_lblText = new QLabel(shownCaption(kDropCaption), m_picText);
    m_lblText->setObjectName(QStringLiteral("lblText"));
    m_lblText->setGeometry(0, 0, 163, 21);
    m_lblText->setAlignment(Qt::AlignCenter);
    m_lblText->setFont(skinFont(12, true));
    m_lblText->setStyleSheet(QStringLiteral("color: rgb(128,128,128); background: transparent;"));
    // The list takes drops on its rows and on its column header alike.
    for (QWidget *target :
         {m_LV->viewport(), m_LV->header()->viewport(), m_picText, static_cast<QWidget *>(m_lblText)}) {
        target->setAcceptDrops(true);
        target->installEventFilter(this);
    }

    // The disabled look of Bitrate, Sample Rate and Channels lies under the (see-through) lists.
    static const int offTops[3] = {200, 244, 286};
    for (int i = 0; i < 3; ++i) {
        auto *off = new QLabel(this);
        off->setGeometry(488, offTops[i], 189, 22);
        off->setScaledContents(true);
        off->setPixmap(m_comboOffPicture);
        off->hide();
        m_comboOff[size_t(i) + 1] = off;
    }
    m_cmbOF = makeBox(formatItems(), {488, 158, 189, 22}, "cmbOF", QStringLiteral("Output Format"));
    for (int i = 0; i < m_cmbOF->count(); ++i) {
        const FormatBadge &badge = formatBadge(i);
        m_cmbOF->setItemIcon(i, QIcon(QStringLiteral(":/skin/format_%1.png").arg(QLatin1String(badge.picture))));
        m_cmbOF->setItemData(i, QString::fromLatin1(badge.tip), Qt::ToolTipRole);
    }
    m_cmbBR = makeBox(bitrateItems(), {488, 200, 189, 22}, "cmbBR", QStringLiteral("Bitrate"));
    m_cmbR = makeBox(sampleRateItems(), {488, 244, 189, 22}, "cmbR", QStringLiteral("Sample Rate"));
    m_cmbChannel = makeBox(channelItems(), {488, 286, 189, 22}, "cmbChannel", QStringLiteral("Channels"));
    m_arrows[0] = makeArrow(m_cmbOF, {657, 160, 19, 19}, QStringLiteral("Output Format"));
    m_arrows[1] = makeArrow(m_cmbBR, {657, 202, 19, 19}, QStringLiteral("MP3 Audio Bitrate"));
    m_arrows[2] = makeArrow(m_cmbR, {657, 246, 19, 19}, QStringLiteral("MP3 Audio Rate"));
    m_arrows[3] = makeArrow(m_cmbChannel, {657, 288, 19, 19}, QStringLiteral("MP3 Audio Channel(Stereo or Mono)"));

    m_txtPath = new QLineEdit(this);
    m_txtPath->setObjectName(QStringLiteral("txtPath"));
    m_txtPath->setProperty("zmBox", true);
    m_txtPath->setGeometry(488, 330, 143, 23);
    m_txtPath->setToolTip(QStringLiteral("Select a Folder to Output"));
    m_txtPath->setFont(skinFont(11));
    nameForScreenReaders(m_txtPath, QStringLiteral("Output Folder"));

    m_txtAction = new QLineEdit(this);
    m_txtAction->setObjectName(QStringLiteral("txtAction"));
    m_txtAction->setGeometry(-200, -200, 10, 10);
    m_txtAction->hide();
    connect(m_txtAction, &QLineEdit::textChanged, this, &frmMain::txtAction_Change);

    m_imgPB = new QLabel(this);
    m_imgPB->setObjectName(QStringLiteral("imgPB"));
    m_imgPB->setScaledContents(true);
    m_imgPB->setPixmap(m_progressFill);
    if (m_progressFill.isNull())
        m_imgPB->setStyleSheet(QStringLiteral("background: #3b82d6;"));
    m_imgPB->setGeometry(113, 447, 0, 13);
    m_lblPB = new QLabel(QStringLiteral("0%"), this);
    m_lblPB->setObjectName(QStringLiteral("lblPB"));
    m_lblPB->setGeometry(214, 447, 157, 13);
    m_lblPB->setAlignment(Qt::AlignCenter);
    m_lblPB->setFont(skinFont(11, true));
    m_lblPB->setStyleSheet(QStringLiteral("color: #14202e; background: transparent;"));
    m_lblPB->setAttribute(Qt::WA_TransparentForMouseEvents);

    const QCursor hand = skinCursor();
    m_imgMin = new HotSpot(this, {652, 9, 14, 14}, QStringLiteral("Minimize Window"));
    m_imgHelp = new HotSpot(this, {635, 8, 15, 15}, QStringLiteral("Help & Tutorial"));
    m_imgExit = new HotSpot(this, {672, 10, 15, 15}, QStringLiteral("Exit"));
    m_imgBrowse = new HotSpot(this, {635, 331, 42, 22}, QStringLiteral("Select an Output Folder"));
    m_imgConvert = new HotSpot(this, {489, 371, 187, 91});
    for (HotSpot *h : {m_imgMin, m_imgHelp, m_imgExit})
        h->setCursor(hand);
    connect(m_imgMin, &HotSpot::hovered, this, [this] { m_imgMin->setPicture(m_imgMinLight); });
    connect(m_imgHelp, &HotSpot::hovered, this, [this] { m_imgHelp->setPicture(m_imgHelpLight); });
    connect(m_imgExit, &HotSpot::hovered, this, [this] { m_imgExit->setPicture(m_imgExitLight); });
    connect(m_imgBrowse, &HotSpot::hovered, this, [this] { m_imgBrowse->setPicture(m_imgBrowseLight); });
    connect(m_imgBrowse, &HotSpot::pressed, this, [this] { m_imgBrowse->setPicture(m_imgBrowseDark); });
    connect(m_imgConvert, &HotSpot::hovered, this, [this] { showConvertPicture(true); });
    connect(m_imgConvert, &HotSpot::pressed, this, [this] { showConvertPicture(false); });
    connect(m_imgMin, &HotSpot::clicked, this, [this] {
        showMinimized();
        m_imgMin->clearPicture();
    });
    connect(m_imgHelp, &HotSpot::clicked, this, [this] {
        imgHelp_Click();
        m_imgHelp->clearPicture();
    });
    connect(m_imgExit, &HotSpot::clicked, this, &frmMain::imgExit_Click);
    connect(m_imgBrowse, &HotSpot::clicked, this, &frmMain::imgBrowse_Click);
    connect(m_imgConvert, &HotSpot::clicked, this, &frmMain::imgConvert_Click);
    m_imgMin->setObjectName(QStringLiteral("imgMin"));
    m_imgHelp->setObjectName(QStringLiteral("imgHelp"));
    m_imgExit->setObjectName(QStringLiteral("imgExit"));
    m_imgBrowse->setObjectName(QStringLiteral("imgBrowse"));
    m_imgConvert->setObjectName(QStringLiteral("imgConvert"));
    setConvertState(ConvertState::Convert); // its name for screen readers

    // The captions act like the hot spots: click, Enter or Space.
    m_lblFeed = new HotSpot(this, {628, 477, 46, 13}, QStringLiteral("Send us your suggestion or question"));
    m_lblFeed->setText(QStringLiteral("Feedback"));
    m_lblFeed->setObjectName(QStringLiteral("lblFeed"));
    m_lblFeed->setFont(feedCaptionFont(false));
    m_lblFeed->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    m_lblFeed->setCursor(hand);
    connect(m_lblFeed, &HotSpot::hovered, this, [this] {
        if (m_lblFeed->isEnabled())
            m_lblFeed->setFont(feedCaptionFont(true));
    });
    connect(m_lblFeed, &HotSpot::clicked, this, &frmMain::lblFeed_Click);
    m_lblWeb = new HotSpot(this, {18, 477, 203, 13}, webBase());
    m_lblWeb->setObjectName(QStringLiteral("lblWeb"));
    m_lblWeb->setAccessibleRole(QAccessible::Link);
    m_lblWeb->setFont(skinFont(11));
    m_lblWeb->setCursor(hand);
    connect(m_lblWeb, &HotSpot::clicked, this, &frmMain::lblWeb_Click);
    // The status strip between the product name and "Feedback": the batch's progress in words
    // and, while the cutter is on, the cut (a click opens the options window).
    m_lblStatus = new QLabel(this);
    m_lblStatus->setObjectName(QStringLiteral("lblStatus"));
    m_lblStatus->setFont(skinFont(11));
    m_lblStatus->setStyleSheet(QStringLiteral("color: #2B2E44; background: transparent;"));
    m_lblStatus->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_lblCut = new HotSpot(this, {}, QStringLiteral("Music Cutter is on: click to change it"));
    m_lblCut->setObjectName(QStringLiteral("lblCut"));
    m_lblCut->setFont(skinFont(11));
    m_lblCut->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    m_lblCut->setStyleSheet(QStringLiteral("QLabel { color: #5242E0; background: transparent; }"
                                           "QLabel:disabled { color: #A4A7BA; }"));
    m_lblCut->setCursor(hand);
    m_lblCut->hide();
    connect(m_lblCut, &HotSpot::clicked, this, &frmMain::showOptions);

    static const QPoint toolbar[7] = {{16, 55}, {190, 55}, {277, 55}, {364, 55}, {451, 55}, {0, 0}, {103, 55}};
    static const char *const toolbarTips[7] = {"Add a File", "Remove", "Options",     "Help & Tutorial",
                                               "Exit",       nullptr,  "Add a Folder"};
    for (int i : {0, 6, 1, 2, 3, 4}) {
        auto *h = new HotSpot(this, QRect(toolbar[i], QSize(86, 53)), QString::fromLatin1(toolbarTips[i]));
        h->setObjectName(QStringLiteral("imgToolbar_%1").arg(i));
        if (i == 1)
            h->setAccessibleRole(QAccessible::ButtonMenu);
        m_imgToolbar[size_t(i)] = h;
        connect(h, &HotSpot::hovered, this, [this, i] {
            for (HotSpot *t : m_imgToolbar)
                if (t)
                    t->clearPicture();
            m_imgToolbar[size_t(i)]->setPicture(m_imgButtonData[size_t(i)]);
        });
        connect(h, &HotSpot::pressed, this, [this] {
            for (HotSpot *t : m_imgToolbar)
                if (t)
                    t->clearPicture();
        });
        connect(h, &HotSpot::clicked, this, [this, i] { imgToolbar_Click(i); });
    }
    static const QRect menus[3] = {{18, 31, 40, 15}, {60, 31, 59, 15}, {122, 31, 51, 15}};
    const QString menuCaptions[3] = {QStringLiteral("File"), QStringLiteral("Options"), QStringLiteral("About")};
    for (int i = 0; i < 3; ++i) {
        auto *h = new HotSpot(this, menus[i]);
        h->setObjectName(QStringLiteral("imgMenu_%1").arg(i));
        h->setAccessibleRole(QAccessible::ButtonMenu);
        h->setAccessibleName(menuCaptions[i]);
        m_imgMenu[size_t(i)] = h;
        connect(h, &HotSpot::hovered, this, [this, i] {
            for (HotSpot *m : m_imgMenu)
                m->clearPicture();
            m_imgMenu[size_t(i)]->setPicture(m_imgMenuData[size_t(i)]);
        });
        connect(h, &HotSpot::clicked, this, [this, i] {
            QMenu *menu = i == 0 ? m_menuFile : i == 1 ? m_menuOptions : m_menuAbout;
            const QRect r = m_imgMenu[size_t(i)]->geometry();
            runPopup(*menu, mapToGlobal(QPoint(r.left(), r.bottom() + 1)));
        });
    }
}

void frmMain::setKeyboardOrder()
{
    // Tab goes through the window as it reads: the title bar's buttons, the menu bar, the
    // toolbar, the queue, the choices on the right top to bottom, Convert, then the bottom strip.
    const QList<QWidget *> chain{m_imgHelp,
                                 m_imgMin,
                                 m_imgExit,
                                 m_imgMenu[0],
                                 m_imgMenu[1],
                                 m_imgMenu[2],
                                 m_imgToolbar[0],
                                 m_imgToolbar[6],
                                 m_imgToolbar[1],
                                 m_imgToolbar[2],
                                 m_imgToolbar[3],
                                 m_imgToolbar[4],
                                 m_LV,
                                 m_cmbOF,
                                 m_cmbBR,
                                 m_cmbR,
                                 m_cmbChannel,
                                 m_txtPath,
                                 m_imgBrowse,
                                 m_imgConvert,
                                 m_lblWeb,
                                 m_lblCut,
                                 m_lblFeed};
    for (qsizetype i = 0; i + 1 < chain.size(); ++i)
        setTabOrder(chain[i], chain[i + 1]);
    // The queue has the keyboard at first (Delete removes, Ctrl+O adds).
    m_LV->setFocus(Qt::OtherFocusReason);
    m_focusMark = new FocusMark(this);
}

void frmMain::buildMenus()
{
    // The popup menus write their command word into txtAction; "Remove All" works directly.
    auto word = [this](QMenu *menu, const QString &caption, const QString &command) {
        QAction *a = menu->addAction(caption);
        connect(a, &QAction::triggered, this, [this, command] { m_txtAction->setText(command); });
        return a;
    };
    m_menuFile = new QMenu(QStringLiteral("File"), this);
    word(m_menuFile, QStringLiteral("Add a File(&A)"), QStringLiteral("AddaFile"));
    word(m_menuFile, QStringLiteral("Add a Folder(&F)"), QStringLiteral("menuAddaFolder"));
    m_menuFile->addSeparator();
    word(m_menuFile, QStringLiteral("Exit(&E)"), QStringLiteral("menuExit"));
    m_menuOptions = new QMenu(QStringLiteral("Options"), this);
    word(m_menuOptions, QStringLiteral("Options(&O)"), QStringLiteral("menuOption"));
    m_openFolderAction =
        word(m_menuOptions, QStringLiteral("Open Output Folder When Done"), QStringLiteral("menuOpenFolderWhenDone"));
    m_openFolderAction->setCheckable(true);
    m_openFolderAction->setChecked(true);
    m_menuJobs = m_menuOptions->addMenu(QStringLiteral("Simultaneous Conversions"));
    m_menuJobs->setObjectName(QStringLiteral("menuJobs"));
    auto *jobs = new QActionGroup(m_menuJobs);
    const QList<JobsChoice> choices = jobsChoices();
    for (qsizetype i = 0; i < choices.size(); ++i) {
        QAction *a = word(m_menuJobs, jobsCaption(choices[i], QThread::idealThreadCount()),
                          QString::fromLatin1(kCommandWords[kFirstJobsWord + size_t(i)]));
        a->setCheckable(true);
        a->setData(int(choices[i]));
        jobs->addAction(a);
    }
    m_menuAbout = new QMenu(QStringLiteral("About"), this);
    word(m_menuAbout, QStringLiteral("Help(&H)"), QStringLiteral("menuHelp"));
    word(m_menuAbout, QStringLiteral("About(&A)"), QStringLiteral("A"));
    m_menuRemove = new QMenu(QStringLiteral("Remove"), this);
    word(m_menuRemove, QStringLiteral("Remove Selected"), QStringLiteral("RemoveSelected"));
    QAction *all = m_menuRemove->addAction(QStringLiteral("Remove All"));
    connect(all, &QAction::triggered, this, &frmMain::menuRemoveAll_Click);
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

    MainChoices c;
    c.outputFolder = m_state.defaultOutputFolder();
    bool exists = false;
    const QByteArray setup = readSettingsBytes(m_state.setupIni(), &exists);
    if (exists)
        applySetupIni(setup, c);
    if (c.outputFolder.isEmpty())
        c.outputFolder = m_state.defaultOutputFolder();
    m_cmbBR->setCurrentIndex(c.bitrateIndex);
    m_cmbR->setCurrentIndex(c.rateIndex);
    m_cmbChannel->setCurrentIndex(c.channelIndex);
    m_txtPath->setText(c.outputFolder);
    m_cmbOF->setCurrentIndex(c.formatIndex);

    const QByteArray options = readSettingsBytes(m_state.optionsIni(), &exists);
    if (!exists) {
        m_settings.gSoundReminder = 0;
        m_settings.gCutterOn = 0;
    } else {
        applyOptionsIni(options, m_settings);
    }

    BatchDriver::Seams bs{m_seams.boxes, m_seams.shell, m_seams.sound};
    m_batch = new BatchDriver(
        m_queue, *m_dos, m_settings, m_appDir, bs, [this] { return selections(); }, this);
    m_batch->setDurationSource(&m_probe);
    connect(m_batch, &BatchDriver::controlsLocked, this, &frmMain::lockControls);
    connect(m_batch, &BatchDriver::progressChanged, this, &frmMain::showProgress);
    connect(m_batch, &BatchDriver::stopping, this, [this] { setConvertState(ConvertState::Stopping); });
    connect(m_batch, &BatchDriver::statusChanged, this, [this](const QString &text) {
        m_lblStatus->setToolTip(text);
        m_lblStatus->setProperty("fullText", text);
        layoutStatusStrip();
    });
    connect(m_batch, &BatchDriver::batchEnded, this, &frmMain::batchEnded);
    // The launcher counts the files left: each converted one leaves the queue, and files may
    // join it during the batch.
    for (auto changed : {&QAbstractItemModel::rowsRemoved, &QAbstractItemModel::rowsInserted})
        connect(&m_queue, changed, this, [this] {
            if (m_batch->isRunning() && m_launcher)
                m_launcher->show(m_taskFraction, m_queue.count());
        });
    m_jobsChoice = readJobsSetting(m_state.jobsConf());
    applyJobsChoice();
    m_batch->setOpenFolderWhenDone(readOpenFolderWhenDone(m_state.jobsConf()));
    m_openFolderAction->setChecked(m_batch->openFolderWhenDone());
    setNotificationBus(QDBusConnection::sessionBus());
    connect(m_cmbOF, &QComboBox::currentIndexChanged, this, &frmMain::updateMp3Selectors);
    updateMp3Selectors();
    updateCutIndicator();

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
    m_lblText->setText(shownCaption(kDropCaption));
}

void frmMain::imgBrowse_Click()
{
    m_dialogs.setTitle(QStringLiteral("Please select a folder:"));
    if (m_dialogs.ShowFolder() && !m_dialogs.Path().isEmpty())
        m_txtPath->setText(m_dialogs.Path());
    else
        m_txtPath->setText(m_state.defaultOutputFolder());
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
    makeFolderFor(m_state.setupIni());
    writeSetupIni(m_state.setupIni(), choices());
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
    frmOptions options(m_settings, m_state.optionsIni(), m_seams.boxes, this);
    runDialog(options);
    if (self)
        updateCutIndicator();
}

void frmMain::imgHelp_Click()
{
    const QString local = m_appDir + QStringLiteral("/help/tutorial.html");
    if (m_seams.shell)
        m_seams.shell->open(QFileInfo(local).isFile() ? local : webBase() + QStringLiteral("/tutorial.html"));
}

void frmMain::AddFolder()
{
    if (m_searching)
        return; // one search at a time
    m_dialogs.setTitle(QStringLiteral("Please select a folder:"));
    const bool chosen = m_dialogs.ShowFolder();
    m_picText->show();
    m_lblText->setText(QStringLiteral("Searching Files..."));
    QStringList lstAddFolder; // the scratch list of one search
    if (chosen && !m_dialogs.Path().isEmpty()) {
        m_searching = true;
        QPointer<frmMain> self(this);
        SearchFolder(m_dialogs.Path(), lstAddFolder, folderLister, [self] {
            QCoreApplication::processEvents();
            return self && !self->m_closing;
        });
        if (!self)
            return;
        m_searching = false;
        m_queue.appendEntries(lstAddFolder);
    }
    lstAddFolder.clear();
    m_lblText->setText(shownCaption(kDropCaption));
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
    queueDropped(paths);
}

void frmMain::queueDropped(const QStringList &paths)
{
    // Files join as they are; a folder brings the files below it, as the folder search finds
    // them; anything that is no regular file stays out.
    QPointer<frmMain> self(this);
    QStringList found;
    if (!paths.isEmpty()) {
        found = queueableDroppedPaths(paths, folderLister, [self] {
            QCoreApplication::processEvents();
            return self && !self->m_closing;
        });
        if (!self)
            return;
    }
    m_queue.appendEntries(found);
    if (m_queue.isEmpty())
        return;
    QCoreApplication::processEvents();
    if (self)
        m_picText->hide();
}

bool frmMain::openFromLaunch(const LaunchRequest &request)
{
    if (m_closing || m_quitAfterStop)
        return false;
    bringToFront(request.activationToken);
    if (!request.paths.isEmpty()) {
        // Queued from the event loop: the start that sent them has its answer at once, however
        // long the folders take to search.
        m_incoming << request.paths;
        QTimer::singleShot(0, this, &frmMain::takeIncoming);
    }
    return true;
}

void frmMain::takeIncoming()
{
    if (m_takingIncoming)
        return; // the one under way takes these too, in the order they came
    m_takingIncoming = true;
    QPointer<frmMain> self(this);
    while (self && !m_closing && !m_incoming.isEmpty())
        queueDropped(m_incoming.takeFirst());
    if (self)
        m_takingIncoming = false;
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
    makeFolderFor(m_state.jobsConf());
    writeJobsSetting(m_state.jobsConf(), choice);
    applyJobsChoice();
}

void frmMain::setOpenFolderWhenDone(bool open)
{
    m_batch->setOpenFolderWhenDone(open);
    m_openFolderAction->setChecked(open);
    makeFolderFor(m_state.jobsConf());
    writeOpenFolderWhenDone(m_state.jobsConf(), open);
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
    if (locked)
        showTaskProgress(0.0);
    else
        clearTaskProgress();
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

void frmMain::setNotificationBus(const QDBusConnection &bus)
{
    if (m_launcher)
        m_launcher->clear();
    m_launcher = std::make_unique<LauncherEntry>(bus, QString::fromLatin1(kDesktopId));
    m_notifier = std::make_unique<DesktopNotifier>(bus);
    m_notifier->setIdentity(QString::fromLatin1(kDesktopId), notificationImage(programIcon()));
    connect(m_notifier.get(), &DesktopNotifier::openFolderRequested, this, [this](const QString &folder) {
        if (m_seams.shell)
            m_seams.shell->open(folder);
    });
}

void frmMain::updateCutIndicator()
{
    const QString text = cutIndicatorText(m_settings);
    m_lblCut->setText(text);
    m_lblCut->setVisible(!text.isEmpty());
    layoutStatusStrip();
}

void frmMain::layoutStatusStrip()
{
    // Between "Zelmora" (ending at 221) and "Feedback" (starting at 628): the cut at the right,
    // the status text in the room left of it.
    constexpr int left = 232, right = 620, top = 477, height = 13;
    int cutLeft = right;
    if (m_lblCut->isVisibleTo(this)) {
        const int w = QFontMetrics(m_lblCut->font()).horizontalAdvance(m_lblCut->text()) + 2;
        cutLeft = right - w;
        m_lblCut->setGeometry(cutLeft, top, w, height);
        cutLeft -= 12;
    }
    const int width = std::max(cutLeft - left, 0);
    m_lblStatus->setGeometry(left, top, width, height);
    // A text longer than the room left ends in "…"; the tool tip has all of it.
    const QString full = m_lblStatus->property("fullText").toString();
    m_lblStatus->setText(QFontMetrics(m_lblStatus->font()).elidedText(full, Qt::ElideRight, width));
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
    if (!isActiveWindow())
        m_notifier->notify(QString::fromLatin1(kAppTitle), outcome.summary, outcome.outputFolder);
    if (!outcome.failures.isEmpty()) {
        frmFailures failures(outcome, m_seams.shell, this);
        runDialog(failures);
    }
}

void frmMain::showProgress(float widthTwips, const QString &caption)
{
    const int px = qBound(0, qRound(widthTwips / 15.0f), kFullBarPixels);
    m_imgPB->resize(px, m_imgPB->height());
    m_lblPB->setText(caption);
    if (m_batch && m_batch->isRunning())
        showTaskProgress(std::clamp(double(widthTwips) / double(kFullBarTwips), 0.0, 1.0));
}

void frmMain::showTaskProgress(double fraction)
{
    // The task bar and the window list learn what the bar shows: "42% — Zelmora" as the title
    // (the skin draws its own caption), and the progress with the files left on the launcher.
    m_taskFraction = fraction;
    // Whole percents, as the caption has them (the bar's width is a float: 0.42 may be 0.4199998).
    const int percent = int(std::floor(fraction * 100 + 0.001));
    setWindowTitle(QStringLiteral("%1% \u2014 ").arg(percent) + QString::fromLatin1(kAppTitle));
    if (m_launcher)
        m_launcher->show(fraction, m_queue.count());
}

void frmMain::clearTaskProgress()
{
    setWindowTitle(QString::fromLatin1(kAppTitle));
    if (m_launcher)
        m_launcher->clear();
}

void frmMain::resetHotSpots()
{
    m_lblFeed->setFont(feedCaptionFont(false));
    m_imgHelp->clearPicture();
    m_imgExit->clearPicture();
    for (int i : {3, 2, 0, 1})
        m_arrows[size_t(i)]->setPicture(arrowPicture(i, false));
    m_imgBrowse->clearPicture();
    m_imgMin->clearPicture();
    for (HotSpot *t : m_imgToolbar)
        if (t)
            t->clearPicture();
    for (HotSpot *m : m_imgMenu)
        m->clearPicture();
    showConvertPicture(false);
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
        hide();
        m_batch->stop();
        return;
    }
    // Unload: a converter still running is left to finish on its own; we stop following it.
    m_closing = true;
    if (m_dos)
        m_dos->abandon();
    event->accept();
}

} // namespace zm
