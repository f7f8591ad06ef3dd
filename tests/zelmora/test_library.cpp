// The library rules headless: the journal of an output folder (what counts as up to date, a line
// torn by a crash, several writers, rewriting), the settings' fingerprint, the policy for
// outputs that exist, mirrored folders, cover copies and the trash.
#include "library/journal.h"
#include "library/librarywork.h"
#include "support/files.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <utime.h>

using namespace zm;

namespace {

void setMtime(const QString &path, qint64 seconds)
{
    utimbuf t{seconds, seconds};
    ASSERT_EQ(::utime(QFile::encodeName(path).constData(), &t), 0);
}

JournalRecord record(JournalRecord::Kind kind, const QString &output, const QString &input, const QString &settings)
{
    JournalRecord r;
    r.kind = kind;
    r.output = output;
    r.input = input;
    r.settings = settings;
    r.inputStamp = FileStamp::of(input);
    r.outputStamp = FileStamp::of(output);
    return r;
}

} // namespace

TEST(Journal, WhereAnOutputStands)
{
    QTemporaryDir dir;
    const QString state = dir.path() + QStringLiteral("/state");
    const QString in = dir.path() + QStringLiteral("/in/a.flac");
    const QString out = dir.path() + QStringLiteral("/out/A/a.mp3");
    EXPECT_TRUE(testsupport::touch(in, "input"));
    setMtime(in, 1000000);

    struct Row {
        const char *name;
        std::function<void(OutputJournal &)> before; // records and file changes
        const char *settings;
        Standing expected;
    };
    const Row rows[] = {
        {"nothing at the output", [](OutputJournal &) {}, "s1", Standing::Missing},
        {"a file nobody recorded", [&](OutputJournal &) { EXPECT_TRUE(testsupport::touch(out, "theirs")); }, "s1",
         Standing::Foreign},
        {"made with these settings",
         [&](OutputJournal &j) {
             EXPECT_TRUE(testsupport::touch(out, "ours"));
             j.append(record(JournalRecord::Kind::Done, out, in, "s1"));
         },
         "s1", Standing::UpToDate},
        {"made with other settings",
         [&](OutputJournal &j) {
             EXPECT_TRUE(testsupport::touch(out, "ours"));
             j.append(record(JournalRecord::Kind::Done, out, in, "s1"));
         },
         "s2", Standing::OutOfDate},
        {"the input changed since",
         [&](OutputJournal &j) {
             EXPECT_TRUE(testsupport::touch(out, "ours"));
             j.append(record(JournalRecord::Kind::Done, out, in, "s1"));
             setMtime(in, 2000000);
         },
         "s1", Standing::OutOfDate},
        {"begun, and the converter named its file before the process died",
         [&](OutputJournal &j) {
             j.append(record(JournalRecord::Kind::Begun, out, in, "s1"));
             EXPECT_TRUE(testsupport::touch(out, "ours, complete"));
         },
         "s1", Standing::UpToDate},
        {"begun over an older file that is still there",
         [&](OutputJournal &j) {
             EXPECT_TRUE(testsupport::touch(out, "older"));
             j.append(record(JournalRecord::Kind::Begun, out, in, "s1"));
         },
         "s1", Standing::OutOfDate},
        {"the last try failed over an older file",
         [&](OutputJournal &j) {
             EXPECT_TRUE(testsupport::touch(out, "older"));
             j.append(record(JournalRecord::Kind::Done, out, in, "s1"));
             j.append(record(JournalRecord::Kind::Failed, out, in, "s1"));
         },
         "s1", Standing::OutOfDate},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.name);
        QDir(dir.path() + QStringLiteral("/out")).removeRecursively();
        QDir(state).removeRecursively();
        setMtime(in, 1000000);
        OutputJournal journal(dir.path() + QStringLiteral("/out"), state);
        journal.load();
        r.before(journal);
        EXPECT_EQ(journal.standing(out, in, QLatin1String(r.settings)), r.expected);
        // What was written reads back the same in another process's journal.
        OutputJournal again(dir.path() + QStringLiteral("/out/"), state);
        again.load();
        EXPECT_EQ(again.standing(out, in, QLatin1String(r.settings)), r.expected);
        EXPECT_FALSE(QFileInfo(journal.path()).path().startsWith(dir.path() + QStringLiteral("/out")))
            << "never in the output folder";
    }
}

