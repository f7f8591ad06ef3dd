// Unit tests of conv's command line and the shared library's value handling.
#include "conv/conv_job.h"

#include "common/audio_encoder.h"
#include "common/errors.h"
#include "common/input_file.h"
#include "common/options.h"
#include "common/progress.h"

#include <QProcess>
#include <QString>

#include <gtest/gtest.h>

#include <array>
#include <optional>
#include <vector>

using zmconv::ConvError;
using zmconv::Failure;

namespace {

std::vector<std::string> split(const QString& line)
{
    std::vector<std::string> out;
    for (const QString& a : QProcess::splitCommand(line))
        out.push_back(a.toStdString());
    return out;
}

} // namespace

TEST(Options, Tokenize)
{
    const std::array<zmconv::OptionSpec, 4> table = {{
        {"i", true, 1},
        {"y", false, 2},
        {"ab", true, 3},
        {"b:a", true, 3},
    }};
    struct Row {
        std::vector<std::string> args;
        const char* error; // nullptr = accepted
        std::vector<std::pair<int, std::string>> options;
        std::vector<std::string> positional;
    } rows[] = {
        {{"-i", "in.flv", "-y", "out.mp3"}, nullptr, {{1, "in.flv"}, {2, ""}}, {"out.mp3"}},
        {{"-b:a", "64k", "-ab", "-5"}, nullptr, {{3, "64k"}, {3, "-5"}}, {}},
        {{"a", "-", "b"}, nullptr, {}, {"a", "-", "b"}},
        {{"-i"}, "missing value for -i", {}, {}},
        {{"-x"}, "unknown option -x", {}, {}},
        {{"-Y"}, "unknown option -Y", {}, {}},
        {{"--y"}, "unknown option --y", {}, {}},
    };
    for (const Row& row : rows) {
        try {
            const auto cl = zmconv::tokenize(row.args, table);
            ASSERT_EQ(row.error, nullptr);
            ASSERT_EQ(cl.options.size(), row.options.size());
            for (size_t i = 0; i < cl.options.size(); ++i) {
                EXPECT_EQ(cl.options[i].id, row.options[i].first);
                EXPECT_EQ(cl.options[i].value, row.options[i].second);
            }
            EXPECT_EQ(cl.positional, row.positional);
        } catch (const ConvError& e) {
            ASSERT_NE(row.error, nullptr) << e.what();
            EXPECT_EQ(e.kind(), Failure::Usage);
            EXPECT_STREQ(e.what(), row.error);
        }
    }
}

