// zelmora-cli: its options over the saved settings (headless), and the program itself against
// the fake converter: exit codes, what it prints on a pipe, in JSON and on a terminal, and a
// stop by signal.
#include "cli/convertoptions.h"
#include "engine/commandline.h"
#include "settings/settingsfiles.h"
#include "support/files.h"
#include "support/process.h"
#include "zelmora/testutil.h"

#include <QCoreApplication>
#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <csignal>
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace zm;
using namespace zm::cli;
using testsupport::readFile;
using testsupport::waitFor;

namespace {

SavedChoices savedMp3()
{
    SavedChoices s;
    s.selections.formatIndex = 0;
    s.selections.bitrate = QStringLiteral("128");
    s.selections.sampleRate = QStringLiteral("44100");
    s.selections.channelIndex = 1;
    s.selections.outputDir = QStringLiteral("/saved/out");
    s.settings.gCutterOn = 1;
    s.settings.gCutFrom = 5;
    s.settings.gCutTo = 10;
    return s;
}

// A portable copy of zelmora-cli in a temporary folder, with the fake converter as data/conv.
struct CliApp {
    zmtest::FakeApp app;
    QString cli;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    CliApp()
    {
        cli = app.path + QStringLiteral("/zelmora-cli");
        QFile::copy(QStringLiteral(ZELMORA_CLI_PATH), cli);
        env.insert(QStringLiteral("FAKECONV_LOG"), app.log());
        env.insert(QStringLiteral("XDG_STATE_HOME"), app.path + QStringLiteral("/state"));
    }
    QString out(const QString &name) const { return app.path + QStringLiteral("/output/") + name; }
    testsupport::RunResult run(const QStringList &args) const
    {
        return testsupport::run(cli, args, 60000, env, app.path);
    }
};

QList<QJsonObject> jsonLines(const QByteArray &out)
{
    QList<QJsonObject> events;
    for (const QByteArray &line : out.split('\n')) {
        if (line.isEmpty())
            continue;
        QJsonParseError error{};
        const QJsonDocument doc = QJsonDocument::fromJson(line, &error);
        EXPECT_EQ(error.error, QJsonParseError::NoError) << line.toStdString();
        events << doc.object();
    }
    return events;
}

// The events in order; progress events in a row count as one (how many there are depends on
// how the converter's lines arrive).
QStringList eventNames(const QList<QJsonObject> &events)
{
    QStringList names;
    for (const QJsonObject &e : events) {
        const QString name = e.value(QStringLiteral("event")).toString();
        if (name != QLatin1String("progress") || names.isEmpty() || names.last() != name)
            names << name;
    }
    return names;
}

// The events without the progress ones.
QList<QJsonObject> withoutProgress(const QList<QJsonObject> &events)
{
    QList<QJsonObject> out;
    for (const QJsonObject &e : events)
        if (e.value(QStringLiteral("event")) != QStringLiteral("progress"))
            out << e;
    return out;
}

} // namespace

