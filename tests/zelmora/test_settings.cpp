#include "settings/jobssetting.h"
#include "settings/loudnesssetting.h"
#include "settings/optionsrules.h"
#include "settings/settingsstore.h"
#include "settings/settingsfiles.h"
#include "settings/statelocations.h"

#include <QDateTime>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace zm;

TEST(SettingsFields, ReadingRule)
{
    struct Row {
        QByteArray data;
        QStringList fields;
    };
    const Row rows[] = {
        {"\"8\"\r\n\"1\"\r\n", {"8", "1"}},
        {"  \"a, b\"\r\nx", {"a, b", "x"}},
        {"1,2 , 3\n4", {"1", "2", "3", "4"}},
        {"\"quoted\"junk,next\r\n", {"quoted", "next"}},
        {"\"unterminated", {"unterminated"}},
        {"\"\"\r\n\"x\"\r\n", {"", "x"}},
        {"\"/m/say \"\"hi\"\", ok\"\r\n\"7\"", {"/m/say \"hi\", ok", "7"}},
        {"\"/m/end\"\"\"\r\n1", {"/m/end\"", "1"}},
        {"lf only\nsecond\rthird", {"lf only", "second", "third"}},
        {"", {}},
    };
    for (const Row &r : rows) {
        SettingsFieldReader reader(r.data);
        QStringList got;
        while (auto f = reader.next())
            got << *f;
        EXPECT_EQ(got, r.fields) << r.data.toStdString();
    }
}

TEST(SetupIni, FormatIsQuotedCrLf)
{
    MainChoices c;
    c.bitrateIndex = 8;
    c.rateIndex = 1;
    c.channelIndex = 0;
    c.outputFolder = QStringLiteral("/home/u/Music, Extracted");
    c.formatIndex = 7;
    EXPECT_EQ(formatSetupIni(c), QByteArray("\"8\"\r\n\"1\"\r\n\"0\"\r\n\"/home/u/Music, Extracted\"\r\n\"7\"\r\n"));
}

TEST(SetupIni, RoundTripAndBadFields)
{
    const QString def = QStringLiteral("/app/output");
    struct Row {
        const char *name;
        QByteArray data;
        MainChoices expected;
    };
    MainChoices base;
    base.outputFolder = def;
    auto with = [&](auto change) {
        MainChoices c = base;
        change(c);
        return c;
    };
    MainChoices full;
    full.bitrateIndex = 11;
    full.rateIndex = 6;
    full.channelIndex = 0;
    full.outputFolder = QString::fromUtf8("/x/a,b \xc3\xbc");
    full.formatIndex = 0;
    MainChoices quotes = full;
    quotes.outputFolder = QStringLiteral("/x/\"Live\", 2009 \"");
    MainChoices m4a = full, opus = full;
    m4a.formatIndex = 8;
    opus.formatIndex = 9;
    const Row rows[] = {
        {"round trip", formatSetupIni(full), full},
        {"round trip, double quotes in the folder", formatSetupIni(quotes), quotes},
        {"short file", "\"3\"\r\n\"2\"\r\n", with([](MainChoices &c) { c.bitrateIndex = 3, c.rateIndex = 2; })},
        {"abc keeps default, later fields read", "\"abc\"\r\n\"0\"\r\n\"1\"\r\n\"/o\"\r\n\"4\"\r\n",
         with([](MainChoices &c) { c.rateIndex = 0, c.outputFolder = QStringLiteral("/o"), c.formatIndex = 4; })},
        {"round trip, M4A", formatSetupIni(m4a), m4a},
        {"round trip, OPUS", formatSetupIni(opus), opus},
        {"an older file's AMR", "\"8\"\r\n\"1\"\r\n\"1\"\r\n\"/o\"\r\n\"7\"\r\n",
         with([](MainChoices &c) { c.outputFolder = QStringLiteral("/o"), c.formatIndex = 7; })},
        {"an older file's MP3", "\"8\"\r\n\"1\"\r\n\"1\"\r\n\"/o\"\r\n\"0\"\r\n",
         with([](MainChoices &c) { c.outputFolder = QStringLiteral("/o"), c.formatIndex = 0; })},
        {"out of range index", "\"12\"\r\n\"-1\"\r\n\"2\"\r\n\"/o\"\r\n\"10\"\r\n",
         with([](MainChoices &c) { c.outputFolder = QStringLiteral("/o"); })},
        {"format index far out of range", "\"8\"\r\n\"1\"\r\n\"1\"\r\n\"/o\"\r\n\"70000\"\r\n",
         with([](MainChoices &c) { c.outputFolder = QStringLiteral("/o"); })},
        {"empty folder line", "\"8\"\r\n\"1\"\r\n\"1\"\r\n\"\"\r\n\"1\"\r\n",
         with([](MainChoices &c) { c.outputFolder.clear(); })},
        {"garbage", QByteArray("\x01\x02\xff\xfe\x00zz", 7), base},
        {"empty file", "", base},
    };
    for (const Row &r : rows) {
        MainChoices c = base;
        applySetupIni(r.data, c);
        if (std::string(r.name) == "round trip") {
            EXPECT_EQ(c.outputFolder, QString::fromUtf8("/x/a,b \xc3\xbc")) << r.name;
        }
        EXPECT_EQ(c, r.expected) << r.name;
    }
}

