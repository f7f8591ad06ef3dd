// End-to-end tests of the check both converters make before an output gets its name: a file cut
// short by the writer (ZMCONV_FAULT_TRUNCATE_OUTPUT) fails with exit 5 and one line, leaves
// nothing and keeps an earlier file of that name; --no-verify leaves the check out; damaged
// inputs that convert as far as they go still pass, at the length that could be decoded.
#include "converters/shared/shared_test_support.h"

#include <QRegularExpression>

#include <gtest/gtest.h>

using namespace sharedtest;

namespace {

QProcessEnvironment with_fault(const char* share)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("ZMCONV_FAULT_TRUNCATE_OUTPUT", share);
    return env;
}

RunResult run_job(const Job& job, const QString& out, const QProcessEnvironment& env,
                  const QStringList& more = {})
{
    return run(job.converter->program(),
               QStringList{"-i", Env::get().media(job.input), "-y"} + job.options + more
                   + QStringList{out},
               env);
}

const Job kCutShort[] = {
    {&kConv, "short.wav", {}, "mp3"},
    {&kConv, "short.wav", {}, "wav"},
    {&kConv, "short.wav", {}, "flac"},
    {&kConv, "short.wav", {}, "ogg"},
    {&kConv, "short.wav", {}, "m4a"}, // its index is at the end: cut off, nothing can be read
    {&kVv, "short.mp4", kVv.options, "avi"},
    {&kVv, "short.mp4", {"-vcodec", "mpeg4", "-acodec", "aac", "-strict", "experimental"}, "mp4"},
};

} // namespace

TEST(OutputCheck, AnOutputCutShortFailsAndNeverGetsItsName)
{
    Env& env = Env::get();
    for (const Job& job : kCutShort) {
        SCOPED_TRACE(job.trace());
        const QString name = QString("out.") + job.ext;
        const QString lengths = "([0-9]+\\.[0-9]+) s of ([0-9]+\\.[0-9]+) s";
        const QRegularExpression line("(^|\n)" + QString(job.converter->name)
                                      + ": output check failed: (" + lengths
                                      + "|the output cannot be read \\(.+\\))\n$");
        // A new output, and one that replaces an earlier file.
        for (const bool earlier : {false, true}) {
            const QString folder = env.fresh_folder();
            const QString out = folder + "/" + name;
            if (earlier) {
                ASSERT_TRUE(write_file(out, "the earlier file"));
            }
            const RunResult r = run_job(job, out, with_fault("0.5"));
            EXPECT_EQ(r.exitCode, 5) << r.err.toStdString();
            const QRegularExpressionMatch m = line.match(QString::fromUtf8(r.err));
            ASSERT_TRUE(m.hasMatch()) << r.err.toStdString();
            if (m.hasCaptured(3)) {
                // The length found, of the input's one second.
                EXPECT_LT(m.captured(3).toDouble(), 0.8);
                EXPECT_NEAR(m.captured(4).toDouble(), 1.0, 0.1);
            }
            EXPECT_EQ(listing(folder), earlier ? QStringList{name} : QStringList{});
            if (earlier) {
                EXPECT_EQ(contents(out), QByteArray("the earlier file"));
            }
        }
        // Unchecked, the same fault gives the cut file under its name: the check is what held
        // it back.
        const QString folder = env.fresh_folder();
        const QString out = folder + "/" + name;
        const RunResult r = run_job(job, out, with_fault("0.5"), {"--no-verify"});
        EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
        EXPECT_EQ(listing(folder), QStringList{name});
        // And without the fault the check passes.
        const RunResult whole = run_job(job, out, QProcessEnvironment::systemEnvironment());
        EXPECT_EQ(whole.exitCode, 0) << whole.err.toStdString();
        EXPECT_NEAR(decoded_seconds(out), 1.0, 0.1);
    }
}

// An input that ends before its stated length (a third cut off) converts what it has into every
// format: the output's length is what the decoder could read of the input, and that passes.
TEST(OutputCheck, ADamagedInputPassesAtTheLengthThatCouldBeRead)
{
    Env& env = Env::get();
    const QByteArray whole = contents(env.media("three.flv"));
    const QString cut = env.fresh_folder() + "/cut three.flv";
    ASSERT_TRUE(write_file(cut, whole.left(whole.size() * 2 / 3)));
    const double readable = decoded_seconds(cut);
    ASSERT_GT(readable, 1.0);
    ASSERT_LT(readable, 2.6);
    const Job jobs[] = {
        {&kConv, "", {}, "mp3"},
        {&kConv, "", {}, "aac"},
        {&kConv, "", {}, "m4a"},
        {&kConv, "", {}, "opus"},
        {&kConv, "", {}, "ogg"},
        {&kConv, "", {}, "flac"},
        {&kConv, "", {}, "wma"},
        {&kConv, "", {}, "ac3"},
        {&kConv, "", {}, "amr"},
        {&kConv, "", {}, "wav"},
        {&kVv, "", kVv.options, "avi"},
        {&kVv, "", {"-vcodec", "flv", "-acodec", "libmp3lame", "-ar", "44100"}, "flv"},
    };
    for (const Job& job : jobs) {
        SCOPED_TRACE(job.trace());
        const QString out = env.fresh_folder() + "/cut." + job.ext;
        const RunResult r = job.run_into(out, cut);
        ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
        EXPECT_FALSE(r.err.contains("output check failed"));
        EXPECT_NEAR(decoded_seconds(out), readable, 0.15);
    }
}