TEST(CliOptions, EveryChoiceOverTheSavedOnes)
{
    struct Row {
        const char *name;
        QStringList args;
        int format;
        QString bitrate, rate;
        int channel;
        QString outputDir;
        qint16 cutterOn;
        qint32 from, to;
        int jobs;
        bool json;
        QStringList inputs;
        int notes;
    };
    const QString here = QDir::currentPath();
    const Row rows[] = {
        {"nothing but a file: the saved choices",
         {"a.flv"},
         0,
         "128",
         "44100",
         1,
         "/saved/out",
         1,
         5,
         10,
         4,
         false,
         {"a.flv"},
         0},
        {"long options",
         {"--format", "OPUS", "--bitrate", "320k", "--rate", "8000", "--channels", "mono", "--output-folder", "/o",
          "--jobs", "2", "--json", "a", "b"},
         9,
         "320",
         "8000",
         0,
         "/o",
         1,
         5,
         10,
         2,
         true,
         {"a", "b"},
         1},
        {"short options, values attached",
         {"-fwav", "-b", "64", "-r48000", "-c", "2", "-o", "rel/dir", "-j1", "x"},
         3,
         "64",
         "48000",
         1,
         here + "/rel/dir",
         1,
         5,
         10,
         1,
         false,
         {"x"},
         1},
        {"the cutter",
         {"--from", "1:30", "--to=0:02:00", "x"},
         0,
         "128",
         "44100",
         1,
         "/saved/out",
         1,
         90,
         120,
         4,
         false,
         {"x"},
         0},
        {"a length alone cuts from the start",
         {"--to", "45", "x"},
         0,
         "128",
         "44100",
         1,
         "/saved/out",
         1,
         0,
         45,
         4,
         false,
         {"x"},
         0},
        {"no cut", {"--no-cut", "x"}, 0, "128", "44100", 1, "/saved/out", 0, 5, 10, 4, false, {"x"}, 0},
        {"after -- everything is a file",
         {"--", "-f", "--json"},
         0,
         "128",
         "44100",
         1,
         "/saved/out",
         1,
         5,
         10,
         4,
         false,
         {"-f", "--json"},
         0},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.name);
        const ConvertOptions o = parseConvertOptions(r.args, savedMp3(), 4);
        EXPECT_TRUE(o.errors.isEmpty()) << o.errors.join(QLatin1Char('\n')).toStdString();
        EXPECT_EQ(o.selections.formatIndex, r.format);
        EXPECT_EQ(o.selections.bitrate, r.bitrate);
        EXPECT_EQ(o.selections.sampleRate, r.rate);
        EXPECT_EQ(o.selections.channelIndex, r.channel);
        EXPECT_EQ(o.selections.outputDir, r.outputDir);
        EXPECT_EQ(o.settings.gCutterOn, r.cutterOn);
        if (r.cutterOn) {
            EXPECT_EQ(o.settings.gCutFrom, r.from);
            EXPECT_EQ(o.settings.gCutTo, r.to);
        }
        EXPECT_EQ(o.jobs, r.jobs);
        EXPECT_EQ(o.json, r.json);
        EXPECT_EQ(o.inputs, r.inputs);
        EXPECT_EQ(o.notes.size(), r.notes) << "the MP3 choices with another format are noted";
    }
}

TEST(CliOptions, LoudnessChoices)
{
    struct Row {
        QStringList args;
        ReplayGain gain;
        std::optional<double> normalize;
    };
    const Row rows[] = {
        {{"x"}, ReplayGain::Off, std::nullopt},
        {{"--replaygain", "track", "x"}, ReplayGain::Track, std::nullopt},
        {{"--replaygain=album", "x"}, ReplayGain::Album, std::nullopt},
        {{"--normalize", "-16", "x"}, ReplayGain::Off, -16.0},
        {{"--normalize=-23.5", "--replaygain", "album", "x"}, ReplayGain::Album, -23.5},
        {{"--normalize", "0", "x"}, ReplayGain::Off, 0.0},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.args.join(QLatin1Char(' ')).toStdString());
        const ConvertOptions o = parseConvertOptions(r.args, savedMp3(), 4);
        EXPECT_TRUE(o.errors.isEmpty()) << o.errors.join(QLatin1Char('\n')).toStdString();
        EXPECT_EQ(o.replayGain, r.gain);
        EXPECT_EQ(o.normalize, r.normalize);
        EXPECT_EQ(o.inputs, QStringList{"x"});
    }
}

