// Screen readers and the keyboard: every control that acts has a name and a fitting role, Tab
// visits the controls in reading order with a ring around the current one, Enter and Space act.
#include "feedbackwindow/frmsuggest.h"
#include "skin/focusmark.h"
#include "shell/frmoptions.h"
#include "skin/hotspot.h"
#include "zelmora/windowutil.h"

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QTreeView>
#include <gtest/gtest.h>
#include <set>

using namespace zm;
using zmtest::Harness;

namespace {

// options.ini with the cutter on, from 0:00:01 for 0:00:03.
const QByteArray kCutterOn("0\r\n1\r\n1\r\n3\r\n");

void walk(QAccessibleInterface *iface, QList<QAccessibleInterface *> &out)
{
    if (!iface)
        return;
    out << iface;
    for (int i = 0; i < iface->childCount(); ++i)
        walk(iface->child(i), out);
}

// The roles of controls that act: pressed, opened, chosen, typed into, selected in.
const std::set<QAccessible::Role> &actingRoles()
{
    static const std::set<QAccessible::Role> roles{
        QAccessible::PushButton, QAccessible::ButtonMenu,   QAccessible::ButtonDropDown, QAccessible::Link,
        QAccessible::ComboBox,   QAccessible::EditableText, QAccessible::CheckBox,       QAccessible::Tree,
        QAccessible::List,       QAccessible::MenuItem};
    return roles;
}

// What a screen reader says a control is: its name, or for a drop-down list (whose name on this
// platform is its chosen entry) the label that names it.
QString spokenName(QAccessibleInterface *iface)
{
    if (iface->role() == QAccessible::ComboBox) {
        const auto labels = iface->relations(QAccessible::Label);
        return labels.isEmpty() ? QString() : labels.first().first->text(QAccessible::Name);
    }
    return iface->text(QAccessible::Name);
}

QString spokenName(QWidget *w)
{
    return spokenName(QAccessible::queryAccessibleInterface(w));
}

// Every control of `window` a user can see and act on, found by walking the window's accessible
// tree from the top: it must have an acting role and a name. Returns the controls met.
QList<QWidget *> checkEveryActingControl(QWidget *window)
{
    QList<QAccessibleInterface *> all;
    walk(QAccessible::queryAccessibleInterface(window), all);
    QList<QWidget *> met;
    for (QAccessibleInterface *iface : all) {
        auto *widget = qobject_cast<QWidget *>(iface->object());
        if (!widget || widget == window || widget->window() != window || iface->state().invisible)
            continue;
        const bool acts = qobject_cast<HotSpot *>(widget) || qobject_cast<QComboBox *>(widget)
                          || qobject_cast<QLineEdit *>(widget) || qobject_cast<QAbstractButton *>(widget)
                          || qobject_cast<QAbstractItemView *>(widget);
        if (!acts)
            continue;
        met << widget;
        const std::string what = widget->objectName().toStdString();
        EXPECT_TRUE(actingRoles().count(iface->role())) << what << " has the role " << iface->role();
        EXPECT_FALSE(spokenName(iface).trimmed().isEmpty()) << what << " has no name";
    }
    return met;
}

QStringList names(const QList<QWidget *> &widgets)
{
    QStringList out;
    for (QWidget *w : widgets)
        out << w->objectName();
    return out;
}

// The window shown and active, so that it has the keyboard.
void activate(QWidget *w)
{
    w->show();
    QApplication::setActiveWindow(w);
    ASSERT_TRUE(QTest::qWaitForWindowActive(w));
}

QString focused()
{
    QWidget *w = QApplication::focusWidget();
    return w ? w->objectName() : QStringLiteral("(none)");
}

// Presses Tab (or Shift+Tab) `count` times and lists where the focus went.
QStringList tabs(int count, bool back = false)
{
    QStringList visited;
    for (int i = 0; i < count; ++i) {
        QTest::keyClick(QApplication::focusWidget(), back ? Qt::Key_Backtab : Qt::Key_Tab,
                        back ? Qt::ShiftModifier : Qt::NoModifier);
        visited << focused();
    }
    return visited;
}

// True when the pixel of `window` one in from the top of the ring around `control` is the
// ring's violet.
bool ringAround(QWidget *window, QWidget *control)
{
    const QRect r = control->geometry();
    const QColor c =
        window->grab().toImage().pixelColor(r.center().x(), r.top() - FocusMark::kMargin - FocusMark::kWidth);
    const QColor v = FocusMark::kColour;
    return std::abs(c.red() - v.red()) < 40 && std::abs(c.green() - v.green()) < 40
           && std::abs(c.blue() - v.blue()) < 40;
}

struct Named {
    QWidget *widget;
    QAccessible::Role role;
    const char *name;
};

void expectNamed(const QList<Named> &rows)
{
    for (const Named &r : rows) {
        QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(r.widget);
        ASSERT_NE(iface, nullptr) << r.name;
        EXPECT_EQ(iface->role(), r.role) << r.name;
        EXPECT_EQ(spokenName(iface), QString::fromUtf8(r.name)) << r.widget->objectName().toStdString();
    }
}

} // namespace

