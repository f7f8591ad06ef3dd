#include "support/files.h"
#include "shell/frmoptions.h"
#include "skin/hotspot.h"
#include "skin/skin.h"
#include "suite/version.h"
#include "zelmora/windowutil.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QScreen>
#include <QTest>
#include <QTreeView>
#include <sys/stat.h>
#include <gtest/gtest.h>

using namespace zm;
using testsupport::readFile;
using zmtest::Harness;

namespace {
void writeFile(const QString &p, const QByteArray &b)
{
    QFile f(p);
    f.open(QIODevice::WriteOnly | QIODevice::Truncate);
    f.write(b);
}
} // namespace

TEST(MainWindow, DesignedGeometry)
{
    Harness h;
    h.open();
    frmMain &w = *h.window;
    EXPECT_EQ(w.size(), QSize(698, 496));
    EXPECT_TRUE(w.windowFlags() & Qt::FramelessWindowHint);
    struct Row {
        QWidget *widget;
        QRect rect;
    };
    const Row rows[] = {
        {w.LV(), {17, 160, 455, 274}},         {w.picText(), {164, 264, 163, 21}},
        {w.cmbOF(), {488, 158, 189, 22}},      {w.cmbBR(), {488, 200, 189, 22}},
        {w.cmbR(), {488, 244, 189, 22}},       {w.cmbChannel(), {488, 286, 189, 22}},
        {w.txtPath(), {488, 330, 143, 23}},    {w.lblPB(), {214, 447, 157, 13}},
        {w.imgConvert(), {489, 371, 187, 91}}, {w.imgToolbar(0), {16, 55, 86, 53}},
        {w.imgToolbar(6), {103, 55, 86, 53}},  {w.imgToolbar(1), {190, 55, 86, 53}},
        {w.imgToolbar(2), {277, 55, 86, 53}},  {w.imgToolbar(3), {364, 55, 86, 53}},
        {w.imgToolbar(4), {451, 55, 86, 53}},  {w.imgMenu(0), {18, 31, 40, 15}},
        {w.imgMenu(1), {60, 31, 59, 15}},      {w.imgMenu(2), {122, 31, 51, 15}},
        {w.lblFeed(), {628, 477, 46, 13}},
    };
    for (const Row &r : rows)
        EXPECT_EQ(r.widget->geometry(), r.rect) << r.widget->objectName().toStdString();
    EXPECT_EQ(w.imgPB()->geometry(), QRect(113, 447, 0, 13));

    // Tool tips: the four lists carry theirs; the drop-down arrows over them have none.
    struct Tip {
        const char *name;
        const char *tip;
    };
    const Tip tips[] = {
        {"cmbOF", "Output Format"},
        {"cmbBR", "MP3 Audio Bitrate"},
        {"cmbR", "MP3 Audio Rate"},
        {"cmbChannel", "MP3 Audio Channel(Stereo or Mono)"},
        {"picButtonOF", ""},
        {"picButtonBR", ""},
        {"picButtonR", ""},
        {"picButtonChannel", ""},
        {"txtPath", "Select a Folder to Output"},
        {"lblFeed", "Send us your suggestion or question"},
    };
    for (const Tip &t : tips) {
        const QWidget *c = w.findChild<QWidget *>(QString::fromLatin1(t.name));
        ASSERT_NE(c, nullptr) << t.name;
        EXPECT_EQ(c->toolTip(), QString::fromLatin1(t.tip)) << t.name;
    }
}

