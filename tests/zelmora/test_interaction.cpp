// Drops, folder search, menus, hover pictures and the feedback window, under the offscreen
// platform.
#include "support/process.h"
#include "feedbackwindow/frmsuggest.h"
#include "skin/hotspot.h"
#include "zelmora/windowutil.h"

#include <QCoreApplication>
#include <QDropEvent>
#include <QFontMetrics>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QMouseEvent>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTreeView>
#include <QUrl>
#include <QUrlQuery>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace zm;
using testsupport::waitFor;
using zmtest::Harness;

namespace {

void drop(QWidget *target, QMimeData *data)
{
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &enter);
    QDropEvent ev(QPointF(5, 5), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &ev);
    EXPECT_TRUE(ev.isAccepted());
    EXPECT_EQ(ev.dropAction(), Qt::CopyAction);
}

QMimeData *files(const QStringList &paths)
{
    auto *m = new QMimeData;
    QList<QUrl> urls;
    for (const QString &p : paths)
        urls << QUrl::fromLocalFile(p);
    m->setUrls(urls);
    return m;
}

void move(QWidget *w)
{
    QMouseEvent e(QEvent::MouseMove, QPointF(2, 2), w->mapToGlobal(QPointF(2, 2)), Qt::NoButton, Qt::NoButton,
                  Qt::NoModifier);
    QCoreApplication::sendEvent(w, &e);
}

} // namespace

TEST(Drops, FilesFoldersAndOtherData)
{
    Harness h;
    h.open();
    frmMain &w = *h.window;
    struct Row {
        const char *name;
        QWidget *target;
    };
    QDir(h.app.path).mkpath(QStringLiteral("in/Folder.d/disc 10"));
    QDir(h.app.path).mkpath(QStringLiteral("in/Folder.d/disc 2"));
    const QString c = h.app.script(QStringLiteral("c.flv"), {}), ab = h.app.script(QStringLiteral("a b.avi"), {});
    const QString d10 = h.app.script(QStringLiteral("Folder.d/disc 10/t.mp4"), {});
    const QString d2 = h.app.script(QStringLiteral("Folder.d/disc 2/t.mp4"), {});
    const QString top = h.app.script(QStringLiteral("Folder.d/notes.txt"), {});
    const QString fifo = h.app.path + QStringLiteral("/in/pipe.flv");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const Row targets[] = {{"list", w.LV()->viewport()},
                           {"list header", w.LV()->header()->viewport()},
                           {"hint box", w.picText()},
                           {"hint label", w.lblText()}};
    for (const Row &t : targets) {
        w.menuRemoveAll_Click();
        // Text is not a file: nothing changes, the hint stays.
        std::unique_ptr<QMimeData> text(new QMimeData);
        text->setText(QStringLiteral("/v/a.flv"));
        drop(t.target, text.get());
        EXPECT_EQ(w.queue().count(), 0) << t.name;
        EXPECT_FALSE(w.picText()->isHidden()) << t.name;
        // Files in the source's order, a folder's files in natural order where it was dropped,
        // the same file twice; remote URLs, a FIFO and a missing file are no files.
        std::unique_ptr<QMimeData> m(files({c, ab, fifo, h.app.path + QStringLiteral("/in/Folder.d"),
                                            h.app.path + QStringLiteral("/in/gone.flv"), c}));
        QList<QUrl> urls = m->urls();
        urls.insert(1, QUrl(QStringLiteral("https://example.org/x.flv")));
        m->setUrls(urls);
        drop(t.target, m.get());
        EXPECT_EQ(w.queue().paths(), (QStringList{c, ab, top, d2, d10, c})) << t.name;
        EXPECT_EQ(w.LV()->model()->data(w.LV()->model()->index(2, 1)).toString(), QStringLiteral("TXT"));
        EXPECT_TRUE(w.picText()->isHidden()) << t.name;
    }
}