TEST(SetupIni, HugeLineAndMissingFile)
{
    QTemporaryDir dir;
    const QString p = dir.path() + QStringLiteral("/setup.ini");
    QFile f(p);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("\"5\"\r\n");
    f.write(QByteArray(3 << 20, 'x')); // one 3 MiB line
    f.close();
    bool exists = false;
    const QByteArray bytes = readSettingsBytes(p, &exists);
    EXPECT_TRUE(exists);
    EXPECT_LE(bytes.size(), kSettingsReadLimit);
    MainChoices c;
    applySetupIni(bytes, c);
    EXPECT_EQ(c.bitrateIndex, 5);
    EXPECT_EQ(c.rateIndex, 1); // the huge field is no index

    readSettingsBytes(dir.path() + QStringLiteral("/none.ini"), &exists);
    EXPECT_FALSE(exists);
}

TEST(OptionsIni, FormatAndReading)
{
    EXPECT_EQ(formatOptionsIni({1, 1, 90, -5}), QByteArray("1\r\n1\r\n90\r\n-5\r\n"));
    const ProgramSettings s{1, 1, 90, 120};
    struct Row {
        const char *name;
        QByteArray data;
        ProgramSettings start, expected;
    };
    const Row rows[] = {
        {"round trip", formatOptionsIni(s), {}, s},
        {"abc counts as 0", "1\r\nabc\r\n7\r\n8\r\n", {0, 1, 0, 0}, {1, 0, 7, 8}},
        {"short file keeps the rest", "1\r\n", {0, 1, 30, 60}, {1, 1, 30, 60}},
        {"leading numeric part, rounded", " 0.4x\r\n0.6\r\n2.5\r\n3.5e\r\n", {}, {0, 1, 2, 4}},
        {"out of range gives the default", "70000\r\n1\r\n99999999999\r\n5\r\n", {1, 0, 3, 0}, {0, 1, 0, 5}},
        {"garbage", QByteArray("\xff\x00\x01", 3), {0, 0, 0, 0}, {0, 0, 0, 0}},
    };
    for (const Row &r : rows) {
        ProgramSettings got = r.start;
        applyOptionsIni(r.data, got);
        EXPECT_EQ(got, r.expected) << r.name;
    }
}

TEST(OptionsIni, EachFieldKeepsToItsDomain)
{
    // One field at a time; the others hold valid values that must survive. A value outside the
    // field's domain gives its default (0), whatever the field held before.
    const ProgramSettings start{1, 1, 30, 60};
    struct Row {
        int line; // 0 sound reminder, 1 cutter, 2 from, 3 to
        const char *value;
        qint32 expected;
    };
    const Row rows[] = {
        {0, "0", 0},
        {0, "1", 1},
        {0, "2", 0},
        {0, "-1", 0},
        {1, "0", 0},
        {1, "1", 1},
        {1, "2", 0},
        {1, "-1", 0},
        {1, "1.4", 1},
        {1, "1.6", 0},
        {2, "0", 0},
        {2, "-5", 0},
        {2, "3599999", 3599999},
        {2, "3600000", 0},
        {3, "-1", 0},
        {3, "45", 45},
        {3, "3599999.4", 3599999},
        {3, "1000000000", 0},
    };
    const QByteArray valid[4] = {"1", "1", "30", "60"};
    for (const Row &r : rows) {
        QByteArray data;
        for (int i = 0; i < 4; ++i)
            data += (i == r.line ? QByteArray(r.value) : valid[i]) + "\r\n";
        ProgramSettings got{1, 1, 30, 60};
        applyOptionsIni(data, got);
        const qint32 fields[4] = {got.gSoundReminder, got.gCutterOn, got.gCutFrom, got.gCutTo};
        const qint32 before[4] = {start.gSoundReminder, start.gCutterOn, start.gCutFrom, start.gCutTo};
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(fields[i], i == r.line ? r.expected : before[i]) << "line " << r.line << " = " << r.value;
    }
}

