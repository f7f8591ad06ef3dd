// The main window's controls: where each lies, its pictures, its names for screen readers, the
// popup menus and the order Tab takes through them.
#include "shell/frmmain.h"

#include "shell/commandtable.h"
#include "engine/commandline.h"
#include "skin/focusmark.h"
#include "skin/hotspot.h"
#include "skin/skin.h"

#include <QActionGroup>
#include <QComboBox>
#include <QCursor>
#include <QFontMetrics>
#include <QHeaderView>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QThread>
#include <QTreeView>
#include <algorithm>

namespace zm {

namespace {

constexpr int kFullBarPixels = 361;
const QString kDropCaption = QStringLiteral("Drag && Drop Files Here");
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

QString frmMain::dropCaption()
{
    return shownCaption(kDropCaption);
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
    m_lblText = new QLabel(dropCaption(), m_picText);
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
    m_keepFoldersAction = m_menuOptions->addAction(QStringLiteral("Keep Folder Structure"));
    m_keepFoldersAction->setObjectName(QStringLiteral("menuKeepFolderStructure"));
    m_keepFoldersAction->setCheckable(true);
    connect(m_keepFoldersAction, &QAction::triggered, this, &frmMain::setKeepFolderStructure);
    m_trashAction = m_menuOptions->addAction(QStringLiteral("Move Originals to Trash After Converting"));
    m_trashAction->setObjectName(QStringLiteral("menuTrashOriginals"));
    m_trashAction->setCheckable(true);
    connect(m_trashAction, &QAction::triggered, this, &frmMain::setTrashOriginals);
    // The answer about existing outputs, once remembered, can be changed (or asked again) here.
    m_menuExisting = m_menuOptions->addMenu(QStringLiteral("When Outputs Exist"));
    m_menuExisting->setObjectName(QStringLiteral("menuExisting"));
    auto *existing = new QActionGroup(m_menuExisting);
    const std::pair<ExistingChoice, const char *> answers[] = {{ExistingChoice::Ask, "Ask"},
                                                               {ExistingChoice::Replace, "Replace"},
                                                               {ExistingChoice::Skip, "Skip"},
                                                               {ExistingChoice::Number, "Keep Both"}};
    for (const auto &[choice, caption] : answers) {
        QAction *a = m_menuExisting->addAction(QString::fromLatin1(caption));
        a->setCheckable(true);
        a->setData(int(choice));
        existing->addAction(a);
        connect(a, &QAction::triggered, this, [this, c = choice] { setExistingChoice(c); });
    }
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
    buildLoudnessMenu();
    m_menuAbout = new QMenu(QStringLiteral("About"), this);
    word(m_menuAbout, QStringLiteral("Help(&H)"), QStringLiteral("menuHelp"));
    word(m_menuAbout, QStringLiteral("About(&A)"), QStringLiteral("A"));
    m_menuRemove = new QMenu(QStringLiteral("Remove"), this);
    word(m_menuRemove, QStringLiteral("Remove Selected"), QStringLiteral("RemoveSelected"));
    QAction *all = m_menuRemove->addAction(QStringLiteral("Remove All"));
    connect(all, &QAction::triggered, this, &frmMain::menuRemoveAll_Click);
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

} // namespace zm
