// Screen readers and the keyboard: every control that acts has a name and a fitting role, Tab
// visits the controls in reading order with a visible mark, Space presses the focused
// button.
#include "ui/ccontrolbutton.h"
#include "ui/cexplorer1.h"
#include "ui/cvideodlg.h"
#include "ui/dg3.h"
#include "gui/focusmark.h"
#include "ui/videosite.h"
#include "ui/videoskin.h"
#include "video/dialogtestutil.h"

#include <QAccessible>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <set>

using namespace vidrune;

namespace {

void Walk(QAccessibleInterface *iface, QList<QAccessibleInterface *> &out)
{
    if (!iface)
        return;
    out << iface;
    for (int i = 0; i < iface->childCount(); ++i)
        Walk(iface->child(i), out);
}

// The roles of controls that act (pressed, chosen, typed into, selected in).
const std::set<QAccessible::Role> &ActingRoles()
{
    static const std::set<QAccessible::Role> roles{QAccessible::PushButton,   QAccessible::ComboBox,
                                                   QAccessible::EditableText, QAccessible::Table,
                                                   QAccessible::List,         QAccessible::CheckBox,
                                                   QAccessible::RadioButton};
    return roles;
}

// What a screen reader says a control is: its name, or for a drop-down list (whose name on
// this platform is its chosen entry) the label that names it.
QString SpokenName(QAccessibleInterface *iface)
{
    if (iface->role() == QAccessible::ComboBox) {
        const auto labels = iface->relations(QAccessible::Label);
        return labels.isEmpty() ? QString() : labels.first().first->text(QAccessible::Name);
    }
    return iface->text(QAccessible::Name);
}

// Checks every acting control in `window`'s accessible tree; returns the objects named.
QStringList CheckEveryActingControl(QWidget *window)
{
    QList<QAccessibleInterface *> all;
    Walk(QAccessible::queryAccessibleInterface(window), all);
    QStringList named;
    for (QAccessibleInterface *iface : all) {
        auto *widget = qobject_cast<QWidget *>(iface->object());
        if (!widget || widget->window() != window || !ActingRoles().count(iface->role()))
            continue;
        EXPECT_FALSE(SpokenName(iface).trimmed().isEmpty())
            << widget->objectName().toStdString() << " role " << iface->role();
        named << widget->objectName();
    }
    return named;
}

// The dialog shown and active, so that it has the keyboard.
class AccessTest : public ShownDialogTest
{
protected:
    void SetUp() override
    {
        ShownDialogTest::SetUp();
        QApplication::setActiveWindow(dlg.get());
        ASSERT_TRUE(QTest::qWaitForWindowActive(dlg.get()));
    }
    QString Focused() const
    {
        QWidget *w = QApplication::focusWidget();
        return w ? w->objectName() : QStringLiteral("(none)");
    }
    // Presses Tab (or Shift+Tab) `count` times and lists where the focus went.
    QStringList Walk(int count, bool back = false)
    {
        QStringList visited;
        for (int i = 0; i < count; ++i) {
            QTest::keyClick(QApplication::focusWidget(), back ? Qt::Key_Backtab : Qt::Key_Tab,
                            back ? Qt::ShiftModifier : Qt::NoModifier);
            visited << Focused();
        }
        return visited;
    }
};

} // namespace