TEST(OptionsIni, WritesFile)
{
    QTemporaryDir dir;
    const QString p = dir.path() + QStringLiteral("/options.ini");
    ASSERT_TRUE(writeOptionsIni(p, {0, 1, 3600, 120}));
    QFile f(p);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), QByteArray("0\r\n1\r\n3600\r\n120\r\n"));
    EXPECT_FALSE(writeOptionsIni(dir.path() + QStringLiteral("/no/such/dir/options.ini"), {}));
}

TEST(OptionsRules, Verdicts)
{
    struct Row {
        const char *name;
        bool cutter;
        std::array<const char *, 6> times;
        bool accepted;
        const char *message;
        int focus;
        bool cutterAfter;
        qint32 from, to;
    };
    const Row rows[] = {
        {"1:30 and 2:00", true, {"0", "1", "30", "0", "2", "0"}, true, "", -1, true, 90, 120},
        {"hours unlimited", true, {"1", "0", "0", "100", "0", "0"}, true, "", -1, true, 3600, 360000},
        {"60 minutes", true, {"0", "60", "0", "0", "0", "0"}, false, "Minutes must less than 60", FromM, true, 0, 0},
        {"75 seconds", true, {"0", "0", "0", "0", "1", "75"}, false, "Seconds must less than 60", ToS, true, 0, 0},
        {"both wrong, minutes first",
         true,
         {"0", "61", "0", "0", "0", "99"},
         false,
         "Minutes must less than 60",
         FromM,
         true,
         0,
         0},
        {"To minutes before From seconds",
         true,
         {"0", "0", "70", "0", "80", "0"},
         false,
         "Minutes must less than 60",
         ToM,
         true,
         0,
         0},
        {"all zero unchecks", true, {"0", "0", "0", "0", "0", "0"}, true, "", -1, false, 0, 0},
        {"1.5 minutes", true, {"0", "1.5", "0", "0", "0", "0"}, true, "", -1, true, 90, 0},
        {"-5 passes", true, {"0", "0", "-5", "0", "0", "10"}, true, "", -1, true, -5, 10},
        {"text counts 0", false, {"x", "1y", "", "0", "0", "2"}, true, "", -1, false, 60, 2},
        {"59 is fine", true, {"0", "59", "59", "0", "59", "59"}, true, "", -1, true, 3599, 3599},
        {"59.5 is above 59",
         true,
         {"0", "59.5", "0", "0", "0", "0"},
         false,
         "Minutes must less than 60",
         FromM,
         true,
         0,
         0},
    };
    for (const Row &r : rows) {
        OptionsForm form;
        form.soundIndex = 1;
        form.cutter = r.cutter;
        for (int i = 0; i < 6; ++i)
            form.times[size_t(i)] = QString::fromUtf8(r.times[size_t(i)]);
        const OptionsVerdict v = judgeOptions(form);
        EXPECT_EQ(v.accepted, r.accepted) << r.name;
        EXPECT_EQ(v.message, QString::fromUtf8(r.message)) << r.name;
        EXPECT_EQ(v.focusBox, r.focus) << r.name;
        if (v.accepted) {
            EXPECT_EQ(v.cutterChecked, r.cutterAfter) << r.name;
            EXPECT_EQ(v.values.gCutterOn, r.cutterAfter ? 1 : 0) << r.name;
            EXPECT_EQ(v.values.gSoundReminder, 1) << r.name;
            EXPECT_EQ(v.values.gCutFrom, r.from) << r.name;
            EXPECT_EQ(v.values.gCutTo, r.to) << r.name;
        }
    }
}

