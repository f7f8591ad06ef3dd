// The main dialog offscreen, with the message boxes and file choosers replaced by a script.
#include "ui/cvideodlg.h"
#include "video/dialogtestutil.h"

#include "logic/filefilters.h"
#include "ui/qtvideoprompts.h"
#include "ui/videotranslations.h"

#include <QComboBox>
#include <QContextMenuEvent>
#include <QDialogButtonBox>
#include <QLibraryInfo>
#include <QMenu>
#include <QMessageBox>
#include <QRegularExpression>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

using namespace vidrune;

namespace {

class DialogTest : public ShownDialogTest
{
protected:
    void AddFile(const QString &path)
    {
        prompts.filesToOpen << path;
        Button(1000)->click();
    }
    void ClickRow(int row)
    {
        QTableView *view = dlg->FileListView();
        const QRect r = view->visualRect(dlg->FileList().index(row, 0));
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, r.center());
        QCoreApplication::processEvents();
    }
    QStringList Paths() { return dlg->FileList().Paths(); }
    QStringList Statuses()
    {
        QStringList s;
        for (int i = 0; i < dlg->FileList().Count(); ++i)
            s << dlg->FileList().Status(i);
        return s;
    }
};

} // namespace

TEST_F(DialogTest, TemplateControlsSitWhereTheUnitsPutThem)
{
    EXPECT_EQ(dlg->windowTitle(), "Vidrune 10.0.2");
    EXPECT_EQ(dlg->size(), QSize(796, 454));
    struct Row {
        int id;
        const char *text; // buttons only
        QRect rect;
    } rows[] = {
        {1023, nullptr, {72, 4, 58, 21}},        {1026, nullptr, {7, 30, 782, 80}},
        {1019, nullptr, {14, 156, 368, 178}},    {1000, "添加", {14, 340, 72, 26}},
        {1001, "删除", {86, 340, 73, 26}},       {1002, "清空", {159, 340, 76, 26}},
        {1003, "上移", {233, 340, 73, 26}},      {1004, "下移", {306, 340, 76, 26}},
        {1009, nullptr, {403, 156, 379, 22}},    {1010, nullptr, {455, 214, 130, 22}},
        {1011, nullptr, {455, 238, 130, 22}},    {1012, nullptr, {455, 264, 130, 22}},
        {1013, nullptr, {651, 214, 131, 22}},    {1014, nullptr, {651, 238, 131, 22}},
        {1015, nullptr, {455, 317, 130, 22}},    {1016, nullptr, {455, 341, 130, 22}},
        {1017, nullptr, {651, 317, 131, 22}},    {1018, nullptr, {651, 341, 131, 22}},
        {1007, nullptr, {12, 397, 252, 27}},     {1005, "设置输出目录", {271, 396, 114, 29}},
        {1006, "立即转换", {527, 396, 108, 29}}, {1008, nullptr, {75, 432, 704, 11}},
    };
    for (const Row &r : rows) {
        QWidget *w = dlg->Control(r.id);
        ASSERT_NE(w, nullptr) << r.id;
        EXPECT_EQ(w->geometry(), r.rect) << r.id;
        EXPECT_TRUE(w->isVisible()) << r.id;
        if (r.text) {
            EXPECT_EQ(Button(r.id)->text(), QString::fromUtf8(r.text)) << r.id;
        }
    }
    struct Label {
        const char *text;
        QPoint at;
    } labels[] = {
        {"第一步：加入视频文件", {14, 124}},
        {"第二步：选择输出格式", {394, 124}},
        {"视频参数设置", {403, 191}},
        {"视频编码", {403, 217}},
        {"画面质量", {403, 243}},
        {"视频大小", {403, 268}},
        {"视频帧率", {599, 217}},
        {"屏幕比例", {599, 243}},
        {"音频参数设置", {403, 296}},
        {"音频编码", {403, 320}},
        {"声音质量", {403, 345}},
        {"声音频率", {599, 320}},
        {"音频声道", {599, 348}},
        {"第三步：选择输出目录", {11, 376}},
        {"第四步：开始转换", {394, 376}},
        {"进度显示：", {11, 431}},
    };
    const QList<QLabel *> all = dlg->findChildren<QLabel *>();
    for (const Label &l : labels) {
        const QString text = QString::fromUtf8(l.text);
        auto it =
            std::find_if(all.begin(), all.end(), [&](QLabel *x) { return x->text() == text; });
        ASSERT_NE(it, all.end()) << l.text;
        EXPECT_EQ((*it)->pos(), l.at) << l.text;
        EXPECT_FALSE((*it)->autoFillBackground()) << "labels must stay transparent";
    }
    EXPECT_EQ(dlg->ProgressBar()->maximum(), 1000);
    auto *view = dlg->FileListView();
    EXPECT_EQ(view->columnWidth(0), 290);
    EXPECT_EQ(view->columnWidth(1), 74);
    EXPECT_EQ(view->model()->headerData(0, Qt::Horizontal).toString(), "文件名");
    EXPECT_EQ(view->model()->headerData(1, Qt::Horizontal).toString(), "状态显示");
    EXPECT_TRUE(view->showGrid());
    EXPECT_EQ(view->selectionBehavior(), QAbstractItemView::SelectRows);
    EXPECT_EQ(dlg->SelectedIndex(), -1);
}

