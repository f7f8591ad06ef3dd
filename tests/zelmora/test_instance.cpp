// Starting zelmora: the command line, the requests a later start hands over, and the single
// instance between real processes (the program itself and a windowless stand-in that takes part
// in the lock and the socket the same way).
#include "support/files.h"
#include "support/process.h"
#include "launch/launcharguments.h"
#include "launch/launchrequest.h"
#include "instance/singleinstance.h"
#include "support/scopedenv.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLocalSocket>
#include <QLockFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QUrl>
#include <gtest/gtest.h>
#include <memory>
#include <sys/stat.h>

using namespace zm;
using testsupport::touch;

namespace zm {
// Requests in test failures read as text.
inline void PrintTo(const LaunchRequest &r, std::ostream *os)
{
    *os << "{token \"" << r.activationToken.toStdString() << "\", paths";
    for (const QString &p : r.paths)
        *os << " \"" << p.toStdString() << '"';
    *os << '}';
}
} // namespace zm

namespace {

// Names a file manager may hand over: blanks, quotes, letters beyond ASCII, a line break.
QStringList trickyNames(const QString &folder)
{
    return {folder + QStringLiteral("/a b  c.flv"), folder + QStringLiteral("/\"quoted\" and 'single'.mp4"),
            folder + QStringLiteral("/Ünïcödé 日本語 🎵.avi"), folder + QStringLiteral("/line\nbreak.wmv"),
            folder + QStringLiteral("/tab\tand\\backslash;$(x).mov")};
}

// One run of the windowless stand-in.
class Peer
{
public:
    Peer(const QString &folder, const QStringList &options, const QStringList &paths, const QString &token = QString())
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("ZM_PEER_TOKEN"), token);
        m_process.setProcessEnvironment(env);
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(QStringLiteral(INSTANCE_PEER_PATH), QStringList{folder} + options + paths);
    }
    ~Peer()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished();
        }
    }
    QList<QByteArray> lines()
    {
        m_out += m_process.readAllStandardOutput();
        QList<QByteArray> l = m_out.split('\n');
        l.removeLast(); // the part of a line still to come
        return l;
    }
    bool waitForLine(const QByteArray &line)
    {
        return testsupport::waitFor([&] { return lines().contains(line) || ended(); }, 30000) && lines().contains(line);
    }
    bool ended() { return m_process.state() == QProcess::NotRunning; }
    // Waits for the end and gives the exit code (-1: it did not end, or crashed).
    int finish()
    {
        if (!testsupport::waitFor([&] { return ended(); }, 30000))
            return -1;
        lines();
        return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
    }
    // The requests it printed: its own first when it was the first, then those it took.
    QList<LaunchRequest> requests()
    {
        QList<LaunchRequest> out;
        for (const QByteArray &l : lines()) {
            const QList<QByteArray> f = l.split(' ');
            if (f[0] == "own" || f[0] == "request")
                out.append({{}, QString::fromUtf8(QByteArray::fromHex(f.value(2)))});
            else if (f[0] == "path" && !out.isEmpty())
                out.last().paths << QString::fromUtf8(QByteArray::fromHex(f.value(1)));
        }
        return out;
    }
    QProcess &process() { return m_process; }

private:
    QProcess m_process;
    QByteArray m_out;
};

// What the stand-in's lock and socket are called (it names them as the program does, after
// its own folder and the displays and session of the environment it inherits from the test).
QString peerName()
{
    return SingleInstance::instanceName(QFileInfo(QStringLiteral(INSTANCE_PEER_PATH)).absolutePath());
}

// A runtime folder of the test's own.
struct Runtime {
    QTemporaryDir dir;
    QString path() const { return dir.path(); }
    QString socket() const { return dir.path() + QLatin1Char('/') + peerName() + QStringLiteral(".socket"); }
    QString lock() const { return dir.path() + QLatin1Char('/') + peerName() + QStringLiteral(".lock"); }
};

} // namespace