TEST_F(AccessTest, EveryControlHasANameAndARole)
{
    struct Row {
        int id;
        QAccessible::Role role;
        const char *name; // as a screen reader says it
    } rows[] = {
        {1023, QAccessible::PushButton, "关于"},
        {1024, QAccessible::PushButton, "最小"},
        {1025, QAccessible::PushButton, "关闭"},
        {1019, QAccessible::Table, "第一步：加入视频文件"},
        {1000, QAccessible::PushButton, "添加"},
        {1001, QAccessible::PushButton, "删除"},
        {1002, QAccessible::PushButton, "清空"},
        {1003, QAccessible::PushButton, "上移"},
        {1004, QAccessible::PushButton, "下移"},
        {1009, QAccessible::ComboBox, "第二步：选择输出格式"},
        {1010, QAccessible::ComboBox, "视频编码"},
        {1011, QAccessible::ComboBox, "画面质量"},
        {1012, QAccessible::ComboBox, "视频大小"},
        {1013, QAccessible::ComboBox, "视频帧率"},
        {1014, QAccessible::ComboBox, "屏幕比例"},
        {1015, QAccessible::ComboBox, "音频编码"},
        {1016, QAccessible::ComboBox, "声音质量"},
        {1017, QAccessible::ComboBox, "声音频率"},
        {1018, QAccessible::ComboBox, "音频声道"},
        {1007, QAccessible::EditableText, "第三步：选择输出目录"},
        {1005, QAccessible::PushButton, "设置输出目录"},
        {1006, QAccessible::PushButton, "立即转换"},
        {1008, QAccessible::ProgressBar, "进度显示"},
    };
    for (const Row &r : rows) {
        QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(dlg->Control(r.id));
        ASSERT_NE(iface, nullptr) << r.id;
        EXPECT_EQ(iface->role(), r.role) << r.id;
        EXPECT_EQ(SpokenName(iface), QString::fromUtf8(r.name)) << r.id;
    }
    // The walk from the window finds no acting control without a name, and finds them all.
    const QStringList named = CheckEveryActingControl(dlg.get());
    for (const Row &r : rows) {
        if (ActingRoles().count(r.role)) {
            EXPECT_TRUE(named.contains(QStringLiteral("c%1").arg(r.id))) << r.id;
        }
    }
    // The name follows the button's text: converting, the convert button is the stop button.
    ASSERT_TRUE(Touch(app.File("in/hang.flv")));
    dlg->AddFiles({app.File("in/hang.flv")});
    Button(1006)->click();
    EXPECT_EQ(QAccessible::queryAccessibleInterface(Button(1006))->text(QAccessible::Name),
              "停止转换");
    Button(1006)->click();
    ASSERT_TRUE(testsupport::waitFor([&] { return !dlg->Batch().IsBusy(); }));
}

TEST_F(AccessTest, TabVisitsTheControlsInReadingOrder)
{
    const QStringList order{"c1023", "c1019", "c1000", "c1001", "c1002", "c1003", "c1004",
                            "c1009", "c1010", "c1011", "c1012", "c1013", "c1014", "c1015",
                            "c1016", "c1017", "c1018", "c1007", "c1005", "c1006"};
    Button(1006)->setFocus(Qt::OtherFocusReason);
    // Around once and back to the start; the list does not keep Tab for its cells.
    dlg->AddFiles({"/v/a.avi", "/v/b.avi"});
    EXPECT_EQ(Walk(static_cast<int>(order.size())), order);
    EXPECT_EQ(Focused(), "c1006");
    QStringList backwards = order;
    std::reverse(backwards.begin(), backwards.end());
    backwards.removeFirst();
    backwards << "c1006";
    EXPECT_EQ(Walk(static_cast<int>(order.size()), true), backwards);

    // The page band is passed over although its web view takes the focus (a line edit stands
    // in for it here); from inside it, Tab goes on with the first control.
    auto *page = new QLineEdit(dlg->Browser());
    page->setObjectName("page");
    page->show();
    Button(1006)->setFocus(Qt::OtherFocusReason);
    EXPECT_EQ(Walk(1), QStringList{"c1023"});
    page->setFocus(Qt::MouseFocusReason);
    EXPECT_EQ(Walk(1), QStringList{"c1023"});
    page->setFocus(Qt::MouseFocusReason);
    EXPECT_EQ(Walk(1, true), QStringList{"c1006"});
    delete page;

    // While converting, the locked controls are passed over.
    ASSERT_TRUE(Touch(app.File("in/hang.flv")));
    dlg->FileList().Clear();
    dlg->AddFiles({app.File("in/hang.flv")});
    Button(1006)->click();
    ASSERT_TRUE(dlg->Batch().IsBusy());
    Button(1006)->setFocus(Qt::OtherFocusReason);
    EXPECT_EQ(Walk(3), (QStringList{"c1023", "c1019", "c1006"}));
    Button(1006)->click();
    ASSERT_TRUE(testsupport::waitFor([&] { return !dlg->Batch().IsBusy(); }));
}