TEST_F(DialogTest, SettingListsFollowTheChosenFormat)
{
    QComboBox *format = dlg->SettingCombo(FormatList);
    EXPECT_EQ(format->count(), 5);
    EXPECT_EQ(format->currentText(), "3gp");
    EXPECT_EQ(dlg->SettingCombo(VideoCodecList)->currentText(), "H.263");
    EXPECT_EQ(dlg->SettingCombo(AudioBitRateList)->currentText(), "12.2 kbps");
    format->setCurrentIndex(3);
    emit format->activated(3); // the user picks "avi"
    QComboBox *codec = dlg->SettingCombo(VideoCodecList);
    ASSERT_EQ(codec->count(), 3);
    EXPECT_EQ(codec->itemText(2), "Xvid(mpeg4)");
    EXPECT_EQ(codec->currentText(), "mpeg4");
    EXPECT_EQ(dlg->SettingCombo(AudioCodecList)->currentText(), "MP2");
    EXPECT_EQ(dlg->SettingCombo(AudioBitRateList)->count(), 9);
    EXPECT_EQ(dlg->SettingCombo(AudioBitRateList)->currentText(), "128 kbps");
    QComboBox *audio = dlg->SettingCombo(AudioCodecList);
    audio->setCurrentIndex(0);
    emit audio->activated(0); // "MP3"
    EXPECT_EQ(dlg->SettingCombo(AudioBitRateList)->count(), 13);
    EXPECT_EQ(dlg->SettingCombo(AudioBitRateList)->currentText(), "128 kbps");
    EXPECT_EQ(dlg->Settings().Slots().audioCodecOption, "-acodec libmp3lame");
}

TEST_F(DialogTest, AddingPutsNewFilesAtTheTop)
{
    AddFile("/v/a.avi");
    AddFile("/v/b.avi");
    EXPECT_EQ(Paths(), (QStringList{"/v/b.avi", "/v/a.avi"}));
    EXPECT_EQ(Statuses(), (QStringList{"", ""}));
    EXPECT_EQ(prompts.lastTitle, "选择打开的文件");
    ASSERT_EQ(prompts.lastFilters.size(), 10);
    EXPECT_TRUE(prompts.lastFilters.at(0).startsWith(" ALL Files ("));
    EXPECT_TRUE(prompts.lastFilters.at(8).startsWith("所有视频文件 ("));
    EXPECT_EQ(prompts.lastFilters.at(9), "所有文件 (*)");
    Button(1000)->click(); // cancelled
    EXPECT_EQ(Paths().size(), 2);
    AddFile("/v/a.avi"); // no duplicate check
    EXPECT_EQ(Paths(), (QStringList{"/v/a.avi", "/v/b.avi", "/v/a.avi"}));
}

