#include "common/audio_encoder.h"
#include "common/errors.h"
#include "common/program.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <opencore-amrnb/interf_enc.h>
}

#include <algorithm>
#include <array>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string_view>
#include <vector>

namespace zmconv {

namespace {

constexpr std::array<int, 8> kAmrRates = {4750, 5150, 5900, 6700, 7400, 7950, 10200, 12200};
constexpr int kAmrFrame = 160;

// Bit rates (kbit/s) of MPEG audio by version: 1 for 32000 Hz and up, 2 for 16000 to 24000 Hz,
// 2.5 (layer III only) below. Encoders of these take no other value.
constexpr int kMp2Version1[] = {32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 0};
constexpr int kMpegVersion2[] = {8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0};
constexpr int kMp3Version1[] = {32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0};
constexpr int kMp3Version25[] = {8, 16, 24, 32, 40, 48, 56, 64, 0};
// AAC takes at most 6144 bits per channel and frame of 1024 samples; below this per channel it
// refuses to open.
constexpr int64_t kAacMinPerChannel = 8000;

// Limits of encoders that publish no list of rates or layouts but refuse values beyond them.
struct EncoderLimit {
    const char* name;
    int max_rate;
    int max_channels;
};
constexpr EncoderLimit kLimits[] = {{"wmav1", 48000, 2}, {"wmav2", 48000, 2}};

const EncoderLimit* limit_of(const AVCodec* codec)
{
    for (const EncoderLimit& l : kLimits)
        if (std::string_view(codec->name) == l.name)
            return &l;
    return nullptr;
}

bool is_amr_name(const std::string& name)
{
    return name == "libopencore_amrnb" || name == "amr_nb" || name == "amrnb";
}

int wanted_channels(const AudioEncoderSettings& s, const AudioSourceFormat& src)
{
    int n = s.channels > 0 ? s.channels : (src.channels > 0 ? src.channels : 2);
    if (s.max_channels > 0)
        n = std::min(n, s.max_channels);
    return n;
}

AVSampleFormat choose_sample_format(const AVCodec* codec, AVSampleFormat source)
{
    const AVSampleFormat* list = codec->sample_fmts;
    if (!list || list[0] == AV_SAMPLE_FMT_NONE)
        return source != AV_SAMPLE_FMT_NONE ? source : AV_SAMPLE_FMT_S16;
    if (source == AV_SAMPLE_FMT_NONE)
        return list[0];
    for (const AVSampleFormat* f = list; *f != AV_SAMPLE_FMT_NONE; ++f)
        if (*f == source)
            return *f;
    // The same sample type in the other (planar/packed) arrangement loses nothing.
    const AVSampleFormat packed = av_get_packed_sample_fmt(source);
    for (const AVSampleFormat* f = list; *f != AV_SAMPLE_FMT_NONE; ++f)
        if (av_get_packed_sample_fmt(*f) == packed)
            return *f;
    // Otherwise the smallest sample at least as wide as the source (float 32 -> s32 rather than
    // s16, so FLAC from AAC keeps 24 bits like the FFmpeg CLI does), else the widest there is.
    const int want = av_get_bytes_per_sample(source);
    AVSampleFormat best = AV_SAMPLE_FMT_NONE;
    AVSampleFormat widest = list[0];
    for (const AVSampleFormat* f = list; *f != AV_SAMPLE_FMT_NONE; ++f) {
        const int bytes = av_get_bytes_per_sample(*f);
        if (bytes > av_get_bytes_per_sample(widest))
            widest = *f;
        if (bytes >= want && (best == AV_SAMPLE_FMT_NONE || bytes < av_get_bytes_per_sample(best)))
            best = *f;
    }
    return best != AV_SAMPLE_FMT_NONE ? best : widest;
}

const AVCodec* find_audio_encoder(const std::string& name)
{
    const AVCodec* codec = avcodec_find_encoder_by_name(name.c_str());
    if (!codec) {
        if (const AVCodecDescriptor* d = avcodec_descriptor_get_by_name(name.c_str()))
            codec = avcodec_find_encoder(d->id);
    }
    if (codec && (codec->capabilities & AV_CODEC_CAP_EXPERIMENTAL)) {
        if (const AVCodec* stable = avcodec_find_encoder(codec->id);
            stable && !(stable->capabilities & AV_CODEC_CAP_EXPERIMENTAL))
            codec = stable;
    }
    return codec;
}

std::string container_name(const OutputFile& out)
{
    return out.format()->name;
}

std::string hz(int rate)
{
    return std::to_string(rate) + " Hz";
}

bool is_lossless(const AVCodec* codec)
{
    const AVCodecDescriptor* d = avcodec_descriptor_get(codec->id);
    return d && (d->props & AV_CODEC_PROP_LOSSLESS);
}

// The notes for values the encoder cannot take, given what was asked and what it got.
void note_changes(const std::string& encoder, const AudioEncoderSettings& asked, int rate,
                  int channels, int64_t bit_rate)
{
    if (asked.sample_rate > 0 && rate != asked.sample_rate)
        note(encoder + " cannot encode " + hz(asked.sample_rate) + "; using " + hz(rate));
    if (asked.channels > 0 && channels != asked.channels)
        note(encoder + " cannot encode " + std::to_string(asked.channels)
             + (asked.channels == 1 ? " channel" : " channels") + "; using "
             + std::to_string(channels));
    if (asked.bit_rate > 0 && bit_rate > 0 && bit_rate != asked.bit_rate)
        note(encoder + " cannot encode " + bit_rate_text(asked.bit_rate) + " at " + hz(rate)
             + "; using " + bit_rate_text(bit_rate));
}

// FFmpeg's own encoders.
class LavcAudioEncoder final : public AudioEncoder
{
public:
    LavcAudioEncoder(const AVCodec* codec, const AudioEncoderSettings& s,
                     const AudioSourceFormat& src, OutputFile& out)
        : AudioEncoder(out), m_packet(make_packet())
    {
        m_format = choose_sample_format(codec, src.sample_format);
        const int want_rate =
            s.sample_rate > 0 ? s.sample_rate : (src.sample_rate > 0 ? src.sample_rate : 44100);
        m_rate = nearest_sample_rate(codec->supported_samplerates, want_rate);
        int channels = wanted_channels(s, src);
        if (const EncoderLimit* limit = limit_of(codec)) {
            m_rate = std::min(m_rate, limit->max_rate);
            channels = std::min(channels, limit->max_channels);
        }
        choose_channel_layout(codec->ch_layouts, channels, src.layout, &m_layout);
        // A lossless encoder has no bit rate to set: the request means nothing to it.
        const bool lossless = is_lossless(codec);
        const int64_t wanted = s.bit_rate > 0 ? s.bit_rate : s.default_bit_rate;
        int64_t bits = wanted > 0 && !lossless
                           ? encoder_bit_rate(codec->name, m_rate, m_layout.nb_channels, wanted)
                           : 0;
        m_global_header = out.wants_global_header();

        std::string detail;
        int ret = open(codec, bits, &detail);
        if (ret == AVERROR(EAGAIN)) {
            // Its threads could not be started: it works alone.
            m_threads = 1;
            ret = open(codec, bits, &detail);
        }
        AVChannelLayout usual{};
        av_channel_layout_default(&usual, m_layout.nb_channels);
        const bool unusual = av_channel_layout_compare(&m_layout, &usual) != 0;
        av_channel_layout_uninit(&usual);
        if (ret < 0 && unusual) {
            // The source's own layout, which the encoder does not say it cannot take, is refused
            // when opening (libopus: 5.1 with side speakers): the usual layout instead.
            const int count = m_layout.nb_channels;
            av_channel_layout_uninit(&m_layout);
            av_channel_layout_default(&m_layout, count);
            ret = open(codec, bits, &detail);
        }
        if (ret < 0 && bits > 0 && !is_out_of_memory(ret, detail)) {
            // Refused for its bit rate (libvorbis, libopus and wmav1 take a range that depends
            // on the rate and channels, and say so only by failing): the nearest it takes.
            const int64_t taken = nearest_accepted_bit_rate(bits, [&](int64_t candidate) {
                std::string ignored;
                return open(codec, candidate, &ignored) >= 0;
            });
            if (taken > 0) {
                bits = taken;
                ret = open(codec, bits, &detail);
            }
        }
        if (ret < 0) {
            if (is_out_of_memory(ret, detail))
                throw out_of_memory();
            throw ConvError(
                Failure::Codec,
                std::string("cannot open the ") + codec->name + " encoder: " + av_error_text(ret)
                    + (detail.empty() ? std::string() : " (" + value_text(detail) + ")"));
        }
        m_asked_bit_rate = bits;
        m_frame_size =
            (codec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE) ? 0 : m_ctx->frame_size;
        // Encoders that clamp the bit rate themselves say so in bit_rate.
        note_changes(codec->name, s, m_rate, m_layout.nb_channels, lossless ? 0 : m_ctx->bit_rate);

        m_stream = out.add_stream();
        m_stream->time_base = m_ctx->time_base;
        check(avcodec_parameters_from_context(m_stream->codecpar, m_ctx.get()), Failure::Codec,
              "cannot describe the audio stream");
    }
    ~LavcAudioEncoder() override { av_channel_layout_uninit(&m_layout); }

