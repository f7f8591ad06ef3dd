#include "shell/frmoptions.h"
#include "shell/hotspot.h"
#include "shell/skin.h"
#include "windowutil.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QScreen>
#include <QTreeView>
#include <gtest/gtest.h>

using namespace zm;
using zmtest::Harness;

namespace {
QByteArray readFile(const QString &p)
{
    QFile f(p);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}
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
        {w.LV(), {17, 160, 455, 274}},        {w.picText(), {164, 264, 163, 21}},
        {w.cmbOF(), {488, 158, 189, 22}},     {w.cmbBR(), {488, 200, 189, 22}},
        {w.cmbR(), {488, 244, 189, 22}},      {w.cmbChannel(), {488, 286, 189, 22}},
        {w.txtPath(), {488, 330, 143, 23}},   {w.lblPB(), {214, 447, 157, 13}},
        {w.imgConvert(), {489, 371, 187, 91}}, {w.imgToolbar(0), {16, 55, 86, 53}},
        {w.imgToolbar(6), {103, 55, 86, 53}}, {w.imgToolbar(1), {190, 55, 86, 53}},
        {w.imgToolbar(2), {277, 55, 86, 53}}, {w.imgToolbar(3), {364, 55, 86, 53}},
        {w.imgToolbar(4), {451, 55, 86, 53}}, {w.imgMenu(0), {18, 31, 40, 15}},
        {w.imgMenu(1), {60, 31, 59, 15}},     {w.imgMenu(2), {122, 31, 51, 15}},
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

    h.files.answers = QStringList{QStringLiteral("/v/a.txt"), QStringLiteral("/v/a.txt"), QStringLiteral("/v/b.flv")};
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
    EXPECT_EQ(w.queue().paths(), (QStringList{QStringLiteral("/v/a.txt"), QStringLiteral("/v/b.flv")}));
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
        {"menuexit", 0, 0, 0}, {"A ", 0, 0, 0}, {"unknown", 0, 0, 0}, {"A", 1, 0, 0},
        {"menuOption", 1, 1, 0}, {"menuHelp", 1, 1, 1},
    };
    for (const Row &r : rows) {
        w.txtAction()->setText(QString::fromLatin1(r.word));
        EXPECT_TRUE(w.txtAction()->text().isEmpty()) << r.word;
        EXPECT_EQ(h.boxes.boxes.size(), r.boxes) << r.word;
        EXPECT_EQ(h.dialogs, r.dialogs) << r.word;
        EXPECT_EQ(h.shell.opened.size(), r.helpOpened) << r.word;
    }
    const QStringList about = h.boxes.boxes[0].text.split(QStringLiteral("\r\n"));
    EXPECT_EQ(about.size(), 3);
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

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    SkinH_Attach(&app);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