TEST(CliOptions, BadUsageIsRefusedWithItsReason)
{
    struct Row {
        QStringList args;
        const char *says;
    };
    const Row rows[] = {
        {{"--format", "mp4", "x"}, "unknown format 'mp4'"},
        {{"--bitrate", "100", "x"}, "bit rate '100'"},
        {{"-r", "44101", "x"}, "sample rate '44101'"},
        {{"--channels", "3", "x"}, "channels '3'"},
        {{"--from", "10", "x"}, "--from needs --to"},
        {{"--to", "0", "x"}, "--to must be more than 0"},
        {{"--to", "1:75", "x"}, "--to '1:75'"},
        {{"--to", "1000:00:00", "x"}, "--to '1000:00:00'"},
        {{"--no-cut", "--to", "5", "x"}, "--no-cut cannot go with"},
        {{"-j", "0", "x"}, "--jobs '0'"},
        {{"--jobs", "many", "x"}, "--jobs 'many'"},
        {{"--wat", "x"}, "unknown option --wat"},
        {{"-z", "x"}, "unknown option -z"},
        {{"--json=yes", "x"}, "--json takes no value"},
        {{"x", "--format"}, "--format needs a value"},
        {{}, "no FILE or FOLDER"},
        {{"--replaygain", "both", "x"}, "--replaygain 'both' is not track or album"},
        {{"--replaygain", "x"}, "--replaygain 'x'"},
        {{"--normalize", "5", "x"}, "--normalize '5' is not a loudness"},
        {{"--normalize", "-71", "x"}, "--normalize '-71'"},
        {{"--normalize", "loud", "x"}, "--normalize 'loud'"},
        {{"--normalize", "nan", "x"}, "--normalize 'nan'"},
    };
    for (const Row &r : rows) {
        const ConvertOptions o = parseConvertOptions(r.args, savedMp3(), 4);
        ASSERT_EQ(o.errors.size(), 1) << r.says;
        EXPECT_TRUE(o.errors[0].startsWith(QStringLiteral("zelmora-cli: "))) << r.says;
        EXPECT_TRUE(o.errors[0].contains(QLatin1String(r.says))) << o.errors[0].toStdString();
    }
    // Help and the version need no file.
    EXPECT_TRUE(parseConvertOptions({"--help"}, savedMp3(), 4).errors.isEmpty());
    EXPECT_TRUE(parseConvertOptions({"--version"}, savedMp3(), 4).version);
}

TEST(CliOptions, SavedSettingsOfThisCopyAreRead)
{
    QTemporaryDir dir;
    // A portable copy keeps its settings beside itself.
    MainChoices c;
    c.formatIndex = 4;
    c.bitrateIndex = 0;
    c.rateIndex = 7;
    c.channelIndex = 0;
    c.outputFolder = QStringLiteral("/music/out");
    ASSERT_TRUE(writeSetupIni(dir.filePath(QStringLiteral("setup.ini")), c));
    SavedChoices saved = readSavedChoices(dir.path());
    EXPECT_EQ(saved.readFrom, QStringList{dir.filePath(QStringLiteral("setup.ini"))});
    EXPECT_EQ(saved.selections.formatIndex, 4);
    EXPECT_EQ(saved.selections.bitrate, QStringLiteral("32"));
    EXPECT_EQ(saved.selections.sampleRate, QStringLiteral("8000"));
    EXPECT_EQ(saved.selections.channelIndex, 0);
    EXPECT_EQ(saved.selections.outputDir, QStringLiteral("/music/out"));
    ProgramSettings cut;
    cut.gCutterOn = 1;
    cut.gCutTo = 7;
    ASSERT_TRUE(writeOptionsIni(dir.filePath(QStringLiteral("options.ini")), cut));
    saved = readSavedChoices(dir.path());
    EXPECT_EQ(saved.readFrom.size(), 2);
    EXPECT_EQ(saved.settings.gCutTo, 7);
    // Nothing saved: the window's first-start choices, said to be so.
    QTemporaryDir empty;
    saved = readSavedChoices(empty.path());
    EXPECT_TRUE(saved.readFrom.isEmpty());
    EXPECT_EQ(saved.selections.formatIndex, 1);
    EXPECT_EQ(saved.selections.outputDir, empty.path() + QStringLiteral("/output"));
}