TEST_F(DialogTest, ClickRemembersTheItemAndKeyboardDoesNot)
{
    for (const char *p : {"/c", "/b", "/a"})
        AddFile(p);
    ClickRow(1);
    EXPECT_EQ(dlg->SelectedIndex(), 1);
    QTest::keyClick(dlg->FileListView(), Qt::Key_Down);
    EXPECT_EQ(dlg->FileListView()->currentIndex().row(), 2);
    EXPECT_EQ(dlg->SelectedIndex(), 1) << "keyboard selection must not update the index";
    // Only a left click counts: other buttons may move the selection but not the index.
    for (Qt::MouseButton button : {Qt::RightButton, Qt::MiddleButton}) {
        QTableView *view = dlg->FileListView();
        const QRect r = view->visualRect(dlg->FileList().index(0, 0));
        QTest::mouseClick(view->viewport(), button, {}, r.center());
        QCoreApplication::processEvents();
        EXPECT_EQ(dlg->SelectedIndex(), 1) << "button " << button;
    }
    // A click on the empty area clears the selection: nothing remembered.
    QTest::mouseClick(dlg->FileListView()->viewport(), Qt::LeftButton, {}, QPoint(10, 160));
    QCoreApplication::processEvents();
    EXPECT_EQ(dlg->SelectedIndex(), -1);
}

TEST_F(DialogTest, DeleteTwiceDeletesWhatMovedIntoThePlace)
{
    for (const char *p : {"/d", "/c", "/b", "/a"})
        AddFile(p);
    Button(1001)->click(); // nothing remembered yet
    EXPECT_EQ(Paths().size(), 4);
    ClickRow(1);
    Button(1001)->click();
    EXPECT_EQ(Paths(), (QStringList{"/a", "/c", "/d"}));
    Button(1001)->click();
    EXPECT_EQ(Paths(), (QStringList{"/a", "/d"}));
    EXPECT_EQ(dlg->SelectedIndex(), 1);
    Button(1001)->click();
    Button(1001)->click(); // one past the end: nothing
    EXPECT_EQ(Paths(), (QStringList{"/a"}));
    Button(1002)->click();
    EXPECT_EQ(Paths().size(), 0);
    EXPECT_EQ(dlg->SelectedIndex(), 1) << "clearing keeps the remembered index";
}

TEST_F(DialogTest, MovingKeepsStatusSelectionAndFocus)
{
    struct Step {
        int button;
        QStringList paths;
        int selected;
    };
    for (const char *p : {"/c", "/b", "/a"})
        AddFile(p);
    dlg->FileList().SetStatus(2, "失败");
    dlg->FileList().SetDetail(2, "转换器出错退出（退出码 3）");
    ClickRow(2);
    const QList<Step> steps{
        {1004, {"/a", "/b", "/c"}, 2}, // already last
        {1003, {"/a", "/c", "/b"}, 1}, {1003, {"/c", "/a", "/b"}, 0},
        {1003, {"/c", "/a", "/b"}, 0}, // already first
        {1004, {"/a", "/c", "/b"}, 1},
    };
    for (const Step &s : steps) {
        Button(s.button)->click();
        EXPECT_EQ(Paths(), s.paths);
        EXPECT_EQ(dlg->SelectedIndex(), s.selected);
        EXPECT_EQ(dlg->FileList().Status(s.selected), "失败") << "status travels with it";
        EXPECT_EQ(dlg->FileList().Detail(s.selected), "转换器出错退出（退出码 3）")
            << "so does the reason of a failure";
        const auto rows = dlg->FileListView()->selectionModel()->selectedRows();
        ASSERT_EQ(rows.size(), 1);
        EXPECT_EQ(rows[0].row(), s.selected);
        EXPECT_EQ(dlg->FileListView()->currentIndex().row(), s.selected);
    }
    // A remembered index past the end after deleting moves nothing and adds nothing.
    ClickRow(2);
    Button(1001)->click();
    Button(1003)->click();
    Button(1004)->click();
    EXPECT_EQ(Paths(), (QStringList{"/a", "/c"}));
}

TEST_F(DialogTest, OutputFolderFromTheBrowser)
{
    const QString before = dlg->OutputFolderBox()->text();
    Button(1005)->click(); // cancelled
    EXPECT_EQ(dlg->OutputFolderBox()->text(), before);
    EXPECT_EQ(prompts.lastTitle, "请选择要打开的文件夹:");
    prompts.foldersToChoose << "/media/输出 folder";
    Button(1005)->click();
    EXPECT_EQ(dlg->OutputFolderBox()->text(), "/media/输出 folder");
}

namespace {
// Counts the key presses that reach a widget.
class KeySpy final : public QObject
{
public:
    int enters = 0;
    int others = 0;
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::KeyPress) {
            const int key = static_cast<QKeyEvent *>(event)->key();
            (key == Qt::Key_Return || key == Qt::Key_Enter ? enters : others)++;
        }
        return false;
    }
};
} // namespace