    // Opens a fresh context with the choices made and this bit rate (0 = the encoder's own) into
    // m_ctx; the error code and the library's message for it otherwise.
    int open(const AVCodec* codec, int64_t bits, std::string* detail)
    {
        m_ctx.reset(avcodec_alloc_context3(codec));
        if (!m_ctx)
            throw out_of_memory();
        m_ctx->sample_fmt = m_format;
        m_ctx->sample_rate = m_rate;
        check(av_channel_layout_copy(&m_ctx->ch_layout, &m_layout), Failure::Codec,
              "channel layout");
        m_ctx->time_base = AVRational{1, m_rate};
        if (bits > 0)
            m_ctx->bit_rate = bits;
        m_ctx->thread_count = m_threads;
        if (m_global_header)
            m_ctx->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        const int ret = avcodec_open2(m_ctx.get(), codec, nullptr);
        *detail = take_library_message();
        if (ret < 0)
            m_ctx.reset();
        return ret;
    }

    std::string name() const override { return m_ctx->codec->name; }

    CodecContextPtr open_twin() const override
    {
        CodecContextPtr ctx(avcodec_alloc_context3(m_ctx->codec));
        if (!ctx)
            throw out_of_memory();
        ctx->sample_fmt = m_format;
        ctx->sample_rate = m_rate;
        check(av_channel_layout_copy(&ctx->ch_layout, &m_layout), Failure::Codec, "channel layout");
        ctx->time_base = m_ctx->time_base;
        if (m_asked_bit_rate > 0)
            ctx->bit_rate = m_asked_bit_rate;
        ctx->flags = m_ctx->flags & AV_CODEC_FLAG_GLOBAL_HEADER;
        ctx->thread_count = 1;
        check(avcodec_open2(ctx.get(), m_ctx->codec, nullptr), Failure::Codec,
              std::string("cannot open the ") + m_ctx->codec->name + " encoder");
        return ctx;
    }