TEST(CliProgram, ExitCodesAndWhatItSays)
{
    struct Row {
        const char *name;
        QList<QStringList> scripts; // one input each; empty: no input made
        QStringList args;           // before the inputs
        int code;
        QStringList says; // on standard output (or, for bad usage, standard error)
        int outputs;      // files in the output folder afterwards
    };
    const QStringList ok{QStringLiteral("err Duration: 00:00:02.00, start"), QStringLiteral("raw time=1.00 \\r"),
                         QStringLiteral("output")};
    const Row rows[] = {
        {"every file converted", {ok, ok, ok}, {"-f", "mp3"}, 0, {"converted  ", "3 converted"}, 3},
        {"one failure, with its reason",
         {ok, {QStringLiteral("err conv: no audio stream in input"), QStringLiteral("exit 3")}, ok},
         {},
         1,
         {"failed     ", "conv: no audio stream in input", "2 converted, 1 failed"},
         2},
        {"a converter that says it worked but wrote nothing",
         {{QStringLiteral("exit 0")}},
         {},
         1,
         {"no output file was written"},
         0},
        {"bad usage", {ok}, {"--format", "mp4"}, 2, {"unknown format 'mp4'", "Try '"}, 0},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.name);
        CliApp c;
        QStringList args = r.args;
        for (qsizetype i = 0; i < r.scripts.size(); ++i)
            args << c.app.script(QStringLiteral("f%1.flv").arg(i), r.scripts[i]);
        const testsupport::RunResult run = c.run(args);
        EXPECT_EQ(run.exitCode, r.code) << run.err.toStdString();
        const QString said = QString::fromUtf8(r.code == 2 ? run.err : run.out);
        for (const QString &s : r.says)
            EXPECT_TRUE(said.contains(s)) << s.toStdString() << " in\n" << said.toStdString();
        EXPECT_EQ(QDir(c.app.path + QStringLiteral("/output")).entryList(QDir::Files | QDir::Hidden).size(), r.outputs);
        if (r.code != 2) {
            EXPECT_TRUE(QString::fromUtf8(run.err).contains(QStringLiteral("no saved settings")))
                << run.err.toStdString();
        }
    }
}

TEST(CliProgram, MissingInputsFailButTheRestConverts)
{
    CliApp c;
    const QString good = c.app.script(QStringLiteral("good.flv"), {QStringLiteral("output")});
    const testsupport::RunResult run = c.run({good, QStringLiteral("no/such.flv"), QStringLiteral("/dev/null")});
    EXPECT_EQ(run.exitCode, 1);
    const QString out = QString::fromUtf8(run.out);
    EXPECT_TRUE(out.contains(QStringLiteral("no/such.flv: no such file or folder"))) << out.toStdString();
    EXPECT_TRUE(out.contains(QStringLiteral("/dev/null: not a regular file or a folder"))) << out.toStdString();
    EXPECT_TRUE(QFile::exists(c.out(QStringLiteral("good.wma"))));
}

TEST(CliProgram, JsonEventsParseAndFollowTheBatch)
{
    CliApp c;
    QDir(c.app.path).mkpath(QStringLiteral("in/sub"));
    const QStringList ok{QStringLiteral("err Duration: 00:00:10.00, start"), QStringLiteral("raw time=5.00 \\r"),
                         QStringLiteral("output")};
    const QString a = c.app.script(QStringLiteral("sub/a.flv"), ok);
    const QString b = c.app.script(QStringLiteral("sub/b 2.flv"),
                                   {QStringLiteral("err conv: broken \"quoted\""), QStringLiteral("exit 1")});
    const testsupport::RunResult run = c.run(
        {QStringLiteral("--json"), QStringLiteral("-j"), QStringLiteral("1"), c.app.path + QStringLiteral("/in/sub")});
    EXPECT_EQ(run.exitCode, 1);
    const QList<QJsonObject> all = jsonLines(run.out);
    ASSERT_FALSE(all.isEmpty());
    EXPECT_EQ(eventNames(all),
              (QStringList{"settings", "started", "progress", "finished", "started", "finished", "done"}));
    const bool halfway = std::any_of(all.begin(), all.end(), [](const QJsonObject &e) {
        return e.value("event") == QStringLiteral("progress") && e.value("file").toDouble() == 0.5;
    });
    EXPECT_TRUE(halfway) << "time=5 of a Duration of 10 s";
    const QList<QJsonObject> events = withoutProgress(all);
    ASSERT_EQ(events.size(), 6);
    EXPECT_EQ(events[1].value("input").toString(), a) << "a folder is searched as Add Folder does";
    EXPECT_EQ(events[1].value("output").toString(), c.out(QStringLiteral("a.wma")));
    EXPECT_EQ(events[2].value("outcome").toString(), QStringLiteral("converted"));
    EXPECT_EQ(events[2].value("output").toString(), c.out(QStringLiteral("a.wma")));
    EXPECT_EQ(events[3].value("input").toString(), b);
    EXPECT_EQ(events[4].value("outcome").toString(), QStringLiteral("failed"));
    EXPECT_EQ(events[4].value("reason").toString(), QStringLiteral("conv: broken \"quoted\""));
    EXPECT_EQ(events[5].value("converted").toInt(), 1);
    EXPECT_EQ(events[5].value("failed").toInt(), 1);
    EXPECT_EQ(events[5].value("exit_code").toInt(), 1);
    // The command is the window's, for the window's choices.
    CommandInputs in;
    in.appDir = c.app.path;
    in.inputPath = a;
    in.outputDir = c.app.path + QStringLiteral("/output");
    EXPECT_EQ(events[1].value("command").toString(), BuildCommandLine(in));
}