TEST_F(AccessTest, FocusMarkShowsWhereTheKeyboardIs)
{
    batch::FocusMark *mark = dlg->FocusMarker();
    const batch::FocusMark::Style style = VideoSkin::FocusMarkStyle();
    ASSERT_NE(mark, nullptr);
    EXPECT_EQ(mark->target(), nullptr) << "no mark before the keyboard is used";
    Button(1006)->setFocus(Qt::OtherFocusReason);
    // The ring's top edge, half way along, a pixel inside the ring's width.
    auto ringPixel = [&](QWidget *control) {
        const QRect r = control->geometry();
        const QImage shot = dlg->grab().toImage();
        return shot.pixelColor(r.center().x(), r.top() - style.margin - style.width + 1);
    };
    auto isAccent = [&style](const QColor &c) {
        return std::abs(c.red() - style.colour.red()) < 40
               && std::abs(c.green() - style.colour.green()) < 40
               && std::abs(c.blue() - style.colour.blue()) < 40;
    };
    for (int id : {1023, 1019, 1000, 1001}) {
        Walk(1);
        QWidget *control = dlg->Control(id);
        ASSERT_EQ(QApplication::focusWidget(), control) << id;
        EXPECT_EQ(mark->target(), control) << id;
        EXPECT_TRUE(mark->geometry().contains(control->geometry())) << id;
        EXPECT_TRUE(isAccent(ringPixel(control)))
            << id << ": the ring is not drawn, " << ringPixel(control).name().toStdString();
    }
    // A mouse press puts the dialog back as drawn; the keyboard brings the mark back.
    QWidget *control = dlg->Control(1001);
    QTest::mouseClick(Button(1002), Qt::LeftButton);
    EXPECT_EQ(mark->target(), nullptr);
    EXPECT_FALSE(isAccent(ringPixel(control)));
    Walk(1);
    EXPECT_EQ(mark->target(), dlg->Control(1003));
}

TEST_F(AccessTest, EnterDoesNothingAndSpacePressesTheFocusedButton)
{
    struct Row {
        Qt::Key key;
        int button;
        QStringList paths; // the list afterwards
        int messages;      // message boxes shown so far
    };
    const QList<Row> rows{
        {Qt::Key_Space, 1000, {"/v/a.avi"}, 0},
        {Qt::Key_Return, 1000, {"/v/a.avi"}, 0},
        {Qt::Key_Enter, 1000, {"/v/a.avi"}, 0},
        {Qt::Key_Space, 1000, {"/v/b.avi", "/v/a.avi"}, 0},
        {Qt::Key_Enter, 1002, {"/v/b.avi", "/v/a.avi"}, 0},
        {Qt::Key_Space, 1002, {}, 0},
        {Qt::Key_Return, 1006, {}, 0},
        {Qt::Key_Space, 1006, {}, 1}, // empty list: "请添加要转换的视频"
    };
    prompts.filesToOpen << "/v/a.avi"
                        << "/v/b.avi";
    for (const Row &r : rows) {
        Button(r.button)->setFocus(Qt::TabFocusReason);
        QTest::keyClick(Button(r.button), r.key);
        EXPECT_EQ(dlg->FileList().Paths(), r.paths) << r.button << " key " << r.key;
        EXPECT_EQ(prompts.messages.size(), r.messages) << r.button << " key " << r.key;
    }
    EXPECT_EQ(prompts.messages.last().text, "请添加要转换的视频");
    // Enter on the About button does nothing; Space opens the About dialog.
    for (Qt::Key key : {Qt::Key_Return, Qt::Key_Space}) {
        bool shown = false;
        QTimer::singleShot(0, [&] {
            auto *about = qobject_cast<Dg3 *>(QApplication::activeModalWidget());
            shown = about != nullptr;
            if (about)
                about->close();
        });
        dlg->Control(1023)->setFocus(Qt::TabFocusReason);
        QTest::keyClick(dlg->Control(1023), key);
        QCoreApplication::processEvents();
        EXPECT_EQ(shown, key == Qt::Key_Space) << key;
        EXPECT_TRUE(dlg->isVisible()) << "Enter must not close the dialog";
    }
}

TEST_F(AccessTest, AboutDialogIsNamedAndReachable)
{
    Dg3 about(dlg.get());
    about.show();
    QApplication::setActiveWindow(&about);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&about));
    QAccessibleInterface *close = QAccessible::queryAccessibleInterface(about.CloseButton());
    EXPECT_EQ(close->role(), QAccessible::PushButton);
    EXPECT_EQ(close->text(QAccessible::Name), "关闭");
    CheckEveryActingControl(&about);
    // Tab reaches the contact address, which can then be copied with the keyboard.
    QTest::keyClick(&about, Qt::Key_Tab);
    auto *address = qobject_cast<QLabel *>(QApplication::focusWidget());
    ASSERT_NE(address, nullptr);
    EXPECT_EQ(address->text(), VideoSite::ContactAddress);
    EXPECT_EQ(QAccessible::queryAccessibleInterface(address)->text(QAccessible::Name),
              VideoSite::ContactAddress);
    auto *mark = about.findChild<batch::FocusMark *>();
    ASSERT_NE(mark, nullptr);
    EXPECT_EQ(mark->target(), address);
}