TEST(MainWindow, FirstStartDefaults)
{
    Harness h;
    h.settings = {7, 7, 7, 7};
    h.open();
    frmMain &w = *h.window;
    EXPECT_EQ(w.cmbBR()->currentText(), QStringLiteral("192"));
    EXPECT_EQ(w.cmbR()->currentText(), QStringLiteral("44100"));
    EXPECT_EQ(w.cmbChannel()->currentText(), QStringLiteral("Stereo"));
    EXPECT_EQ(w.cmbOF()->currentText(), QStringLiteral("WMA"));
    EXPECT_EQ(w.txtPath()->text(), h.app.path + QStringLiteral("/output"));
    EXPECT_EQ(h.settings.gSoundReminder, 0);
    EXPECT_EQ(h.settings.gCutterOn, 0);
    EXPECT_EQ(w.lblPB()->text(), QStringLiteral("0%"));
    EXPECT_FALSE(w.picText()->isHidden());
    EXPECT_EQ(w.lblText()->text(), QStringLiteral("Drag & Drop Files Here"));
    EXPECT_EQ(w.LV()->model()->headerData(0, Qt::Horizontal).toString(), QStringLiteral("FileName"));
}

TEST(MainWindow, ExitSavesAndRestartRestores)
{
    Harness h;
    h.open();
    const QString folder = h.app.path + QStringLiteral("/Mu,sic \u00fc");
    h.window->cmbBR()->setCurrentIndex(11);
    h.window->cmbR()->setCurrentIndex(6);
    h.window->cmbChannel()->setCurrentIndex(0);
    h.window->cmbOF()->setCurrentIndex(7);
    h.window->txtPath()->setText(folder);
    bool exited = false;
    QObject::connect(h.window.get(), &frmMain::exitRequested, [&] { exited = true; });
    h.window->imgExit_Click();
    EXPECT_TRUE(exited);
    EXPECT_EQ(readFile(h.app.path + QStringLiteral("/setup.ini")),
              QByteArray("\"11\"\r\n\"6\"\r\n\"0\"\r\n\"") + folder.toUtf8() + QByteArray("\"\r\n\"7\"\r\n"));

    h.open();
    EXPECT_EQ(h.window->cmbBR()->currentText(), QStringLiteral("320"));
    EXPECT_EQ(h.window->cmbR()->currentText(), QStringLiteral("12050"));
    EXPECT_EQ(h.window->cmbChannel()->currentText(), QStringLiteral("Mono"));
    EXPECT_EQ(h.window->cmbOF()->currentText(), QStringLiteral("AMR"));
    EXPECT_EQ(h.window->txtPath()->text(), folder);

    // Closing any other way saves nothing.
    h.window->cmbBR()->setCurrentIndex(0);
    h.window->close();
    EXPECT_EQ(readFile(h.app.path + QStringLiteral("/setup.ini")).left(6), QByteArray("\"11\"\r\n"));
}

TEST(MainWindow, NewFormatsSurviveARestart)
{
    // M4A and OPUS are stored by their index like the others, and read back.
    for (const char *format : {"M4A", "OPUS"}) {
        Harness h;
        h.open();
        const int index = h.window->cmbOF()->findText(QString::fromLatin1(format));
        ASSERT_GE(index, 8) << format;
        h.window->cmbOF()->setCurrentIndex(index);
        h.window->imgExit_Click();
        EXPECT_TRUE(
            readFile(h.app.path + QStringLiteral("/setup.ini")).endsWith("\"" + QByteArray::number(index) + "\"\r\n"));
        h.open();
        EXPECT_EQ(h.window->cmbOF()->currentText(), QString::fromLatin1(format));
    }
}

TEST(MainWindow, BadSettingsFilesKeepDefaults)
{
    Harness h;
    writeFile(h.app.path + QStringLiteral("/setup.ini"), "\"abc\"\r\n\"99\"\r\n\"0\"\r\n\"\"\r\n");
    writeFile(h.app.path + QStringLiteral("/options.ini"), "1\r\nabc\r\n");
    h.settings.gCutTo = 40;
    h.open();
    EXPECT_EQ(h.window->cmbBR()->currentIndex(), 8);
    EXPECT_EQ(h.window->cmbR()->currentIndex(), 1);
    EXPECT_EQ(h.window->cmbChannel()->currentIndex(), 0);
    EXPECT_EQ(h.window->txtPath()->text(), h.app.path + QStringLiteral("/output"));
    EXPECT_EQ(h.window->cmbOF()->currentIndex(), 1);
    EXPECT_EQ(h.settings.gSoundReminder, 1);
    EXPECT_EQ(h.settings.gCutterOn, 0);
    EXPECT_EQ(h.settings.gCutTo, 40);
}

