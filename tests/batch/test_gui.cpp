// The desktop pieces both windows share: the scale a window fits the screen at, where it is
// placed, the keyboard focus mark in each program's colours, and what each program's
// notifications and launcher entries say on a private bus.
#include "gui/desktopnotifier.h"
#include "gui/focusmark.h"
#include "gui/launcherentry.h"
#include "gui/screenfit.h"
#include "support/privatebus.h"

#include <QApplication>
#include <QDBusMessage>
#include <QIcon>
#include <QImage>
#include <QPixmap>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

namespace {

// A notification service that remembers what it was told, and a listener of launcher entries.
class FakeService final : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    struct Call {
        QString app, icon, summary, body;
        QStringList actions;
        QVariantMap hints;
    };
    QList<Call> calls;
    QStringList updatePaths, updateUris;

public slots:
    uint Notify(const QString &app, uint, const QString &icon, const QString &summary, const QString &body,
                const QStringList &actions, const QVariantMap &hints, int)
    {
        calls.append({app, icon, summary, body, actions, hints});
        return uint(calls.size());
    }
    void onUpdate(const QString &uri, const QVariantMap &, const QDBusMessage &message)
    {
        updateUris << uri;
        updatePaths << message.path();
    }
};

// A private bus with two connections: the service's side and the program's.
class BusTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (!bus.start())
            GTEST_SKIP() << "dbus-daemon not installed";
        service = QDBusConnection::connectToBus(bus.address(), QStringLiteral("gui-service"));
        client = QDBusConnection::connectToBus(bus.address(), QStringLiteral("gui-client"));
        ASSERT_TRUE(service.isConnected() && client.isConnected());
    }
    void TearDown() override
    {
        service.unregisterObject(QString::fromLatin1(batch::DesktopNotifier::kPath));
        QDBusConnection::disconnectFromBus(QStringLiteral("gui-service"));
        QDBusConnection::disconnectFromBus(QStringLiteral("gui-client"));
    }

    testsupport::PrivateBus bus;
    QDBusConnection service{QString()};
    QDBusConnection client{QString()};
    FakeService fake;
};

QIcon redSquare()
{
    QPixmap pixmap(48, 48);
    pixmap.fill(Qt::red);
    return QIcon(pixmap);
}

} // namespace

TEST(ScreenFit, TheScaleIsLoweredOnlyAsFarAsTheWindowNeeds)
{
    struct Row {
        const char *name;
        QSize design, available;
        double current, expected;
    };
    const Row rows[] = {
        {"fits", {698, 496}, {1280, 1000}, 1.0, 1.0},
        {"fits exactly", {698, 496}, {698, 496}, 2.0, 2.0},
        {"too wide at scale 2", {698, 496}, {640, 500}, 2.0, 1.83},
        {"too high", {698, 496}, {1000, 384}, 1.0, 0.77},
        {"both: the tighter one counts", {796, 454}, {400, 300}, 2.0, 1.0},
        {"never below a tenth", {698, 496}, {10, 10}, 1.0, 0.1},
        {"no screen size known", {698, 496}, {0, 0}, 1.5, 1.5},
        {"the dialog fits", {804, 494}, {1280, 1024}, 1.0, 1.0},
        {"the dialog at scale 2 on a small screen", {804, 494}, {640, 512}, 2.0, 1.59},
        {"the dialog on a low screen", {804, 494}, {1280, 400}, 1.0, 0.8},
    };
    for (const Row &r : rows)
        EXPECT_DOUBLE_EQ(batch::fittingScale(r.design, r.available, r.current), r.expected) << r.name;
}

TEST(ScreenFit, PlacedCentredWithTheTopLeftCornerOnTheScreen)
{
    const auto placed = [](const char *name, QRect available, QSize size, QPoint expected) {
        EXPECT_EQ(batch::placeOn(available, size), expected) << name;
    };
    placed("centred", {0, 0, 1280, 1024}, {698, 496}, {291, 264});
    placed("below a panel", {0, 32, 1280, 992}, {698, 496}, {291, 280});
    placed("on a second screen", {1920, 0, 1280, 1024}, {698, 496}, {2211, 264});
    placed("wider than the screen", {0, 0, 640, 512}, {698, 496}, {0, 8});
    placed("larger than the screen", {0, 0, 640, 480}, {1396, 992}, {0, 0});
}