TEST(Access, MainWindowNamesEveryControl)
{
    Harness h;
    ASSERT_TRUE(h.app.write(QStringLiteral("options.ini"), kCutterOn)); // its caption in the strip acts too
    h.open();
    frmMain &w = *h.window;
    w.show();
    const QList<Named> rows{
        {w.imgHelp(), QAccessible::PushButton, "Help & Tutorial"},
        {w.imgMin(), QAccessible::PushButton, "Minimize Window"},
        {w.imgExit(), QAccessible::PushButton, "Exit"},
        {w.imgMenu(0), QAccessible::ButtonMenu, "File"},
        {w.imgMenu(1), QAccessible::ButtonMenu, "Options"},
        {w.imgMenu(2), QAccessible::ButtonMenu, "About"},
        {w.imgToolbar(0), QAccessible::PushButton, "Add a File"},
        {w.imgToolbar(6), QAccessible::PushButton, "Add a Folder"},
        {w.imgToolbar(1), QAccessible::ButtonMenu, "Remove"},
        {w.imgToolbar(2), QAccessible::PushButton, "Options"},
        {w.imgToolbar(3), QAccessible::PushButton, "Help & Tutorial"},
        {w.imgToolbar(4), QAccessible::PushButton, "Exit"},
        {w.LV(), QAccessible::Tree, "Queue"},
        {w.cmbOF(), QAccessible::ComboBox, "Output Format"},
        {w.arrow(0), QAccessible::ButtonDropDown, "Output Format"},
        {w.cmbBR(), QAccessible::ComboBox, "Bitrate"},
        {w.arrow(1), QAccessible::ButtonDropDown, "Bitrate"},
        {w.cmbR(), QAccessible::ComboBox, "Sample Rate"},
        {w.arrow(2), QAccessible::ButtonDropDown, "Sample Rate"},
        {w.cmbChannel(), QAccessible::ComboBox, "Channels"},
        {w.arrow(3), QAccessible::ButtonDropDown, "Channels"},
        {w.txtPath(), QAccessible::EditableText, "Output Folder"},
        {w.imgBrowse(), QAccessible::PushButton, "Select an Output Folder"},
        {w.imgConvert(), QAccessible::PushButton, "Convert"},
        {w.lblWeb(), QAccessible::Link, "Zelmora"},
        {w.lblCut(), QAccessible::PushButton, "Cut: from 0:00:01 for 0:00:03"},
        {w.lblFeed(), QAccessible::PushButton, "Feedback"},
    };
    expectNamed(rows);
    // The walk from the window finds no acting control without a name, and finds them all.
    const QStringList met = names(checkEveryActingControl(&w));
    for (const Named &r : rows)
        EXPECT_TRUE(met.contains(r.widget->objectName())) << r.name;
    // The tool tips that say more are there too, as descriptions.
    const QAccessibleInterface *web = QAccessible::queryAccessibleInterface(w.lblWeb());
    EXPECT_EQ(web->text(QAccessible::Description), webBase());
    EXPECT_EQ(QAccessible::queryAccessibleInterface(w.imgConvert())->text(QAccessible::Description),
              QStringLiteral("Start the queue"));

    // The name follows the button: converting, Convert is Stop.
    w.AddQueueEntry(h.app.script(QStringLiteral("hang.flv"), {QStringLiteral("sleep 20000")}));
    w.imgStart_Click();
    ASSERT_TRUE(w.batch().isRunning());
    QAccessibleInterface *convert = QAccessible::queryAccessibleInterface(w.imgConvert());
    EXPECT_EQ(convert->text(QAccessible::Name), QStringLiteral("Stop"));
    EXPECT_EQ(convert->text(QAccessible::Description), QStringLiteral("Stop the batch"));
    EXPECT_TRUE(QAccessible::queryAccessibleInterface(w.imgToolbar(0))->state().disabled);
    // A screen reader presses it as it would any button.
    convert->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !w.batch().isRunning(); }, 20000));
}