TEST(LaunchArguments, FilesFoldersAndOptions)
{
    QTemporaryDir dir;
    const QString d = dir.path();
    QDir(d).mkpath(QStringLiteral("Music/disc 1"));
    const QStringList names = trickyNames(d);
    for (const QString &n : names)
        ASSERT_TRUE(touch(n)) << n.toStdString();
    ASSERT_TRUE(touch(d + QStringLiteral("/-dash.flv")));
    const QString fifo = d + QStringLiteral("/pipe.flv");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const QString folder = d + QStringLiteral("/Music");
    struct Row {
        const char *name;
        QStringList args;
        batch::LaunchArguments::Action action;
        QStringList paths;
        QStringList messages;
    };
    const QList<Row> rows{
        {"nothing", {}, batch::LaunchArguments::Action::Run, {}, {}},
        {"files and a folder in the order given, blanks, quotes, letters and line breaks intact",
         {names[2], folder, names[0], names[3], names[1], names[4]},
         batch::LaunchArguments::Action::Run,
         {names[2], folder, names[0], names[3], names[1], names[4]},
         {}},
        {"relative names from the current folder, cleaned",
         {QStringLiteral("Music/../a b  c.flv"), QStringLiteral("./Music/disc 1/")},
         batch::LaunchArguments::Action::Run,
         {names[0], folder + QStringLiteral("/disc 1")},
         {}},
        {"a file address",
         {QUrl::fromLocalFile(names[2]).toString()},
         batch::LaunchArguments::Action::Run,
         {names[2]},
         {}},
        {"missing and a FIFO skipped with a word each",
         {QStringLiteral("gone.flv"), fifo, names[0]},
         batch::LaunchArguments::Action::Run,
         {names[0]},
         {QStringLiteral("zelmora: gone.flv: no such file or folder, skipped"),
          QStringLiteral("zelmora: ") + fifo + QStringLiteral(": not a regular file or a folder, skipped")}},
        {"after -- a name may start with a dash",
         {QStringLiteral("--"), QStringLiteral("-dash.flv"), QStringLiteral("--help")},
         batch::LaunchArguments::Action::Run,
         {d + QStringLiteral("/-dash.flv")},
         {QStringLiteral("zelmora: --help: no such file or folder, skipped")}},
        {"an unknown option",
         {QStringLiteral("--bogus"), names[0]},
         batch::LaunchArguments::Action::Error,
         {names[0]},
         {QStringLiteral("zelmora: unknown option --bogus")}},
        {"help wins",
         {QStringLiteral("--bogus"), QStringLiteral("--version"), QStringLiteral("-h")},
         batch::LaunchArguments::Action::Help,
         {},
         {QStringLiteral("zelmora: unknown option --bogus")}},
        {"version wins over an error",
         {QStringLiteral("--version"), QStringLiteral("-x")},
         batch::LaunchArguments::Action::Version,
         {},
         {QStringLiteral("zelmora: unknown option -x")}},
    };
    for (const Row &r : rows) {
        const batch::LaunchArguments a =
            batch::LaunchArguments::parse(launchRules(), QStringList{QStringLiteral("/usr/bin/zelmora")} + r.args, d);
        EXPECT_EQ(a.action, r.action) << r.name;
        EXPECT_EQ(a.paths, r.paths) << r.name;
        EXPECT_EQ(a.messages, r.messages) << r.name;
        EXPECT_EQ(a.program, QStringLiteral("zelmora")) << r.name;
    }
    EXPECT_TRUE(launchRules()
                    .usageText(QStringLiteral("zelmora"))
                    .startsWith(QStringLiteral("usage: zelmora [FILE|FOLDER...]\n")));
    EXPECT_TRUE(launchRules().versionText().startsWith(QStringLiteral("Zelmora ")));
}

TEST(LaunchRequest, ArrivesWholeHoweverItIsCut)
{
    const LaunchRequest request{trickyNames(QStringLiteral("/home/ann/Vidéos")), QStringLiteral("tok/en=1")};
    const QByteArray bytes = encodeLaunchRequest(request);
    // In one piece, a byte at a time, and cut at every place into two pieces.
    for (int cut = 0; cut <= bytes.size(); ++cut) {
        LaunchRequestDecoder d;
        EXPECT_EQ(d.feed(bytes.left(cut)),
                  cut == bytes.size() ? LaunchRequestDecoder::State::Complete : LaunchRequestDecoder::State::Incomplete)
            << cut;
        d.feed(bytes.mid(cut));
        ASSERT_EQ(d.state(), LaunchRequestDecoder::State::Complete) << cut;
        EXPECT_EQ(d.request(), request) << cut;
    }
    LaunchRequestDecoder single;
    for (char c : bytes)
        single.feed(QByteArray(1, c));
    EXPECT_EQ(single.request(), request);
    // Only bringing the window up: no paths, no token.
    LaunchRequestDecoder raise;
    EXPECT_EQ(raise.feed(encodeLaunchRequest({})), LaunchRequestDecoder::State::Complete);
    EXPECT_EQ(raise.request(), LaunchRequest{});
    // What cannot travel is left out rather than sent broken.
    LaunchRequestDecoder bad;
    bad.feed(encodeLaunchRequest(
        {{QStringLiteral("relative.flv"), QStringLiteral("/a\u0000b"), QStringLiteral("/ok")}, {}}));
    EXPECT_EQ(bad.request().paths, QStringList{QStringLiteral("/ok")});
}