    void encode(const AVFrame* frame) override
    {
        check(avcodec_send_frame(m_ctx.get(), frame), Failure::Codec, "audio encoding failed");
        for (;;) {
            const int ret = avcodec_receive_packet(m_ctx.get(), m_packet.get());
            if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF)
                return;
            check(ret, Failure::Codec, "audio encoding failed");
            m_packet->stream_index = m_stream->index;
            m_out.write(m_packet.get(), m_ctx->time_base);
            av_packet_unref(m_packet.get());
        }
    }

private:
    CodecContextPtr m_ctx;
    PacketPtr m_packet;
    int m_threads = 0; // 0 = as many as are useful
    bool m_global_header = false;
    int64_t m_asked_bit_rate = 0; // before the encoder opened (it may change its own)
};

// AMR-NB through opencore-amrnb: 160 mono 16-bit samples at 8000 Hz per frame, one packet each.
class AmrNbEncoder final : public AudioEncoder
{
public:
    AmrNbEncoder(const AudioEncoderSettings& s, OutputFile& out)
        : AudioEncoder(out), m_packet(make_packet())
    {
        if (!out.can_store(AV_CODEC_ID_AMR_NB))
            throw ConvError(Failure::Usage, "AMR-NB audio cannot be stored in the "
                                                + container_name(out) + " format");
        m_mode = amr_nb_mode(s.bit_rate);
        m_format = AV_SAMPLE_FMT_S16;
        m_rate = 8000;
        av_channel_layout_default(&m_layout, 1);
        note_changes("libopencore_amrnb", s, m_rate, 1, kAmrRates[static_cast<size_t>(m_mode)]);
        m_frame_size = kAmrFrame;
        m_state = Encoder_Interface_init(0);
        if (!m_state)
            throw ConvError(Failure::Codec, "cannot open the AMR-NB encoder");

        m_stream = out.add_stream();
        m_stream->time_base = AVRational{1, m_rate};
        AVCodecParameters* par = m_stream->codecpar;
        par->codec_type = AVMEDIA_TYPE_AUDIO;
        par->codec_id = AV_CODEC_ID_AMR_NB;
        par->sample_rate = m_rate;
        av_channel_layout_default(&par->ch_layout, 1);
        par->bit_rate = kAmrRates[static_cast<size_t>(m_mode)];
        par->frame_size = kAmrFrame;
    }
    std::string name() const override { return "libopencore_amrnb"; }