TEST(Access, ScreenReadersPressTheHotSpots)
{
    Harness h;
    h.open();
    frmMain &w = *h.window;
    QList<QPoint> at;
    w.runPopup = [&](QMenu &m, const QPoint &p) {
        h.popups << m.title();
        at << w.mapFromGlobal(p);
    };
    struct Row {
        QWidget *control;
        QString action;
        QStringList popups;
        int fileDialogs, dialogs, opened;
    };
    const QString press = QAccessibleActionInterface::pressAction(),
                  menu = QAccessibleActionInterface::showMenuAction();
    const QList<Row> rows{
        {w.imgToolbar(0), press, {}, 1, 0, 0},
        {w.imgMenu(0), menu, {"File"}, 1, 0, 0},
        {w.imgToolbar(1), menu, {"File", "Remove"}, 1, 0, 0},
        {w.lblWeb(), press, {"File", "Remove"}, 1, 0, 1},
    };
    for (const Row &r : rows) {
        QAccessibleActionInterface *actions = QAccessible::queryAccessibleInterface(r.control)->actionInterface();
        ASSERT_NE(actions, nullptr) << r.control->objectName().toStdString();
        EXPECT_TRUE(actions->actionNames().contains(r.action)) << r.control->objectName().toStdString();
        actions->doAction(r.action);
        EXPECT_EQ(h.popups, r.popups) << r.control->objectName().toStdString();
        EXPECT_EQ(h.files.titles.size(), r.fileDialogs) << r.control->objectName().toStdString();
        EXPECT_EQ(h.dialogs, r.dialogs) << r.control->objectName().toStdString();
        EXPECT_EQ(h.shell.opened.size(), r.opened) << r.control->objectName().toStdString();
    }
    // Not from the mouse: the Remove menu opens under its button, not at the mouse pointer.
    ASSERT_EQ(at.size(), 2);
    EXPECT_EQ(at[1], w.imgToolbar(1)->geometry().bottomLeft() + QPoint(0, 1));
    // An arrow opens its list.
    w.show();
    QAccessible::queryAccessibleInterface(w.arrow(0))->actionInterface()->doAction(menu);
    EXPECT_TRUE(w.cmbOF()->view()->isVisible());
    w.cmbOF()->hidePopup();
}

TEST(Access, TabVisitsTheMainWindowInReadingOrder)
{
    Harness h;
    h.open();
    frmMain &w = *h.window;
    w.cmbOF()->setCurrentIndex(0); // MP3: every list is enabled
    activate(&w);
    EXPECT_EQ(focused(), QStringLiteral("LV")) << "the queue has the keyboard at first";
    const QStringList order{
        "cmbOF",     "cmbBR",        "cmbR",         "cmbChannel",   "txtPath",      "imgBrowse",    "imgConvert",
        "lblWeb",    "lblFeed",      "imgHelp",      "imgMin",       "imgExit",      "imgMenu_0",    "imgMenu_1",
        "imgMenu_2", "imgToolbar_0", "imgToolbar_6", "imgToolbar_1", "imgToolbar_2", "imgToolbar_3", "imgToolbar_4",
        "LV"};
    EXPECT_EQ(tabs(int(order.size())), order);
    QStringList back = order;
    std::reverse(back.begin(), back.end());
    back.removeFirst();
    back << QStringLiteral("LV");
    EXPECT_EQ(tabs(int(order.size()), true), back);
    // The lists that only MP3 uses are passed over while they are greyed.
    w.cmbOF()->setCurrentIndex(1);
    EXPECT_EQ(tabs(2), (QStringList{"cmbOF", "txtPath"}));

    // While converting, the locked menu bar and toolbar are passed over.
    w.AddQueueEntry(h.app.script(QStringLiteral("hang.flv"), {QStringLiteral("sleep 20000")}));
    w.imgConvert()->setFocus(Qt::TabFocusReason);
    QTest::keyClick(w.imgConvert(), Qt::Key_Space);
    ASSERT_TRUE(w.batch().isRunning());
    EXPECT_EQ(tabs(6), (QStringList{"lblWeb", "imgHelp", "imgMin", "imgExit", "LV", "cmbOF"}));
    w.imgConvert_Click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !w.batch().isRunning(); }, 20000));
}