TEST(Journal, TornLinesSharedWritersAndRewriting)
{
    QTemporaryDir dir;
    const QString state = dir.path() + QStringLiteral("/state");
    const QString in = dir.path() + QStringLiteral("/a.flac");
    const QString out = dir.path() + QStringLiteral("/out/a.mp3");
    EXPECT_TRUE(testsupport::touch(in, "input"));
    EXPECT_TRUE(testsupport::touch(out, "ours"));
    OutputJournal first(dir.path() + QStringLiteral("/out"), state);
    OutputJournal second(dir.path() + QStringLiteral("/out"), state);
    first.load();
    second.load();
    ASSERT_TRUE(first.append(record(JournalRecord::Kind::Done, out, in, "s1")));
    ASSERT_TRUE(second.append(record(JournalRecord::Kind::Done, dir.path() + QStringLiteral("/out/b.mp3"), in, "s1")));
    EXPECT_EQ(first.key(out), QStringLiteral("a.mp3"));
    // A crash in the middle of a line: that line is ignored, the rest stands.
    {
        QFile f(first.path());
        ASSERT_TRUE(f.open(QIODevice::Append));
        f.write("{\"k\":\"failed\",\"o\":\"a.mp3\",\"i\":");
    }
    OutputJournal reader(dir.path() + QStringLiteral("/out"), state);
    reader.load();
    EXPECT_EQ(reader.standing(out, in, QStringLiteral("s1")), Standing::UpToDate);
    ASSERT_TRUE(reader.last(dir.path() + QStringLiteral("/out/b.mp3")).has_value()) << "both writers' lines kept";
    // A record appended after the torn line starts on a line of its own only if the torn one
    // ended; the reader must not lose it either way.
    ASSERT_TRUE(reader.append(record(JournalRecord::Kind::Done, out, in, "s2")));
    // Many runs: the file is rewritten once it holds far more lines than outputs, and says the
    // same afterwards.
    for (int i = 0; i < 400; ++i)
        ASSERT_TRUE(reader.append(record(JournalRecord::Kind::Done, out, in, i % 2 ? "s2" : "s3")));
    OutputJournal compacted(dir.path() + QStringLiteral("/out"), state);
    compacted.load();
    EXPECT_LE(compacted.lines(), 3);
    EXPECT_EQ(compacted.standing(out, in, QStringLiteral("s2")), Standing::UpToDate) << "the last line counts";
    EXPECT_TRUE(compacted.last(dir.path() + QStringLiteral("/out/b.mp3")).has_value());
    EXPECT_EQ(QDir(state + QStringLiteral("/journals")).entryList(QDir::Files | QDir::Hidden).size(), 2)
        << "the journal and its lock, nothing else";
}

TEST(LibraryRules, FingerprintFollowsWhatShapesTheOutput)
{
    CommandInputs mp3;
    mp3.formatIndex = 0;
    mp3.inputPath = QStringLiteral("/music/a.flac");
    mp3.outputDir = QStringLiteral("/out");
    CommandInputs flac = mp3;
    flac.formatIndex = 4;
    struct Row {
        const char *name;
        CommandInputs base;
        std::function<void(CommandInputs &)> change;
        bool differs;
    };
    const Row rows[] = {
        {"another input and folder", mp3,
         [](CommandInputs &c) {
             c.inputPath = QStringLiteral("/elsewhere/b.wav");
             c.outputDir = QStringLiteral("/other");
         },
         false},
        {"MP3 bit rate", mp3, [](CommandInputs &c) { c.bitrate = QStringLiteral("320"); }, true},
        {"MP3 channels", mp3, [](CommandInputs &c) { c.channelIndex = 0; }, true},
        {"FLAC ignores the bit rate", flac, [](CommandInputs &c) { c.bitrate = QStringLiteral("320"); }, false},
        {"the format", mp3, [](CommandInputs &c) { c.formatIndex = 2; }, true},
        {"a cut", flac,
         [](CommandInputs &c) {
             c.cutterOn = true;
             c.cutTo = 30;
         },
         true},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.name);
        CommandInputs changed = r.base;
        r.change(changed);
        EXPECT_EQ(settingsHash(r.base) != settingsHash(changed), r.differs);
    }
    EXPECT_NE(settingsFingerprint(mp3, QStringLiteral("conv 1 2")),
              settingsFingerprint(mp3, QStringLiteral("conv 1 3")));
}