TEST(LaunchRequest, WhatIsNoRequestIsRefused)
{
    const QByteArray magic = QByteArray(kLaunchMagic) + '\0';
    struct Row {
        const char *name;
        QByteArray bytes;
        LaunchRequestDecoder::State state;
    };
    const QList<Row> rows{
        {"another program's words", QByteArray("GET / HTTP/1.0\r\n\r\n") + '\0', LaunchRequestDecoder::State::Invalid},
        {"an older or newer protocol", QByteArray("zelmora-open/2") + '\0', LaunchRequestDecoder::State::Invalid},
        {"a relative path", magic + "clip.flv" + '\0' + '\0', LaunchRequestDecoder::State::Invalid},
        {"not UTF-8", magic + "/v/\xff\xfe.flv" + '\0' + '\0', LaunchRequestDecoder::State::Invalid},
        {"more after the end", magic + '\0' + "/x" + '\0', LaunchRequestDecoder::State::Invalid},
        {"a record longer than any path", magic + '/' + QByteArray(LaunchRequestDecoder::kMaxRecord, 'a'),
         LaunchRequestDecoder::State::Invalid},
        {"the longest path there can be", magic + '/' + QByteArray(4095, 'a') + '\0' + '\0',
         LaunchRequestDecoder::State::Complete},
        {"cut short", magic + "/v/a.flv", LaunchRequestDecoder::State::Incomplete},
    };
    for (const Row &r : rows) {
        LaunchRequestDecoder d;
        EXPECT_EQ(d.feed(r.bytes), r.state) << r.name;
        if (r.state == LaunchRequestDecoder::State::Invalid) {
            EXPECT_FALSE(d.error().isEmpty()) << r.name;
            EXPECT_EQ(d.feed(encodeLaunchRequest({})), LaunchRequestDecoder::State::Invalid)
                << r.name << ": stays refused";
        }
    }
    // A message as long as a request may be is read; one byte more is not.
    LaunchRequestDecoder big;
    big.feed(magic);
    const QByteArray record = '/' + QByteArray(4094, 'p') + '\0';
    qsizetype sent = magic.size();
    while (sent + record.size() <= LaunchRequestDecoder::kMaxMessage - 1) {
        ASSERT_EQ(big.feed(record), LaunchRequestDecoder::State::Incomplete);
        sent += record.size();
    }
    EXPECT_EQ(big.feed(QByteArray(LaunchRequestDecoder::kMaxMessage - sent + 1, '\0')),
              LaunchRequestDecoder::State::Invalid);
}

TEST(SingleInstance, ALaterStartHandsItsFilesToTheFirst)
{
    Runtime run;
    QTemporaryDir files;
    Peer first(run.path(), {QStringLiteral("--serve"), QStringLiteral("2")}, {});
    ASSERT_TRUE(first.waitForLine("first"));
    const QStringList names = trickyNames(files.path());
    Peer second(run.path(), {}, names, QStringLiteral("activation-42"));
    EXPECT_EQ(second.finish(), 0);
    EXPECT_EQ(second.lines(), QList<QByteArray>{"handed-over"});
    // Without files: only the window comes up.
    Peer third(run.path(), {}, {});
    EXPECT_EQ(third.finish(), 0);
    EXPECT_EQ(first.finish(), 0);
    const QList<LaunchRequest> seen = first.requests();
    ASSERT_EQ(seen.size(), 3);
    EXPECT_EQ(seen[1], (LaunchRequest{names, QStringLiteral("activation-42")}));
    EXPECT_EQ(seen[2], LaunchRequest{});
    // The socket is the user's alone.
    EXPECT_FALSE(QFileInfo::exists(run.socket())) << "the socket goes with the first";
}

