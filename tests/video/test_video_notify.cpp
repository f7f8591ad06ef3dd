// The desktop notification at the end of a batch: when it is sent, and what reaches a
// notification server on a private bus.
#include "ui/cvideodlg.h"
#include "gui/desktopnotifier.h"
#include "ui/desktopnotifier.h"
#include "support/privatebus.h"
#include "video/dialogtestutil.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QTest>
#include <QVariantMap>
#include <gtest/gtest.h>

using namespace vidrune;

namespace {

// A notification server that only remembers what it was told.
class FakeNotifications final : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    QStringList summaries;
    QStringList apps;
    QStringList icons;
    QList<QVariantMap> hints;

public slots:
    uint Notify(const QString &app, uint, const QString &icon, const QString &summary,
                const QString &, const QStringList &, const QVariantMap &hint, int)
    {
        apps << app;
        icons << icon;
        hints << hint;
        summaries << summary;
        return static_cast<uint>(summaries.size());
    }
};

// The launcher entries' signals on a bus.
class LauncherListener final : public QObject
{
    Q_OBJECT
public:
    QStringList uris;
    QList<QVariantMap> updates;

public slots:
    void OnUpdate(const QString &uri, const QVariantMap &properties)
    {
        uris << uri;
        updates << properties;
    }
};

} // namespace

TEST(VideoNotification, SentAtTheEndOnlyWhenTheDialogIsNotActive)
{
    FakeAppFolder app;
    ASSERT_TRUE(app.IsValid());
    ScriptedPrompts prompts;
    CvideoDlg dlg(QuickDialogOptions(app, prompts));
    dlg.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
    ASSERT_TRUE(Touch(app.File("in/ok.flv")) && Touch(app.File("in/fail.flv")));
    prompts.selections << QStringList{app.File("in/ok.flv"), app.File("in/fail.flv")};
    qobject_cast<QPushButton *>(dlg.Control(1000))->click();

    QWidget other;
    other.resize(100, 100);
    other.show();
    struct Case {
        QWidget *active;
        QStringList expected;
    };
    const QList<Case> cases{
        {&other, {"视频转换完成：2 个文件，1 个失败"}},
        {&dlg, {}},
    };
    for (const Case &c : cases) {
        prompts.notifications.clear();
        c.active->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(c.active));
        qobject_cast<QPushButton *>(dlg.Control(1006))->click();
        ASSERT_TRUE(testsupport::waitFor([&] { return !dlg.Batch().IsBusy(); }));
        EXPECT_EQ(prompts.notifications, c.expected) << (c.active == &dlg ? "dialog" : "other");
    }
    // A stopped batch is the user's own doing: no notification.
    prompts.notifications.clear();
    other.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
    dlg.Batch().Start(app.File("out"));
    dlg.Batch().Stop(false);
    ASSERT_TRUE(testsupport::waitFor([&] { return !dlg.Batch().IsBusy(); }));
    EXPECT_TRUE(prompts.notifications.isEmpty());
}

TEST(VideoNotification, ReachesTheNotificationServerOverDBus)
{
    EXPECT_FALSE(NotifyDesktop("x", "unix:path=/nonexistent/video-test-bus"))
        << "without a bus nothing is sent";
    const QString daemon = QStandardPaths::findExecutable("dbus-daemon");
    if (daemon.isEmpty())
        GTEST_SKIP() << "dbus-daemon not installed";
    QTemporaryDir dir;
    QFile config(dir.filePath("bus.conf"));
    ASSERT_TRUE(config.open(QIODevice::WriteOnly));
    config.write("<busconfig><type>session</type><listen>unix:dir=" + dir.path().toUtf8()
                 + "</listen><auth>EXTERNAL</auth><policy context=\"default\">"
                   "<allow send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/>"
                   "<allow own=\"*\"/></policy></busconfig>");
    config.close();
    QProcess bus;
    bus.start(daemon, {"--config-file=" + config.fileName(), "--nofork", "--print-address=1"});
    ASSERT_TRUE(bus.waitForReadyRead(10000));
    const QString address = QString::fromUtf8(bus.readLine()).trimmed();
    ASSERT_FALSE(address.isEmpty());
    {
        QDBusConnection server = QDBusConnection::connectToBus(address, "fake-notifications");
        ASSERT_TRUE(server.isConnected());
        FakeNotifications fake;
        ASSERT_TRUE(server.registerService(batch::DesktopNotifier::kService));
        ASSERT_TRUE(server.registerObject(batch::DesktopNotifier::kPath, &fake,
                                          QDBusConnection::ExportAllSlots));
        EXPECT_TRUE(NotifyDesktop("视频转换完成：3 个文件，0 个失败", address));
        ASSERT_TRUE(testsupport::waitFor([&] { return !fake.summaries.isEmpty(); }, 5000));
        EXPECT_EQ(fake.summaries, QStringList{"视频转换完成：3 个文件，0 个失败"});
        EXPECT_EQ(fake.apps, QStringList{QCoreApplication::applicationName()});
        server.unregisterObject(batch::DesktopNotifier::kPath);
    }
    QDBusConnection::disconnectFromBus("fake-notifications");
    QDBusConnection::disconnectFromBus("video-notify " + address);
    bus.kill();
    bus.waitForFinished();
}