TEST(Access, EnterAndSpaceActInTheMainWindow)
{
    Harness h;
    h.open();
    frmMain &w = *h.window;
    activate(&w);
    struct Row {
        HotSpot *control;
        Qt::Key key;
        int fileDialogs, dialogs, opened;
        QStringList popups;
    };
    const QList<Row> rows{
        {w.imgToolbar(0), Qt::Key_Space, 1, 0, 0, {}},       {w.imgToolbar(6), Qt::Key_Return, 2, 0, 0, {}},
        {w.imgMenu(1), Qt::Key_Enter, 2, 0, 0, {"Options"}}, {w.lblFeed(), Qt::Key_Space, 2, 1, 0, {"Options"}},
        {w.imgHelp(), Qt::Key_Return, 2, 1, 1, {"Options"}},
    };
    for (const Row &r : rows) {
        r.control->setFocus(Qt::TabFocusReason);
        QTest::keyClick(r.control, r.key);
        const std::string what = r.control->objectName().toStdString();
        EXPECT_EQ(h.files.titles.size(), r.fileDialogs) << what;
        EXPECT_EQ(h.dialogs, r.dialogs) << what;
        EXPECT_EQ(h.shell.opened.size(), r.opened) << what;
        EXPECT_EQ(h.popups, r.popups) << what;
    }
    // A key with a modifier, or another key, does nothing.
    w.imgToolbar(0)->setFocus(Qt::TabFocusReason);
    QTest::keyClick(w.imgToolbar(0), Qt::Key_Space, Qt::ControlModifier);
    QTest::keyClick(w.imgToolbar(0), Qt::Key_A);
    EXPECT_EQ(h.files.titles.size(), 2);
    // A list opens from its own keys.
    w.cmbOF()->setFocus(Qt::TabFocusReason);
    QTest::keyClick(w.cmbOF(), Qt::Key_F4);
    EXPECT_TRUE(w.cmbOF()->view()->isVisible());
    w.cmbOF()->hidePopup();
}

TEST(Access, FocusMarkShowsWhereTheKeyboardIs)
{
    Harness h;
    ASSERT_TRUE(h.app.write(QStringLiteral("options.ini"), kCutterOn));
    h.open();
    frmMain &w = *h.window;
    w.cmbOF()->setCurrentIndex(0);
    activate(&w);
    FocusMark *mark = w.focusMark();
    ASSERT_NE(mark, nullptr);
    EXPECT_EQ(mark->target(), nullptr) << "none before the keyboard is used";
    EXPECT_FALSE(ringAround(&w, w.LV()));
    for (QWidget *control : {static_cast<QWidget *>(w.cmbOF()), static_cast<QWidget *>(w.cmbBR())}) {
        tabs(1);
        ASSERT_EQ(QApplication::focusWidget(), control);
        EXPECT_EQ(mark->target(), control);
        EXPECT_TRUE(mark->geometry().contains(control->geometry()));
        EXPECT_TRUE(ringAround(&w, control)) << control->objectName().toStdString();
    }
    // A hot spot on the dark title bar shows it as well.
    w.imgHelp()->setFocus(Qt::TabFocusReason);
    EXPECT_TRUE(ringAround(&w, w.imgHelp()));
    // The cut's caption moves when its text changes: the ring goes with it.
    w.lblCut()->setFocus(Qt::TabFocusReason);
    ASSERT_EQ(mark->target(), w.lblCut());
    h.onDialog = [](QDialog &d) {
        auto *o = qobject_cast<frmOptions *>(&d);
        ASSERT_NE(o, nullptr);
        o->timeBox(ToS)->setText(QStringLiteral("59"));
        o->timeBox(ToM)->setText(QStringLiteral("10"));
        o->imgOK_Click();
    };
    QTest::keyClick(w.lblCut(), Qt::Key_Return);
    EXPECT_EQ(h.dialogs, 1);
    EXPECT_TRUE(mark->geometry().contains(w.lblCut()->geometry()));
    // A mouse press puts the window back as drawn; the keyboard brings the mark back.
    QTest::mouseClick(w.cmbR(), Qt::LeftButton);
    w.cmbR()->hidePopup();
    EXPECT_EQ(mark->target(), nullptr);
    EXPECT_FALSE(ringAround(&w, w.lblCut()));
    tabs(1);
    EXPECT_NE(mark->target(), nullptr);
}