TEST(Drops, DuringABatchJoinTheQueue)
{
    Harness h;
    h.open();
    h.window->AddQueueEntry(
        h.app.script(QStringLiteral("first.flv"), {QStringLiteral("sleep 200"), QStringLiteral("output")}));
    const QString late = h.app.script(QStringLiteral("dropped.flv"), {QStringLiteral("output")});
    bool dropped = false;
    QObject::connect(&h.window->batch(), &BatchDriver::fileStarted, [&] {
        if (!dropped) {
            dropped = true;
            QTimer::singleShot(50, [&] {
                std::unique_ptr<QMimeData> m(files({late}));
                drop(h.window->LV()->viewport(), m.get());
            });
        }
    });
    ASSERT_TRUE(h.runBatch());
    const QStringList log = h.app.logLines();
    ASSERT_EQ(log.size(), 4);
    EXPECT_TRUE(log[2].contains(late));
    EXPECT_TRUE(QFile::exists(h.out(QStringLiteral("dropped.wma"))));
}

TEST(AddFolderCommand, SearchesAndRestoresTheHint)
{
    Harness h;
    h.open();
    frmMain &w = *h.window;
    const QString root = h.app.path + QStringLiteral("/tree");
    QDir().mkpath(root + QStringLiteral("/sub/empty"));
    for (const QString &f : {root + "/clip.flv", root + "/sub/x.avi"}) {
        QFile file(f);
        file.open(QIODevice::WriteOnly);
    }
    // Cancelled: nothing queued, drag-and-drop caption back.
    w.txtAction()->setText(QStringLiteral("menuAddaFolder"));
    EXPECT_EQ(w.queue().count(), 0);
    EXPECT_EQ(w.lblText()->text(), QStringLiteral("Drag & Drop Files Here"));
    EXPECT_FALSE(w.picText()->isHidden());
    EXPECT_EQ(h.files.titles.last(), QStringLiteral("Please select a folder:"));

    h.files.folderAnswers = QStringList{root, root, h.app.path + QStringLiteral("/tree/sub/empty")};
    w.imgToolbar_Click(6);
    EXPECT_EQ(w.queue().paths(), (QStringList{root + "/clip.flv", root + "/sub/x.avi"}));
    EXPECT_TRUE(w.picText()->isHidden());
    w.txtAction()->setText(QStringLiteral("menuAddaFolder")); // twice: queued twice
    EXPECT_EQ(w.queue().count(), 4);
    w.AddFolder(); // an empty folder adds nothing
    EXPECT_EQ(w.queue().count(), 4);
    EXPECT_EQ(w.lblText()->text(), QStringLiteral("Drag & Drop Files Here"));
    // Removing them one by one ends with the drag-and-drop hint.
    while (w.queue().count() > 0) {
        w.LV()->selectionModel()->select(w.LV()->model()->index(0, 0),
                                         QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        w.imgRemove_Click();
    }
    EXPECT_FALSE(w.picText()->isHidden());
    EXPECT_EQ(w.lblText()->text(), QStringLiteral("Drag & Drop Files Here"));
}

TEST(Menus, CaptionsAndPopups)
{
    Harness h;
    h.open();
    frmMain &w = *h.window;
    struct Row {
        int hotSpot;
        const char *title;
        QStringList captions;
    };
    const Row rows[] = {
        {0, "File", {"Add a File(&A)", "Add a Folder(&F)", "", "Exit(&E)"}},
        {1,
         "Options",
         {"Options(&O)", "Open Output Folder When Done", "Keep Folder Structure",
          "Move Originals to Trash After Converting", "When Outputs Exist", "Loudness", "Simultaneous Conversions"}},
        {2, "About", {"Help(&H)", "About(&A)"}},
    };
    QList<QMenu *> menus;
    w.runPopup = [&](QMenu &m, const QPoint &at) {
        menus << &m;
        h.popups << m.title();
        EXPECT_EQ(w.mapFromGlobal(at),
                  QPoint(w.imgMenu(menus.size() - 1)->x(), w.imgMenu(menus.size() - 1)->geometry().bottom() + 1));
    };
    for (const Row &r : rows) {
        QTest::mouseClick(w.imgMenu(r.hotSpot), Qt::LeftButton);
        ASSERT_EQ(menus.size(), r.hotSpot + 1);
        EXPECT_EQ(menus.last()->title(), QString::fromLatin1(r.title));
        QStringList captions;
        for (QAction *a : menus.last()->actions())
            captions << (a->isSeparator() ? QString() : a->text());
        EXPECT_EQ(captions, r.captions) << r.title;
    }
    // Choosing "Options(&O)" goes through the command word and opens the options window.
    menus[1]->actions().first()->trigger();
    EXPECT_EQ(h.dialogs, 1);
    EXPECT_TRUE(w.txtAction()->text().isEmpty());
    // "Exit(&E)" ends the program through the exit routine.
    bool exited = false;
    QObject::connect(&w, &frmMain::exitRequested, [&] { exited = true; });
    menus[0]->actions().last()->trigger();
    EXPECT_TRUE(exited);
    EXPECT_TRUE(QFile::exists(h.app.path + QStringLiteral("/setup.ini")));
}

TEST(Hover, PicturesFollowTheMouse)
{
    Harness h;
    h.open();
    frmMain &w = *h.window;
    w.show();
    move(w.imgToolbar(0));
    EXPECT_TRUE(w.imgToolbar(0)->hasPicture());
    move(w.imgToolbar(6));
    EXPECT_FALSE(w.imgToolbar(0)->hasPicture());
    EXPECT_TRUE(w.imgToolbar(6)->hasPicture());
    move(w.imgMenu(1));
    EXPECT_TRUE(w.imgMenu(1)->hasPicture());
    EXPECT_TRUE(w.imgToolbar(6)->hasPicture()) << "only the background resets other groups";
    // Pressing a toolbar button clears its highlight before the action.
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(3, 3), w.imgToolbar(6)->mapToGlobal(QPointF(3, 3)),
                      Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(w.imgToolbar(6), &press);
    EXPECT_FALSE(w.imgToolbar(6)->hasPicture());
    move(w.imgConvert());
    move(w.lblFeed());
    EXPECT_TRUE(w.imgConvert()->hasPicture());
    EXPECT_TRUE(w.lblFeed()->font().bold());
    EXPECT_LE(QFontMetrics(w.lblFeed()->font()).horizontalAdvance(w.lblFeed()->text()), w.lblFeed()->width())
        << "the bold caption shows whole";
    move(&w); // the background resets everything
    EXPECT_FALSE(w.imgConvert()->hasPicture());
    EXPECT_FALSE(w.imgMenu(1)->hasPicture());
    EXPECT_FALSE(w.lblFeed()->font().bold());
    EXPECT_LE(QFontMetrics(w.lblFeed()->font()).horizontalAdvance(w.lblFeed()->text()), w.lblFeed()->width());
    // Locked during a batch: no highlight.
    w.imgToolbar(2)->setEnabled(false);
    move(w.imgToolbar(2));
    EXPECT_FALSE(w.imgToolbar(2)->hasPicture());
    // Qt delivers the entering of a disabled widget too: locked hot spots still stay plain.
    for (HotSpot *locked : {w.imgToolbar(0), w.imgMenu(2), w.imgConvert()}) {
        locked->setEnabled(false);
        QEnterEvent enter(QPointF(2, 2), QPointF(2, 2), locked->mapToGlobal(QPointF(2, 2)));
        QCoreApplication::sendEvent(locked, &enter);
        EXPECT_FALSE(locked->hasPicture()) << locked->objectName().toStdString();
    }
}

TEST(Hover, LabelsAndHelp)
{
    Harness h;
    h.open();
    QTest::mouseClick(h.window->findChild<QLabel *>(QStringLiteral("lblWeb")), Qt::LeftButton);
    ASSERT_EQ(h.shell.opened.size(), 1);
    EXPECT_TRUE(h.shell.opened[0].endsWith(QLatin1Char('/')));
    QTest::mouseClick(h.window->lblFeed(), Qt::LeftButton);
    EXPECT_EQ(h.dialogs, 1);
    // The help page shipped beside the program is preferred to the web.
    QDir(h.app.path).mkpath(QStringLiteral("help"));
    QFile page(h.app.path + QStringLiteral("/help/tutorial.html"));
    ASSERT_TRUE(page.open(QIODevice::WriteOnly));
    page.close();
    h.window->imgToolbar_Click(3);
    EXPECT_EQ(h.shell.opened.last(), h.app.path + QStringLiteral("/help/tutorial.html"));
}

namespace {

// A one-shot HTTP server on 127.0.0.1 recording request lines.
struct LocalServer {
    QTcpServer server;
    QStringList requests;
    bool answer = true;
    QList<QTcpSocket *> held;
    LocalServer()
    {
        server.listen(QHostAddress::LocalHost);
        QObject::connect(&server, &QTcpServer::newConnection, [this] {
            while (QTcpSocket *s = server.nextPendingConnection()) {
                QObject::connect(s, &QTcpSocket::readyRead, s, [this, s] {
                    const QByteArray data = s->readAll();
                    requests << QString::fromLatin1(data.left(data.indexOf("\r\n")));
                    if (answer) {
                        s->write("HTTP/1.1 200 OK\r\nContent-Length: 2\r\nConnection: close\r\n\r\nok");
                        s->disconnectFromHost();
                    } else {
                        held << s; // never answers
                    }
                });
            }
        });
    }
    QString base() const { return QStringLiteral("http://127.0.0.1:%1").arg(server.serverPort()); }
};

} // namespace

TEST(FeedbackWindow, PromptsThenOneSend)
{
    LocalServer srv;
    frmSuggest s(srv.base());
    EXPECT_EQ(s.size(), QSize(326, 174));
    EXPECT_EQ(s.txtName()->maxLength(), 50);
    EXPECT_EQ(s.txtEMail()->maxLength(), 100);
    EXPECT_EQ(s.txtComment()->maxLength(), 256);
    EXPECT_TRUE(s.lblSending()->isHidden());
    struct Step {
        const char *name, *email, *comment, *prompt, *focus;
    };
    const Step steps[] = {{"", "", "", "Your Name?", "txtName"},
                          {"Ann", "", "", "Your Email?", "txtEMail"},
                          {"Ann", "x", "", "Comment?", "txtComment"}};
    for (const Step &st : steps) {
        s.txtName()->setText(QString::fromLatin1(st.name));
        s.txtEMail()->setText(QString::fromLatin1(st.email));
        s.txtComment()->setText(QString::fromLatin1(st.comment));
        s.imgSend_Click();
        EXPECT_EQ(s.lblSending()->text(), QString::fromLatin1(st.prompt));
        EXPECT_FALSE(s.lblSending()->isHidden());
        EXPECT_EQ(s.focusWidget() ? s.focusWidget()->objectName() : QString(), QString::fromLatin1(st.focus));
    }
    s.txtComment()->setText(QStringLiteral("hi"));
    s.imgSend_Click();
    EXPECT_EQ(s.lblSending()->text(), QStringLiteral("Sending..."));
    EXPECT_FALSE(s.imgSend()->isEnabled());
    ASSERT_TRUE(waitFor([&] { return s.lblSending()->text() == QLatin1String("Finished."); }));
    ASSERT_EQ(srv.requests.size(), 1);
    EXPECT_EQ(srv.requests[0], QStringLiteral("GET /suggest/post.php?name=Ann&age=x&comment=hi HTTP/1.1"));
    s.imgSend_Click(); // one send per opening
    // A request made after the click reaches the server after any the click made.
    QTcpSocket after;
    after.connectToHost(QHostAddress::LocalHost, srv.server.serverPort());
    ASSERT_TRUE(after.waitForConnected(5000));
    after.write("GET /after HTTP/1.1\r\n\r\n");
    ASSERT_TRUE(waitFor([&] { return srv.requests.size() >= 2; }));
    EXPECT_EQ(srv.requests, (QStringList{QStringLiteral("GET /suggest/post.php?name=Ann&age=x&comment=hi HTTP/1.1"),
                                         QStringLiteral("GET /after HTTP/1.1")}));
}

TEST(FeedbackWindow, TextArrivesIntact)
{
    LocalServer srv;
    frmSuggest s(srv.base());
    const QString comment = QString::fromUtf8("Tom & Jerry = 100% fun? \xc3\xa9t\xc3\xa9 \xe4\xb8\xad\xe6\x96\x87");
    s.txtName()->setText(QStringLiteral("Ann Lee"));
    s.txtEMail()->setText(QStringLiteral("ann+1@example.org"));
    s.txtComment()->setText(comment);
    s.imgSend_Click();
    ASSERT_TRUE(waitFor([&] { return !srv.requests.isEmpty(); }));
    const QString target = srv.requests[0].section(QLatin1Char(' '), 1, 1);
    const QUrl url(QStringLiteral("http://h") + target);
    EXPECT_EQ(url.path(), QStringLiteral("/suggest/post.php"));
    const auto items = QUrlQuery(url).queryItems(QUrl::FullyDecoded);
    ASSERT_EQ(items.size(), 3);
    EXPECT_EQ(items[0].first, QStringLiteral("name"));
    EXPECT_EQ(items[0].second, QStringLiteral("Ann Lee"));
    EXPECT_EQ(items[1].first, QStringLiteral("age"));
    EXPECT_EQ(items[1].second, QStringLiteral("ann+1@example.org"));
    EXPECT_EQ(items[2].first, QStringLiteral("comment"));
    EXPECT_EQ(items[2].second, comment);
}

TEST(FeedbackWindow, NoAnswerAndClosingWhileSending)
{
    LocalServer srv;
    srv.answer = false;
    {
        frmSuggest s(srv.base());
        s.txtName()->setText(QStringLiteral("a"));
        s.txtEMail()->setText(QStringLiteral("b"));
        s.txtComment()->setText(QStringLiteral("c"));
        s.imgSend_Click();
        ASSERT_TRUE(waitFor([&] { return !srv.requests.isEmpty(); }));
        QTest::qWait(100);
        EXPECT_EQ(s.lblSending()->text(), QStringLiteral("Sending..."));
        s.imgBack_Click(); // closes at once
    }                      // destroyed while the request is open
    QTest::qWait(50);

    // Nobody listening: the request fails at once, "Failed to send.", and Send works again.
    QTcpServer closed;
    closed.listen(QHostAddress::LocalHost);
    const quint16 port = closed.serverPort();
    closed.close();
    frmSuggest s(QStringLiteral("http://127.0.0.1:%1").arg(port));
    bool done = false;
    QObject::connect(&s, &frmSuggest::requestFinished, [&] { done = true; });
    s.txtName()->setText(QStringLiteral("a"));
    s.txtEMail()->setText(QStringLiteral("b"));
    s.txtComment()->setText(QStringLiteral("c"));
    s.imgSend_Click();
    ASSERT_TRUE(waitFor([&] { return done; }));
    EXPECT_EQ(s.lblSending()->text(), QStringLiteral("Failed to send."));
    EXPECT_TRUE(s.imgSend()->isEnabled());
}

TEST(FeedbackWindow, NoAnswerWithinFifteenSecondsFails)
{
    LocalServer srv;
    srv.answer = false; // takes the request and never answers
    frmSuggest s(srv.base());
    // The window waits 15 s; the test gives it a shorter time (the same timer, the same path).
    EXPECT_EQ(frmSuggest::kAnswerTimeoutMs, 15000);
    EXPECT_EQ(s.answerTimeoutMs(), frmSuggest::kAnswerTimeoutMs);
    s.setAnswerTimeoutMs(600);
    s.txtName()->setText(QStringLiteral("a"));
    s.txtEMail()->setText(QStringLiteral("b"));
    s.txtComment()->setText(QStringLiteral("c"));
    QElapsedTimer t;
    t.start();
    s.imgSend_Click();
    ASSERT_TRUE(waitFor([&] { return !srv.requests.isEmpty(); }));
    EXPECT_EQ(s.lblSending()->text(), QStringLiteral("Sending...")) << "still waiting for its answer";
    ASSERT_TRUE(waitFor([&] { return s.lblSending()->text() != QLatin1String("Sending..."); }, 60000));
    EXPECT_GE(t.elapsed(), 600 - 50);
    EXPECT_EQ(s.lblSending()->text(), QStringLiteral("Failed to send."));
    EXPECT_TRUE(s.imgSend()->isEnabled());
    // Send again: a second request goes out, and an answer this time finishes it.
    srv.answer = true;
    s.imgSend_Click();
    ASSERT_TRUE(waitFor([&] { return s.lblSending()->text() == QLatin1String("Finished."); }));
    EXPECT_EQ(srv.requests.size(), 2);
    EXPECT_FALSE(s.imgSend()->isEnabled());
}