TEST_F(DialogTest, EnterIsSwallowedAndEmptyListIsReported)
{
    // Enter does nothing anywhere in the dialog (AccessTest: not even on the focused button),
    // not even press a default button.
    Button(1006)->setDefault(true);
    for (QWidget *target : {dlg->Control(1007), dlg->Control(1019), dlg->Control(1009),
                            static_cast<QWidget *>(dlg.get())}) {
        KeySpy spy;
        target->installEventFilter(&spy);
        target->setFocus();
        QTest::keyClick(target, Qt::Key_Return);
        QTest::keyClick(target, Qt::Key_Enter);
        QTest::keyClick(target, Qt::Key_A);
        target->removeEventFilter(&spy);
        EXPECT_EQ(spy.enters, 0) << target->objectName().toStdString();
        EXPECT_EQ(spy.others, 1) << "other keys pass";
    }
    EXPECT_TRUE(dlg->isVisible()) << "Enter must not close the dialog";
    EXPECT_TRUE(prompts.messages.isEmpty()) << "Enter must not press the convert button";
    Button(1006)->click();
    ASSERT_EQ(prompts.messages.size(), 1);
    EXPECT_EQ(prompts.messages[0].text, "请添加要转换的视频");
    EXPECT_EQ(prompts.messages[0].caption, "提示信息");
    for (int id = 1000; id <= 1006; ++id)
        EXPECT_TRUE(dlg->Control(id)->isEnabled()) << id;
}

TEST_F(DialogTest, ThreeFileBatchThroughTheDialog)
{
    qputenv("FAKE_VV_SLOW_MS", "1600");
    for (const char *n : {"c.flv", "slow-b.flv", "a.flv"}) {
        ASSERT_TRUE(Touch(app.File(QString("in/") + n)));
        AddFile(app.File(QString("in/") + n));
    }
    Button(1006)->click();
    ASSERT_TRUE(dlg->Batch().IsBusy());
    const QList<int> locked{1000, 1001, 1002, 1003, 1004, 1005, 1007, 1009, 1010,
                            1011, 1012, 1013, 1014, 1015, 1016, 1017, 1018};
    for (int id : locked)
        EXPECT_FALSE(dlg->Control(id)->isEnabled()) << id;
    EXPECT_TRUE(dlg->Control(1019)->isEnabled());
    EXPECT_TRUE(dlg->Control(1023)->isEnabled());
    EXPECT_TRUE(Button(1006)->isEnabled()) << "the convert button stops the batch";
    EXPECT_EQ(Button(1006)->text(), "停止转换");
    bool seen = false;
    int lastBar = 0;
    bool barBack = false;
    ASSERT_TRUE(testsupport::waitFor([&] {
        const QStringList s = Statuses();
        if (dlg->Batch().CurrentIndex() == 1) {
            if (s[0] == "已完成" && s[1].endsWith('%') && s[1] != "--%" && s[2] == "等待")
                seen = true;
            const int bar = dlg->ProgressBar()->value();
            barBack = barBack || (bar < lastBar && bar != 0);
            lastBar = bar;
        }
        return !dlg->Batch().IsBusy();
    }));
    EXPECT_TRUE(seen);
    EXPECT_FALSE(barBack) << "the bar moved back while one file converted";
    EXPECT_EQ(Statuses(), (QStringList{"已完成", "已完成", "已完成"}));
    EXPECT_EQ(dlg->ProgressBar()->value(), 1000);
    for (int id : locked)
        EXPECT_TRUE(dlg->Control(id)->isEnabled()) << id;
    EXPECT_EQ(Button(1006)->text(), "立即转换");
    ASSERT_EQ(prompts.messages.size(), 1);
    EXPECT_EQ(prompts.messages[0].text, "转换完成");
    // A file added after the batch shows an empty status, the others keep theirs.
    AddFile(app.File("in/a.flv"));
    EXPECT_EQ(Statuses(), (QStringList{"", "已完成", "已完成", "已完成"}));
}