TEST(Access, OptionsWindowByKeyboard)
{
    zmtest::FakeApp app;
    const QString ini = app.path + QStringLiteral("/options.ini");
    ProgramSettings s{0, 0, 0, 0};
    frmOptions o(s, ini, nullptr);
    activate(&o);
    expectNamed({
        {o.cmbSR(), QAccessible::ComboBox, "Finish sound"},
        {o.picButtonBR(), QAccessible::ButtonDropDown, "Finish sound"},
        {o.chkMC(), QAccessible::CheckBox, "Music Cutter"},
        {o.timeBox(FromH), QAccessible::EditableText, "From hours"},
        {o.timeBox(FromM), QAccessible::EditableText, "From minutes"},
        {o.timeBox(FromS), QAccessible::EditableText, "From seconds"},
        {o.timeBox(ToH), QAccessible::EditableText, "To hours"},
        {o.timeBox(ToM), QAccessible::EditableText, "To minutes"},
        {o.timeBox(ToS), QAccessible::EditableText, "To seconds"},
        {o.imgOK(), QAccessible::PushButton, "OK"},
        {o.imgBack(), QAccessible::PushButton, "Back"},
        {o.imgExit(), QAccessible::PushButton, "Exit"},
    });
    EXPECT_EQ(checkEveryActingControl(&o).size(), 12);
    EXPECT_EQ(focused(), QStringLiteral("cmbSR"));
    // The boxes are disabled while the cutter is off: Tab passes them by.
    EXPECT_EQ(tabs(5), (QStringList{"chkMC", "imgOK", "imgBack", "imgExit", "cmbSR"}));
    tabs(1);
    QTest::keyClick(o.chkMC(), Qt::Key_Space);
    EXPECT_TRUE(o.chkMC()->isChecked());
    EXPECT_EQ(tabs(7), (QStringList{"txtFromH", "txtFromM", "txtFromS", "txtToH", "txtToM", "txtToS", "imgOK"}));
    EXPECT_NE(o.findChild<FocusMark *>()->target(), nullptr);
    // Enter in a box is OK.
    o.timeBox(ToM)->setFocus(Qt::TabFocusReason);
    o.timeBox(ToM)->setText(QStringLiteral("2"));
    QTest::keyClick(o.timeBox(ToM), Qt::Key_Return);
    EXPECT_EQ(o.result(), QDialog::Accepted);
    EXPECT_EQ(s, (ProgramSettings{0, 1, 0, 120}));

    // Space on Back, and Escape, close it without storing.
    for (Qt::Key key : {Qt::Key_Space, Qt::Key_Escape}) {
        frmOptions again(s, ini, nullptr);
        activate(&again);
        again.imgBack()->setFocus(Qt::TabFocusReason);
        again.timeBox(ToS)->setText(QStringLiteral("9"));
        QTest::keyClick(again.imgBack(), key);
        EXPECT_EQ(again.result(), QDialog::Rejected) << key;
        EXPECT_FALSE(again.isVisible()) << key;
        EXPECT_EQ(s, (ProgramSettings{0, 1, 0, 120})) << key;
    }
}