TEST(CliProgram, StoppedBySignalMidBatch)
{
    // SIGINT (as from Ctrl+C) or SIGTERM: every converter is stopped, no later file starts, no
    // output appears, and the exit status is 130.
    for (const int sig : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(sig);
        CliApp c;
        QStringList inputs;
        for (int i = 0; i < 5; ++i)
            inputs << c.app.script(QStringLiteral("s%1.flv").arg(i),
                                   {QStringLiteral("touch ") + c.app.path + QStringLiteral("/ready%1").arg(i),
                                    QStringLiteral("sleep 30000"), QStringLiteral("output")});
        QProcess p;
        p.setProcessEnvironment(c.env);
        p.start(c.cli, QStringList{QStringLiteral("--json"), QStringLiteral("-j"), QStringLiteral("2")} + inputs);
        ASSERT_TRUE(p.waitForStarted());
        ASSERT_TRUE(waitFor([&] {
            return QFile::exists(c.app.path + QStringLiteral("/ready0"))
                   && QFile::exists(c.app.path + QStringLiteral("/ready1"));
        }));
        QElapsedTimer clock;
        clock.start();
        ::kill(pid_t(p.processId()), sig);
        ASSERT_TRUE(p.waitForFinished(15000));
        EXPECT_LT(clock.elapsed(), 5000);
        EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(p.exitCode(), 130);
        const QList<QJsonObject> events = jsonLines(p.readAllStandardOutput());
        EXPECT_EQ(eventNames(events).count(QStringLiteral("started")), 2) << "nothing starts after the stop";
        EXPECT_EQ(eventNames(events).count(QStringLiteral("finished")), 2);
        for (const QJsonObject &e : events) {
            if (e.value("event") == QStringLiteral("finished")) {
                EXPECT_EQ(e.value("outcome").toString(), QStringLiteral("stopped"));
            }
        }
        EXPECT_TRUE(events.last().value("stopped").toBool());
        EXPECT_TRUE(QDir(c.app.path + QStringLiteral("/output")).entryList(QDir::Files | QDir::Hidden).isEmpty());
        // The converters' own log: each one that started has ended.
        const auto log = zmtest::parseLog(c.app.logLines());
        EXPECT_EQ(std::count_if(log.begin(), log.end(), [](const zmtest::LogEntry &e) { return e.start; }), 2);
    }
}