TEST(SingleInstance, WhatACrashLeftIsReplaced)
{
    // A first start killed outright leaves its lock and its socket behind.
    Runtime run;
    {
        Peer crashed(run.path(), {QStringLiteral("--serve"), QStringLiteral("1")}, {});
        ASSERT_TRUE(crashed.waitForLine("first"));
        crashed.process().kill();
        crashed.process().waitForFinished();
    }
    ASSERT_TRUE(QFileInfo::exists(run.lock()));
    ASSERT_TRUE(QFileInfo::exists(run.socket()));
    QLocalSocket probe;
    probe.connectToServer(run.socket());
    EXPECT_FALSE(probe.waitForConnected(1000)) << "nobody answers on what was left";

    Peer next(run.path(), {QStringLiteral("--serve"), QStringLiteral("1")}, {QStringLiteral("/v/own.flv")});
    ASSERT_TRUE(next.waitForLine("first"));
    Peer later(run.path(), {}, {QStringLiteral("/v/later.flv")});
    EXPECT_EQ(later.finish(), 0);
    EXPECT_EQ(next.finish(), 0);
    const QList<LaunchRequest> seen = next.requests();
    ASSERT_EQ(seen.size(), 2);
    EXPECT_EQ(seen[0].paths, QStringList{QStringLiteral("/v/own.flv")});
    EXPECT_EQ(seen[1].paths, QStringList{QStringLiteral("/v/later.flv")});

    // A plain file where the socket belongs is no obstacle either.
    Runtime junk;
    ASSERT_TRUE(touch(junk.socket()));
    Peer first(junk.path(), {}, {});
    EXPECT_EQ(first.finish(), 0);
    EXPECT_TRUE(first.lines().value(0) == "first") << first.lines().value(0).toStdString();
}

TEST(SingleInstance, StrangersOnTheSocketAreDropped)
{
    Runtime run;
    Peer first(run.path(), {QStringLiteral("--serve"), QStringLiteral("1")}, {});
    ASSERT_TRUE(first.waitForLine("first"));
    struct Row {
        const char *name;
        QByteArray bytes;
    };
    const QList<Row> rows{
        {"garbage", QByteArray("\x01\x02 hello\0there", 13)},
        {"a relative path", QByteArray(kLaunchMagic) + '\0' + "clip.flv" + '\0'},
    };
    for (const Row &r : rows) {
        QLocalSocket s;
        s.connectToServer(run.socket());
        ASSERT_TRUE(s.waitForConnected(5000)) << r.name;
        s.write(r.bytes);
        s.waitForBytesWritten(5000);
        EXPECT_TRUE(s.state() == QLocalSocket::UnconnectedState || s.waitForDisconnected(10000)) << r.name;
        EXPECT_TRUE(s.readAll().isEmpty()) << r.name << ": no answer";
    }
    // A peer that says nothing at all does not hold up the next one.
    QLocalSocket silent;
    silent.connectToServer(run.socket());
    ASSERT_TRUE(silent.waitForConnected(5000));
    Peer real(run.path(), {}, {QStringLiteral("/v/a.flv")});
    EXPECT_EQ(real.finish(), 0);
    EXPECT_EQ(first.finish(), 0);
    ASSERT_EQ(first.requests().size(), 2);
    EXPECT_EQ(first.requests()[1].paths, QStringList{QStringLiteral("/v/a.flv")});
}

TEST(SingleInstance, AStartWhileTheFirstClosesBecomesTheFirst)
{
    // The first answers "busy" (its window is closing) and ends: the later start does not give
    // up or lose its files, it takes the lock once it is free and opens with them itself.
    Runtime run;
    Peer closing(run.path(), {QStringLiteral("--refuse")}, {});
    ASSERT_TRUE(closing.waitForLine("first"));
    Peer later(run.path(), {QStringLiteral("--serve"), QStringLiteral("0")}, {QStringLiteral("/v/keep.flv")});
    EXPECT_EQ(later.finish(), 0);
    EXPECT_EQ(closing.finish(), 0);
    EXPECT_TRUE(closing.lines().contains("refused"));
    EXPECT_EQ(later.lines().value(0), QByteArray("first"));
    ASSERT_EQ(later.requests().size(), 1);
    EXPECT_EQ(later.requests()[0].paths, QStringList{QStringLiteral("/v/keep.flv")});
}