TEST(Access, FeedbackWindowByKeyboard)
{
    frmSuggest f(QStringLiteral("http://127.0.0.1:9"));
    activate(&f);
    expectNamed({
        {f.txtName(), QAccessible::EditableText, "Name"},
        {f.txtEMail(), QAccessible::EditableText, "E-mail"},
        {f.txtComment(), QAccessible::EditableText, "Comment"},
        {f.imgSend(), QAccessible::PushButton, "Send"},
        {f.imgBack(), QAccessible::PushButton, "Back"},
        {f.imgExit(), QAccessible::PushButton, "Exit"},
    });
    EXPECT_EQ(checkEveryActingControl(&f).size(), 6);
    EXPECT_EQ(QAccessible::queryAccessibleInterface(f.imgSend())->text(QAccessible::Description),
              QStringLiteral("Send your feedback now"));
    EXPECT_EQ(focused(), QStringLiteral("txtName"));
    EXPECT_EQ(tabs(6), (QStringList{"txtEMail", "txtComment", "imgSend", "imgBack", "imgExit", "txtName"}));
    // Enter in a field sends: with the fields empty, the first prompt, and the focus there.
    f.txtComment()->setFocus(Qt::TabFocusReason);
    QTest::keyClick(f.txtComment(), Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_EQ(f.lblSending()->text(), QStringLiteral("Your Name?"));
    EXPECT_EQ(focused(), QStringLiteral("txtName"));
    f.imgSend()->setFocus(Qt::TabFocusReason);
    f.txtName()->setText(QStringLiteral("Ann"));
    QTest::keyClick(f.imgSend(), Qt::Key_Space);
    EXPECT_EQ(f.lblSending()->text(), QStringLiteral("Your Email?"));
    f.imgExit()->setFocus(Qt::TabFocusReason);
    QTest::keyClick(f.imgExit(), Qt::Key_Return);
    EXPECT_EQ(f.result(), QDialog::Rejected);
    EXPECT_FALSE(f.isVisible());
}

TEST(Access, FailuresWindowAndMenus)
{
    BatchOutcome outcome;
    outcome.failures = {{QStringLiteral("/v/a.flv"), QStringLiteral("conv: no audio")}};
    frmFailures failures(outcome, nullptr);
    activate(&failures);
    const QStringList met = names(checkEveryActingControl(&failures));
    EXPECT_TRUE(met.contains(QStringLiteral("failureList")));
    EXPECT_EQ(spokenName(failures.list()), failuresHeading(1));
    EXPECT_EQ(spokenName(failures.copyButton()), QStringLiteral("Copy"));

    // Every entry of every popup menu is named, the submenu's included.
    Harness h;
    h.open();
    for (QMenu *menu : h.window->findChildren<QMenu *>()) {
        QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(menu);
        ASSERT_NE(iface, nullptr);
        EXPECT_EQ(iface->role(), QAccessible::PopupMenu) << menu->title().toStdString();
        int items = 0;
        for (int i = 0; i < iface->childCount(); ++i) {
            QAccessibleInterface *item = iface->child(i);
            if (item->role() != QAccessible::MenuItem)
                continue;
            ++items;
            EXPECT_FALSE(item->text(QAccessible::Name).trimmed().isEmpty()) << menu->title().toStdString() << " " << i;
        }
        EXPECT_GE(items, 1) << menu->title().toStdString();
    }
}

TEST(Access, CaptionsThatActLookAsPlainLabels)
{
    // Taking the focus must not change how a caption is drawn (QLabel would lay its text out
    // anew, ignoring the alignment): each looks exactly as a plain label of the same text.
    Harness h;
    ASSERT_TRUE(h.app.write(QStringLiteral("options.ini"), kCutterOn));
    h.open();
    frmMain &w = *h.window;
    w.show();
    for (HotSpot *caption : {w.lblFeed(), w.lblWeb(), w.lblCut()}) {
        for (bool enabled : {true, false}) {
            caption->setEnabled(enabled);
            QLabel plain(caption->text(), &w);
            plain.setGeometry(caption->geometry());
            plain.setFont(caption->font());
            plain.setAlignment(caption->alignment());
            plain.setStyleSheet(caption->styleSheet());
            plain.setEnabled(enabled);
            // The window where the caption is, with the caption, then with the plain label.
            plain.hide();
            const QImage drawn = w.grab(caption->geometry()).toImage();
            caption->hide();
            plain.show();
            EXPECT_EQ(drawn, w.grab(caption->geometry()).toImage())
                << caption->objectName().toStdString() << (enabled ? "" : ", disabled");
            caption->show();
        }
        caption->setEnabled(true);
    }
}
