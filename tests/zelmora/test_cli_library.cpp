// zelmora-cli over a library, against the fake converter: a mirrored tree with covers, each
// policy for outputs that exist, update runs that count conversions, a run killed mid-batch and
// run again, retries and the trash.
#include "support/files.h"
#include "support/process.h"
#include "zelmora/testutil.h"

#include <QDir>
#include <QDirIterator>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <csignal>
#include <gtest/gtest.h>
#include <utime.h>

using testsupport::readFile;
using testsupport::waitFor;

namespace {

struct Library {
    zmtest::FakeApp app;
    QString cli, out;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    Library()
    {
        cli = app.path + QStringLiteral("/zelmora-cli");
        QFile::copy(QStringLiteral(ZELMORA_CLI_PATH), cli);
        out = app.path + QStringLiteral("/out");
        env.insert(QStringLiteral("FAKECONV_LOG"), app.log());
        env.insert(QStringLiteral("XDG_STATE_HOME"), app.path + QStringLiteral("/state"));
        env.insert(QStringLiteral("XDG_DATA_HOME"), app.path + QStringLiteral("/data-home"));
    }
    // A plain input (the fake converts it in a moment).
    QString file(const QString &relative, const QByteArray &bytes = "sound") const
    {
        QString p = app.path + QStringLiteral("/Music/") + relative;
        QDir().mkpath(QFileInfo(p).path());
        QFile f(p);
        f.open(QIODevice::WriteOnly | QIODevice::Truncate);
        f.write(bytes);
        return p;
    }
    testsupport::RunResult run(const QStringList &args) const
    {
        return testsupport::run(cli, QStringList{QStringLiteral("--json"), QStringLiteral("-o"), out} + args, 60000,
                                env, app.path);
    }
    // Conversions started so far.
    int conversions() const
    {
        const auto log = zmtest::parseLog(app.logLines());
        return int(std::count_if(log.begin(), log.end(), [](const zmtest::LogEntry &e) { return e.start; }));
    }
    // Every file below the output folder, relative, hidden ones too.
    QStringList outputs() const
    {
        QStringList found;
        QDirIterator it(out, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
        while (it.hasNext())
            found << QDir(out).relativeFilePath(it.next());
        found.sort();
        return found;
    }
};

QList<QJsonObject> finishedEvents(const QByteArray &json)
{
    QList<QJsonObject> found;
    for (const QByteArray &line : json.split('\n')) {
        const QJsonObject o = QJsonDocument::fromJson(line).object();
        if (o.value(QStringLiteral("event")) == QStringLiteral("finished"))
            found << o;
    }
    return found;
}

int countOutcome(const QByteArray &json, const char *outcome)
{
    const QList<QJsonObject> f = finishedEvents(json);
    return int(std::count_if(f.begin(), f.end(), [&](const QJsonObject &o) {
        return o.value(QStringLiteral("outcome")).toString() == QLatin1String(outcome);
    }));
}

void touchLater(const QString &path)
{
    const qint64 now = QDateTime::currentSecsSinceEpoch() + 100;
    utimbuf t{now, now};
    ::utime(QFile::encodeName(path).constData(), &t);
}

} // namespace

TEST(CliLibrary, MirrorsATreeWithSameNamedFilesAndCovers)
{
    Library l;
    for (const char *p : {"01.flac", "A/01.flac", "A/B/01.flac", "A/B/02 two.flac", "C/01.flac"})
        l.file(QLatin1String(p));
    l.file(QStringLiteral("A/B/cover.jpg"), "cover");
    l.file(QStringLiteral("A/Folder.JPG"), "folder");
    l.file(QStringLiteral("C/front.png"), "front");
    const testsupport::RunResult run = l.run({"--mirror", "--copy-covers", "-f", "mp3", l.app.path + "/Music"});
    ASSERT_EQ(run.exitCode, 0) << run.out.toStdString() << run.err.toStdString();
    EXPECT_EQ(l.outputs(), (QStringList{"01.mp3", "A/01.mp3", "A/B/01.mp3", "A/B/02 two.mp3", "A/B/cover.jpg",
                                        "A/Folder.JPG", "C/01.mp3", "C/front.png"}));
    EXPECT_EQ(l.conversions(), 5) << "covers are copied, not converted";
    EXPECT_EQ(readFile(l.out + QStringLiteral("/A/B/cover.jpg")), QByteArray("cover"));
    // Without --mirror the same tree lands in one folder, numbered as the window numbers it.
    Library flat;
    for (const char *p : {"01.flac", "A/01.flac", "A/B/01.flac"})
        flat.file(QLatin1String(p));
    ASSERT_EQ(flat.run({"-f", "mp3", flat.app.path + "/Music"}).exitCode, 0);
    EXPECT_EQ(flat.outputs(), (QStringList{"01 (2).mp3", "01 (3).mp3", "01.mp3"}));
    EXPECT_EQ(l.run({"--copy-covers", l.app.path + "/Music"}).exitCode, 2) << "covers need --mirror";
}

TEST(CliLibrary, EachPolicyForAnOutputThatExists)
{
    struct Row {
        const char *policy;
        int conversions;
        const char *oldContent; // what a.wma holds afterwards
        QStringList outputs;
        const char *says;
    };
    const Row rows[] = {
        {"replace", 1, "converted audio\n", {"a.wma"}, "converted"},
        {"skip", 0, "older", {"a.wma"}, "exists"},
        {"number", 1, "older", {"a (2).wma", "a.wma"}, "converted"},
        {"update", 0, "older", {"a.wma"}, "no conversion here made it"},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.policy);
        Library l;
        const QString in = l.file(QStringLiteral("a.flv"));
        QDir().mkpath(l.out);
        QFile old(l.out + QStringLiteral("/a.wma"));
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write("older");
        old.close();
        const testsupport::RunResult run = l.run({"--existing", r.policy, in});
        EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
        EXPECT_EQ(l.conversions(), r.conversions);
        EXPECT_EQ(readFile(l.out + QStringLiteral("/a.wma")), QByteArray(r.oldContent));
        EXPECT_EQ(l.outputs(), r.outputs);
        EXPECT_TRUE(QString::fromUtf8(run.out).contains(QLatin1String(r.says))) << run.out.toStdString();
    }
}