TEST_F(DialogTest, StopButtonEndsTheCurrentFileAndUnlocks)
{
    for (const char *n : {"c.flv", "hang.flv", "a.flv"}) {
        ASSERT_TRUE(Touch(app.File(QString("in/") + n)));
        AddFile(app.File(QString("in/") + n));
    }
    Button(1006)->click();
    ASSERT_TRUE(testsupport::waitFor(
        [&] { return dlg->Batch().CurrentIndex() == 1 && ReadAll(app.Progress()) == "100"; }));
    const pid_t pid = dlg->Batch().CurrentPid();
    ASSERT_TRUE(ProcessExists(pid));
    EXPECT_EQ(Button(1006)->text(), "停止转换");
    Button(1006)->click();
    ASSERT_TRUE(testsupport::waitFor([&] { return !dlg->Batch().IsBusy(); }));
    EXPECT_FALSE(ProcessExists(pid)) << "converter left behind";
    EXPECT_EQ(ReadAll(app.File("got_term")), "TERM");
    EXPECT_EQ(Statuses(), (QStringList{"已完成", "已停止", "等待"}));
    for (int id = 1000; id <= 1018; ++id) {
        if (QWidget *w = dlg->Control(id)) {
            EXPECT_TRUE(w->isEnabled()) << id;
        }
    }
    EXPECT_EQ(Button(1006)->text(), "立即转换");
    ASSERT_EQ(prompts.messages.size(), 1);
    EXPECT_EQ(prompts.messages[0].text, "转换已停止");
    EXPECT_EQ(prompts.messages[0].caption, "提示信息");
    EXPECT_TRUE(dlg->isVisible());
    EXPECT_TRUE(prompts.yesNoQuestions.isEmpty());
}

TEST_F(DialogTest, ClosingWhileConvertingAsksOnEveryPath)
{
    enum How { CloseCall, Escape, CloseButton, Reject };
    for (How how : {CloseCall, Escape, CloseButton, Reject}) {
        for (bool yes : {false, true}) {
            if (!dlg)
                SetUp();
            prompts = ScriptedPrompts();
            ASSERT_TRUE(Touch(app.File("in/hang.flv")));
            if (dlg->FileList().Count() == 0)
                AddFile(app.File("in/hang.flv"));
            QFile::remove(app.File("got_term"));
            Button(1006)->click();
            ASSERT_TRUE(testsupport::waitFor([&] { return dlg->Batch().CurrentPid() > 0; }));
            ASSERT_TRUE(testsupport::waitFor([&] { return ReadAll(app.Progress()) == "100"; }));
            const pid_t pid = dlg->Batch().CurrentPid();
            prompts.yesNoAnswers = {yes};
            switch (how) {
            case CloseCall:
                dlg->close();
                break;
            case Escape:
                QTest::keyClick(dlg->FileListView(), Qt::Key_Escape);
                break;
            case CloseButton:
                dlg->OnCloseButton();
                QCoreApplication::processEvents();
                break;
            case Reject:
                dlg->reject();
                break;
            }
            const std::string where = "path " + std::to_string(how) + (yes ? " yes" : " no");
            ASSERT_EQ(prompts.yesNoQuestions.size(), 1) << where;
            EXPECT_EQ(prompts.yesNoQuestions[0].text, "正在转换，确定要停止并退出吗？");
            EXPECT_EQ(prompts.yesNoQuestions[0].caption, "提示信息");
            if (!yes) {
                QTest::qWait(100);
                EXPECT_TRUE(dlg->isVisible()) << where;
                EXPECT_TRUE(dlg->Batch().IsBusy()) << "No keeps converting, " << where;
                EXPECT_TRUE(ProcessExists(pid)) << where;
                EXPECT_EQ(dlg->Batch().CurrentPid(), pid) << where;
                // Stop it for the next round.
                Button(1006)->click();
                ASSERT_TRUE(testsupport::waitFor([&] { return !dlg->Batch().IsBusy(); })) << where;
                continue;
            }
            ASSERT_TRUE(testsupport::waitFor([&] { return !dlg->isVisible(); })) << where;
            EXPECT_FALSE(ProcessExists(pid)) << "converter left behind, " << where;
            EXPECT_EQ(ReadAll(app.File("got_term")), "TERM") << where;
            EXPECT_FALSE(dlg->Batch().IsBusy());
            EXPECT_EQ(dlg->FileList().Status(0), "已停止");
            EXPECT_TRUE(prompts.messages.isEmpty()) << "closing needs no message, " << where;
            dlg.reset();
        }
    }
}

TEST_F(DialogTest, ClosingWhenIdleAsksNothing)
{
    dlg->close();
    EXPECT_FALSE(dlg->isVisible());
    EXPECT_TRUE(prompts.yesNoQuestions.isEmpty());
}