// Each converter learns its share of the cores in ZM_CONV_THREADS: the cores divided by the
// converters that run at once (the jobs, or fewer when there are fewer files).
TEST(CliProgram, EachConverterIsToldItsShareOfTheCores)
{
    const int cores = QThread::idealThreadCount();
    const struct {
        QStringList jobs;
        int files, atOnce;
    } rows[] = {{{"-j", "2"}, 2, 2}, {{}, 1, 1}, {{"-j", "1"}, 2, 1}, {{"--jobs", "3"}, 3, 3}};
    for (const auto &r : rows) {
        SCOPED_TRACE(::testing::Message() << r.jobs.join(' ').toStdString() << ", " << r.files << " files");
        CliApp c;
        const QString seen = c.app.path + QStringLiteral("/threads%1");
        QStringList args = QStringList{QStringLiteral("-f"), QStringLiteral("mp3")} + r.jobs;
        for (int i = 0; i < r.files; ++i)
            args << c.app.script(
                QStringLiteral("t%1.flv").arg(i),
                {QStringLiteral("envto %1 ZM_CONV_THREADS").arg(seen.arg(i)), QStringLiteral("output")});
        const testsupport::RunResult run = c.run(args);
        EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
        for (int i = 0; i < r.files; ++i) {
            // Files after the first ones may start when fewer run beside them; the first ones
            // start together.
            const QStringList lines = testsupport::readLines(seen.arg(i));
            ASSERT_EQ(lines.size(), 1) << i;
            if (i < r.atOnce) {
                EXPECT_EQ(lines[0], QStringLiteral("ZM_CONV_THREADS=%1").arg(std::max(1, cores / r.atOnce))) << i;
            }
        }
    }
}

TEST(CliProgram, OneRedrawnLineOnATerminal)
{
    CliApp c;
    const QStringList slow{QStringLiteral("err Duration: 00:00:10.00, start"), QStringLiteral("raw time=5.00 \\r"),
                           QStringLiteral("sleep 300"), QStringLiteral("output")};
    const QString a = c.app.script(QStringLiteral("a.flv"), slow);
    const QString b = c.app.script(QStringLiteral("b.flv"), slow);
    int master = -1;
    winsize size{};
    size.ws_col = 100;
    size.ws_row = 30;
    const QByteArray cli = QFile::encodeName(c.cli);
    const QByteArray log = ("FAKECONV_LOG=" + c.app.log()).toUtf8();
    const QByteArray state = ("XDG_STATE_HOME=" + c.app.path + "/state").toUtf8();
    const QByteArray fa = QFile::encodeName(a), fb = QFile::encodeName(b);
    const pid_t pid = ::forkpty(&master, nullptr, nullptr, &size);
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ::putenv(const_cast<char *>(log.constData()));
        ::putenv(const_cast<char *>(state.constData()));
        const char *argv[] = {cli.constData(), "-j", "1", fa.constData(), fb.constData(), nullptr};
        ::execv(cli.constData(), const_cast<char *const *>(argv));
        ::_exit(127);
    }
    QByteArray seen;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(master, buffer, sizeof buffer);
        if (n <= 0)
            break; // EIO once the child has gone
        seen.append(buffer, n);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    ::close(master);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << seen.toStdString();
    const QString text = QString::fromUtf8(seen);
    // The line is drawn again in place: back to the start of the line and cleared.
    static const QRegularExpression line(QStringLiteral("\r\x1b\\[K[0-2]/2 \\[[#.]{20}\\] \\d+%"));
    EXPECT_GE(int(text.count(line)), 2) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("\u00b7 a.flv"))) << "the file being converted";
    EXPECT_TRUE(text.contains(QStringLiteral("converted  ") + a));
    EXPECT_TRUE(text.contains(QStringLiteral("2 converted")));
}

TEST(CliProgram, HelpAndVersion)
{
    CliApp c;
    const testsupport::RunResult help = c.run({QStringLiteral("--help")});
    EXPECT_EQ(help.exitCode, 0);
    for (const char *s :
         {"usage: zelmora-cli [OPTIONS] FILE|FOLDER...", "--format", "--jobs", "Exit status: 0", "130 interrupted"})
        EXPECT_TRUE(help.out.contains(s)) << s;
    const testsupport::RunResult version = c.run({QStringLiteral("--version")});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_TRUE(version.out.startsWith("zelmora-cli ")) << version.out.toStdString();
    const testsupport::RunResult named = c.run({QStringLiteral("convert"), QStringLiteral("--version")});
    EXPECT_EQ(named.out, version.out) << "the convert command by name";
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