TEST(MainWindow, AddRemoveAndHint)
{
    Harness h;
    h.open();
    frmMain &w = *h.window;
    // Cancel changes nothing, not even the hint.
    w.imgAdd_Click();
    EXPECT_EQ(w.queue().count(), 0);
    EXPECT_FALSE(w.picText()->isHidden());
    EXPECT_EQ(h.files.titles.value(0), QStringLiteral("Open Files"));
    EXPECT_TRUE(h.files.lastFilters.startsWith(QStringLiteral("FLV Files (*.FLV *.flv);;AVI Files")));

    const QString a = h.app.script(QStringLiteral("a.txt"), {}), b = h.app.script(QStringLiteral("b.flv"), {});
    h.files.answers = QStringList{a, a, b};
    w.imgAdd_Click();
    w.imgAdd_Click();
    w.imgAdd_Click();
    ASSERT_EQ(w.queue().count(), 3);
    EXPECT_TRUE(w.picText()->isHidden());
    EXPECT_EQ(w.LV()->model()->data(w.LV()->model()->index(0, 1)).toString(), QStringLiteral("TXT"));

    // Remove selected with nothing selected: nothing happens.
    w.imgRemove_Click();
    EXPECT_EQ(w.queue().count(), 3);
    w.LV()->selectionModel()->select(w.LV()->model()->index(1, 0),
                                     QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    w.txtAction()->setText(QStringLiteral("RemoveSelected"));
    EXPECT_TRUE(w.txtAction()->text().isEmpty());
    EXPECT_EQ(w.queue().paths(), (QStringList{a, b}));
    w.menuRemoveAll_Click();
    EXPECT_EQ(w.queue().count(), 0);
    EXPECT_FALSE(w.picText()->isHidden());
    EXPECT_EQ(w.lblText()->text(), QStringLiteral("Drag & Drop Files Here"));
    w.imgRemove_Click();
    EXPECT_FALSE(w.picText()->isHidden());
}

TEST(MainWindow, BrowseForTheOutputFolder)
{
    Harness h;
    h.open();
    h.files.folderAnswers = QStringList{QStringLiteral("/home/u/Music")};
    h.window->imgBrowse_Click();
    EXPECT_EQ(h.window->txtPath()->text(), QStringLiteral("/home/u/Music"));
    EXPECT_EQ(h.files.titles.last(), QStringLiteral("Please select a folder:"));
    h.window->imgBrowse_Click(); // cancelled
    EXPECT_EQ(h.window->txtPath()->text(), h.app.path + QStringLiteral("/output"));
}

TEST(MainWindow, CommandWords)
{
    Harness h;
    h.open();
    frmMain &w = *h.window;
    struct Row {
        const char *word;
        size_t boxes;
        int dialogs;
        int helpOpened;
    };
    const Row rows[] = {
        {"menuexit", 0, 0, 0}, {"A ", 0, 0, 0},         {"unknown", 0, 0, 0},
        {"A", 1, 0, 0},        {"menuOption", 1, 1, 0}, {"menuHelp", 1, 1, 1},
    };
    for (const Row &r : rows) {
        w.txtAction()->setText(QString::fromLatin1(r.word));
        EXPECT_TRUE(w.txtAction()->text().isEmpty()) << r.word;
        EXPECT_EQ(h.boxes.boxes.size(), r.boxes) << r.word;
        EXPECT_EQ(h.dialogs, r.dialogs) << r.word;
        EXPECT_EQ(h.shell.opened.size(), r.helpOpened) << r.word;
    }
    const QStringList about = h.boxes.boxes[0].text.split(QStringLiteral("\r\n"));
    ASSERT_EQ(about.size(), 4);
    EXPECT_TRUE(about[0].endsWith(QStringLiteral(" 2026")));
    EXPECT_EQ(about[1], QStringLiteral("All rights reserved."));
    EXPECT_EQ(about[3], QStringLiteral("Version " ZM_PACKAGE_VERSION)) << "the package's version";
    EXPECT_EQ(h.boxes.boxes[0].caption, QStringLiteral("Zelmora"));
    EXPECT_EQ(h.boxes.boxes[0].icon, MsgIcon::None);
    EXPECT_TRUE(h.shell.opened[0].endsWith(QStringLiteral("tutorial.html")));

    // Toolbar button 1 pops up the remove menu; button 2 opens the options window.
    w.imgToolbar_Click(1);
    EXPECT_EQ(h.popups, QStringList{QStringLiteral("Remove")});
    QStringList captions;
    for (QAction *a : w.menuRemove()->actions())
        captions << a->text();
    EXPECT_EQ(captions, (QStringList{QStringLiteral("Remove Selected"), QStringLiteral("Remove All")}));
    w.imgToolbar_Click(2);
    EXPECT_EQ(h.dialogs, 2);
}

TEST(OptionsWindow, ValidationAndStoring)
{
    struct Row {
        const char *name;
        std::array<const char *, 6> times;
        const char *message;
        const char *focus;
    };
    const Row rows[] = {
        {"60 minutes", {"0", "60", "0", "0", "0", "0"}, "Minutes must less than 60", "txtFromM"},
        {"75 seconds", {"0", "0", "0", "0", "1", "75"}, "Seconds must less than 60", "txtToS"},
        {"both wrong", {"0", "61", "0", "0", "0", "99"}, "Minutes must less than 60", "txtFromM"},
    };
    for (const Row &r : rows) {
        zmtest::FakeApp app;
        zmtest::RecordingBoxes boxes;
        ProgramSettings s{0, 1, 5, 6};
        frmOptions o(s, app.path + QStringLiteral("/options.ini"), &boxes);
        for (int i = 0; i < 6; ++i)
            o.timeBox(i)->setText(QString::fromLatin1(r.times[size_t(i)]));
        o.imgOK_Click();
        ASSERT_EQ(boxes.boxes.size(), 1u) << r.name;
        EXPECT_EQ(boxes.boxes[0].caption, QStringLiteral("Min")) << r.name;
        EXPECT_EQ(boxes.boxes[0].text, QString::fromLatin1(r.message)) << r.name;
        EXPECT_EQ(o.focusWidget() ? o.focusWidget()->objectName() : QString(), QString::fromLatin1(r.focus)) << r.name;
        EXPECT_EQ(s, (ProgramSettings{0, 1, 5, 6})) << r.name;
        EXPECT_FALSE(QFile::exists(app.path + QStringLiteral("/options.ini"))) << r.name;
        EXPECT_NE(o.result(), QDialog::Accepted) << r.name;
    }
}

TEST(OptionsWindow, LoadEditOkAndBack)
{
    zmtest::FakeApp app;
    const QString ini = app.path + QStringLiteral("/options.ini");
    ProgramSettings s{1, 1, 90, 120};
    {
        frmOptions o(s, ini, nullptr);
        EXPECT_EQ(o.size(), QSize(324, 172));
        const QRect screen = o.screen()->availableGeometry();
        EXPECT_LE((o.geometry().center() - screen.center()).manhattanLength(), 1) << "opens centred on the screen";
        // Over a main window that is not centred it still opens in the middle of the screen.
        Harness h;
        h.open();
        h.window->move(0, 0);
        h.window->show();
        frmOptions owned(s, ini, nullptr, h.window.get());
        owned.show();
        EXPECT_LE((owned.geometry().center() - screen.center()).manhattanLength(), 1);
        owned.hide();
        EXPECT_EQ(o.cmbSR()->currentText(), QStringLiteral("OFF"));
        EXPECT_TRUE(o.chkMC()->isChecked());
        const char *shown[6] = {"0", "1", "30", "0", "2", "0"};
        for (int i = 0; i < 6; ++i) {
            EXPECT_EQ(o.timeBox(i)->text(), QString::fromLatin1(shown[i]));
            EXPECT_TRUE(o.timeBox(i)->isEnabled());
        }
        o.timeBox(FromM)->setText(QStringLiteral("99"));
        o.imgBack_Click();
        EXPECT_EQ(s, (ProgramSettings{1, 1, 90, 120}));
        EXPECT_FALSE(QFile::exists(ini));
    }
    {
        frmOptions o(s, ini, nullptr);
        o.chkMC()->click(); // off: the boxes are disabled, their text kept
        EXPECT_FALSE(o.timeBox(ToM)->isEnabled());
        EXPECT_EQ(o.timeBox(ToM)->text(), QStringLiteral("2"));
        o.cmbSR()->setCurrentIndex(0);
        o.imgOK_Click();
        EXPECT_EQ(o.result(), QDialog::Accepted);
        EXPECT_EQ(s, (ProgramSettings{0, 0, 90, 120}));
        EXPECT_EQ(readFile(ini), QByteArray("0\r\n0\r\n90\r\n120\r\n"));
    }
    {
        frmOptions o(s, ini, nullptr); // opened with the cutter off: zeros, OK stores zeros
        EXPECT_FALSE(o.timeBox(FromS)->isEnabled());
        EXPECT_EQ(o.timeBox(FromS)->text(), QStringLiteral("0"));
        o.chkMC()->click();
        o.imgOK_Click();
        EXPECT_FALSE(o.chkMC()->isChecked()); // all six at 0
        EXPECT_EQ(s, (ProgramSettings{0, 0, 0, 0}));
    }
}

TEST(MainWindow, OpenDialogTakesSeveralFilesAndRemembersTheFilter)
{
    Harness h;
    h.open();
    frmMain &w = *h.window;
    const QString c13 = h.app.script(QStringLiteral("clip 13.flv"), {}),
                  c8 = h.app.script(QStringLiteral("clip 8.flv"), {});
    const QString c9 = h.app.script(QStringLiteral("Clip 9.mp4"), {});
    const QString fifo = h.app.path + QStringLiteral("/in/pipe.flv");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    // Picked in any order: queued as the dialog lists them; a FIFO never joins.
    h.files.fileLists = {{c13, fifo, c8, c9}};
    h.files.chooseFilter = QStringLiteral("MP4 Files (*.mp4 *.MP4)");
    w.imgAdd_Click();
    EXPECT_EQ(w.queue().paths(), (QStringList{c8, c9, c13}));
    EXPECT_EQ(h.files.preselected.last(), QStringLiteral("FLV Files (*.FLV *.flv)")) << "the first filter at first";
    // Ctrl+O opens it again, with the filter chosen last.
    w.show();
    QApplication::setActiveWindow(&w);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    QTest::keyClick(&w, Qt::Key_O, Qt::ControlModifier);
    EXPECT_EQ(h.files.titles.size(), 2);
    EXPECT_EQ(h.files.preselected.last(), QStringLiteral("MP4 Files (*.mp4 *.MP4)"));
}

TEST(MainWindow, DeleteRemovesTheSelectedEntries)
{
    Harness h;
    h.open();
    frmMain &w = *h.window;
    const QStringList paths{QStringLiteral("/v/0.flv"), QStringLiteral("/v/1.flv"), QStringLiteral("/v/2.flv"),
                            QStringLiteral("/v/3.flv"), QStringLiteral("/v/4.flv")};
    w.queue().appendEntries(paths);
    w.show();
    QApplication::setActiveWindow(&w);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    auto select = [&](std::initializer_list<int> rows) {
        w.LV()->selectionModel()->clearSelection();
        for (int r : rows)
            w.LV()->selectionModel()->select(w.LV()->model()->index(r, 0),
                                             QItemSelectionModel::Select | QItemSelectionModel::Rows);
    };
    w.LV()->setFocus();
    select({1, 3, 4});
    QTest::keyClick(w.LV(), Qt::Key_Delete);
    EXPECT_EQ(w.queue().paths(), (QStringList{paths[0], paths[2]}));
    // Remove Selected does the same.
    select({0, 1});
    w.txtAction()->setText(QStringLiteral("RemoveSelected"));
    EXPECT_TRUE(w.queue().isEmpty());
    EXPECT_FALSE(w.picText()->isHidden());
    // Delete in the output folder box edits the text, the list stays.
    w.queue().appendEntries(paths);
    select({0});
    w.txtPath()->setFocus();
    w.txtPath()->setCursorPosition(0);
    const QString folder = w.txtPath()->text();
    QTest::keyClick(w.txtPath(), Qt::Key_Delete);
    EXPECT_EQ(w.txtPath()->text(), folder.mid(1));
    EXPECT_EQ(w.queue().count(), 5);
}

TEST(MainWindow, BitrateRateAndChannelsOnlyForMp3)
{
    Harness h;
    h.open();
    frmMain &w = *h.window;
    w.show();
    for (int f = 0; f < formatItems().size(); ++f) {
        w.cmbOF()->setCurrentIndex(f);
        const bool mp3 = f == 0;
        for (QWidget *box : {static_cast<QWidget *>(w.cmbBR()), static_cast<QWidget *>(w.cmbR()),
                             static_cast<QWidget *>(w.cmbChannel())})
            EXPECT_EQ(box->isEnabled(), mp3)
                << formatItems()[f].toStdString() << " " << box->objectName().toStdString();
        for (int i = 1; i < 4; ++i) {
            EXPECT_EQ(w.arrow(i)->isEnabled(), mp3) << f << " arrow " << i;
            // A disabled arrow does not light up, and shows a picture of its own.
            QMouseEvent move(QEvent::MouseMove, QPointF(2, 2), w.arrow(i)->mapToGlobal(QPointF(2, 2)), Qt::NoButton,
                             Qt::NoButton, Qt::NoModifier);
            QCoreApplication::sendEvent(w.arrow(i), &move);
            EXPECT_EQ(w.arrow(i)->pixmap().cacheKey() == skinPixmap(QStringLiteral("arrow_light.png")).cacheKey()
                          || w.arrow(i)->pixmap().toImage() == skinPixmap(QStringLiteral("arrow_light.png")).toImage(),
                      mp3)
                << f << " arrow " << i;
            QMouseEvent away(QEvent::MouseMove, QPointF(300, 5), w.mapToGlobal(QPointF(300, 5)), Qt::NoButton,
                             Qt::NoButton, Qt::NoModifier);
            QCoreApplication::sendEvent(&w, &away);
            EXPECT_EQ(w.arrow(i)->pixmap().toImage() == skinPixmap(QStringLiteral("arrow_disabled.png")).toImage(),
                      !mp3);
        }
        EXPECT_TRUE(w.cmbOF()->isEnabled());
        EXPECT_TRUE(w.arrow(0)->isEnabled());
    }
    // The choices stay as they were while disabled and count again for MP3.
    w.cmbBR()->setCurrentIndex(3);
    w.cmbOF()->setCurrentIndex(2);
    EXPECT_EQ(w.selections().bitrate, QStringLiteral("64"));
}

TEST(MainWindow, FormatEntriesCarryTheSkinsBadges)
{
    // Every entry shows a badge of the skin and says what kind of format it is; the new ones
    // look like the AAC they hold.
    Harness h;
    h.open();
    QComboBox *of = h.window->cmbOF();
    auto picture = [&](int i) { return of->itemIcon(i).pixmap(16, 16).toImage(); };
    for (int i = 0; i < of->count(); ++i) {
        EXPECT_FALSE(picture(i).isNull()) << of->itemText(i).toStdString();
        EXPECT_FALSE(of->itemData(i, Qt::ToolTipRole).toString().isEmpty()) << of->itemText(i).toStdString();
    }
    const int aac = of->findText(QStringLiteral("AAC"));
    for (const char *entry : {"M4A", "OPUS"})
        EXPECT_EQ(picture(of->findText(QString::fromLatin1(entry))), picture(aac)) << entry;
    EXPECT_NE(picture(of->findText(QStringLiteral("FLAC"))), picture(aac));
}

TEST(MainWindow, CutIndicatorShowsTheCutAndOpensTheOptions)
{
    Harness h;
    writeFile(h.app.path + QStringLiteral("/options.ini"), "0\r\n1\r\n1\r\n3\r\n");
    h.open();
    frmMain &w = *h.window;
    w.show();
    EXPECT_TRUE(w.lblCut()->isVisible());
    EXPECT_EQ(w.lblCut()->text(), QStringLiteral("Cut: from 0:00:01 for 0:00:03"));
    EXPECT_LE(w.lblCut()->geometry().right(), 628);
    EXPECT_LE(w.lblStatus()->geometry().right(), w.lblCut()->geometry().left());
    // A click opens the options window; turning the cutter off there hides the indicator.
    h.onDialog = [&](QDialog &d) {
        auto *o = qobject_cast<frmOptions *>(&d);
        ASSERT_NE(o, nullptr);
        o->chkMC()->click();
        o->imgOK_Click();
    };
    QTest::mouseClick(w.lblCut(), Qt::LeftButton);
    EXPECT_EQ(h.dialogs, 1);
    EXPECT_EQ(h.settings.gCutterOn, 0);
    EXPECT_FALSE(w.lblCut()->isVisible());
}

TEST(MainWindow, OneReadingOfOptionsIniForTheWindowAndTheBatch)
{
    // A cutter switch of 2 or -1 is no switch: the options window shows the cutter off and the
    // batch does not cut. A negative time is no time: 0.
    for (const char *cutter : {"2", "-1"}) {
        Harness h;
        writeFile(h.app.path + QStringLiteral("/options.ini"), QByteArray("0\r\n") + cutter + "\r\n-5\r\n4\r\n");
        h.open();
        EXPECT_EQ(h.settings, (ProgramSettings{0, 0, 0, 4})) << cutter;
        frmOptions o(h.settings, h.app.path + QStringLiteral("/options.ini"), nullptr);
        EXPECT_FALSE(o.chkMC()->isChecked()) << cutter;
        EXPECT_FALSE(h.window->lblCut()->isVisibleTo(h.window.get()));
        h.window->AddQueueEntry(h.app.script(QStringLiteral("a.flv"), {QStringLiteral("output")}));
        ASSERT_TRUE(h.runBatch());
        EXPECT_FALSE(h.app.logLines().value(0).contains(QStringLiteral("-ss"))) << cutter;
    }
    // OK stores what a restart would read: a negative From becomes 0 at once.
    zmtest::FakeApp app;
    ProgramSettings s{0, 1, 5, 6};
    frmOptions o(s, app.path + QStringLiteral("/options.ini"), nullptr);
    o.timeBox(FromS)->setText(QStringLiteral("-5"));
    o.imgOK_Click();
    EXPECT_EQ(o.result(), QDialog::Accepted);
    EXPECT_EQ(s, (ProgramSettings{0, 1, 0, 6}));
    EXPECT_EQ(o.timeBox(FromH)->maxLength(), kHoursDigits);
}

int main(int argc, char **argv)
{
    // Listing the tests needs no display (the build lists them to register each one).
    ::testing::InitGoogleTest(&argc, argv);
    if (::testing::GTEST_FLAG(list_tests))
        return RUN_ALL_TESTS();
    QApplication app(argc, argv);
    SkinH_Attach(&app);
    return RUN_ALL_TESTS();
}