TEST(SingleInstance, ManyStartsAtOnceMeetInOne)
{
    Runtime run;
    constexpr int kStarts = 4;
    std::vector<std::unique_ptr<Peer>> peers;
    peers.reserve(kStarts);
    for (int i = 0; i < kStarts; ++i)
        peers.push_back(std::make_unique<Peer>(run.path(),
                                               QStringList{QStringLiteral("--serve"), QString::number(kStarts - 1)},
                                               QStringList{QStringLiteral("/v/%1.flv").arg(i)}));
    int firsts = 0;
    QStringList arrived;
    for (auto &p : peers) {
        EXPECT_EQ(p->finish(), 0);
        if (p->lines().value(0) == "first") {
            ++firsts;
            for (const LaunchRequest &r : p->requests())
                arrived << r.paths;
        } else {
            EXPECT_EQ(p->lines(), QList<QByteArray>{"handed-over"});
        }
    }
    EXPECT_EQ(firsts, 1);
    arrived.sort();
    EXPECT_EQ(arrived, (QStringList{"/v/0.flv", "/v/1.flv", "/v/2.flv", "/v/3.flv"}));
}

TEST(SingleInstance, OneInstancePerDisplaySessionAndCopy)
{
    // What a start belongs to, against a first start on X display :311 (screen 0), Wayland
    // display wayland-1 and login session 3, of the program in /opt/zelmora.
    struct Env {
        const char *display, *wayland, *session, *runtime;
    };
    const Env first{":311", "wayland-1", "3", "/run/user/1000"};
    struct Row {
        const char *name;
        Env env;
        const char *appDir;
        bool same;
    };
    const QList<Row> rows{
        {"the same start again", first, "/opt/zelmora", true},
        {"the display written with its screen", {":311.0", "wayland-1", "3", "/run/user/1000"}, "/opt/zelmora", true},
        {"the display through the local socket",
         {"unix:311", "wayland-1", "3", "/run/user/1000"},
         "/opt/zelmora",
         true},
        {"the Wayland display as a path",
         {":311", "/run/user/1000/wayland-1", "3", "/run/user/1000"},
         "/opt/zelmora",
         true},
        {"the program's folder written another way", first, "/opt/./zelmora/", true},
        {"another X display", {":312", "wayland-1", "3", "/run/user/1000"}, "/opt/zelmora", false},
        {"another screen of the display", {":311.1", "wayland-1", "3", "/run/user/1000"}, "/opt/zelmora", false},
        {"a display of another host", {"remote:311", "wayland-1", "3", "/run/user/1000"}, "/opt/zelmora", false},
        {"another Wayland display", {":311", "wayland-2", "3", "/run/user/1000"}, "/opt/zelmora", false},
        {"no Wayland display", {":311", "", "3", "/run/user/1000"}, "/opt/zelmora", false},
        {"another login session", {":311", "wayland-1", "4", "/run/user/1000"}, "/opt/zelmora", false},
        {"a copy in another folder", first, "/home/ann/zelmora", false},
    };
    auto nameIn = [](const Env &e, const char *appDir) {
        testsupport::ScopedEnv env;
        for (auto [variable, value] :
             {std::pair{"DISPLAY", e.display}, std::pair{"WAYLAND_DISPLAY", e.wayland},
              std::pair{"XDG_SESSION_ID", e.session}, std::pair{"XDG_RUNTIME_DIR", e.runtime}}) {
            if (*value)
                env.set(variable, QString::fromUtf8(value));
            else
                env.unset(variable);
        }
        return SingleInstance::instanceName(QString::fromUtf8(appDir));
    };
    const QString firstName = nameIn(first, "/opt/zelmora");
    EXPECT_TRUE(firstName.startsWith(QStringLiteral("zelmora-"))) << firstName.toStdString();
    EXPECT_LE(firstName.size(), 40) << "a socket path has little room";
    for (const Row &r : rows)
        EXPECT_EQ(nameIn(r.env, r.appDir) == firstName, r.same) << r.name;
}