TEST(FocusMark, EachProgramsRingAroundTheControlWithTheKeyboard)
{
    // zelmora's violet 2 pixels out, vidrune's blue 3 pixels out.
    struct Row {
        const char *name;
        batch::FocusMark::Style style;
    };
    const Row rows[] = {
        {"zelmora", {QColor(0x6b, 0x5b, 0xf6), 2, 2}},
        {"vidrune", {QColor(0x1f, 0x6f, 0xeb), 3, 2}},
    };
    for (const Row &r : rows) {
        QWidget window;
        window.resize(300, 200);
        window.setStyleSheet(QStringLiteral("background: white"));
        auto *first = new QPushButton(QStringLiteral("One"), &window);
        auto *second = new QPushButton(QStringLiteral("Two"), &window);
        first->setGeometry(40, 40, 80, 30);
        second->setGeometry(40, 120, 80, 30);
        auto *mark = new batch::FocusMark(&window, r.style);
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window)) << r.name;
        QApplication::setActiveWindow(&window);
        first->setFocus(Qt::OtherFocusReason);
        EXPECT_EQ(mark->target(), nullptr) << r.name << ": none before the keyboard is used";

        QTest::keyClick(first, Qt::Key_Tab);
        ASSERT_EQ(QApplication::focusWidget(), second) << r.name;
        EXPECT_EQ(mark->target(), second) << r.name;
        const int out = r.style.margin + r.style.width;
        EXPECT_EQ(mark->geometry(), second->geometry().adjusted(-out, -out, out, out)) << r.name;
        // The ring's top edge, half way along, a pixel inside its width: the program's colour.
        const QImage shot = window.grab().toImage();
        const QRect g = second->geometry();
        const QColor ring = shot.pixelColor(g.center().x(), g.top() - out + 1);
        EXPECT_LT(std::abs(ring.red() - r.style.colour.red()), 40) << r.name << ring.name().toStdString();
        EXPECT_LT(std::abs(ring.green() - r.style.colour.green()), 40) << r.name << ring.name().toStdString();
        EXPECT_LT(std::abs(ring.blue() - r.style.colour.blue()), 40) << r.name << ring.name().toStdString();

        // It follows its control when that moves, and goes at a mouse press.
        second->move(150, 100);
        EXPECT_EQ(mark->geometry(), second->geometry().adjusted(-out, -out, out, out)) << r.name;
        QTest::mouseClick(first, Qt::LeftButton);
        EXPECT_EQ(mark->target(), nullptr) << r.name;
    }
}