TEST(VideoOpen, AnOpenThatFailsShowsThePathToCopy)
{
    // The dialog on the real prompts, whose xdg-open is a stand-in that finds no program (or,
    // in the last row, opens what it is given).
    struct Row {
        const char *name;
        int exitCode;
        int action; // of the right-click menu: 0 "查看日志", 1 "打开输出目录"
    };
    const Row rows[] = {
        {"查看日志", 3, 0},
        {"打开输出目录", 4, 1},
        {"an open that works", 0, 0},
    };
    for (const Row &r : rows) {
        FakeAppFolder app;
        ASSERT_TRUE(app.IsValid());
        ScriptedPrompts scripted;
        FakeOpener fake(r.exitCode);
        QtVideoPrompts prompts(nullptr);
        prompts.Opener().setProgram(fake.program());
        CvideoDlg::Options options = QuickDialogOptions(app, scripted);
        options.prompts = &prompts;
        options.outputFolder = app.File("out 'today'");
        QDir().mkpath(options.outputFolder);
        CvideoDlg dlg(options);
        const QString log = app.File("logs/clip \"1\".log");
        ASSERT_TRUE(Touch(app.File("in/clip.flv")) && Touch(log));
        dlg.AddFiles({app.File("in/clip.flv")});
        dlg.FileList().SetLog(0, log);
        const QString target = r.action == 0 ? log : options.outputFolder;

        // The box is modal: a timer, which runs in its loop too, reads and closes it.
        QString text, caption;
        bool boxShown = false;
        QTimer closer;
        QObject::connect(&closer, &QTimer::timeout, [&] {
            if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
                text = box->text();
                caption = box->windowTitle();
                boxShown = true;
                box->accept();
            }
        });
        closer.start(20);
        std::unique_ptr<QMenu> menu(dlg.FileListMenu(0));
        ASSERT_TRUE(menu->actions()[r.action]->isEnabled()) << r.name;
        menu->actions()[r.action]->trigger();
        ASSERT_TRUE(testsupport::waitFor([&] { return fake.opened().size() == 1; })) << r.name;
        EXPECT_EQ(fake.opened(), QStringList{target}) << r.name;
        if (r.exitCode == 0) {
            EXPECT_FALSE(boxShown) << r.name;
            continue;
        }
        ASSERT_TRUE(testsupport::waitFor([&] { return boxShown; })) << r.name;
        EXPECT_EQ(caption, "提示信息") << r.name;
        EXPECT_TRUE(text.split('\n').contains(target))
            << r.name << ": the path on a line of its own";
    }
}

TEST_F(DialogTest, RightClickMenuOpensTheLogAndTheOutputFolder)
{
    ASSERT_TRUE(Touch(app.File("in/fail.flv")));
    AddFile(app.File("in/fail.flv"));
    AddFile(app.File("in/never converted.flv"));
    {
        // Before any conversion there is no log to show.
        std::unique_ptr<QMenu> menu(dlg->FileListMenu(1));
        ASSERT_EQ(menu->actions().size(), 2);
        EXPECT_EQ(menu->actions()[0]->text(), "查看日志");
        EXPECT_FALSE(menu->actions()[0]->isEnabled());
        EXPECT_EQ(menu->actions()[1]->text(), "打开输出目录");
        EXPECT_TRUE(menu->actions()[1]->isEnabled());
    }
    dlg->FileList().RemoveAt(0);
    Button(1006)->click();
    ASSERT_TRUE(testsupport::waitFor([&] { return !dlg->Batch().IsBusy(); }));
    const QString log = dlg->FileList().Log(0);
    ASSERT_TRUE(QFile::exists(log));
    std::unique_ptr<QMenu> menu(dlg->FileListMenu(0));
    EXPECT_TRUE(menu->actions()[0]->isEnabled());
    menu->actions()[0]->trigger();
    menu->actions()[1]->trigger();
    EXPECT_EQ(prompts.opened, (QStringList{log, app.File("out")}));

    // The real menu comes up on a right click on an item, and on nothing else.
    QTableView *view = dlg->FileListView();
    const QRect r = view->visualRect(dlg->FileList().index(0, 0));
    QContextMenuEvent onItem(QContextMenuEvent::Mouse, r.center(),
                             view->viewport()->mapToGlobal(r.center()));
    QCoreApplication::sendEvent(view->viewport(), &onItem);
    QMenu *shown = nullptr;
    ASSERT_TRUE(testsupport::waitFor(
        [&] {
            shown = qobject_cast<QMenu *>(QApplication::activePopupWidget());
            return shown != nullptr;
        },
        3000));
    EXPECT_EQ(shown->actions()[0]->text(), "查看日志");
    shown->close();
}