TEST(SingleInstance, NobodyAnsweringEndsTheStart)
{
    // The lock is held by a process that never listens: the start gives up after its time.
    Runtime run;
    QLockFile held(run.lock());
    ASSERT_TRUE(held.tryLock(0));
    Peer start(run.path(), {QStringLiteral("--timeout"), QStringLiteral("300")}, {QStringLiteral("/v/a.flv")});
    EXPECT_EQ(start.finish(), 1);
    EXPECT_EQ(start.lines(), QList<QByteArray>{"no-answer"});
}

namespace {

// The program itself, with the folders it writes to in a temporary place.
QProcessEnvironment programEnvironment(const QString &root)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), root + QStringLiteral("/run"));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), root + QStringLiteral("/config"));
    env.insert(QStringLiteral("XDG_STATE_HOME"), root + QStringLiteral("/state"));
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("unix:path=/nonexistent"));
    return env;
}

// The sockets the windows listen on in a runtime folder: one per window.
QStringList socketNamesIn(const QString &folder)
{
    return QDir(folder).entryList({QStringLiteral("zelmora-*.socket")}, QDir::System);
}

int socketsIn(const QString &folder)
{
    return int(socketNamesIn(folder).size());
}

struct Ran {
    int code;
    QString out, err;
};

Ran runProgram(const QStringList &args, const QProcessEnvironment &env)
{
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(ZELMORA_PATH), args);
    if (!p.waitForFinished(30000)) {
        p.kill();
        p.waitForFinished();
        return {-1, {}, {}};
    }
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
            QString::fromLocal8Bit(p.readAllStandardOutput()), QString::fromLocal8Bit(p.readAllStandardError())};
}

} // namespace

TEST(ZelmoraProgram, AnswersItsCommandLine)
{
    // --help and --version need no display: with none to be had, they are answered all the same.
    QProcessEnvironment headless = QProcessEnvironment::systemEnvironment();
    headless.remove(QStringLiteral("DISPLAY"));
    headless.remove(QStringLiteral("WAYLAND_DISPLAY"));
    headless.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    struct Row {
        QStringList args;
        QProcessEnvironment env;
        int code;
        QString out, err;
    };
    QTemporaryDir dir;
    const QList<Row> rows{
        {{QStringLiteral("--help")}, headless, 0, QStringLiteral("usage: zelmora [FILE|FOLDER...]\n"), {}},
        {{QStringLiteral("--version"), QStringLiteral("--bogus")}, headless, 0, QStringLiteral("Zelmora "), {}},
        {{QStringLiteral("--bogus")},
         programEnvironment(dir.path()),
         2,
         {},
         QStringLiteral("zelmora: unknown option --bogus\nusage: zelmora [FILE|FOLDER...]\n")},
    };
    for (const Row &r : rows) {
        const Ran ran = runProgram(r.args, r.env);
        EXPECT_EQ(ran.code, r.code) << r.args.join(' ').toStdString() << ": " << ran.err.toStdString();
        EXPECT_TRUE(ran.out.startsWith(r.out)) << ran.out.toStdString();
        EXPECT_TRUE(ran.err.contains(r.err)) << ran.err.toStdString();
    }
}

TEST(ZelmoraProgram, ALaterStartHandsOverAndEnds)
{
    QTemporaryDir dir;
    QDir(dir.path()).mkpath(QStringLiteral("run"));
    ::chmod(QFile::encodeName(dir.path() + QStringLiteral("/run")).constData(), 0700);
    const QProcessEnvironment env = programEnvironment(dir.path());
    const QString run = dir.path() + QStringLiteral("/run");
    const QString clip = dir.path() + QStringLiteral("/a clip.flv");
    ASSERT_TRUE(touch(clip));

    QProcess window;
    window.setProcessEnvironment(env);
    window.setProcessChannelMode(QProcess::ForwardedChannels);
    window.start(QStringLiteral(ZELMORA_PATH), {});
    ASSERT_TRUE(
        testsupport::waitFor([&] { return socketsIn(run) == 1 || window.state() == QProcess::NotRunning; }, 30000));
    ASSERT_EQ(window.state(), QProcess::Running);
    const QList<QStringList> later{{clip}, {}, {dir.path() + QStringLiteral("/gone.flv")}};
    for (const QStringList &args : later) {
        const Ran ran = runProgram(args, env);
        EXPECT_EQ(ran.code, 0) << args.join(' ').toStdString() << ": " << ran.err.toStdString();
    }
    EXPECT_TRUE(runProgram({dir.path() + QStringLiteral("/gone.flv")}, env)
                    .err.contains(QStringLiteral("gone.flv: no such file or folder, skipped")));
    EXPECT_EQ(window.state(), QProcess::Running) << "the window stays, alone";
    EXPECT_EQ(socketsIn(run), 1);

    window.terminate();
    window.waitForFinished();
}