TEST_F(BusTest, EachProgramsNotificationsSayItsNameEntryIconAndActions)
{
    ASSERT_TRUE(service.registerObject(QString::fromLatin1(batch::DesktopNotifier::kPath), &fake,
                                       QDBusConnection::ExportAllSlots));
    ASSERT_TRUE(service.registerService(QString::fromLatin1(batch::DesktopNotifier::kService)));
    struct Row {
        const char *name;
        batch::DesktopNotifier::Identity identity;
        QStringList actions;
    };
    const QList<Row> rows{
        {"zelmora",
         {QStringLiteral("Zelmora"), QStringLiteral("net.zelmora.Zelmora"), batch::NotificationImage::of(redSquare()),
          QStringLiteral("Open Folder")},
         {QStringLiteral("open-folder"), QStringLiteral("Open Folder")}},
        {"vidrune",
         {QStringLiteral("vidrune"), QStringLiteral("net.zelmora.Vidrune"), batch::NotificationImage::of(redSquare()),
          QString()},
         {}},
        {"nobody in particular", {}, {}},
    };
    for (const Row &r : rows) {
        fake.calls.clear();
        batch::DesktopNotifier notifier(client);
        notifier.setIdentity(r.identity);
        QStringList opened;
        QObject::connect(&notifier, &batch::DesktopNotifier::openFolderRequested,
                         [&](const QString &folder) { opened << folder; });
        ASSERT_TRUE(
            notifier.notify(QStringLiteral("Done"), QStringLiteral("3 converted"), QStringLiteral("/music/out")))
            << r.name;
        ASSERT_TRUE(QTest::qWaitFor([&] { return !fake.calls.isEmpty(); }, 10000)) << r.name;
        const FakeService::Call &call = fake.calls.first();
        EXPECT_EQ(call.app, r.identity.appName) << r.name;
        EXPECT_EQ(call.icon, r.identity.desktopId) << r.name;
        EXPECT_EQ(call.summary, QStringLiteral("Done")) << r.name;
        EXPECT_EQ(call.body, QStringLiteral("3 converted")) << r.name;
        EXPECT_EQ(call.actions, r.actions) << r.name;
        EXPECT_EQ(call.hints.value(QStringLiteral("desktop-entry")).toString(), r.identity.desktopId) << r.name;
        EXPECT_EQ(call.hints.contains(QStringLiteral("desktop-entry")), !r.identity.desktopId.isEmpty()) << r.name;
        EXPECT_EQ(call.hints.contains(QStringLiteral("image-data")), r.identity.icon.isValid()) << r.name;
        if (r.identity.icon.isValid()) {
            batch::NotificationImage picture;
            call.hints.value(QStringLiteral("image-data")).value<QDBusArgument>() >> picture;
            EXPECT_EQ(picture.width, 48) << r.name;
            EXPECT_EQ(picture.rgba, r.identity.icon.rgba) << r.name;
        }

        // The service says the action was chosen: only a notifier that offered it answers.
        QTest::qWait(100); // the notification's id comes back
        QDBusMessage invoked = QDBusMessage::createSignal(QString::fromLatin1(batch::DesktopNotifier::kPath),
                                                          QString::fromLatin1(batch::DesktopNotifier::kService),
                                                          QStringLiteral("ActionInvoked"));
        invoked << uint(1) << QStringLiteral("open-folder");
        service.send(invoked);
        const QStringList expected = r.actions.isEmpty() ? QStringList() : QStringList{QStringLiteral("/music/out")};
        if (!expected.isEmpty())
            EXPECT_TRUE(QTest::qWaitFor([&] { return !opened.isEmpty(); }, 10000)) << r.name;
        else
            QTest::qWait(200);
        EXPECT_EQ(opened, expected) << r.name;
    }
}

TEST_F(BusTest, EachProgramsLauncherEntryIsUpdatedFromItsOwnPath)
{
    ASSERT_TRUE(service.connect(QString(), QString(), QString::fromLatin1(batch::LauncherEntry::kInterface),
                                QStringLiteral("Update"), &fake, SLOT(onUpdate(QString, QVariantMap, QDBusMessage))));
    // The bus takes the match rule of that connection in its own time: until a signal sent now
    // arrives, one sent by the entry could be dropped before the rule is in place. Signals of one
    // connection arrive in order, so once the last probe is in, no earlier one is still on its way.
    auto probe = [&](const QString &path) {
        QDBusMessage update = QDBusMessage::createSignal(path, QString::fromLatin1(batch::LauncherEntry::kInterface),
                                                         QStringLiteral("Update"));
        update << QStringLiteral("application://probe.desktop") << QVariantMap();
        client.send(update);
    };
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            probe(QStringLiteral("/probe"));
            return QTest::qWaitFor([&] { return fake.updatePaths.contains(QStringLiteral("/probe")); }, 200);
        },
        10000));
    probe(QStringLiteral("/probe/last"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return fake.updatePaths.contains(QStringLiteral("/probe/last")); }, 10000));
    struct Row {
        QString desktopId, path;
    };
    const Row rows[] = {
        {QStringLiteral("net.zelmora.Zelmora"), QStringLiteral("/net/zelmora/LauncherEntry")},
        {QStringLiteral("net.zelmora.Vidrune"), QStringLiteral("/net/zelmora/Vidrune/LauncherEntry")},
    };
    for (const Row &r : rows) {
        fake.updatePaths.clear();
        fake.updateUris.clear();
        batch::LauncherEntry entry(client, r.desktopId, r.path);
        entry.show(0.5, 2);
        entry.show(0.5, 2); // nothing new: nothing sent
        entry.clear();
        ASSERT_TRUE(QTest::qWaitFor([&] { return fake.updatePaths.size() >= 2; }, 10000)) << r.path.toStdString();
        QTest::qWait(100);
        EXPECT_EQ(fake.updatePaths, (QStringList{r.path, r.path}));
        const QString uri = QStringLiteral("application://") + r.desktopId + QStringLiteral(".desktop");
        EXPECT_EQ(fake.updateUris, (QStringList{uri, uri}));
    }
}

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

#include "test_gui.moc"
