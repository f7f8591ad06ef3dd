// Unit tests of vv's option parsing, preset reading, progress file and stream choices.
#include "vv/convert.h"
#include "vv/options.h"
#include "vv/preset.h"
#include "vv/progress_file.h"
#include "vv/video_path.h"

#include "common/errors.h"
#include "converters/test_files.h"

extern "C" {
#include <libavformat/avformat.h>
}

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <unistd.h>

using zmconv::ConvError;
using zmconv::Failure;

namespace {

std::vector<std::string> words(const std::string &text)
{
    // Blank-separated words; the option texts of the dialog contain no quoted parts here.
    std::vector<std::string> out;
    std::istringstream in(text);
    std::string w;
    while (in >> w)
        out.push_back(w);
    return out;
}

using TempDir = zmtest::TempFolder;

std::string readFile(const std::string &path)
{
    return zmtest::read_file(path);
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Command lines the dialog sends, split into arguments the way the front end does.

struct GoodLine {
    const char *name;
    const char *line; // after "vv"
    const char *vcodec;
    long long vbitrate;
    int width, height;
    vv::Rational rate;
    const char *acodec;
    long long abitrate;
    int sampleRate, channels;
    const char *preset;
    std::optional<vv::Rational> aspect;
};

class ParseGood : public ::testing::TestWithParam<GoodLine>
{};

TEST_P(ParseGood, FillsEveryField)
{
    const GoodLine &c = GetParam();
    const vv::Options o = vv::parse_options(words(c.line));
    EXPECT_EQ(o.input, "IN.flv");
    EXPECT_EQ(o.output, "OUT.ext");
    EXPECT_TRUE(o.overwrite);
    EXPECT_EQ(o.video_codec, c.vcodec);
    EXPECT_EQ(o.video_bit_rate.value_or(0), c.vbitrate);
    EXPECT_EQ(o.width.value_or(0), c.width);
    EXPECT_EQ(o.height.value_or(0), c.height);
    ASSERT_TRUE(o.frame_rate);
    EXPECT_EQ(*o.frame_rate, c.rate);
    EXPECT_EQ(o.audio_codec, c.acodec);
    EXPECT_EQ(o.audio_bit_rate.value_or(0), c.abitrate);
    EXPECT_EQ(o.sample_rate.value_or(0), c.sampleRate);
    EXPECT_EQ(o.channels.value_or(0), c.channels);
    EXPECT_EQ(o.preset_file, c.preset);
    EXPECT_EQ(o.aspect, c.aspect);
}

INSTANTIATE_TEST_SUITE_P(
    DialogLines, ParseGood,
    ::testing::Values(
        GoodLine{"Default3gp",
                 "-i IN.flv -y -vcodec h263 -b 256k -s 176x144  -r 14.985 -acodec "
                 "libopencore_amrnb -ar 8000 -ab 12.2k -ac 1 OUT.ext",
                 "h263",
                 256000,
                 176,
                 144,
                 {2997, 200},
                 "libopencore_amrnb",
                 12200,
                 8000,
                 1,
                 "",
                 std::nullopt},
        GoodLine{"Default3g2",
                 "-i IN.flv -y -fpre /opt/my/h264.dat -vcodec libx264 -b 512k -s 320x240  -r "
                 "14.985 -strict experimental -acodec aac -ar 44100 -ab 112k -ac 2 OUT.ext",
                 "libx264",
                 512000,
                 320,
                 240,
                 {2997, 200},
                 "aac",
                 112000,
                 44100,
                 2,
                 "/opt/my/h264.dat",
                 std::nullopt},
        GoodLine{"DefaultMp4DoubleBlank",
                 "-i IN.flv -y -vcodec  mpeg4 -b 512k -s 320x240  -r 23.976 -strict "
                 "experimental -acodec aac -ar 44100 -ab 112k -ac 2 OUT.ext",
                 "mpeg4",
                 512000,
                 320,
                 240,
                 {2997, 125},
                 "aac",
                 112000,
                 44100,
                 2,
                 "",
                 std::nullopt},
        GoodLine{"DefaultAvi",
                 "-i IN.flv -y -vcodec  mpeg4 -b 512k -s 320x240  -r 23.976 -acodec mp2 -ar "
                 "22050 -ab 128k -ac 2 OUT.ext",
                 "mpeg4",
                 512000,
                 320,
                 240,
                 {2997, 125},
                 "mp2",
                 128000,
                 22050,
                 2,
                 "",
                 std::nullopt},
        GoodLine{"XvidAspect",
                 "-i IN.flv -y -vcodec libxvid -aspect 4:3 -b 4000k -s 720x576  -r 29.976 "
                 "-acodec pcm_s16le -ar 48000 -ab 320k -ac 1 OUT.ext",
                 "libxvid",
                 4000000,
                 720,
                 576,
                 {3747, 125},
                 "pcm_s16le",
                 320000,
                 48000,
                 1,
                 "",
                 vv::Rational{4, 3}},
        GoodLine{"FlvAmrModes",
                 "-i IN.flv -y -vcodec flv -b 1500k -s 1280x720  -r 5 -acodec libmp3lame -ar "
                 "8000 -ab 4.75k -ac 1 OUT.ext",
                 "flv",
                 1500000,
                 1280,
                 720,
                 {5, 1},
                 "libmp3lame",
                 4750,
                 8000,
                 1,
                 "",
                 std::nullopt},
        GoodLine{"OptionsInAnyOrder",
                 "-y -ac 2 -ar 32000 -ab 5.9k -acodec mp2 -r 30 -s 128x96 -b 80k -vcodec h263 "
                 "-i IN.flv OUT.ext",
                 "h263",
                 80000,
                 128,
                 96,
                 {30, 1},
                 "mp2",
                 5900,
                 32000,
                 2,
                 "",
                 std::nullopt}),
    [](const auto &row) { return std::string(row.param.name); });

TEST(ParseOptions, FrameRatesOfTheDialog)
{
    const struct {
        const char *text;
        vv::Rational rate;
    } rows[] = {{"5", {5, 1}},
                {"6", {6, 1}},
                {"8", {8, 1}},
                {"10", {10, 1}},
                {"12", {12, 1}},
                {"14.985", {2997, 200}},
                {"15", {15, 1}},
                {"20", {20, 1}},
                {"23.976", {2997, 125}},
                {"25", {25, 1}},
                {"29.976", {3747, 125}},
                {"30", {30, 1}},
                {"30000/1001", {30000, 1001}}};
    for (const auto &r : rows)
        EXPECT_EQ(vv::parse_frame_rate(r.text), r.rate) << r.text;
}

TEST(ParseOptions, WithoutYesAndOptionalValues)
{
    const vv::Options o = vv::parse_options({"-i", "in file.mp4", "out file.avi"});
    EXPECT_FALSE(o.overwrite);
    EXPECT_EQ(o.input, "in file.mp4");
    EXPECT_EQ(o.output, "out file.avi");
    EXPECT_TRUE(o.video_codec.empty());
    EXPECT_FALSE(o.video_bit_rate || o.width || o.frame_rate || o.sample_rate || o.channels);
}

struct BadLine {
    const char *line;
    const char *message; // part of the error text
};

class ParseBad : public ::testing::TestWithParam<BadLine>
{};

TEST_P(ParseBad, IsAUsageErrorNamingTheProblem)
{
    const BadLine &c = GetParam();
    try {
        vv::parse_options(words(c.line));
        FAIL() << "accepted: " << c.line;
    } catch (const ConvError &e) {
        EXPECT_EQ(e.kind(), Failure::Usage) << c.line;
        EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos)
            << c.line << " -> " << e.what();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Errors, ParseBad,
    ::testing::Values(
        BadLine{"-i a.mp4 -y -foo 1 b.avi", "-foo"}, BadLine{"-i a.mp4 -y b.avi -b", "-b"},
        BadLine{"-y b.avi", "-i"}, BadLine{"-i a.mp4 -y", "output"},
        BadLine{"-i a.mp4 -y b.avi c.avi", "b.avi"},
        BadLine{"-i a.mp4 -i c.mp4 b.avi", "one input"}, BadLine{"-i a.mp4 -s 176 b.avi", "-s"},
        BadLine{"-i a.mp4 -s 175x144 b.avi", "even"}, BadLine{"-i a.mp4 -s 0x0 b.avi", "-s"},
        BadLine{"-i a.mp4 -s 320y240 b.avi", "-s"}, BadLine{"-i a.mp4 -s 320x240x2 b.avi", "-s"},
        BadLine{"-i a.mp4 -s x240 b.avi", "-s"}, BadLine{"-i a.mp4 -s huge b.avi", "-s"},
        BadLine{"-i a.mp4 -s 99999x99999 b.avi", "8192"}, BadLine{"-i a.mp4 -r abc b.avi", "-r"},
        BadLine{"-i a.mp4 -r 0 b.avi", "-r"}, BadLine{"-i a.mp4 -r 1000 b.avi", "-r"},
        BadLine{"-i a.mp4 -b -256k b.avi", "-b"}, BadLine{"-i a.mp4 -b 256q b.avi", "-b"},
        BadLine{"-i a.mp4 -ab fast b.avi", "-ab"}, BadLine{"-i a.mp4 -ar 44.1k b.avi", "-ar"},
        BadLine{"-i a.mp4 -ar 0 b.avi", "-ar"}, BadLine{"-i a.mp4 -ac 0 b.avi", "-ac"},
        BadLine{"-i a.mp4 -ac 9 b.avi", "-ac"}, BadLine{"-i a.mp4 -aspect 4:0 b.avi", "-aspect"},
        BadLine{"-i a.mp4 -aspect wide b.avi", "-aspect"},
        BadLine{"-i a.mp4 -strict sloppy b.avi", "-strict"}));

TEST(ParseOptions, SizeNames)
{
    EXPECT_EQ(vv::parse_frame_size("qcif"), (std::pair<int, int>{176, 144}));
    EXPECT_EQ(vv::parse_frame_size("1280x720"), (std::pair<int, int>{1280, 720}));
}

TEST(ParseOptions, AspectTexts)
{
    EXPECT_EQ(vv::parse_aspect("4:3"), (vv::Rational{4, 3}));
    EXPECT_EQ(vv::parse_aspect("16:9"), (vv::Rational{16, 9}));
    EXPECT_EQ(vv::parse_aspect("1.5"), (vv::Rational{3, 2}));
}

// ---------------------------------------------------------------------------------------------
// Preset files.

TEST(Preset, ParsesKeysValuesAndComments)
{
    const vv::PresetEntries e = vv::parse_preset(
        "# comment\n\n  profile = baseline \r\npreset=veryfast\n\t# indented comment\n"
        "x264-params=keyint=60:min-keyint=30\nempty=\n",
        "p.dat");
    const vv::PresetEntries want = {{"profile", "baseline", 3},
                                    {"preset", "veryfast", 4},
                                    {"x264-params", "keyint=60:min-keyint=30", 6},
                                    {"empty", "", 7}};
    EXPECT_EQ(e, want);
}

TEST(Preset, BadFilesAreClearErrors)
{
    TempDir dir;
    const std::string binary = dir.path + "/binary.dat";
    {
        std::ofstream f(binary, std::ios::binary);
        f << "profile=baseline\n" << std::string(1, '\0') << "x";
    }
    const std::string big = dir.path + "/big.dat";
    {
        std::ofstream f(big);
        for (int i = 0; i < 10000; ++i)
            f << "# padding padding padding\n";
    }
    const struct {
        std::string text; // for parse_preset, or a path for read_preset_file when isPath
        bool isPath;
        const char *message;
    } rows[] = {
        {"profile baseline\n", false, "line 1"},
        {"# ok\n=value\n", false, "line 2"},
        {dir.path + "/missing.dat", true, "No such file"},
        {dir.path, true, "not a regular file"},
        {binary, true, "not a text file"},
        {big, true, "too large"},
    };
    for (const auto &r : rows) {
        try {
            if (r.isPath)
                vv::read_preset_file(r.text);
            else
                vv::parse_preset(r.text, "p.dat");
            ADD_FAILURE() << "accepted " << r.text;
        } catch (const ConvError &e) {
            // A bad line is a bad command line; a file that cannot be read is a bad input.
            EXPECT_EQ(e.kind(), r.isPath ? Failure::Input : Failure::Usage) << e.what();
            EXPECT_NE(std::string(e.what()).find(r.message), std::string::npos) << e.what();
        }
    }
}

TEST(Preset, ShippedFileIsValidForLibx264)
{
    const vv::PresetEntries e = vv::read_preset_file(VV_H264_DAT);
    ASSERT_FALSE(e.empty());
    bool baseline = false;
    for (const auto &entry : e)
        baseline |= (entry.key == "profile" && entry.value == "baseline");
    EXPECT_TRUE(baseline);
}

// ---------------------------------------------------------------------------------------------
// progress.txt

TEST(ProgressFile, NeverDecreasesStaysBelow1000AndEndsAt1000)
{
    TempDir dir;
    const std::string path = dir.path + "/progress.txt";
    {
        std::ofstream f(path);
        f << "1000"; // left from an earlier run: must be replaced whole, not patched
    }
    vv::ProgressFile p(path, std::chrono::milliseconds(0));
    p.flush();
    EXPECT_EQ(readFile(path), "0");
    const struct {
        double fraction;
        const char *shown;
    } steps[] = {{0.0123, "12"},  {0.5, "500"}, {0.4, "500"}, {-1.0, "500"},
                 {0.9999, "999"}, {1.0, "999"}, {2.5, "999"}, {std::nan(""), "999"}};
    for (const auto &s : steps) {
        p.update(s.fraction);
        EXPECT_EQ(readFile(path), s.shown) << s.fraction;
    }
    p.finish();
    EXPECT_EQ(readFile(path), "1000");
}

TEST(ProgressFile, ThrottlesRewrites)
{
    TempDir dir;
    const std::string path = dir.path + "/progress.txt";
    vv::ProgressFile p(path, std::chrono::hours(1));
    p.flush();
    p.update(0.5);
    EXPECT_EQ(readFile(path), "0"); // within the interval: not written yet
    p.flush();
    EXPECT_EQ(readFile(path), "500"); // held back, not lost
    p.finish();
    EXPECT_EQ(readFile(path), "1000"); // the end is always written
}

TEST(ProgressFile, UnwritableFolderIsHarmless)
{
    vv::ProgressFile p("/nonexistent-folder/progress.txt");
    EXPECT_NO_THROW({
        p.flush();
        p.update(0.5);
        p.finish();
    });
    EXPECT_FALSE(std::filesystem::exists("/nonexistent-folder"));
}

TEST(ProgressFile, NamedFileWinsOverTheOneBesideTheProgram)
{
    const struct {
        const char *named;
        const char *folder;
        const char *path;
    } rows[] = {
        {nullptr, "/opt/vid", "/opt/vid/progress.txt"},
        {"", "/opt/vid", "/opt/vid/progress.txt"}, // set but empty: as if unset
        {"/run/user/1000/vidrune/progress-12-a.txt", "/opt/vid",
         "/run/user/1000/vidrune/progress-12-a.txt"},
        {"/tmp/with space/进度.txt", "", "/tmp/with space/进度.txt"},
        {nullptr, "", ""}, // nowhere to write
    };
    for (const auto &r : rows)
        EXPECT_EQ(vv::progress_file_path(r.named, r.folder), r.path)
            << (r.named ? r.named : "(unset)") << " / " << r.folder;
}

// A progress file that names the input or the output, or a file holding something else, is
// refused before anything is written (it used to overwrite the input with "1000").
TEST(ProgressFile, RefusedWhenItIsTheInputTheOutputOrAnotherFile)
{
    TempDir dir;
    const std::string in = dir.path + "/in.mp4";
    const std::string out = dir.path + "/out.avi";
    const std::string link = dir.path + "/link-to-input";
    std::ofstream(in) << "media bytes";
    std::filesystem::create_symlink(in, link);
    std::filesystem::create_directory(dir.path + "/sub");
    auto written = [&](const std::string &name, const std::string &text) {
        std::ofstream(dir.path + "/" + name, std::ios::binary) << text;
        return dir.path + "/" + name;
    };
    const struct {
        std::string progress;
        const char *refusal; // part of the message; "" = taken
    } rows[] = {
        {in, "is the input file"},
        {link, "is the input file"},                        // the same file through a link
        {dir.path + "/sub/../in.mp4", "is the input file"}, // the same name written otherwise
        {out, "is the output file"},                        // not there yet, named alike
        {dir.path + "/./out.avi", "is the output file"},
        {written("notes.txt", "my notes"), "holds something else"},
        {written("minus.txt", "-5"), "holds something else"},
        {written("long.txt", std::string(40, '7')), "holds something else"},
        {written("binary.txt", std::string("\0\x01", 2)), "holds something else"},
        {written("empty.txt", ""), ""},
        {written("zero.txt", "0"), ""},
        {written("half.txt", "500\n"), ""},
        {written("full.txt", " 1000 "), ""},
        {dir.path + "/new-progress.txt", ""},
        {"", ""}, // no progress file at all
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.progress);
        try {
            vv::check_progress_file(row.progress, in, out);
            EXPECT_STREQ(row.refusal, "") << "taken";
        } catch (const ConvError &e) {
            EXPECT_EQ(e.kind(), Failure::Usage);
            EXPECT_NE(std::string(row.refusal), "") << e.what();
            EXPECT_NE(std::string(e.what()).find(row.refusal), std::string::npos) << e.what();
        }
    }
    EXPECT_EQ(readFile(in), "media bytes");
    EXPECT_FALSE(std::filesystem::exists(out));
}

TEST(ProgressFile, ExecutableFolderIsThisTestsFolder)
{
    const std::string folder = vv::executable_folder();
    ASSERT_FALSE(folder.empty());
    EXPECT_EQ(access((folder + "/vv_unit_tests").c_str(), X_OK), 0) << folder;
}

// ---------------------------------------------------------------------------------------------
// Stream choices.

TEST(VideoChoices, H263SizesRatesAndEvenSizes)
{
    const struct {
        int w, h;
        bool ok;
    } sizes[] = {{128, 96, true},    {176, 144, true},  {352, 288, true},  {704, 576, true},
                 {1408, 1152, true}, {320, 240, false}, {176, 120, false}, {96, 128, false}};
    for (const auto &s : sizes)
        EXPECT_EQ(vv::is_h263_size(s.w, s.h), s.ok) << s.w << "x" << s.h;

    EXPECT_EQ(vv::limit_frame_rate({2997, 200}), (vv::Rational{2997, 200}));
    EXPECT_EQ(vv::limit_frame_rate({50, 2}), (vv::Rational{25, 1}));
    const vv::Rational odd = vv::limit_frame_rate({1000000, 33367});
    EXPECT_LE(odd.den, 65535);
    EXPECT_NEAR(double(odd.num) / odd.den, 1000000.0 / 33367, 1e-6);

    vv::VideoSettings keep;
    EXPECT_EQ(vv::output_size(keep, 321, 243), (std::pair<int, int>{320, 242}));
    EXPECT_EQ(vv::output_size(keep, 640, 360), (std::pair<int, int>{640, 360}));
    vv::VideoSettings given;
    given.width = 176;
    given.height = 144;
    EXPECT_EQ(vv::output_size(given, 1281, 721), (std::pair<int, int>{176, 144}));
}

TEST(VideoChoices, DefaultEncodersFollowTheContainer)
{
    const struct {
        const char *ext;
        const char *video;
        const char *audio;
    } rows[] = {{"a.3gp", "h263", "libopencore_amrnb"},
                {"a.3g2", "h263", "libopencore_amrnb"},
                {"a.mp4", "libx264", "aac"},
                {"a.avi", "mpeg4", "libmp3lame"},
                {"a.flv", "flv", "libmp3lame"}};
    for (const auto &r : rows) {
        const AVOutputFormat *f = av_guess_format(nullptr, r.ext, nullptr);
        ASSERT_NE(f, nullptr) << r.ext;
        EXPECT_EQ(vv::video_encoder_name("", f), r.video) << r.ext;
        EXPECT_EQ(vv::audio_encoder_name("", f), r.audio) << r.ext;
        EXPECT_EQ(vv::video_encoder_name("libxvid", f), "libxvid");
        EXPECT_EQ(vv::audio_encoder_name("mp2", f), "mp2");
    }
}