TEST(ZelmoraProgram, ASecondStartOnAnotherDisplayOpensItsOwnWindow)
{
    QTemporaryDir dir;
    const QString run = dir.path() + QStringLiteral("/run");
    QDir(dir.path()).mkpath(QStringLiteral("run"));
    ::chmod(QFile::encodeName(run).constData(), 0700);
    const QString clip = dir.path() + QStringLiteral("/a clip.flv");
    ASSERT_TRUE(touch(clip));
    // A portable copy of the program in a folder of its own, beside the one in the build tree.
    QDir(dir.path()).mkpath(QStringLiteral("portable"));
    const QString copy = dir.path() + QStringLiteral("/portable/zelmora");
    ASSERT_TRUE(QFile::copy(QStringLiteral(ZELMORA_PATH), copy));
    ASSERT_TRUE(QFile::setPermissions(copy, QFile::permissions(copy) | QFile::ExeOwner));

    // The first window, on X display :311 of login session 3 (the offscreen platform shows
    // nothing; the environment says where the window would be).
    QProcessEnvironment env = programEnvironment(dir.path());
    env.insert(QStringLiteral("DISPLAY"), QStringLiteral(":311"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.insert(QStringLiteral("XDG_SESSION_ID"), QStringLiteral("3"));
    QProcess window;
    window.setProcessEnvironment(env);
    window.setProcessChannelMode(QProcess::ForwardedChannels);
    window.start(QStringLiteral(ZELMORA_PATH), {});
    ASSERT_TRUE(
        testsupport::waitFor([&] { return socketsIn(run) == 1 || window.state() == QProcess::NotRunning; }, 30000));
    ASSERT_EQ(window.state(), QProcess::Running);

    struct Row {
        const char *name;
        QString program;
        const char *variable, *value;
        bool ownWindow;
    };
    const QList<Row> rows{
        {"the same display", QStringLiteral(ZELMORA_PATH), "DISPLAY", ":311", false},
        {"the same display, written another way", QStringLiteral(ZELMORA_PATH), "DISPLAY", "unix:311.0", false},
        {"another display", QStringLiteral(ZELMORA_PATH), "DISPLAY", ":312", true},
        {"another login session", QStringLiteral(ZELMORA_PATH), "XDG_SESSION_ID", "4", true},
        {"a copy in another folder", copy, "DISPLAY", ":311", true},
    };
    const QStringList firstSocket = socketNamesIn(run);
    for (const Row &r : rows) {
        QProcessEnvironment later = env;
        later.insert(QString::fromLatin1(r.variable), QString::fromLatin1(r.value));
        QProcess start;
        start.setProcessEnvironment(later);
        start.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        start.start(r.program, {clip});
        if (!r.ownWindow) {
            EXPECT_TRUE(start.waitForFinished(30000)) << r.name;
            EXPECT_EQ(start.exitStatus() == QProcess::NormalExit ? start.exitCode() : -1, 0)
                << r.name << ": handed its file to the window";
            EXPECT_EQ(socketNamesIn(run), firstSocket) << r.name;
            continue;
        }
        EXPECT_TRUE(
            testsupport::waitFor([&] { return socketsIn(run) == 2 || start.state() == QProcess::NotRunning; }, 30000))
            << r.name;
        EXPECT_EQ(start.state(), QProcess::Running) << r.name << ": a window of its own";
        QStringList own = socketNamesIn(run);
        own.removeAll(firstSocket.value(0));
        EXPECT_EQ(own.size(), 1) << r.name << ": with a socket that later starts of its own find";
        start.terminate();
        start.waitForFinished(30000);
        // Ended by the signal, it leaves its socket behind (a later start there replaces it).
        for (const QString &name : own)
            QFile::remove(run + QLatin1Char('/') + name);
    }
    EXPECT_EQ(window.state(), QProcess::Running) << "the first window stays";
    window.terminate();
    window.waitForFinished();
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