TEST(OptionsRules, BoxesShownForStoredTimes)
{
    struct Row {
        qint32 seconds;
        std::array<const char *, 3> boxes;
    };
    const Row rows[] = {{90, {"0", "1", "30"}},      {120, {"0", "2", "0"}}, {3600, {"1", "0", "0"}},
                        {360061, {"100", "1", "1"}}, {0, {"0", "0", "0"}},   {-5, {"-1", "59", "55"}}};
    for (const Row &r : rows) {
        const auto t = timeBoxTexts(r.seconds);
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(t[size_t(i)], QString::fromLatin1(r.boxes[size_t(i)])) << r.seconds;
        // What the boxes show is stored again unchanged.
        OptionsForm f;
        f.cutter = true;
        f.times = {t[0], t[1], t[2], t[0], t[1], t[2]};
        if (r.seconds != 0) {
            EXPECT_EQ(judgeOptions(f).values.gCutFrom, r.seconds);
        }
    }
    // A window opened with the cutter off shows zeros, whatever is stored.
    const OptionsForm off = formFromSettings({0, 0, 90, 120});
    EXPECT_FALSE(off.cutter);
    for (const QString &t : off.times)
        EXPECT_EQ(t, QStringLiteral("0"));
}

TEST(OptionsRules, CutIndicator)
{
    struct Row {
        ProgramSettings s;
        const char *text;
    };
    const Row rows[] = {
        {{0, 1, 1, 3}, "Cut: from 0:00:01 for 0:00:03"},
        {{0, 1, 3661, 7322}, "Cut: from 1:01:01 for 2:02:02"},
        {{1, 1, 0, kMaxCutSeconds}, "Cut: from 0:00:00 for 999:59:59"},
        {{0, 0, 1, 3}, ""},
    };
    for (const Row &r : rows)
        EXPECT_EQ(cutIndicatorText(r.s), QString::fromLatin1(r.text)) << r.text;
}

TEST(JobsSetting, OnlyTheMenusValuesAreChoices)
{
    const std::pair<const char *, JobsChoice> texts[] = {
        {"1", JobsChoice::One},        {" 2 ", JobsChoice::Two},      {"4", JobsChoice::Four},
        {"all", JobsChoice::AllCores}, {"ALL", JobsChoice::AllCores}, {"3", JobsChoice::One},
        {"0", JobsChoice::One},        {"-4", JobsChoice::One},       {"", JobsChoice::One},
        {"2x", JobsChoice::One},       {"4.0", JobsChoice::One},
    };
    for (const auto &[text, choice] : texts)
        EXPECT_EQ(jobsChoiceFromText(QString::fromLatin1(text)), choice) << text;
    // A machine that says nothing of its cores still converts one file at a time.
    EXPECT_EQ(jobsFor(JobsChoice::AllCores, 0), 1);
    EXPECT_EQ(jobsCaption(JobsChoice::AllCores, 0), QStringLiteral("All Cores (1)"));
}