TEST(Options, Seconds)
{
    struct Row {
        const char* text;
        std::optional<int64_t> us;
    } rows[] = {
        {"30", 30000000},
        {"0", 0},
        {"2.5", 2500000},
        {"00:01:30", 90000000},
        {"1:30.25", 90250000},
        {"01:00:00", 3600000000LL},
        {"-5", {}},
        {"-0", {}},
        {"abc", {}},
        {"", {}},
        {"1e3", {}},
        {"5 ", {}},
        {"3,5", {}},
        {"+3", {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        if (row.us) {
            EXPECT_EQ(zmconv::parse_seconds("ss", row.text), *row.us);
        } else {
            EXPECT_THROW(zmconv::parse_seconds("ss", row.text), ConvError);
        }
    }
}

TEST(Options, BitRate)
{
    struct Row {
        const char* text;
        int64_t bits; // 0 = refused
    } rows[] = {
        {"192k", 192000}, {"7.4k", 7400},  {"128000", 128000}, {"1.5M", 1500000},
        {"32K", 32000},   {"4.75k", 4750}, {"0k", 0},          {"0", 0},
        {"-3k", 0},       {"k", 0},        {"12x", 0},         {"1.2.3k", 0},
        {"", 0},          {".k", 0},       {"192kk", 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        if (row.bits) {
            EXPECT_EQ(zmconv::parse_bit_rate("ab", row.text), row.bits);
        } else {
            EXPECT_THROW(zmconv::parse_bit_rate("ab", row.text), ConvError);
        }
    }
}

TEST(Options, WholeNumbers)
{
    struct Row {
        const char* text;
        int value; // -1 = refused for the range 1..8
    } rows[] = {{"1", 1},   {"8", 8}, {"2", 2},    {"0", -1},  {"9", -1},          {"2.0", -1},
                {" 2", -1}, {"", -1}, {"two", -1}, {"-1", -1}, {"99999999999", -1}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        if (row.value >= 0) {
            EXPECT_EQ(zmconv::parse_int("ac", row.text, 1, 8), row.value);
        } else {
            EXPECT_THROW(zmconv::parse_int("ac", row.text, 1, 8), ConvError);
        }
    }
}

TEST(EncoderChoices, NearestSampleRate)
{
    const int lame[] = {44100, 48000, 32000, 22050, 24000, 16000, 11025, 12000, 8000, 0};
    const int ac3[] = {48000, 44100, 32000, 0};
    struct Row {
        const int* list;
        int wanted, expected;
    } rows[] = {
        {lame, 12050, 12000}, {lame, 44100, 44100}, {lame, 96000, 48000},
        {lame, 1000, 8000},   {lame, 46050, 48000}, // tie between 44100 and 48000 goes up
        {ac3, 22050, 32000},  {ac3, 8000, 32000},   {nullptr, 12345, 12345},
    };
    for (const Row& row : rows)
        EXPECT_EQ(zmconv::nearest_sample_rate(row.list, row.wanted), row.expected) << row.wanted;
}

TEST(EncoderChoices, AmrMode)
{
    struct Row {
        int64_t bits;
        int mode;
    } rows[] = {{7400, 4}, {0, 7},     {4750, 0}, {1000, 0}, {12200, 7}, {64000, 7},
                {7700, 5}, {10200, 6}, {5000, 1}, {6700, 3}, {5900, 2}};
    for (const Row& row : rows)
        EXPECT_EQ(zmconv::amr_nb_mode(row.bits), row.mode) << row.bits;
}

TEST(ConvCommandLine, OutputKindByExtension)
{
    struct Row {
        const char* path;
        const char* muxer; // nullptr = unsupported
    } rows[] = {
        {"/a/b.mp3", "mp3"}, {"/a/b.MP3", "mp3"},   {"x.tar.wav", "wav"}, {"/o/c.Flac", "flac"},
        {"c.wma", "asf"},    {"c.ogg", "ogg"},      {"c.ac3", "ac3"},     {"c.aac", "adts"},
        {"c.amr", "amr"},    {"/a.mp3/c", nullptr}, {"noext", nullptr},   {"c.mp4", nullptr},
        {"c.mp3.", nullptr}, {"/o/c.m4a", "ipod"},  {"c.Opus", "opus"},
    };
    for (const Row& row : rows) {
        const conv::OutputKind* k = conv::output_kind_for(row.path);
        if (row.muxer) {
            ASSERT_NE(k, nullptr) << row.path;
            EXPECT_STREQ(k->muxer, row.muxer) << row.path;
        } else {
            EXPECT_EQ(k, nullptr) << row.path;
        }
    }
    EXPECT_EQ(conv::output_kind_for("x.amr")->max_channels, 1);
}

// The exact texts zelmora's builder produces, split as its runner splits them.
TEST(ConvCommandLine, BuilderLines)
{
    struct Row {
        QString line;
        const char* input;
        const char* output;
        int64_t start_us, length_us, bit_rate;
        int rate, channels;
        const char* encoder;
    } rows[] = {
        {R"(/App/data/conv -i "/V/clip.part1.flv" -y -vn -ab 192k -ar 44100 -ac 2 -map_meta_data "/V/clip.part1.flv":"/App/output/clip.mp3" "/App/output/clip.mp3")",
         "/V/clip.part1.flv", "/App/output/clip.mp3", 0, -1, 192000, 44100, 2, ""},
        {R"(/App/data/conv -i "/V/talk.flv" -ss 30 -t 60 -y -vn -acodec pcm_s16le "/App/output/talk.wav")",
         "/V/talk.flv", "/App/output/talk.wav", 30000000, 60000000, 0, 0, 0, "pcm_s16le"},
        {R"(/App/data/conv -i "/V/a b.avi" -ss 5 -t 10 -y -vn -acodec wmav1  -map_meta_data "/V/a b.avi":"/o/a.wma" "/o/a.wma")",
         "/V/a b.avi", "/o/a.wma", 5000000, 10000000, 0, 0, 0, "wmav1"},
        {R"(/App/data/conv -i "/V/x.mp4" -y -vn -ac 2 -map_meta_data "/V/x.mp4":"/o/x.ogg" "/o/x.ogg")",
         "/V/x.mp4", "/o/x.ogg", 0, -1, 0, 0, 2, ""},
        {R"(/App/data/conv -i "/V/x.mp4" -y -vn -ar 8000 -ab 7.4k -ac 1 "/o/x.amr")", "/V/x.mp4",
         "/o/x.amr", 0, -1, 7400, 8000, 1, ""},
        {R"(/App/data/conv -i "/V/q"""x.mp4" -y -vn "/o/q"""x.aac")", "/V/q\"x.mp4", "/o/q\"x.aac",
         0, -1, 0, 0, 0, ""},
        {R"(/App/data/conv -i "/V/m.mp4" -ss 0 -t 7 -y -vn "/o/m.flac")", "/V/m.mp4", "/o/m.flac",
         0, 7000000, 0, 0, 0, ""},
        {R"(/App/data/conv -i "/V/m.mp4" -y -vn -ab 32k -ar 12050 -ac 1 -map_meta_data "/V/m.mp4":"/o/m.mp3" "/o/m.mp3")",
         "/V/m.mp4", "/o/m.mp3", 0, -1, 32000, 12050, 1, ""},
        {R"(/App/data/conv -i "/V/s.mp3" -y -vn -map_meta_data "/V/s.mp3":"/o/s.m4a" "/o/s.m4a")",
         "/V/s.mp3", "/o/s.m4a", 0, -1, 0, 0, 0, ""},
        {R"(/App/data/conv -i "/V/s.mkv" -ss 3 -t 4 -y -vn -map_meta_data "/V/s.mkv":"/o/s.opus" "/o/s.opus")",
         "/V/s.mkv", "/o/s.opus", 3000000, 4000000, 0, 0, 0, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.line.toStdString());
        std::vector<std::string> args = split(row.line);
        args.erase(args.begin());
        const conv::Job job = conv::parse_command_line(args);
        EXPECT_EQ(job.input, row.input);
        EXPECT_EQ(job.output, row.output);
        EXPECT_EQ(job.range.start_us, row.start_us);
        EXPECT_EQ(job.range.length_us, row.length_us);
        EXPECT_EQ(job.bit_rate, row.bit_rate);
        EXPECT_EQ(job.sample_rate, row.rate);
        EXPECT_EQ(job.channels, row.channels);
        EXPECT_EQ(job.encoder, row.encoder);
        // The tags come along with every line, -map_meta_data or not.
        EXPECT_TRUE(job.copy_metadata);
        EXPECT_TRUE(job.overwrite);
    }
}

// Copy or encode, for each format's codec pair, the options zelmora and users send, and cuts.
// The source is what the input's audio stream states; the options are a conv command line.
TEST(ConvRoute, CopyOrEncode)
{
    struct Source {
        AVCodecID codec;
        int64_t bit_rate;
        int rate, channels;
    };
    const Source aac{AV_CODEC_ID_AAC, 128000, 48000, 2};
    const Source mp3{AV_CODEC_ID_MP3, 192000, 44100, 2};
    const Source mp3_mono{AV_CODEC_ID_MP3, 64000, 22050, 1};
    const Source ac3{AV_CODEC_ID_AC3, 192000, 48000, 6};
    const Source flac{AV_CODEC_ID_FLAC, 0, 96000, 2};
    const Source vorbis{AV_CODEC_ID_VORBIS, 112000, 44100, 2};
    const Source vorbis_mono{AV_CODEC_ID_VORBIS, 80000, 44100, 1};
    const Source opus{AV_CODEC_ID_OPUS, 0, 48000, 2};
    const Source pcm{AV_CODEC_ID_PCM_S16LE, 1536000, 48000, 2};
    const Source pcm24{AV_CODEC_ID_PCM_S24LE, 2304000, 48000, 2};
    const Source amr74{AV_CODEC_ID_AMR_NB, 8000, 8000, 1};   // stored rate of mode 7.4k
    const Source amr122{AV_CODEC_ID_AMR_NB, 12800, 8000, 1}; // stored rate of mode 12.2k
    const Source wma{AV_CODEC_ID_WMAV1, 128000, 44100, 2};
    enum Want { Encode, Copy, Refuse };
    struct Row {
        const char* options; // between the input and the output
        const char* output;
        Source source;
        Want want;
        const char* refusal = ""; // part of the reason of a refused forced copy
    } rows[] = {
        // Each pair, with the options zelmora sends for the format.
        {"-y -vn", "o.aac", aac, Copy},
        {"-y -vn -map_meta_data x", "o.m4a", aac, Copy},
        {"-y -vn -ab 192k -ar 44100 -ac 2 -map_meta_data x", "o.mp3", mp3, Copy},
        {"-y -vn", "o.ac3", ac3, Copy},
        {"-y -vn", "o.flac", flac, Copy},
        {"-y -vn -ac 2 -map_meta_data x", "o.ogg", vorbis, Copy},
        {"-y -vn -map_meta_data x", "o.opus", opus, Copy},
        {"-y -vn -acodec pcm_s16le", "o.wav", pcm, Copy},
        {"-y -vn -ar 8000 -ab 7.4k -ac 1", "o.amr", amr74, Copy},
        // Another codec than the format's: encoded.
        {"-y -vn", "o.aac", mp3, Encode},
        {"-y -vn -map_meta_data x", "o.m4a", mp3, Encode},
        {"-y -vn", "o.flac", pcm, Encode},
        {"-y -vn -acodec pcm_s16le", "o.wav", pcm24, Encode},
        {"-y -vn -map_meta_data x", "o.opus", vorbis, Encode},
        {"-y -vn -acodec wmav1 -map_meta_data x", "o.wma", wma, Encode}, // WMA is never copied
        // An option that differs from the input's: encoded.
        {"-y -vn -ab 128k -ar 44100 -ac 2", "o.mp3", mp3, Encode},
        {"-y -vn -ab 192k -ar 48000 -ac 2", "o.mp3", mp3, Encode},
        {"-y -vn -ab 192k -ar 44100 -ac 1", "o.mp3", mp3, Encode},
        {"-y -vn -ab 64k -ar 22050 -ac 1", "o.mp3", mp3_mono, Copy},
        {"-y -vn -ac 2", "o.ogg", vorbis_mono, Encode},
        {"-y -vn -ar 8000 -ab 7.4k -ac 1", "o.amr", amr122, Encode},
        {"-y -vn -ab 64k", "o.aac", aac, Encode},
        {"-y -vn -ab 128k", "o.aac", aac, Copy},
        {"-y -vn -ab 96k", "o.opus", opus, Encode}, // the input's rate is unknown
        {"-y -vn -ab 320k", "o.flac", flac, Copy},  // lossless: a bit rate means nothing
        {"-y -vn -ar 48000", "o.flac", flac, Encode},
        {"-y -vn -ac 2", "o.ac3", ac3, Encode},
        {"-y -vn -acodec libvorbis", "o.ogg", vorbis, Copy},
        {"-y -vn -acodec flac", "o.ogg", vorbis, Encode},
        // A cut is always encoded.
        {"-ss 1 -t 2 -y -vn", "o.aac", aac, Encode},
        {"-ss 0 -t 2 -y -vn", "o.flac", flac, Encode},
        {"-ss 5 -y -vn -acodec pcm_s16le", "o.wav", pcm, Encode},
        // -acodec copy insists.
        {"-y -acodec copy", "o.m4a", aac, Copy},
        {"-y -c:a copy -ab 320k", "o.flac", flac, Copy},
        {"-y -acodec copy", "o.aac", mp3, Refuse,
         "the input's audio is mp3, this output format takes aac"},
        {"-y -acodec copy", "o.wma", wma, Refuse, "takes no copied audio"},
        {"-y -acodec copy -ab 64k", "o.aac", aac, Refuse, "-ab 64k differs from the input's 128k"},
        {"-y -acodec copy -ar 44100", "o.mp3", mp3_mono, Refuse,
         "-ar 44100 differs from the input's 22050 Hz"},
        {"-y -acodec copy -ac 2", "o.ac3", ac3, Refuse,
         "-ac 2 differs from the input's 6 channels"},
        {"-y -acodec copy -ab 12.2k", "o.amr", amr74, Refuse,
         "-ab 12.2k differs from the input's 7.4k"},
        {"-ss 1 -y -acodec copy", "o.opus", opus, Refuse, "a cut (-ss, -t)"},
        {"-t 1 -y -acodec copy", "o.wav", pcm, Refuse, "a cut (-ss, -t)"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.options) + " " + row.output);
        std::vector<std::string> args = split(QString("-i in.x ") + row.options + " " + row.output);
        const conv::Job job = conv::parse_command_line(args);
        AVCodecParameters par{};
        par.codec_type = AVMEDIA_TYPE_AUDIO;
        par.codec_id = row.source.codec;
        par.bit_rate = row.source.bit_rate;
        par.sample_rate = row.source.rate;
        par.ch_layout.nb_channels = row.source.channels;
        const conv::Route route = conv::route_for(job, *conv::output_kind_for(job.output), par);
        EXPECT_EQ(route.copy, row.want == Copy);
        EXPECT_EQ(route.refusal.empty(), row.want != Refuse) << route.refusal;
        EXPECT_NE(route.refusal.find(row.refusal), std::string::npos) << route.refusal;
    }
}

TEST(ConvCommandLine, Refused)
{
    struct Row {
        std::vector<std::string> args;
        const char* message_part;
    } rows[] = {
        {{"-i", "a.flv", "-i", "b.flv", "o.mp3"}, "only one input"},
        {{"-i", "", "o.mp3"}, "empty input"},
        {{"-i", "a.flv", "o.mp3", "p.mp3"}, "more than one output"},
        {{"-i", "a.flv"}, "no output file"},
        {{"o.mp3"}, "no input file"},
        {{"-i", "a.flv", "o.webm"}, "unsupported output format"},
        {{"-i", "a.flv", "-acodec", "", "o.mp3"}, "missing value"},
        {{"-i", "a.flv", "-ar", "12.5", "o.mp3"}, "-ar"},
        {{"-i", "a.flv", "-t", "0", "o.mp3"}, "-t"},
        {{"-i", "a.flv", "-vcodec", "x", "o.mp3"}, "unknown option -vcodec"},
    };
    for (const Row& row : rows) {
        try {
            conv::parse_command_line(row.args);
            ADD_FAILURE() << "accepted: " << row.message_part;
        } catch (const ConvError& e) {
            EXPECT_EQ(e.kind(), Failure::Usage);
            EXPECT_NE(std::string(e.what()).find(row.message_part), std::string::npos) << e.what();
        }
    }
}

TEST(ConvCommandLine, LaterOptionsWinAndVariants)
{
    const std::vector<std::string> args = {
        "-hide_banner",  "-i", "in.mkv", "-ab", "64k", "-b:a", "96k",    "-c:a", "libmp3lame",
        "-map_metadata", "0",  "-n",     "-y",  "-ss", "1.5",  "out.MP3"};
    const conv::Job job = conv::parse_command_line(args);
    EXPECT_EQ(job.bit_rate, 96000);
    EXPECT_EQ(job.encoder, "libmp3lame");
    EXPECT_TRUE(job.copy_metadata);
    EXPECT_TRUE(job.overwrite);
    EXPECT_EQ(job.range.start_us, 1500000);
    EXPECT_EQ(job.range.length_us, -1);

    // "-map_metadata -1" leaves the tags behind, as with the ffmpeg CLI; a later map brings
    // them back.
    EXPECT_FALSE(conv::parse_command_line(
                     std::vector<std::string>{"-i", "a", "-map_metadata", "-1", "o.mp3"})
                     .copy_metadata);
    EXPECT_TRUE(conv::parse_command_line(std::vector<std::string>{"-i", "a", "-map_metadata", "-1",
                                                                  "-map_meta_data", "x", "o.mp3"})
                    .copy_metadata);
}

TEST(Progress, ClockAndLines)
{
    struct Row {
        int64_t us;
        const char* text;
    } rows[] = {{0, "00:00:00.00"},          {205120000, "00:03:25.12"},
                {3599999999, "00:59:59.99"}, {36000000000LL, "10:00:00.00"},
                {-5, "00:00:00.00"},         {59996000, "00:00:59.99"}};
    for (const Row& row : rows)
        EXPECT_EQ(zmconv::format_clock(row.us), row.text);

    const std::string line = conv::progress_line(102.5, 2048);
    EXPECT_NE(line.find("time=102.50 "), std::string::npos) << line;
    EXPECT_EQ(line.back(), '\n');
    EXPECT_NE(conv::progress_line(0, 0).find("time=0.00 "), std::string::npos);
}

TEST(Progress, Throttle)
{
    std::vector<double> seen;
    zmconv::ProgressThrottle t([&](double s) { seen.push_back(s); },
                               std::chrono::milliseconds(300));
    const auto t0 = zmconv::ProgressThrottle::Clock::now();
    using std::chrono::milliseconds;
    struct Step {
        int at_ms;
        double value;
    } steps[] = {{0, 0.1}, {100, 0.2}, {299, 0.3}, {300, 0.4}, {500, 0.5}, {601, 0.6}, {1500, 0.7}};
    for (const Step& s : steps)
        t.update_at(s.value, t0 + milliseconds(s.at_ms));
    t.finish(0.8);
    EXPECT_EQ(seen, (std::vector<double>{0.1, 0.4, 0.6, 0.7, 0.8}));
}