TEST_F(DialogTest, DeleteKeyRemovesTheSelectedItem)
{
    for (const char *p : {"/c", "/b", "/a"})
        AddFile(p);
    QTableView *view = dlg->FileListView();
    view->setFocus();
    view->selectionModel()->setCurrentIndex(dlg->FileList().index(1, 0),
                                            QItemSelectionModel::ClearAndSelect
                                                | QItemSelectionModel::Rows);
    QTest::keyClick(view, Qt::Key_Delete);
    EXPECT_EQ(Paths(), (QStringList{"/a", "/c"}));
    // While converting the list commands are locked, Delete too.
    ASSERT_TRUE(Touch(app.File("in/hang.flv")));
    AddFile(app.File("in/hang.flv"));
    Button(1006)->click();
    ASSERT_TRUE(dlg->Batch().IsBusy());
    view->selectionModel()->setCurrentIndex(dlg->FileList().index(1, 0),
                                            QItemSelectionModel::ClearAndSelect
                                                | QItemSelectionModel::Rows);
    QTest::keyClick(view, Qt::Key_Delete);
    EXPECT_EQ(Paths().size(), 3);
    Button(1006)->click();
    ASSERT_TRUE(testsupport::waitFor([&] { return !dlg->Batch().IsBusy(); }));
}

TEST_F(DialogTest, SeveralFilesAtOnceAreAddedInTheOrderShown)
{
    prompts.selections << QStringList{"/v/a.mov", "/v/b.mkv", "/v/c.avi"};
    Button(1000)->click();
    // Three single adds, each at the top.
    EXPECT_EQ(Paths(), (QStringList{"/v/c.avi", "/v/b.mkv", "/v/a.mov"}));
    prompts.selections << QStringList{};
    Button(1000)->click(); // cancelled
    EXPECT_EQ(Paths().size(), 3);
}

TEST(VideoFileFilters, AllVideosCoverPhoneAndCameraFiles)
{
    const QList<FileFilters::Entry> &entries = FileFilters::VideoEntries();
    ASSERT_GE(entries.size(), 2);
    const FileFilters::Entry &videos = entries.at(entries.size() - 2);
    const FileFilters::Entry &all = entries.last();
    EXPECT_EQ(videos.label, "所有视频文件");
    EXPECT_EQ(all.label, "所有文件");
    auto matches = [](const FileFilters::Entry &e, const QString &name) {
        for (const QString &pattern : e.patterns.split(';', Qt::SkipEmptyParts)) {
            if (QRegularExpression(QRegularExpression::wildcardToRegularExpression(pattern))
                    .match(name)
                    .hasMatch())
                return true;
        }
        return false;
    };
    struct Row {
        const char *name;
        bool video;
    } rows[] = {
        {"phone.mov", true},  {"PHONE.MOV", true}, {"a.mkv", true},       {"a.webm", true},
        {"a.ts", true},       {"a.m2ts", true},    {"a.m4v", true},       {"a.mpg", true},
        {"a.wmv", true},      {"a.3gp", true},     {"a.flv", true},       {"a.avi", true},
        {"a.mp4", true},      {"A.MP4", true},     {"a.mts", true},       {"a.vob", true},
        {"notes.txt", false}, {"song.mp3", false}, {"a.mov.part", false}, {"README", false},
    };
    for (const Row &r : rows) {
        EXPECT_EQ(matches(videos, r.name), r.video) << r.name;
        EXPECT_TRUE(matches(all, r.name)) << r.name;
    }
}

TEST(VideoTranslations, StandardButtonsSpeakChinese)
{
    ASSERT_TRUE(VideoTranslations::Install(*qApp))
        << "qtbase_zh_CN missing from " << QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    QMessageBox box(QMessageBox::NoIcon, "t", "x", QMessageBox::Ok | QMessageBox::Cancel);
    EXPECT_EQ(box.button(QMessageBox::Ok)->text(), "确定");
    EXPECT_EQ(box.button(QMessageBox::Cancel)->text(), "取消");
    QDialogButtonBox buttons(QDialogButtonBox::Open | QDialogButtonBox::Yes | QDialogButtonBox::No);
    EXPECT_EQ(buttons.button(QDialogButtonBox::Open)->text(), "打开");
    EXPECT_EQ(buttons.button(QDialogButtonBox::Yes)->text().remove('&').left(1), "是");
    EXPECT_EQ(QLocale().language(), QLocale::Chinese);
}