TEST(JobsSetting, ZelmoraConfBesideSetupIni)
{
    QTemporaryDir dir;
    const QString conf = StateLocations(dir.path(), true).jobsConf();
    EXPECT_EQ(conf, dir.path() + QStringLiteral("/zelmora.conf"));
    EXPECT_EQ(readJobsSetting(conf), JobsChoice::One) << "no file: 1";
    for (JobsChoice c : jobsChoices()) {
        ASSERT_TRUE(writeJobsSetting(conf, c));
        EXPECT_EQ(readJobsSetting(conf), c);
    }
    QFile f(conf);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_TRUE(f.readAll().contains("[Batch]\nJobs=all"));
    f.close();

    struct Row {
        const char *name;
        QByteArray text;
        JobsChoice expected;
    };
    const Row rows[] = {
        {"written by hand", "[Batch]\r\nJobs=4\r\n", JobsChoice::Four},
        {"other sections kept apart", "[Other]\nJobs=2\n[Batch]\nFoo=1\n", JobsChoice::One},
        {"a list is no choice", "[Batch]\nJobs=2, 4\n", JobsChoice::One},
        {"out of the menu", "[Batch]\nJobs=16\n", JobsChoice::One},
        {"garbage", QByteArray("\x00\xff[Batch\nJobs\x01=2", 17), JobsChoice::One},
    };
    // An edit by hand comes later than the program's own write. Qt re-reads a settings file only
    // when its size or time changed, and two writes of one size within one clock tick look the
    // same, so each edit here is stamped a second later than the one before.
    QDateTime editedAt = QDateTime::currentDateTime();
    const auto writeByHand = [&](const QByteArray &text) {
        QFile w(conf);
        if (!w.open(QIODevice::WriteOnly | QIODevice::Truncate) || w.write(text) != text.size() || !w.flush())
            return false;
        editedAt = editedAt.addSecs(1);
        return w.setFileTime(editedAt, QFileDevice::FileModificationTime);
    };
    for (const Row &r : rows) {
        ASSERT_TRUE(writeByHand(r.text)) << r.name;
        EXPECT_EQ(readJobsSetting(conf), r.expected) << r.name;
        // Whatever the file held, a choice made now is kept.
        EXPECT_TRUE(writeJobsSetting(conf, JobsChoice::Four)) << r.name;
        EXPECT_EQ(readJobsSetting(conf), JobsChoice::Four) << r.name;
    }
    // Writing keeps what else the file holds.
    ASSERT_TRUE(writeByHand("[Other]\nKeep=yes\n"));
    ASSERT_TRUE(writeJobsSetting(conf, JobsChoice::Two));
    EXPECT_EQ(readJobsSetting(conf), JobsChoice::Two);
    EXPECT_EQ(QSettings(conf, QSettings::IniFormat).value(QStringLiteral("Other/Keep")).toString(),
              QStringLiteral("yes"));
    // A folder that cannot be made (a file stands in its way): false, nothing else.
    QFile blocker(dir.path() + QStringLiteral("/file"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    EXPECT_FALSE(writeJobsSetting(dir.path() + QStringLiteral("/file/zelmora.conf"), JobsChoice::Two));
}

// The store the window and zelmora-cli share: what a copy without files starts from, what it
// reads back after writing, and a settings folder that cannot be made (a file in its way).
TEST(SettingsStore, FirstStartRoundTripAndAFolderThatCannotBeMade)
{
    QTemporaryDir dir;
    const QString copy = dir.path() + QStringLiteral("/copy");
    const SettingsStore store(StateLocations(copy, true));
    EXPECT_EQ(store.locations().setupIni(), copy + QStringLiteral("/setup.ini"));

    // No files: the first-start choices with this copy's output folder, the sound on and the
    // cutter off whatever the settings held, one job, the folder opened when done.
    bool found = true;
    MainChoices first;
    first.outputFolder = copy + QStringLiteral("/output");
    EXPECT_EQ(store.readChoices(&found), first);
    EXPECT_FALSE(found);
    ProgramSettings s;
    s.gSoundReminder = 1;
    s.gCutterOn = 1;
    s.gCutFrom = 7;
    EXPECT_FALSE(store.readOptions(s));
    EXPECT_EQ(s.gSoundReminder, 0);
    EXPECT_EQ(s.gCutterOn, 0);
    EXPECT_EQ(s.gCutFrom, 7) << "the times keep their values";
    EXPECT_EQ(store.readJobs(), JobsChoice::One);
    EXPECT_TRUE(store.readOpenFolderWhenDone());

    // Written (the folder is made), then read back.
    const MainChoices chosen{3, 0, 0, QStringLiteral("/music/a \"b\" ü"), 4};
    ASSERT_TRUE(store.writeChoices(chosen));
    ASSERT_TRUE(store.writeJobs(JobsChoice::Four));
    ASSERT_TRUE(store.writeOpenFolderWhenDone(false));
    EXPECT_EQ(store.readChoices(&found), chosen);
    EXPECT_TRUE(found);
    EXPECT_EQ(store.readJobs(), JobsChoice::Four);
    EXPECT_FALSE(store.readOpenFolderWhenDone());
    ASSERT_TRUE(writeOptionsIni(store.locations().optionsIni(), ProgramSettings{1, 1, 5, 10}));
    EXPECT_TRUE(store.readOptions(s));
    EXPECT_EQ(s, (ProgramSettings{1, 1, 5, 10}));
    // A setup.ini that names no folder gets this copy's output folder.
    MainChoices noFolder = chosen;
    noFolder.outputFolder.clear();
    ASSERT_TRUE(store.writeChoices(noFolder));
    EXPECT_EQ(store.readChoices().outputFolder, copy + QStringLiteral("/output"));

    // A file where the settings folder should be: every write says it failed, reads keep their
    // defaults.
    QFile blocker(dir.path() + QStringLiteral("/blocked"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    const SettingsStore blocked(StateLocations(dir.path() + QStringLiteral("/blocked/copy"), true));
    EXPECT_FALSE(blocked.writeChoices(chosen));
    EXPECT_FALSE(blocked.writeJobs(JobsChoice::Two));
    EXPECT_FALSE(blocked.writeOpenFolderWhenDone(false));
    EXPECT_EQ(blocked.readJobs(), JobsChoice::One);
    EXPECT_TRUE(blocked.readOpenFolderWhenDone());
}

TEST(BatchOptionsConf, ReadingWritingAndBadValues)
{
    QTemporaryDir dir;
    const QString conf = dir.path() + QStringLiteral("/zelmora.conf");
    // Nothing there: flat outputs, ask, originals kept.
    EXPECT_EQ(readBatchOptions(conf), BatchOptions{});
    struct Row {
        QByteArray file;
        BatchOptions expected;
    };
    const Row rows[] = {
        {"[Batch]\nKeepFolderStructure=true\nExisting=skip\nTrashOriginals=yes\n", {true, ExistingChoice::Skip, true}},
        {"[Batch]\nExisting= NUMBER \n", {false, ExistingChoice::Number, false}},
        {"[Batch]\nExisting=replace\nKeepFolderStructure=0\n", {false, ExistingChoice::Replace, false}},
        // Garbage, a list, an unknown answer: the defaults.
        {"[Batch]\nKeepFolderStructure=maybe\nExisting=update\nTrashOriginals=a,b\n", {}},
        {"[Batch]\nExisting=skip,replace\n", {}},
        {"not an ini file at all \x01\x02", {}},
    };
    for (const Row &r : rows) {
        QFile f(conf);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(r.file);
        f.close();
        EXPECT_EQ(readBatchOptions(conf), r.expected) << r.file.constData();
    }
    // A write keeps the other keys of the file, and every answer reads back as written.
    QFile f(conf);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write("[Batch]\nJobs=4\nOpenFolderWhenDone=false\n");
    f.close();
    for (ExistingChoice c :
         {ExistingChoice::Ask, ExistingChoice::Replace, ExistingChoice::Skip, ExistingChoice::Number}) {
        const BatchOptions o{true, c, true};
        ASSERT_TRUE(writeBatchOptions(conf, o));
        EXPECT_EQ(readBatchOptions(conf), o);
        EXPECT_EQ(existingChoiceFromText(existingChoiceText(c)), c);
    }
    EXPECT_EQ(readJobsSetting(conf), JobsChoice::Four);
    EXPECT_FALSE(readOpenFolderWhenDone(conf));
    EXPECT_EQ(QSettings(conf, QSettings::IniFormat).value(QStringLiteral("Batch/Existing")).toString(),
              QStringLiteral("number"));
}

// The Loudness= texts: each menu choice reads back as itself; anything else is Off. Album
// normalisation reaches the batch as album mode with a target.
TEST(LoudnessSetting, TextsAndWhatTheBatchGets)
{
    struct Row {
        const char *text;
        zm::LoudnessChoice choice;
        zm::ReplayGain gain;
        const char *written; // the text the choice is kept as
    };
    const Row rows[] = {
        {"off", {}, zm::ReplayGain::Off, "off"},
        {"tags", {true, std::nullopt}, zm::ReplayGain::Album, "tags"},
        {"-16", {false, -16.0}, zm::ReplayGain::Off, "-16"},
        {"album:-16", {false, -16.0, true}, zm::ReplayGain::Album, "album:-16"},
        {" Album:-23 ", {false, -23.0, true}, zm::ReplayGain::Album, "album:-23"},
        {"album:-99", {}, zm::ReplayGain::Off, "off"},
        {"album:", {}, zm::ReplayGain::Off, "off"},
        {"album:tags", {}, zm::ReplayGain::Off, "off"},
        {"-16album:", {}, zm::ReplayGain::Off, "off"},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.text);
        const zm::LoudnessChoice c = zm::loudnessChoiceFromText(QString::fromLatin1(r.text));
        EXPECT_EQ(c, r.choice);
        EXPECT_EQ(zm::replayGainFor(c), r.gain);
        EXPECT_EQ(zm::loudnessSettingText(c), QString::fromLatin1(r.written));
    }
}