TEST(LibraryRules, ExistingOutputPolicies)
{
    struct Row {
        ExistingPolicy policy;
        Standing standing;
        bool convert;
        const char *output;
    };
    const Row rows[] = {
        {ExistingPolicy::Update, Standing::Missing, true, "a.mp3"},
        {ExistingPolicy::Update, Standing::UpToDate, false, "a.mp3"},
        {ExistingPolicy::Update, Standing::OutOfDate, true, "a.mp3"},
        {ExistingPolicy::Update, Standing::Foreign, false, "a.mp3"},
        {ExistingPolicy::Replace, Standing::Foreign, true, "a.mp3"},
        {ExistingPolicy::Skip, Standing::OutOfDate, false, "a.mp3"},
        {ExistingPolicy::Skip, Standing::Missing, true, "a.mp3"},
        {ExistingPolicy::Number, Standing::Foreign, true, "a (2).mp3"},
        {ExistingPolicy::Number, Standing::Missing, true, "a.mp3"},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(existingPolicyName(r.policy).toStdString() + " " + std::to_string(int(r.standing)));
        const ExistingDecision d =
            decideExisting(r.policy, QStringLiteral("a.mp3"), r.standing, [] { return QStringLiteral("a (2).mp3"); });
        EXPECT_EQ(d.convert, r.convert);
        if (d.convert)
            EXPECT_EQ(d.output, QLatin1String(r.output));
        else
            EXPECT_FALSE(d.reason.isEmpty());
    }
    for (const char *name : {"replace", "skip", "number", "update"})
        EXPECT_EQ(existingPolicyName(*existingPolicyFromName(QLatin1String(name))), QLatin1String(name));
    EXPECT_FALSE(existingPolicyFromName(QStringLiteral("ask")));
}

TEST(LibraryRules, MirroredFolders)
{
    struct Row {
        const char *given, *input, *expected;
    };
    const Row rows[] = {
        {"/m/Music", "/m/Music/A/B/01.flac", "/out/A/B"},
        {"/m/Music/", "/m/Music/01.flac", "/out"},
        {"", "/m/Music/A/01.flac", "/out"},
        {"/m/Music", "/m/Other/01.flac", "/out"},
        {"/m/Music", "/m/Music/../x.flac", "/out"},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.input);
        EXPECT_EQ(mirroredFolder(QStringLiteral("/out/"), QLatin1String(r.given), QLatin1String(r.input)),
                  QLatin1String(r.expected));
    }
}

TEST(LibraryRules, CoversAreCopiedWholeAndNeverOverAFile)
{
    QTemporaryDir dir;
    const QString from = dir.path() + QStringLiteral("/Music/A");
    const QString to = dir.path() + QStringLiteral("/out/A");
    EXPECT_TRUE(testsupport::touch(from + QStringLiteral("/cover.jpg"), "cover"));
    EXPECT_TRUE(testsupport::touch(from + QStringLiteral("/Folder.JPG"), "folder"));
    EXPECT_TRUE(testsupport::touch(from + QStringLiteral("/front.png"), "front"));
    EXPECT_TRUE(testsupport::touch(from + QStringLiteral("/back.jpg"), "back"));
    EXPECT_TRUE(testsupport::touch(from + QStringLiteral("/front"), "no extension"));
    EXPECT_TRUE(testsupport::touch(to + QStringLiteral("/cover.jpg"), "mine"));
    QStringList copied;
    EXPECT_TRUE(copyCovers(from, to, &copied).isEmpty());
    EXPECT_EQ(copied, (QStringList{to + QStringLiteral("/Folder.JPG"), to + QStringLiteral("/front.png")}));
    QFile mine(to + QStringLiteral("/cover.jpg"));
    ASSERT_TRUE(mine.open(QIODevice::ReadOnly));
    EXPECT_EQ(mine.readAll(), QByteArray("mine")) << "an existing file is kept";
    QFile front(to + QStringLiteral("/front.png"));
    ASSERT_TRUE(front.open(QIODevice::ReadOnly));
    EXPECT_EQ(front.readAll(), QByteArray("front"));
    EXPECT_EQ(QDir(to).entryList(QDir::Files | QDir::Hidden, QDir::Name),
              (QStringList{"Folder.JPG", "cover.jpg", "front.png"}))
        << "no temporary left";
}

TEST(LibraryRules, TrashOnlyWhatWasReplacedByAnotherFile)
{
    QTemporaryDir dir;
    qputenv("XDG_DATA_HOME", (dir.path() + QStringLiteral("/data")).toUtf8());
    const QString in = dir.path() + QStringLiteral("/in/a.flac");
    const QString out = dir.path() + QStringLiteral("/out/a.mp3");
    EXPECT_TRUE(testsupport::touch(in, "input"));
    EXPECT_FALSE(trashOriginal(in, out).trashed) << "no output yet";
    EXPECT_FALSE(trashOriginal(in, in).trashed);
    EXPECT_TRUE(trashOriginal(in, in).message.contains(QStringLiteral("the output is the input")));
    EXPECT_TRUE(QFile::exists(in));
    EXPECT_TRUE(testsupport::touch(out, "output"));
    EXPECT_TRUE(trashOriginal(in, out).trashed);
    EXPECT_FALSE(QFile::exists(in));
    EXPECT_TRUE(QFile::exists(dir.path() + QStringLiteral("/data/Trash/files/a.flac")));
    EXPECT_TRUE(QFile::exists(dir.path() + QStringLiteral("/data/Trash/info/a.flac.trashinfo")));
}
