// Following and understanding a batch through the window: the status strip, the converter
// logs, the failures window and the desktop notification.
#include "shell/frmfailures.h"
#include "skin/hotspot.h"
#include "zelmora/windowutil.h"

#include <QApplication>
#include <QClipboard>
#include <QDBusConnection>
#include <QDBusArgument>
#include <QDBusMessage>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QProcess>
#include <QRegularExpression>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QStandardPaths>
#include <QTest>
#include <gtest/gtest.h>

using namespace zm;
using zmtest::Harness;

namespace {

QString readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

QStringList logFiles(const QString &root)
{
    QStringList out;
    QDirIterator it(root, {QStringLiteral("*.log")}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        out << it.next();
    out.sort();
    return out;
}

} // namespace

TEST(StatusStrip, FollowsTheBatchAtMostOnceASecond)
{
    Harness h;
    h.open();
    QStringList script{QStringLiteral("err Duration: 00:00:30.00, start")};
    for (int t = 10; t <= 30; t += 10)
        script << QStringLiteral("raw time=%1.00 \\r").arg(t) << QStringLiteral("sleep 900");
    script << QStringLiteral("output");
    h.window->AddQueueEntry(h.app.script(QStringLiteral("a.flv"), script));
    h.window->AddQueueEntry(
        h.app.script(QStringLiteral("b.flv"), {QStringLiteral("sleep 1200"), QStringLiteral("output")}));
    QStringList texts;
    QList<qint64> at;
    QElapsedTimer clock;
    clock.start();
    QObject::connect(&h.window->batch(), &BatchDriver::statusChanged, [&](const QString &t) {
        texts << t;
        at << clock.elapsed();
        EXPECT_EQ(h.window->lblStatus()->text(), t);
    });
    ASSERT_TRUE(h.runBatch());
    ASSERT_GE(texts.size(), 3);
    EXPECT_EQ(texts.first(), QStringLiteral("Converting 1 of 2"));
    EXPECT_TRUE(texts.filter(QRegularExpression(QStringLiteral("^Converting 2 of 2"))).size() >= 1);
    // An estimate appears once two seconds have gone by (in the first or the second file).
    EXPECT_FALSE(
        texts.filter(QRegularExpression(QStringLiteral("^Converting [12] of 2 \u00b7 about \\d+:\\d\\d left$")))
            .isEmpty())
        << texts.join(QLatin1Char('|')).toStdString();
    EXPECT_TRUE(texts.last().startsWith(QStringLiteral("2 converted \u00b7 0:0"))) << texts.last().toStdString();
    // While the batch ran, two texts were never closer than a second (the last is the summary).
    for (qsizetype i = 1; i + 1 < at.size(); ++i)
        EXPECT_GE(at[i] - at[i - 1], 950) << i;
    // The strip sits between the product name and "Feedback".
    const QRect r = h.window->lblStatus()->geometry();
    EXPECT_GE(r.left(), 18 + 203);
    EXPECT_LE(r.right(), 628);
    EXPECT_EQ(r.top(), 477);
}

TEST(ConverterLogs, OnePerInputWithTheWholeOutput)
{
    Harness h;
    h.open();
    const QString ok =
        h.app.script(QStringLiteral("clip.flv"), {QStringLiteral("err Duration: 00:00:03.00, start"),
                                                  QStringLiteral("bytes 3000"), QStringLiteral("output")});
    QDir(h.app.path).mkpath(QStringLiteral("in/sub"));
    const QString bad = h.app.script(QStringLiteral("sub/clip.flv"),
                                     {QStringLiteral("err conv: no audio stream"), QStringLiteral("exit 1")});
    h.window->AddQueueEntry(ok);
    h.window->AddQueueEntry(bad);
    QString logFolder;
    h.onDialog = [&](QDialog &d) {
        auto *f = qobject_cast<frmFailures *>(&d);
        ASSERT_NE(f, nullptr);
        QTest::mouseClick(f->logButton(), Qt::LeftButton);
    };
    QObject::connect(&h.window->batch(), &BatchDriver::batchEnded,
                     [&](const BatchOutcome &o) { logFolder = o.logFolder; });
    ASSERT_TRUE(h.runBatch());
    const QStringList logs = logFiles(h.logsRoot());
    ASSERT_EQ(logs.size(), 2);
    EXPECT_EQ(QFileInfo(logs[0]).fileName(), QStringLiteral("clip.flv (2).log"));
    EXPECT_EQ(QFileInfo(logs[1]).fileName(), QStringLiteral("clip.flv.log"));
    EXPECT_EQ(QFileInfo(logs[0]).absolutePath(), logFolder);
    const QString first = readAll(logs[1]);
    EXPECT_TRUE(first.contains(QStringLiteral("Input: ") + ok));
    EXPECT_TRUE(first.contains(QStringLiteral("Duration: 00:00:03.00")));
    EXPECT_TRUE(first.contains(QStringLiteral("line000271"))) << "the whole output, not its last chunk";
    EXPECT_TRUE(first.contains(QStringLiteral("Result: converted")));
    const QString second = readAll(logs[0]);
    EXPECT_TRUE(second.contains(QStringLiteral("conv: no audio stream")));
    EXPECT_TRUE(second.contains(QStringLiteral("Result: failed: the converter ended with code 1")));
    // "Open Log Folder" opened this batch's folder.
    EXPECT_EQ(h.shell.opened.last(), logFolder);
}

TEST(FailuresWindow, FitsTheScreenScrollsAndCopies)
{
    QWidget owner;
    BatchOutcome outcome;
    for (int i = 0; i < 30; ++i)
        outcome.failures.append({QStringLiteral("/home/u/Videos/holiday/clip number %1.flv").arg(i),
                                 QStringLiteral("conv: input is not a media file FFmpeg can read")});
    QTemporaryDir logs;
    outcome.logFolder = logs.path();
    zmtest::RecordingShell shell;
    frmFailures w(outcome, &shell, &owner);
    w.show();
    QApplication::processEvents();
    const QRect screen = w.screen()->availableGeometry();
    EXPECT_TRUE(screen.contains(w.frameGeometry())) << "the whole window, buttons included, is on the screen";
    EXPECT_EQ(w.findChild<QLabel *>(QStringLiteral("heading"))->text(),
              QStringLiteral("30 files could not be converted:"));
    ASSERT_EQ(w.list()->count(), 30);
    EXPECT_TRUE(w.list()->verticalScrollBar()->isVisible()) << "the list scrolls";
    for (int i = 0; i < 30; ++i) {
        const QString text = w.list()->item(i)->text();
        EXPECT_EQ(text.count(QStringLiteral("clip number %1.flv").arg(i)), 1);
        EXPECT_EQ(text.count(QStringLiteral("FFmpeg can read")), 1);
    }
    QApplication::clipboard()->clear();
    QTest::mouseClick(w.copyButton(), Qt::LeftButton);
    EXPECT_EQ(QApplication::clipboard()->text(), failuresText(outcome.failures));
    QTest::mouseClick(w.logButton(), Qt::LeftButton);
    EXPECT_EQ(shell.opened, QStringList{logs.path()});

    // A few failures: a window no taller than it needs; no log folder: no button to open it.
    BatchOutcome few;
    few.failures.append({QStringLiteral("/a.flv"), QStringLiteral("x")});
    frmFailures small(few, &shell, &owner);
    EXPECT_LT(small.height(), w.height());
    EXPECT_FALSE(small.logButton()->isEnabled());
}

namespace {

// A private session bus with a stand-in notification service in this process.
struct NotificationServer : QObject {
    Q_OBJECT
public:
    QStringList calls;
    QList<QVariantList> arguments;
    uint nextId = 7;
public slots:
    uint Notify(const QString &app, uint, const QString &, const QString &summary, const QString &body,
                const QStringList &actions, const QVariantMap &, int)
    {
        calls << summary + QLatin1Char('|') + body;
        arguments << QVariantList{app, actions};
        return nextId;
    }
};

} // namespace

TEST(Notification, SentWhenTheWindowIsNotActiveAndOpensTheFolder)
{
    if (QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")).isEmpty())
        GTEST_SKIP() << "no dbus-daemon";
    QProcess daemon;
    daemon.start(QStringLiteral("dbus-daemon"),
                 {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--print-address")});
    ASSERT_TRUE(daemon.waitForReadyRead(10000));
    const QString address = QString::fromUtf8(daemon.readLine()).trimmed();
    QDBusConnection service = QDBusConnection::connectToBus(address, QStringLiteral("zm-service"));
    ASSERT_TRUE(service.isConnected());
    NotificationServer server;
    ASSERT_TRUE(service.registerObject(QStringLiteral("/org/freedesktop/Notifications"),
                                       QStringLiteral("org.freedesktop.Notifications"), &server,
                                       QDBusConnection::ExportAllSlots));
    ASSERT_TRUE(service.registerService(QStringLiteral("org.freedesktop.Notifications")));
    QDBusConnection client = QDBusConnection::connectToBus(address, QStringLiteral("zm-client"));

    Harness h;
    h.open();
    DesktopNotifier notifier(client);
    QObject::connect(&notifier, &DesktopNotifier::openFolderRequested, [&](const QString &f) { h.shell.opened << f; });
    ASSERT_TRUE(notifier.notify(QStringLiteral("Zelmora"), QStringLiteral("9 converted, 1 failed \u00b7 1:23"),
                                QStringLiteral("/music/out")));
    QElapsedTimer t;
    t.start();
    while (server.calls.isEmpty() && t.elapsed() < 10000)
        QTest::qWait(20);
    ASSERT_EQ(server.calls, QStringList{QStringLiteral("Zelmora|9 converted, 1 failed \u00b7 1:23")});
    EXPECT_EQ(server.arguments[0][1].toStringList(),
              (QStringList{QStringLiteral("open-folder"), QStringLiteral("Open Folder")}));
    QTest::qWait(100); // the id comes back
    QDBusMessage invoked =
        QDBusMessage::createSignal(QStringLiteral("/org/freedesktop/Notifications"),
                                   QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("ActionInvoked"));
    invoked << uint(7) << QStringLiteral("open-folder");
    service.send(invoked);
    t.restart();
    while (h.shell.opened.isEmpty() && t.elapsed() < 10000)
        QTest::qWait(20);
    EXPECT_EQ(h.shell.opened, QStringList{QStringLiteral("/music/out")});

    // The window sends its summary when a batch ends while it is not active, with the folder
    // its action opens; while it is active it sends nothing.
    server.calls.clear();
    h.window->setNotificationBus(client);
    h.window->AddQueueEntry(h.app.script(QStringLiteral("a.flv"), {QStringLiteral("output")}));
    ASSERT_FALSE(h.window->isActiveWindow());
    ASSERT_TRUE(h.runBatch());
    t.restart();
    while (server.calls.isEmpty() && t.elapsed() < 10000)
        QTest::qWait(20);
    ASSERT_EQ(server.calls.size(), 1);
    EXPECT_EQ(server.calls[0], QStringLiteral("Zelmora|") + h.window->lblStatus()->text());
    EXPECT_TRUE(server.calls[0].startsWith(QStringLiteral("Zelmora|1 converted \u00b7 0:0")));

    server.calls.clear();
    h.window->show();
    QApplication::setActiveWindow(h.window.get());
    if (QTest::qWaitForWindowActive(h.window.get(), 2000)) {
        h.window->AddQueueEntry(h.app.script(QStringLiteral("b.flv"), {QStringLiteral("output")}));
        ASSERT_TRUE(h.runBatch());
        // A call sent after the batch on the same connection arrives after any the window sent.
        DesktopNotifier after(client);
        ASSERT_TRUE(after.notify(QStringLiteral("after"), QStringLiteral("the batch"), QString()));
        t.restart();
        while (server.calls.isEmpty() && t.elapsed() < 10000)
            QTest::qWait(20);
        EXPECT_EQ(server.calls, QStringList{QStringLiteral("after|the batch")});
    }
    QDBusConnection::disconnectFromBus(QStringLiteral("zm-service"));
    QDBusConnection::disconnectFromBus(QStringLiteral("zm-client"));
    daemon.terminate();
    daemon.waitForFinished(5000);
}

TEST(Notification, NothingWithoutASessionBus)
{
    DesktopNotifier notifier(QDBusConnection(QStringLiteral("not connected")));
    EXPECT_FALSE(
        notifier.notify(QStringLiteral("Zelmora"), QStringLiteral("1 converted \u00b7 0:01"), QStringLiteral("/o")));
}

namespace {

// A private session bus (dbus-daemon of the test's own) with, in this process, a stand-in
// notification service and a listener of the launcher entries' signals.
struct PrivateBus : QObject {
    Q_OBJECT
public:
    struct Update {
        QString uri;
        QVariantMap properties;
    };
    QProcess daemon;
    QString address;
    QList<Update> updates;
    QStringList icons;
    QList<QVariantMap> hints;

    bool start()
    {
        daemon.start(QStringLiteral("dbus-daemon"),
                     {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--print-address")});
        if (!daemon.waitForReadyRead(10000))
            return false;
        address = QString::fromUtf8(daemon.readLine()).trimmed();
        QDBusConnection service = QDBusConnection::connectToBus(address, QStringLiteral("zm-bus-service"));
        return service.isConnected()
               && service.registerObject(QStringLiteral("/org/freedesktop/Notifications"),
                                         QStringLiteral("org.freedesktop.Notifications"), this,
                                         QDBusConnection::ExportAllSlots)
               && service.registerService(QStringLiteral("org.freedesktop.Notifications"))
               && service.connect(QString(), QString(), QStringLiteral("com.canonical.Unity.LauncherEntry"),
                                  QStringLiteral("Update"), this, SLOT(onUpdate(QString, QVariantMap)));
    }
    QDBusConnection client() const { return QDBusConnection::connectToBus(address, QStringLiteral("zm-bus-client")); }
    ~PrivateBus() override
    {
        QDBusConnection::disconnectFromBus(QStringLiteral("zm-bus-service"));
        QDBusConnection::disconnectFromBus(QStringLiteral("zm-bus-client"));
        daemon.terminate();
        daemon.waitForFinished(5000);
    }
public slots:
    void onUpdate(const QString &uri, const QVariantMap &properties) { updates.append({uri, properties}); }
    uint Notify(const QString &, uint, const QString &appIcon, const QString &, const QString &, const QStringList &,
                const QVariantMap &h, int)
    {
        icons << appIcon;
        hints << h;
        return 1;
    }
};

} // namespace

TEST(TaskBar, TheProgressShowsOnTheLauncherAndInTheTitle)
{
    if (QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")).isEmpty())
        GTEST_SKIP() << "no dbus-daemon";
    PrivateBus bus;
    ASSERT_TRUE(bus.start());
    Harness h;
    h.open();
    h.window->setNotificationBus(bus.client());
    QStringList titles;
    QObject::connect(h.window.get(), &QWidget::windowTitleChanged, [&](const QString &t) { titles << t; });
    // Two files; the first says 42% for a while.
    const QStringList script{QStringLiteral("err   Duration: 00:01:40.00, start: 0.000000"),
                             QStringLiteral("raw size=1kB time=42.00 bitrate=1\\r"), QStringLiteral("sleep 400"),
                             QStringLiteral("output")};
    h.window->AddQueueEntry(h.app.script(QStringLiteral("one.flv"), script));
    h.window->AddQueueEntry(h.app.script(QStringLiteral("two.flv"), {QStringLiteral("output")}));
    ASSERT_TRUE(h.runBatch());
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return !bus.updates.isEmpty() && !bus.updates.last().properties.value("progress-visible").toBool(); },
        10000));

    // The title: the percentage while converting, the name alone after.
    EXPECT_TRUE(titles.contains(QStringLiteral("42% \u2014 Zelmora"))) << titles.join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(h.window->windowTitle(), QStringLiteral("Zelmora"));
    for (const QString &t : titles)
        EXPECT_TRUE(t == QStringLiteral("Zelmora")
                    || QRegularExpression(QStringLiteral("^\\d{1,3}% \u2014 Zelmora$")).match(t).hasMatch())
            << t.toStdString();

    // The launcher: for the program's desktop entry, the progress and the files left while the
    // batch runs, nothing after.
    struct Seen {
        double progress;
        qint64 count;
    };
    QList<Seen> shown;
    for (const PrivateBus::Update &u : bus.updates) {
        EXPECT_EQ(u.uri, QStringLiteral("application://net.zelmora.Zelmora.desktop"));
        if (u.properties.value(QStringLiteral("progress-visible")).toBool())
            shown.append({u.properties.value(QStringLiteral("progress")).toDouble(),
                          u.properties.value(QStringLiteral("count")).toLongLong()});
    }
    ASSERT_FALSE(shown.isEmpty());
    EXPECT_EQ(shown.first().count, 2) << "two files to go at the start";
    EXPECT_TRUE(std::any_of(shown.begin(), shown.end(),
                            [](const Seen &s) { return std::abs(s.progress - 0.42) < 0.006 && s.count == 2; }));
    // Counted down as files leave the queue: 2, then 1 for the second file.
    EXPECT_TRUE(std::any_of(shown.begin(), shown.end(), [](const Seen &s) { return s.count == 1; }));
    EXPECT_TRUE(
        std::is_sorted(shown.begin(), shown.end(), [](const Seen &a, const Seen &b) { return a.count > b.count; }));
    const QVariantMap last = bus.updates.last().properties;
    EXPECT_EQ(last.value(QStringLiteral("progress-visible")), QVariant(false));
    EXPECT_EQ(last.value(QStringLiteral("count-visible")), QVariant(false));
    EXPECT_EQ(last.value(QStringLiteral("progress")).metaType(), QMetaType::fromType<double>());
    EXPECT_EQ(last.value(QStringLiteral("count")).metaType(), QMetaType::fromType<qlonglong>());
}

TEST(Notification, CarriesTheProgramsIconAndDesktopEntry)
{
    if (QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")).isEmpty())
        GTEST_SKIP() << "no dbus-daemon";
    PrivateBus bus;
    ASSERT_TRUE(bus.start());
    Harness h;
    h.open();
    // The window's own icon, in the sizes a window manager picks from.
    const QList<QSize> sizes = h.window->windowIcon().availableSizes();
    for (int size : {16, 32, 48, 256})
        EXPECT_TRUE(sizes.contains(QSize(size, size))) << size;

    h.window->setNotificationBus(bus.client());
    h.window->AddQueueEntry(h.app.script(QStringLiteral("a.flv"), {QStringLiteral("output")}));
    ASSERT_FALSE(h.window->isActiveWindow());
    ASSERT_TRUE(h.runBatch());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !bus.icons.isEmpty(); }, 10000));
    EXPECT_EQ(bus.icons, QStringList{QStringLiteral("net.zelmora.Zelmora")}) << "the icon theme's name";
    const QVariantMap hints = bus.hints.value(0);
    EXPECT_EQ(hints.value(QStringLiteral("desktop-entry")).toString(), QStringLiteral("net.zelmora.Zelmora"));
    ASSERT_TRUE(hints.contains(QStringLiteral("image-data"))) << "the picture, for a copy outside the icon theme";
    NotificationImage image;
    hints.value(QStringLiteral("image-data")).value<QDBusArgument>() >> image;
    EXPECT_GE(image.width, 48);
    EXPECT_EQ(image.height, image.width);
    EXPECT_EQ(image.rgba.size(), qsizetype(image.width) * image.height * 4);
    // Not an empty picture: some pixel is opaque.
    bool opaque = false;
    for (qsizetype i = 3; i < image.rgba.size() && !opaque; i += 4)
        opaque = quint8(image.rgba[i]) == 255;
    EXPECT_TRUE(opaque);
}

#include "test_follow.moc"