    ~AmrNbEncoder() override
    {
        if (m_state)
            Encoder_Interface_exit(m_state);
        av_channel_layout_uninit(&m_layout);
    }

    void encode(const AVFrame* frame) override
    {
        if (!frame)
            return; // no delay: nothing to drain
        if (frame->format != AV_SAMPLE_FMT_S16 || frame->nb_samples > kAmrFrame
            || frame->nb_samples <= 0)
            throw ConvError(Failure::Codec, "AMR-NB encoder got a frame it cannot take");
        std::array<short, kAmrFrame> speech{};
        std::copy_n(reinterpret_cast<const short*>(frame->data[0]), frame->nb_samples,
                    speech.begin());
        std::array<unsigned char, 64> bytes{};
        const int n = Encoder_Interface_Encode(m_state, static_cast<Mode>(m_mode), speech.data(),
                                               bytes.data(), 0);
        if (n <= 0)
            throw ConvError(Failure::Codec, "AMR-NB encoding failed");
        check(av_new_packet(m_packet.get(), n), Failure::Codec, "out of memory");
        std::copy_n(bytes.data(), n, m_packet->data);
        m_packet->pts = m_packet->dts = frame->pts;
        m_packet->duration = kAmrFrame;
        m_packet->stream_index = m_stream->index;
        m_out.write(m_packet.get(), AVRational{1, m_rate});
        av_packet_unref(m_packet.get());
    }

private:
    void* m_state = nullptr;
    int m_mode = 7;
    PacketPtr m_packet;
};

} // namespace

void choose_channel_layout(const AVChannelLayout* list, int channels, const AVChannelLayout* source,
                           AVChannelLayout* out)
{
    const bool have_list = list && list[0].nb_channels != 0;
    const bool keep_source = source && source->nb_channels == channels
                             && source->order != AV_CHANNEL_ORDER_UNSPEC
                             && av_channel_layout_check(source);
    if (keep_source) {
        bool taken = !have_list;
        for (const AVChannelLayout* l = list; have_list && l->nb_channels != 0 && !taken; ++l)
            taken = av_channel_layout_compare(l, source) == 0;
        if (taken && av_channel_layout_copy(out, source) == 0)
            return;
    }
    if (have_list) {
        const AVChannelLayout* best = nullptr;
        for (const AVChannelLayout* l = list; l->nb_channels != 0; ++l) {
            if (!best
                || std::abs(l->nb_channels - channels) < std::abs(best->nb_channels - channels))
                best = l;
            if (l->nb_channels == channels)
                break;
        }
        if (av_channel_layout_copy(out, best) == 0)
            return;
    }
    av_channel_layout_default(out, channels);
}

