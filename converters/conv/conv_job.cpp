#include "conv/conv_job.h"

#include "common/audio_copy.h"
#include "common/errors.h"
#include "common/input_file.h"
#include "common/loudness.h"
#include "common/options.h"
#include "common/output_file.h"
#include "common/program.h"
#include "common/progress.h"
#include "common/segmented_encoder.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cinttypes>
#include <cmath>
#include <cstdlib>
#include <cstdio>
#include <memory>
#include <optional>
#include <string_view>

namespace conv {

using zmconv::ConvError;
using zmconv::Failure;

namespace {

enum Opt {
    Input,
    Start,
    Length,
    Overwrite,
    NoOverwrite,
    NoVideo,
    BitRate,
    Rate,
    Channels,
    Codec,
    Metadata,
    Threads,
    ReplayGain,
    AlbumFrom,
    LoudnessOut,
    LoudNorm,
    LoudNormCeiling,
    Retag,
    MeasureOnly,
    NoVerify,
    Ignored
};

constexpr std::array<zmconv::OptionSpec, 26> kOptions = {{
    {"i", true, Input},
    {"ss", true, Start},
    {"t", true, Length},
    {"y", false, Overwrite},
    {"n", false, NoOverwrite},
    {"vn", false, NoVideo},
    {"ab", true, BitRate},
    {"b:a", true, BitRate},
    {"ar", true, Rate},
    {"ac", true, Channels},
    {"acodec", true, Codec},
    {"c:a", true, Codec},
    {"codec:a", true, Codec},
    {"map_meta_data", true, Metadata},
    {"map_metadata", true, Metadata},
    {"threads", true, Threads},
    {"replaygain", true, ReplayGain},
    {"album-from", true, AlbumFrom},
    {"loudness-out", true, LoudnessOut},
    {"loudnorm", true, LoudNorm},
    {"loudnorm-ceiling", true, LoudNormCeiling},
    {"retag", true, Retag},
    {"measure-only", false, MeasureOnly},
    {"-no-verify", false, NoVerify},
    {"hide_banner", false, Ignored},
    {"nostdin", false, Ignored},
}};

constexpr std::array<OutputKind, 10> kKinds = {{
    {".mp3", "mp3", "libmp3lame", 2, AV_CODEC_ID_MP3, 0, 0},
    {".wma", "asf", "wmav1", 2, AV_CODEC_ID_NONE, 0, 0},
    {".ogg", "ogg", "libvorbis", 0, AV_CODEC_ID_VORBIS, 0, 0},
    {".wav", "wav", "pcm_s16le", 0, AV_CODEC_ID_PCM_S16LE, 0, 0},
    {".flac", "flac", "flac", 0, AV_CODEC_ID_FLAC, 0, 0},
    {".ac3", "ac3", "ac3", 0, AV_CODEC_ID_AC3, 0, 0},
    {".aac", "adts", "aac", 0, AV_CODEC_ID_AAC, 0, 0},
    {".amr", "amr", "libopencore_amrnb", 1, AV_CODEC_ID_AMR_NB, 0, 0},
    // AAC in the iPod flavour of MP4, which players take as music.
    {".m4a", "ipod", "aac", 0, AV_CODEC_ID_AAC, 192000, 0},
    // Opus always decodes at 48000 Hz: encoding at a lower rate only loses the high band.
    {".opus", "opus", "libopus", 0, AV_CODEC_ID_OPUS, 128000, 48000},
}};

constexpr std::string_view kCopy = "copy";

// The codec an encoder name makes; NONE for an unknown name.
AVCodecID codec_of_encoder(const std::string& name)
{
    if (name == "libopencore_amrnb" || name == "amr_nb" || name == "amrnb")
        return AV_CODEC_ID_AMR_NB;
    if (const AVCodec* c = avcodec_find_encoder_by_name(name.c_str()))
        return c->id;
    if (const AVCodecDescriptor* d = avcodec_descriptor_get_by_name(name.c_str()))
        return d->id;
    return AV_CODEC_ID_NONE;
}

// The tags -map_meta_data carries: the file's, joined by those of the audio stream.
AVDictionary* tags_to_copy(const AVFormatContext* in, int audio)
{
    AVDictionary* tags = nullptr;
    av_dict_copy(&tags, in->metadata, 0);
    // Sound files such as Ogg keep their tags on the audio stream, not on the file: those
    // join the file's own (which win), all but the ones that describe the old stream.
    const AVDictionaryEntry* e = nullptr;
    while ((e = av_dict_get(in->streams[audio]->metadata, "", e, AV_DICT_IGNORE_SUFFIX))) {
        static constexpr std::string_view kStreamOnly[] = {"encoder", "handler_name", "vendor_id",
                                                           "duration", "language"};
        std::string key(e->key);
        std::transform(key.begin(), key.end(), key.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        if (std::find(std::begin(kStreamOnly), std::end(kStreamOnly), key) == std::end(kStreamOnly))
            av_dict_set(&tags, e->key, e->value, AV_DICT_DONT_OVERWRITE);
    }
    return tags;
}

// Raises the "nothing to convert" error when no sound reached the output.
[[noreturn]] void nothing_converted(const Job& job, const zmconv::Decoder* decoder)
{
    if (decoder && decoder->frames() == 0 && decoder->damaged() > 0)
        throw ConvError(Failure::Input, "nothing to convert: none of the input's "
                                            + std::to_string(decoder->damaged())
                                            + " audio packets could be decoded");
    throw ConvError(Failure::Input, job.range.start_us > 0
                                        ? "nothing to convert: the start offset lies past "
                                          "the end of the input's audio"
                                        : "nothing to convert: the input's audio is empty");
}

// Seek this far before a cut's start: audio packets of an interleaved file may lie before the
// video key frame the demuxer seeks to; the decoder then trims to the exact sample.
constexpr int64_t kSeekMarginUs = 500000;
// Containers that stamp audio coarser than one sample (FLV, Matroska: whole milliseconds) cannot
// say exactly which sample a seek landed on; for starts up to this far in, conv decodes from the
// beginning instead so the cut stays sample-exact. Beyond it, seeking is worth the error of
// at most half a timestamp unit.
constexpr int64_t kDecodeThroughUs = 300 * int64_t(AV_TIME_BASE);
constexpr int kThreadedFrameSize = 256;
constexpr auto kProgressInterval = std::chrono::milliseconds(300);

// A number that stands for the input: its size and its first 64 KiB, hashed (FNV-1a, folded to
// 31 bits). Gives Ogg streams a serial number of their own without chance, so the same input
// always makes the same bytes.
uint32_t input_serial(const std::string& path)
{
    uint64_t h = 1469598103934665603ULL;
    auto mix = [&h](uint8_t b) {
        h ^= b;
        h *= 1099511628211ULL;
    };
    if (FILE* f = std::fopen(path.c_str(), "rb")) {
        std::array<uint8_t, 65536> buf{};
        const size_t n = std::fread(buf.data(), 1, buf.size(), f);
        for (size_t i = 0; i < n; ++i)
            mix(buf[i]);
        if (std::fseek(f, 0, SEEK_END) == 0)
            for (long size = std::ftell(f); size > 0; size >>= 8)
                mix(static_cast<uint8_t>(size));
        std::fclose(f);
    }
    return static_cast<uint32_t>((h ^ (h >> 32)) & 0x7FFFFFFF);
}

// Microseconds of sound the job converts as the input states it, or 0 when it does not say.
int64_t expected_length_us(const Job& job, const zmconv::InputFile& in, int audio)
{
    const AVStream* st = in.context()->streams[audio];
    int64_t length = st->duration > 0 && st->duration != AV_NOPTS_VALUE
                         ? av_rescale_q(st->duration, st->time_base, AV_TIME_BASE_Q)
                         : in.duration_us();
    if (length == AV_NOPTS_VALUE || length <= 0)
        return 0;
    length -= std::min(length, job.range.start_us);
    if (job.range.length_us >= 0)
        length = std::min(length, job.range.length_us);
    return length;
}

// A level in dB (LUFS, dBTP) within [low, high].
double parse_level(const std::string& option, const std::string& value, double low, double high)
{
    char* end = nullptr;
    const double v = std::strtod(value.c_str(), &end);
    if (value.empty() || end != value.c_str() + value.size() || !std::isfinite(v))
        zmconv::bad_value(option, value, "not a number");
    if (v < low || v > high)
        zmconv::bad_value(option, value,
                          "out of range (" + std::to_string(static_cast<int>(low)) + " to "
                              + std::to_string(static_cast<int>(high)) + ")");
    return v;
}

Job retag_job(Job job, const std::string& file, bool have_input,
              const std::vector<std::string>& positional)
{
    if (have_input || !positional.empty())
        throw ConvError(Failure::Usage, "-retag names the one file it rewrites: no -i and no "
                                        "output name besides it");
    if (job.range.start_us > 0 || job.range.length_us >= 0 || job.bit_rate > 0
        || job.sample_rate > 0 || job.channels > 0 || !job.encoder.empty()
        || job.loudness.normalise)
        throw ConvError(Failure::Usage, "-retag only writes tags: -ss, -t, -ab, -ar, -ac, "
                                        "-acodec and -loudnorm do not go with it");
    if (!job.loudness.track_tags && job.loudness.album.empty())
        throw ConvError(Failure::Usage,
                        "-retag needs tags to write: -replaygain track or -album-from");
    if (!job.copy_metadata)
        throw ConvError(Failure::Usage, "-retag keeps the file's tags: -map_metadata -1 does "
                                        "not go with it");
    job.input = job.output = file;
    job.overwrite = true;
    job.retag = true;
    if (!output_kind_for(job.output))
        throw ConvError(Failure::Usage, "unsupported file format \"" + job.output
                                            + "\" (use .mp3 .wma .ogg .flac .m4a .opus)");
    if (job.loudness.json_out == job.output)
        throw ConvError(Failure::Usage, "-loudness-out names the file being retagged");
    return job;
}

} // namespace

const OutputKind* output_kind_for(const std::string& path)
{
    const auto slash = path.rfind('/');
    const auto dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return nullptr;
    std::string ext = path.substr(dot);
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    for (const OutputKind& k : kKinds)
        if (ext == k.extension)
            return &k;
    return nullptr;
}

Job parse_command_line(std::span<const std::string> args)
{
    const zmconv::ParsedCommandLine cl = zmconv::tokenize(args, kOptions);
    Job job;
    bool have_input = false;
    std::vector<std::string> retag_files;
    for (const zmconv::ParsedOption& o : cl.options) {
        switch (o.id) {
        case Input:
            if (have_input)
                throw ConvError(Failure::Usage, "only one input file (-i) is supported");
            if (o.value.empty())
                throw ConvError(Failure::Usage, "empty input file name for -i");
            job.input = o.value;
            have_input = true;
            break;
        case Start:
            job.range.start_us = zmconv::parse_seconds(o.name, o.value);
            break;
        case Length:
            job.range.length_us = zmconv::parse_seconds(o.name, o.value);
            break;
        case Overwrite:
            job.overwrite = true;
            break;
        case NoOverwrite:
            job.overwrite = false;
            break;
        case BitRate:
            job.bit_rate = zmconv::parse_bit_rate(o.name, o.value);
            break;
        case Rate:
            job.sample_rate = zmconv::parse_int(o.name, o.value, 1000, 384000);
            break;
        case Channels:
            job.channels = zmconv::parse_int(o.name, o.value, 1, 8);
            break;
        case Codec:
            if (o.value.empty())
                throw ConvError(Failure::Usage, "missing value for -" + o.name);
            job.encoder = o.value;
            break;
        case Threads:
            job.threads = zmconv::parse_int(o.name, o.value, 0, 1024);
            break;
        case ReplayGain:
            if (o.value != "track")
                zmconv::bad_value(o.name, o.value,
                                  "only \"track\" (album tags come from -album-from)");
            job.loudness.track_tags = true;
            break;
        case AlbumFrom:
            if (o.value.empty())
                throw ConvError(Failure::Usage, "empty file name for -" + o.name);
            job.loudness.album.push_back(o.value);
            break;
        case LoudnessOut:
            if (o.value.empty())
                throw ConvError(Failure::Usage, "empty file name for -" + o.name);
            job.loudness.json_out = o.value;
            break;
        case LoudNorm:
            job.loudness.normalise = parse_level(o.name, o.value, -70.0, 0.0);
            break;
        case LoudNormCeiling:
            job.loudness.ceiling = parse_level(o.name, o.value, -30.0, 0.0);
            break;
        case Retag:
            if (o.value.empty())
                throw ConvError(Failure::Usage, "empty file name for -" + o.name);
            retag_files.push_back(o.value);
            break;
        case MeasureOnly:
            job.measure_only = true;
            break;
        case NoVerify:
            job.verify = false;
            break;
        case Metadata:
            // The argument ("IN":"OUT" or a stream map) means "copy the input's tags", which
            // is done anyway; "-1" alone, as for the ffmpeg CLI, means "no tags".
            job.copy_metadata = o.value != "-1";
            break;
        default:
            break;
        }
    }
    if (!retag_files.empty()) {
        if (job.measure_only)
            throw ConvError(Failure::Usage, "-measure-only does not go with -retag");
        if (retag_files.size() > 1 && !job.loudness.json_out.empty())
            throw ConvError(Failure::Usage, "-loudness-out goes with one -retag file");
        Job first = retag_job(std::move(job), retag_files.front(), have_input, cl.positional);
        for (size_t i = 1; i < retag_files.size(); ++i) {
            // Each file is checked as the first one is.
            first.retag_more.push_back(
                retag_job(first, retag_files[i], have_input, cl.positional).output);
        }
        return first;
    }
    if (!have_input)
        throw ConvError(Failure::Usage, "no input file given (-i)");
    if (cl.positional.empty())
        throw ConvError(Failure::Usage, "no output file given");
    if (cl.positional.size() > 1)
        throw ConvError(Failure::Usage, "more than one output file given: \"" + cl.positional[0]
                                            + "\" and \"" + cl.positional[1] + "\"");
    job.output = cl.positional.front();
    if (!output_kind_for(job.output))
        throw ConvError(Failure::Usage,
                        "unsupported output format \"" + job.output
                            + "\" (use .mp3 .wma .ogg .wav .flac .ac3 .aac .amr .m4a .opus)");
    if (job.range.length_us == 0)
        throw ConvError(Failure::Usage, "invalid value \"0\" for -t: the length must be positive");
    if (job.loudness.normalise && job.encoder == kCopy)
        throw ConvError(Failure::Usage, "-loudnorm changes the sound: it cannot be copied "
                                        "(-acodec copy)");
    if (!job.loudness.json_out.empty()
        && (job.loudness.json_out == job.output || job.loudness.json_out == job.input))
        throw ConvError(Failure::Usage,
                        "-loudness-out names the input or the output: " + job.loudness.json_out);
    if (job.measure_only) {
        if (job.loudness.json_out.empty())
            throw ConvError(Failure::Usage, "-measure-only needs -loudness-out FILE");
        if (job.loudness.track_tags || !job.loudness.album.empty() || job.loudness.normalise
            || job.encoder == kCopy)
            throw ConvError(Failure::Usage, "-measure-only writes no output: -replaygain, "
                                            "-album-from, -loudnorm and -acodec copy do not go "
                                            "with it");
    }
    return job;
}

std::string progress_line(double seconds, int64_t bytes)
{
    char buf[128];
    const double kbits = seconds > 0 ? static_cast<double>(bytes) * 8.0 / seconds / 1000.0 : 0.0;
    std::snprintf(buf, sizeof buf, "size=%" PRId64 "kB time=%.2f bitrate=%.1fkbits/s\n",
                  (bytes + 1023) / 1024, seconds, kbits);
    return buf;
}

Route route_for(const Job& job, const OutputKind& kind, const AVCodecParameters& source)
{
    RouteRequest request;
    request.copyable = kind.copyable;
    request.forced = job.encoder == kCopy;
    request.encodes_to =
        codec_of_encoder(job.encoder.empty() || request.forced ? kind.encoder : job.encoder);
    request.bit_rate = job.bit_rate;
    request.sample_rate = job.sample_rate;
    request.channels = job.channels;
    request.cut = job.range.start_us > 0 || job.range.length_us >= 0;
    RouteSource from;
    from.codec = source.codec_id;
    from.bit_rate = source.bit_rate;
    if (source.codec_id == AV_CODEC_ID_AMR_NB) {
        // The AMR demuxer states the stored rate: frame bytes (mode byte included) 50 times a
        // second. The mode's own rate is what -ab names.
        static constexpr int kFrameBytes[] = {13, 14, 16, 18, 20, 21, 27, 32};
        static constexpr int kModeRates[] = {4750, 5150, 5900, 6700, 7400, 7950, 10200, 12200};
        for (size_t m = 0; m < std::size(kFrameBytes); ++m)
            if (source.bit_rate == int64_t(kFrameBytes[m]) * 8 * 50)
                from.bit_rate = kModeRates[m];
    }
    from.sample_rate = source.sample_rate;
    from.channels = source.ch_layout.nb_channels;
    return choose_route(request, from);
}

namespace {

// The input's audio packets written into out as they are.
void run_copy(const Job& job, zmconv::InputFile& in, int audio, zmconv::OutputFile& out,
              zmconv::AudioCopy& copy, const TextSink& progress, LoudnessWork* loudness,
              bool measured_in_check)
{
    // The sound is measured by decoding it beside the copy, unless the output check's decoding
    // measures it.
    std::unique_ptr<zmconv::Decoder> decoder;
    if (loudness && loudness->measuring() && !measured_in_check)
        decoder = std::make_unique<zmconv::Decoder>(in, audio);
    auto measure = [&](const AVPacket* p) {
        if (decoder)
            decoder->decode(p, [&](AVFrame* frame) { loudness->add(frame); });
    };
    zmconv::PacketPtr pkt = zmconv::make_packet();
    bool have = false;
    while ((have = in.read(pkt.get())) && pkt->stream_index != audio)
        zmconv::throw_if_stopped();
    // The MP3 muxer's header frame tells decoders how many samples of encoder delay to skip; a
    // stream that came without that count (from FLV, AVI) must not get one, or players would
    // drop the first 529 samples of the sound.
    if (std::string_view(out.format()->name) == "mp3"
        && !(have && av_packet_get_side_data(pkt.get(), AV_PKT_DATA_SKIP_SAMPLES, nullptr)))
        out.set_muxer_option("write_xing", "0");
    out.write_header();

    zmconv::ProgressThrottle throttle(
        [&](double seconds) { progress(progress_line(seconds, out.bytes_written())); },
        kProgressInterval);
    while (have) {
        zmconv::throw_if_stopped();
        if (pkt->stream_index == audio) {
            measure(pkt.get());
            copy.send_packet(pkt.get());
            if (copy.seconds_done() > 0)
                throttle.update(copy.seconds_done());
        }
        have = in.read(pkt.get());
    }
    zmconv::throw_if_stopped();
    if (copy.packets() == 0)
        nothing_converted(job, nullptr);
    measure(nullptr);
    if (decoder && decoder->frames() == 0)
        throw ConvError(Failure::Input, "cannot measure the loudness: none of the input's "
                                        "audio packets could be decoded");
    out.finish();
    throttle.finish(copy.seconds_done());
    if (loudness)
        loudness->finish(progress);
    zmconv::DecodeReport report;
    report.damaged = copy.damaged();
    if (const std::string text = zmconv::warning_text(report); !text.empty())
        zmconv::warn(text);
}

void run_encode(const Job& job, zmconv::InputFile& in, int audio, zmconv::OutputFile& out,
                zmconv::AudioPath& path, const TextSink& progress, LoudnessWork* loudness)
{
    // The output holds this one stream: encoding may overlap reading and decoding. Encoders of
    // tiny frames (Vorbis takes 64 samples) or of any size (PCM, nothing to compute) would
    // spend more on handing frames over than the overlap wins. Segments run on threads of their
    // own already.
    auto* segmented = dynamic_cast<zmconv::SegmentedEncoder*>(&path.encoder());
    path.set_encode_thread(!segmented && path.encoder().frame_size() >= kThreadedFrameSize);
    out.write_header();

    const AVStream* st = in.context()->streams[audio];
    const int rate = st->codecpar->sample_rate;
    const bool exact_stamps = rate > 0 && av_cmp_q(st->time_base, AVRational{1, rate}) <= 0;
    if (job.range.start_us > kSeekMarginUs
        && (exact_stamps || job.range.start_us > kDecodeThroughUs))
        in.seek_before(job.range.start_us - kSeekMarginUs);

    zmconv::ProgressThrottle throttle(
        [&](double seconds) { progress(progress_line(seconds, out.bytes_written())); },
        kProgressInterval);
    // In segments the decoding runs ahead of the encoding: the position is what is encoded.
    auto done = [&] {
        return segmented
                   ? static_cast<double>(segmented->samples_encoded()) / segmented->sample_rate()
                   : path.seconds_done();
    };
    auto show_progress = [&] {
        if (const double seconds = done(); seconds > 0) // a first "time=0.00" tells nothing
            throttle.update(seconds);
    };
    if (segmented)
        segmented->set_waiting(show_progress);

    zmconv::PacketPtr pkt = zmconv::make_packet();
    bool to_the_end = true;
    while (in.read(pkt.get())) {
        zmconv::throw_if_stopped();
        if (pkt->stream_index != audio)
            continue;
        const bool more = path.send_packet(pkt.get());
        show_progress();
        if (!more) {
            to_the_end = false;
            break;
        }
    }
    zmconv::throw_if_stopped();
    path.finish();
    const zmconv::Decoder& decoder = path.decoder();
    if (path.seconds_done() <= 0.0)
        nothing_converted(job, &decoder);
    out.finish();
    throttle.finish(path.seconds_done());
    if (loudness)
        loudness->finish(progress);

    zmconv::DecodeReport report;
    report.add(decoder);
    if (to_the_end && !path.range_done()) {
        // The audio's own length where the file states one, else the file's.
        int64_t expected = decoder.declared_us();
        if (expected == AV_NOPTS_VALUE)
            expected = in.duration_us();
        if (expected != AV_NOPTS_VALUE && job.range.length_us >= 0)
            expected = std::min(expected, job.range.start_us + job.range.length_us);
        report.expected_end_us = expected;
    }
    if (const std::string text = zmconv::warning_text(report); !text.empty())
        zmconv::warn(text);
}

std::string one_decimal(double v)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.1f", v);
    return buf;
}

zmconv::AudioEncoderSettings encoder_settings(const Job& job, const OutputKind& kind)
{
    zmconv::AudioEncoderSettings settings;
    settings.encoder = job.encoder.empty() ? kind.encoder : job.encoder;
    settings.bit_rate = job.bit_rate;
    settings.default_bit_rate = kind.bit_rate;
    settings.sample_rate = job.sample_rate > 0 ? job.sample_rate : kind.sample_rate;
    settings.channels = job.channels;
    settings.max_channels = kind.max_channels;
    return settings;
}

// The gain that brings sound of this loudness (none: silence) to the target, lowered so its true
// peak (linear) stays at the ceiling; notes where it falls short. `what`: "sound", "album".
double normalising_gain(std::optional<double> loudness, double true_peak,
                        const LoudnessOptions& options, const std::string& what)
{
    if (!loudness) {
        zmconv::note("the " + what + " is silent: it is left as it is");
        return 0;
    }
    const double target = *options.normalise;
    // Other meters oversample with other filters and may find a true peak up to about 0.1 dB
    // higher: a gain that the ceiling limits stays that far under it.
    constexpr double kPeakMargin = 0.1;
    double gain_db = zmconv::limited_gain(*loudness, target, true_peak, options.ceiling);
    if (gain_db < target - *loudness)
        gain_db = zmconv::limited_gain(*loudness, target, true_peak, options.ceiling - kPeakMargin);
    if (gain_db < target - *loudness - 0.05)
        zmconv::note("normalised to " + one_decimal(*loudness + gain_db) + " LUFS rather than "
                     + one_decimal(target) + " LUFS, so that the true peak stays at "
                     + one_decimal(options.ceiling) + " dBTP");
    return gain_db;
}

// The first pass of a normalisation: the same sound as the conversion makes (same cut, rate
// and channels), measured and not encoded. Returns its loudness.
zmconv::Loudness measure_first(const Job& job, const OutputKind& kind)
{
    zmconv::InputFile in(job.input, AVMEDIA_TYPE_AUDIO);
    const int audio = in.best_stream(AVMEDIA_TYPE_AUDIO);
    in.keep_only(audio);
    // Never opened: its checks are those of the real output, and no file is made. A measuring
    // run has no output: OUT only names the format, and its folder need not exist yet, so the
    // stand-in lies beside the measurement file, which is written.
    std::string stand_in = job.output;
    if (job.measure_only) {
        const size_t slash = job.loudness.json_out.rfind('/');
        stand_in =
            (slash == std::string::npos ? std::string(".") : job.loudness.json_out.substr(0, slash))
            + "/.measure" + kind.extension;
    }
    zmconv::OutputFile unused({stand_in, kind.muxer, true, job.input});
    zmconv::AudioPath path(in, audio, encoder_settings(job, kind), unused, job.range);
    zmconv::LoudnessMeter meter(path.encoder().channel_layout(), path.encoder().sample_rate());
    path.set_encoding(false);
    path.set_frame_stage([&meter](AVFrame* f) { meter.add(f); });
    const AVStream* st = in.context()->streams[audio];
    const int rate = st->codecpar->sample_rate;
    const bool exact_stamps = rate > 0 && av_cmp_q(st->time_base, AVRational{1, rate}) <= 0;
    if (job.range.start_us > kSeekMarginUs
        && (exact_stamps || job.range.start_us > kDecodeThroughUs))
        in.seek_before(job.range.start_us - kSeekMarginUs);
    zmconv::PacketPtr pkt = zmconv::make_packet();
    while (in.read(pkt.get())) {
        zmconv::throw_if_stopped();
        if (pkt->stream_index == audio && !path.send_packet(pkt.get()))
            break;
    }
    path.finish();
    return meter.result();
}

} // namespace

void run(const Job& job, const TextSink& progress)
{
    const OutputKind* kind = output_kind_for(job.output);
    if (!kind)
        throw ConvError(Failure::Usage, "unsupported output format: " + job.output);

    zmconv::InputFile in(job.input, AVMEDIA_TYPE_AUDIO);
    progress(zmconv::describe_input(in) + "\n");

    const int audio = in.best_stream(AVMEDIA_TYPE_AUDIO);
    if (audio < 0)
        throw ConvError(Failure::Input, "the input has no audio stream: " + job.input);
    in.keep_only(audio);

    if (job.measure_only) {
        // The sound as the conversion would make it (cut, rate, channels), measured only.
        LoudnessWork work(job.loudness, kind->muxer);
        const zmconv::Loudness measured = measure_first(job, *kind);
        if (measured.seconds <= 0)
            nothing_converted(job, nullptr);
        work.take_result(measured);
        work.finish(progress);
        return;
    }

    const AVStream& source = *in.context()->streams[audio];
    Route route = route_for(job, *kind, *source.codecpar);
    if (route.copy && !zmconv::AudioCopy::can_time(source, kind->muxer)) {
        // The packets' positions could not be made right: the sound is encoded instead.
        route.copy = false;
        if (job.encoder == kCopy)
            route.refusal = "the lengths of the input's packets cannot be read";
    }
    if (!route.refusal.empty())
        throw ConvError(Failure::Usage,
                        "cannot copy the audio into " + job.output + ": " + route.refusal);

    if (job.loudness.normalise)
        route.copy = false; // the sound changes
    if (job.retag) {
        // Tags only: the packets as they are, whatever the format would encode to.
        route.copy = true;
    }

    zmconv::OutputFile out(
        {job.output, kind->muxer, job.overwrite, job.retag ? std::string() : job.input});
    if (job.retag && !out.can_store(source.codecpar->codec_id))
        throw ConvError(Failure::Usage, "cannot retag " + job.output
                                            + ": its sound does not fit its file name's format");
    if (const std::string_view muxer = kind->muxer; muxer == "ogg" || muxer == "opus") {
        // The same input gives the same file: the stream's serial number is the input's.
        out.set_bit_exact();
        out.set_muxer_option("serial_offset", std::to_string(input_serial(job.input)).c_str());
    }
    // With the album's measurements, a normalisation gives every track the album's one gain,
    // worked out before anything is written: one pass, and the album tags describe the sound
    // after it.
    std::optional<double> album_gain;
    LoudnessOptions loudness_options = job.loudness;
    if (job.loudness.normalise && !job.loudness.album.empty() && !job.retag) {
        const Album album = read_album(job.loudness.album);
        album_gain = normalising_gain(album.loudness, album.true_peak, job.loudness, "album");
        loudness_options.album_gain_db = *album_gain;
    }
    std::unique_ptr<LoudnessWork> loudness;
    if (job.loudness.any())
        loudness = std::make_unique<LoudnessWork>(loudness_options, kind->muxer);

    std::unique_ptr<zmconv::AudioCopy> copy;
    std::unique_ptr<zmconv::AudioPath> path;
    AVStream* out_audio = nullptr;
    if (route.copy) {
        copy = std::make_unique<zmconv::AudioCopy>(in, audio, out);
        out_audio = copy->stream();
    } else {
        path = std::make_unique<zmconv::AudioPath>(in, audio, encoder_settings(job, *kind), out,
                                                   job.range);
        // A long encode goes in segments on several threads; its length decides, as the input
        // states it (an input that is shorter than it says is still converted whole).
        const int64_t samples = av_rescale(expected_length_us(job, in, audio),
                                           path->encoder().sample_rate(), AV_TIME_BASE);
        path->wrap_encoder([&](std::unique_ptr<zmconv::AudioEncoder> encoder) {
            return zmconv::segmented_if_worth_it(std::move(encoder), out, samples, job.threads,
                                                 zmconv::segment_seconds_from_environment());
        });
        out_audio = path->encoder().stream();
    }

    if (job.copy_metadata) {
        // The sound's language goes with it, as a tag of its stream where the output has a place
        // for one (an M4A's track language, an Ogg's LANGUAGE comment).
        if (const AVDictionaryEntry* language =
                av_dict_get(source.metadata, "language", nullptr, AV_DICT_MATCH_CASE);
            language && *language->value && std::string_view(language->value) != "und")
            av_dict_set(&out_audio->metadata, "language", language->value, 0);
        AVDictionary* tags = tags_to_copy(in.context(), audio);
        if (loudness)
            loudness->prepare_tags(&tags);
        out.set_metadata(tags);
        // Ogg keeps its tags in the stream's comment header, not in a file-level place.
        const std::string_view muxer = kind->muxer;
        if ((muxer == "ogg" || muxer == "opus") && tags)
            av_dict_copy(&out_audio->metadata, tags, AV_DICT_DONT_OVERWRITE);
        av_dict_free(&tags);
        // The cover picture, where the input has one and the output can carry it.
        for (unsigned i = 0; i < in.context()->nb_streams; ++i)
            if (out.add_attached_picture(in.context()->streams[i]))
                break;
    }

    if (loudness && !job.copy_metadata) {
        // Without the source's tags, the gain tags are the only ones.
        AVDictionary* tags = nullptr;
        loudness->prepare_tags(&tags);
        out.set_metadata(tags);
        if (const std::string_view muxer = kind->muxer; (muxer == "ogg" || muxer == "opus") && tags)
            av_dict_copy(&out_audio->metadata, tags, 0);
        av_dict_free(&tags);
    }
    if (loudness)
        loudness->attach(out);

    if (path && job.loudness.normalise) {
        // Two passes: the loudness of the whole sound first, then one gain for all of it.
        double gain_db = 0;
        if (album_gain) {
            gain_db = *album_gain;
        } else {
            const zmconv::Loudness first = measure_first(job, *kind);
            progress(loudness_line(first, true));
            gain_db = normalising_gain(first.integrated, first.true_peak, job.loudness, "sound");
        }
        const double linear = std::pow(10.0, gain_db / 20.0);
        path->set_frame_stage([linear](AVFrame* f) { zmconv::apply_gain(f, linear); });
    }
    // A lossless output holds the very samples the encoder gets; anything else is measured as
    // players will decode it: from the decoding the output check does anyway where it can be,
    // else as it is written.
    const bool measured_in_check = loudness && loudness->measuring() && loudness->checkable()
                                   && (job.verify || job.retag) && out.can_read_back()
                                   && !(path && sample_peak_format(kind->muxer));
    if (measured_in_check) {
        loudness->measure_checked(out);
    } else if (path && loudness && loudness->measuring()) {
        LoudnessWork* work = loudness.get();
        if (sample_peak_format(kind->muxer))
            path->add_frame_stage([work](AVFrame* f) { work->add(f); });
        else
            work->measure_output(out, out_audio);
    }
    // The output is read back before it gets its name. Its length must be that of the sound
    // read from the input: the input's own (or the cut's) when the input is whole; for a damaged
    // input, what could be decoded of it (a copy: the packets copied).
    const zmconv::AudioCopy* copied = copy.get();
    const zmconv::AudioPath* encoded = path.get();
    // A tags-only rewrite copies the packets of a file that was read back whole when it was
    // made: reading every packet of the new file shows they are all there (no decoding).
    out.set_check_decodes(!job.retag);
    // The check decodes on the threads the encode had (a long file's sound in stretches).
    out.set_check_threads(zmconv::segment_threads(job.threads));
    out.set_check(job.verify, [copied, encoded] {
        const double seconds = copied ? copied->seconds_done() : encoded->seconds_done();
        return static_cast<int64_t>(std::llround(seconds * 1e6));
    });

    if (copy)
        run_copy(job, in, audio, out, *copy, progress, loudness.get(), measured_in_check);
    else
        run_encode(job, in, audio, out, *path, progress, loudness.get());
}

} // namespace conv