TEST(CliLibrary, UpdateConvertsOnlyWhatIsMissingOrOutOfDate)
{
    Library l;
    const QStringList inputs{l.file(QStringLiteral("A/one.flac")), l.file(QStringLiteral("A/two.flac")),
                             l.file(QStringLiteral("B/three.flac"))};
    const QStringList args{"--mirror", "-f", "mp3", l.app.path + "/Music"};
    ASSERT_EQ(l.run(args).exitCode, 0);
    EXPECT_EQ(l.conversions(), 3);

    struct Step {
        const char *name;
        std::function<void()> change;
        QStringList args;
        int newConversions;
        int upToDate;
    };
    const Step steps[] = {
        {"the same run again", [] {}, args, 0, 3},
        {"one input touched", [&] { touchLater(inputs[1]); }, args, 1, 2},
        {"again: nothing", [] {}, args, 0, 3},
        {"a converted output removed", [&] { QFile::remove(l.out + QStringLiteral("/B/three.mp3")); }, args, 1, 2},
        {"MP3 bit rate changed", [] {}, QStringList{"-b", "320"} + args, 3, 0},
        {"another format", [] {}, QStringList{"-f", "ogg"} + args, 3, 0},
        {"that format again", [] {}, QStringList{"-f", "ogg"} + args, 0, 3},
    };
    for (const Step &s : steps) {
        SCOPED_TRACE(s.name);
        s.change();
        const int before = l.conversions();
        const testsupport::RunResult run = l.run(s.args);
        EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
        EXPECT_EQ(l.conversions() - before, s.newConversions);
        EXPECT_EQ(countOutcome(run.out, "skipped"), s.upToDate);
    }
    EXPECT_FALSE(l.outputs().join(QLatin1Char(' ')).contains(QStringLiteral("(2)")));
    for (const QString &o : l.outputs())
        EXPECT_FALSE(QFileInfo(o).fileName().startsWith(QLatin1Char('.'))) << "no debris: " << o.toStdString();
}