int64_t nearest_accepted_bit_rate(int64_t wanted, const std::function<bool(int64_t)>& takes)
{
    // Some rate it takes, tried in the order of how commonly encoders take them.
    static constexpr int64_t kProbes[] = {128000, 64000,  96000,  192000,  256000,
                                          32000,  48000,  320000, 500000,  24000,
                                          16000,  640000, 8000,   1000000, 2000000};
    int64_t anchor = 0;
    for (const int64_t probe : kProbes)
        if (takes(probe)) {
            anchor = probe;
            break;
        }
    if (anchor == 0 || wanted <= 0)
        return anchor;
    // Whole kbit/s where the wanted rate is one; to the bit below that (libopus goes down to
    // 500 bit/s).
    const int64_t unit = wanted >= 1000 ? 1000 : 1;
    if (wanted < anchor) {
        int64_t refused = wanted / unit; // the boundary lies above
        int64_t taken = anchor / unit;
        while (taken - refused > 1) {
            const int64_t middle = refused + (taken - refused) / 2;
            (takes(middle * unit) ? taken : refused) = middle;
        }
        return taken * unit;
    }
    int64_t taken = anchor / unit;
    int64_t refused = (wanted + unit - 1) / unit; // the boundary lies below
    while (refused - taken > 1) {
        const int64_t middle = taken + (refused - taken) / 2;
        (takes(middle * unit) ? taken : refused) = middle;
    }
    return taken * unit;
}

int nearest_sample_rate(const int* supported, int wanted)
{
    if (!supported || supported[0] == 0)
        return wanted;
    int best = supported[0];
    for (const int* r = supported; *r != 0; ++r) {
        const long long d = std::llabs(static_cast<long long>(*r) - wanted);
        const long long bd = std::llabs(static_cast<long long>(best) - wanted);
        if (d < bd || (d == bd && *r > best))
            best = *r;
    }
    return best;
}

int64_t encoder_bit_rate(const std::string& encoder, int sample_rate, int channels, int64_t wanted)
{
    const int* table = nullptr;
    if (encoder == "mp2")
        table = sample_rate >= 32000 ? kMp2Version1 : kMpegVersion2;
    else if (encoder == "libmp3lame")
        table = sample_rate >= 32000 ? kMp3Version1
                                     : (sample_rate >= 16000 ? kMpegVersion2 : kMp3Version25);
    if (table) {
        int best = table[0];
        for (const int* k = table; *k; ++k) {
            const int64_t d = std::llabs(int64_t(*k) * 1000 - wanted);
            const int64_t bd = std::llabs(int64_t(best) * 1000 - wanted);
            if (d < bd || (d == bd && *k > best))
                best = *k;
        }
        return int64_t(best) * 1000;
    }
    if (encoder == "aac") {
        const int64_t low = kAacMinPerChannel * std::max(channels, 1);
        const int64_t high = int64_t(6144) * std::max(channels, 1) * sample_rate / 1024;
        return std::clamp(wanted, low, std::max(low, high));
    }
    return wanted;
}

std::string bit_rate_text(int64_t bits)
{
    if (bits < 1000)
        return std::to_string(bits) + " bit/s";
    char buf[32];
    std::snprintf(buf, sizeof buf, "%g kbit/s", static_cast<double>(bits) / 1000.0);
    return buf;
}

int amr_nb_mode(int64_t bit_rate)
{
    if (bit_rate <= 0)
        return 7;
    int best = 0;
    for (int i = 1; i < static_cast<int>(kAmrRates.size()); ++i) {
        if (std::llabs(kAmrRates[static_cast<size_t>(i)] - bit_rate)
            < std::llabs(kAmrRates[static_cast<size_t>(best)] - bit_rate))
            best = i;
    }
    return best;
}

std::unique_ptr<AudioEncoder> make_audio_encoder(const AudioEncoderSettings& settings,
                                                 const AudioSourceFormat& source, OutputFile& out)
{
    if (is_amr_name(settings.encoder))
        return std::make_unique<AmrNbEncoder>(settings, out);
    const AVCodec* codec = find_audio_encoder(settings.encoder);
    if (!codec || codec->type != AVMEDIA_TYPE_AUDIO)
        throw ConvError(Failure::Usage, "unknown audio encoder: " + settings.encoder);
    if (!out.can_store(codec->id))
        throw ConvError(Failure::Usage, std::string("audio codec ") + codec->name
                                            + " cannot be stored in the " + container_name(out)
                                            + " format");
    return std::make_unique<LavcAudioEncoder>(codec, settings, source, out);
}

} // namespace zmconv