TEST(TwoWindows, ConvertingAtOnceEachFollowsItsOwnConverter)
{
    // Two windows of one copy: a portable one (the first has progress.txt, the second its own
    // file) and an installed one (each its own file). A hangs at 10 %; B runs slowly through
    // 0, 25, 50, 75 and 100 % and finishes. Neither may show the other's progress.
    using Place = VideoBatch::ProgressPlace;
    qputenv("FAKE_VV_SLOW_MS", "1600");
    for (Place place : {Place::Auto, Place::OwnFile}) {
        const std::string where = place == Place::Auto ? "portable" : "installed";
        FakeAppFolder app;
        ASSERT_TRUE(app.IsValid());
        ScriptedPrompts promptsA, promptsB;
        CvideoDlg::Options oa = QuickDialogOptions(app, promptsA);
        CvideoDlg::Options ob = QuickDialogOptions(app, promptsB);
        for (CvideoDlg::Options *o : {&oa, &ob}) {
            o->progressPlace = place;
            o->instanceFolder = app.File("run/vidrune");
        }
        auto a = std::make_unique<CvideoDlg>(oa);
        auto b = std::make_unique<CvideoDlg>(ob);
        a->show();
        b->show();
        ASSERT_TRUE(Touch(app.File("in/hang.flv")));
        ASSERT_TRUE(Touch(app.File("in/slow.flv")));
        a->FileList().InsertAt(0, app.File("in/hang.flv"));
        b->FileList().InsertAt(0, app.File("in/slow.flv"));
        auto convert = [](CvideoDlg &d) { qobject_cast<QPushButton *>(d.Control(1006))->click(); };

        convert(*a);
        ASSERT_TRUE(testsupport::waitFor([&] { return a->FileList().Status(0) == "10%"; }))
            << where;
        convert(*b);
        QStringList seenA, seenB;
        ASSERT_TRUE(testsupport::waitFor([&] {
            seenA << a->FileList().Status(0);
            seenB << b->FileList().Status(0);
            return !b->Batch().IsBusy();
        })) << where;
        seenA.removeDuplicates();
        seenB.removeDuplicates();
        EXPECT_EQ(seenA, QStringList{"10%"}) << where << ": A showed B's progress";
        EXPECT_FALSE(seenB.contains("10%")) << where << ": B showed A's progress";
        EXPECT_TRUE(seenB.contains("25%") || seenB.contains("50%") || seenB.contains("75%"))
            << where << ": " << seenB.join(' ');
        EXPECT_EQ(b->FileList().Status(0), "已完成") << where;
        EXPECT_EQ(b->ProgressBar()->value(), 1000) << where;
        EXPECT_EQ(a->ProgressBar()->value(), 100) << where;
        EXPECT_TRUE(a->Batch().IsBusy()) << where;
        EXPECT_EQ(promptsA.messages.size(), 0) << where;
        ASSERT_EQ(promptsB.messages.size(), 1) << where;
        EXPECT_EQ(promptsB.messages[0].text, "转换完成") << where;

        const QString fileA = a->Batch().ProgressFilePath(), fileB = b->Batch().ProgressFilePath();
        EXPECT_NE(fileA, fileB) << where;
        if (place == Place::Auto) {
            EXPECT_EQ(fileA, app.Progress()) << "the first window keeps progress.txt";
        } else {
            EXPECT_FALSE(QFileInfo::exists(app.Progress())) << "nothing written beside the program";
        }
        convert(*a); // stop
        ASSERT_TRUE(testsupport::waitFor([&] { return !a->Batch().IsBusy(); })) << where;
        EXPECT_EQ(a->FileList().Status(0), "已停止") << where;
        a.reset();
        b.reset();
        EXPECT_TRUE(QDir(app.File("run/vidrune")).isEmpty()) << where << ": a window's file stays";
    }
    qunsetenv("FAKE_VV_SLOW_MS");
}
