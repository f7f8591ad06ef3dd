// The desktop notification at the end of a batch: when it is sent, and what reaches a
// notification server on a private bus.
#include "ui/cvideodlg.h"
#include "ui/desktopnotifier.h"
#include "video/dialogtestutil.h"

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

public slots:
    uint Notify(const QString &app, uint, const QString &, const QString &summary, const QString &,
                const QStringList &, const QVariantMap &, int)
    {
        apps << app;
        summaries << summary;
        return static_cast<uint>(summaries.size());
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
    EXPECT_FALSE(DesktopNotifier("unix:path=/nonexistent/video-test-bus").Notify("x"))
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
        ASSERT_TRUE(server.registerService(DesktopNotifier::Service));
        ASSERT_TRUE(
            server.registerObject(DesktopNotifier::Path, &fake, QDBusConnection::ExportAllSlots));
        EXPECT_TRUE(DesktopNotifier(address).Notify("视频转换完成：3 个文件，0 个失败"));
        ASSERT_TRUE(testsupport::waitFor([&] { return !fake.summaries.isEmpty(); }, 5000));
        EXPECT_EQ(fake.summaries, QStringList{"视频转换完成：3 个文件，0 个失败"});
        EXPECT_EQ(fake.apps, QStringList{QCoreApplication::applicationName()});
        server.unregisterObject(DesktopNotifier::Path);
    }
    QDBusConnection::disconnectFromBus("fake-notifications");
    QDBusConnection::disconnectFromBus("video-notify " + address);
    bus.kill();
    bus.waitForFinished();
}

#include "test_video_notify.moc"