TEST(CliLibrary, KilledMidBatchThenRunAgainFinishesTheRest)
{
    // Killed while a converter runs; that converter outlives it and finishes its file (as a real
    // one does), or is killed too. The run with the same arguments converts only what is left,
    // and nothing gets a " (2)".
    for (const bool converterFinishes : {true, false}) {
        SCOPED_TRACE(converterFinishes ? "the orphaned converter finishes" : "the converter dies too");
        Library l;
        const QString go = l.app.path + QStringLiteral("/go");
        QStringList inputs{l.file(QStringLiteral("1 first.flv")), l.file(QStringLiteral("2 second.flv"))};
        inputs << l.app.script(QStringLiteral("3 held.flv"),
                               {QStringLiteral("touch ") + l.app.path + QStringLiteral("/ready"),
                                QStringLiteral("waitfile ") + go, QStringLiteral("output")});
        QDir().rename(inputs[2], l.app.path + QStringLiteral("/Music/3 held.flv"));
        inputs[2] = l.app.path + QStringLiteral("/Music/3 held.flv");
        inputs << l.file(QStringLiteral("4 fourth.flv")) << l.file(QStringLiteral("5 fifth.flv"));
        const QStringList args{"-j", "1", l.app.path + "/Music"};
        QProcess p;
        p.setProcessEnvironment(l.env);
        p.start(l.cli, QStringList{"--json", "-o", l.out} + args);
        ASSERT_TRUE(p.waitForStarted());
        ASSERT_TRUE(waitFor([&] { return QFile::exists(l.app.path + QStringLiteral("/ready")); }));
        // The converter is the CLI's only child now.
        const QByteArray children = readFile(QStringLiteral("/proc/%1/task/%1/children").arg(p.processId())).trimmed();
        const pid_t converter = pid_t(children.split(' ').value(0).toLongLong());
        ASSERT_GT(converter, 0);
        ::kill(pid_t(p.processId()), SIGKILL);
        ASSERT_TRUE(p.waitForFinished(10000));
        if (converterFinishes) {
            QFile(go).open(QIODevice::WriteOnly);
            ASSERT_TRUE(waitFor([&] { return ::kill(converter, 0) != 0; }));
        } else {
            ::kill(converter, SIGKILL);
            ASSERT_TRUE(waitFor([&] { return ::kill(converter, 0) != 0; }));
            QFile(go).open(QIODevice::WriteOnly);
        }
        EXPECT_EQ(l.outputs().size(), converterFinishes ? 3 : 2);
        const int before = l.conversions();
        const testsupport::RunResult again = l.run(args);
        EXPECT_EQ(again.exitCode, 0) << again.err.toStdString();
        EXPECT_EQ(l.conversions() - before, converterFinishes ? 2 : 3) << "only what was left";
        EXPECT_EQ(l.outputs(),
                  (QStringList{"1 first.wma", "2 second.wma", "3 held.wma", "4 fourth.wma", "5 fifth.wma"}));
    }
}

TEST(CliLibrary, RetriesAndTheTrash)
{
    Library l;
    const QString bad =
        l.app.script(QStringLiteral("bad.flv"), {QStringLiteral("err conv: broken"), QStringLiteral("exit 5")});
    const QString good = l.file(QStringLiteral("good.flv"));
    testsupport::RunResult run = l.run({"--retry", "2", "--trash-originals", "-j", "1", bad, good});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(l.conversions(), 4) << "the failed file twice more, after the other";
    const QList<QJsonObject> finished = finishedEvents(run.out);
    ASSERT_EQ(finished.size(), 2);
    EXPECT_EQ(finished[0].value("input").toString(), good);
    EXPECT_EQ(finished[1].value("attempts").toInt(), 3);
    EXPECT_EQ(finished[1].value("reason").toString(), QStringLiteral("conv: broken"));
    // The converted input went to the trash under XDG_DATA_HOME; the failed one stays.
    EXPECT_FALSE(QFile::exists(good));
    EXPECT_TRUE(QFile::exists(l.app.path + QStringLiteral("/data-home/Trash/files/good.flv")));
    EXPECT_TRUE(QFile::exists(bad));

    // An output that is its input is never trashed.
    Library same;
    const QString in = same.out + QStringLiteral("/song.wma");
    QDir().mkpath(same.out);
    QFile(in).open(QIODevice::WriteOnly);
    run = same.run({"--existing", "replace", "--trash-originals", in});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(QFile::exists(in));
    EXPECT_FALSE(QDir(same.app.path + QStringLiteral("/data-home/Trash/files")).exists());
    EXPECT_TRUE(run.out.contains("the output is the input")) << run.out.toStdString();
}