TEST(VideoTaskBar, TheProgressShowsOnTheLauncherAndIsClearedAtTheEnd)
{
    testsupport::PrivateBus bus;
    if (!bus.start())
        GTEST_SKIP() << "dbus-daemon not installed";
    QDBusConnection listen = QDBusConnection::connectToBus(bus.address(), "launcher-listener");
    ASSERT_TRUE(listen.isConnected());
    LauncherListener listener;
    ASSERT_TRUE(listen.connect(QString(), QString(), "com.canonical.Unity.LauncherEntry", "Update",
                               &listener, SLOT(OnUpdate(QString, QVariantMap))));
    {
        FakeAppFolder app;
        ASSERT_TRUE(app.IsValid());
        ScriptedPrompts prompts;
        CvideoDlg::Options options = QuickDialogOptions(app, prompts);
        options.busAddress = bus.address();
        CvideoDlg dlg(options);
        // The first file moves its progress by quarters over a good second.
        ASSERT_TRUE(Touch(app.File("in/a.flv")) && Touch(app.File("in/slow-b.flv")));
        prompts.selections << QStringList{app.File("in/a.flv"), app.File("in/slow-b.flv")};
        qobject_cast<QPushButton *>(dlg.Control(1000))->click();
        qobject_cast<QPushButton *>(dlg.Control(1006))->click();
        ASSERT_TRUE(testsupport::waitFor([&] { return !dlg.Batch().IsBusy(); }));
        ASSERT_TRUE(testsupport::waitFor(
            [&] {
                return !listener.updates.isEmpty()
                       && !listener.updates.last().value("progress-visible").toBool();
            },
            10000));
    }
    QList<qint64> counts;
    bool sawPart = false;
    for (qsizetype i = 0; i < listener.updates.size(); ++i) {
        EXPECT_EQ(listener.uris[i], "application://net.zelmora.Vidrune.desktop");
        const QVariantMap &u = listener.updates[i];
        if (!u.value("progress-visible").toBool())
            continue;
        counts << u.value("count").toLongLong();
        EXPECT_TRUE(u.value("count-visible").toBool());
        const double progress = u.value("progress").toDouble();
        sawPart = sawPart || (progress > 0.1 && progress < 0.9 && counts.last() == 2);
    }
    EXPECT_TRUE(sawPart) << "the first file's progress as it goes";
    ASSERT_FALSE(counts.isEmpty());
    EXPECT_EQ(counts.first(), 2) << "two files to go at the start";
    EXPECT_EQ(counts.last(), 1) << "the last file alone";
    EXPECT_FALSE(listener.updates.last().value("count-visible").toBool());
    QDBusConnection::disconnectFromBus("launcher-listener");
    QDBusConnection::disconnectFromBus("vidrune-launcher " + bus.address());
}

TEST(VideoNotification, CarriesTheProgramsIconAndDesktopEntry)
{
    testsupport::PrivateBus bus;
    if (!bus.start())
        GTEST_SKIP() << "dbus-daemon not installed";
    {
        QDBusConnection server =
            QDBusConnection::connectToBus(bus.address(), "fake-notifications-2");
        ASSERT_TRUE(server.isConnected());
        FakeNotifications fake;
        ASSERT_TRUE(server.registerService(batch::DesktopNotifier::kService));
        ASSERT_TRUE(server.registerObject(batch::DesktopNotifier::kPath, &fake,
                                          QDBusConnection::ExportAllSlots));
        EXPECT_TRUE(NotifyDesktop("视频转换完成：1 个文件，0 个失败", bus.address()));
        ASSERT_TRUE(testsupport::waitFor([&] { return !fake.icons.isEmpty(); }, 5000));
        EXPECT_EQ(fake.icons, QStringList{"net.zelmora.Vidrune"}) << "the icon theme's name";
        const QVariantMap hints = fake.hints.value(0);
        EXPECT_EQ(hints.value("desktop-entry").toString(), "net.zelmora.Vidrune");
        ASSERT_TRUE(hints.contains("image-data"));
        const QDBusArgument picture = hints.value("image-data").value<QDBusArgument>();
        int width = 0, height = 0, stride = 0, bits = 0, channels = 0;
        bool alpha = false;
        QByteArray bytes;
        picture.beginStructure();
        picture >> width >> height >> stride >> alpha >> bits >> channels >> bytes;
        picture.endStructure();
        EXPECT_GE(width, 48);
        EXPECT_EQ(height, width);
        EXPECT_EQ(stride, width * 4);
        EXPECT_TRUE(alpha);
        EXPECT_EQ(bytes.size(), static_cast<qsizetype>(stride) * height);
        server.unregisterObject(batch::DesktopNotifier::kPath);
    }
    QDBusConnection::disconnectFromBus("fake-notifications-2");
    QDBusConnection::disconnectFromBus("video-notify " + bus.address());
}

#include "test_video_notify.moc"
