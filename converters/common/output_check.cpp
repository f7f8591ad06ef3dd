#include "common/output_check.h"

#include "common/av_owner.h"
#include "common/errors.h"
#include "common/progress.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <vector>

namespace zmconv {

namespace {

constexpr int64_t kLeastAllowanceUs = 50000;

[[noreturn]] void unreadable(const std::string& why)
{
    throw ConvError(Failure::Codec, "output check failed: the output cannot be read (" + why + ")");
}

// What one stream of the file read back adds up to.
struct StreamLength {
    CodecContextPtr decoder; // sound only
    AVRational time_base{0, 1};
    int64_t samples = 0;
    int rate = 0;
    int64_t first = AV_NOPTS_VALUE; // packet timestamps, other streams
    int64_t end = AV_NOPTS_VALUE;
    int64_t frame_us = 0;

    int64_t us() const
    {
        if (decoder)
            return rate > 0 ? av_rescale(samples, AV_TIME_BASE, rate) : 0;
        if (first == AV_NOPTS_VALUE)
            return 0;
        return av_rescale_q(end - first, time_base, AV_TIME_BASE_Q);
    }
};

void count_frames(StreamLength& s, AVFrame* frame, const std::function<void(const AVFrame*)>* sound)
{
    for (;;) {
        const int ret = avcodec_receive_frame(s.decoder.get(), frame);
        if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF)
            return;
        if (ret == AVERROR(ENOMEM))
            throw out_of_memory();
        if (ret < 0)
            continue; // a frame that cannot be decoded adds no samples
        s.samples += frame->nb_samples;
        if (frame->sample_rate > 0) {
            s.rate = frame->sample_rate;
            s.frame_us = std::max(s.frame_us,
                                  av_rescale(frame->nb_samples, AV_TIME_BASE, frame->sample_rate));
        }
        if (sound)
            (*sound)(frame);
        av_frame_unref(frame);
    }
}

} // namespace

OutputLength read_output_length(const std::string& path, bool decode,
                                const std::function<void(const AVFrame*)>& sound)
{
    AVFormatContext* raw = nullptr;
    if (const int ret = avformat_open_input(&raw, path.c_str(), nullptr, nullptr); ret < 0)
        unreadable(av_error_text(ret));
    InputFormatPtr ctx(raw);
    if (const int ret = avformat_find_stream_info(ctx.get(), nullptr); ret < 0)
        unreadable(av_error_text(ret));

    std::vector<StreamLength> streams(ctx->nb_streams);
    int sound_stream = -1; // the one whose frames go to `sound`
    for (unsigned i = 0; i < ctx->nb_streams; ++i) {
        const AVStream* st = ctx->streams[i];
        streams[i].time_base = st->time_base;
        if (st->codecpar->codec_type != AVMEDIA_TYPE_AUDIO || !decode)
            continue;
        const AVCodec* codec = avcodec_find_decoder(st->codecpar->codec_id);
        if (!codec)
            unreadable(std::string("no decoder for ") + avcodec_get_name(st->codecpar->codec_id));
        CodecContextPtr dec(avcodec_alloc_context3(codec));
        if (!dec)
            throw out_of_memory();
        check(avcodec_parameters_to_context(dec.get(), st->codecpar), Failure::Codec,
              "output check failed");
        dec->pkt_timebase = st->time_base;
        dec->thread_count = 1;
        if (const int ret = avcodec_open2(dec.get(), codec, nullptr); ret < 0)
            unreadable(av_error_text(ret));
        streams[i].decoder = std::move(dec);
        streams[i].rate = st->codecpar->sample_rate;
        if (sound_stream < 0 && sound)
            sound_stream = static_cast<int>(i);
    }
    auto sink_of = [&](int index) { return index == sound_stream ? &sound : nullptr; };

    PacketPtr pkt = make_packet();
    FramePtr frame = make_frame();
    for (;;) {
        throw_if_stopped();
        const int ret = av_read_frame(ctx.get(), pkt.get());
        if (ret == AVERROR_EOF)
            break;
        if (ret == AVERROR(ENOMEM))
            throw out_of_memory();
        if (ret < 0)
            unreadable(av_error_text(ret));
        StreamLength& s = streams[static_cast<size_t>(pkt->stream_index)];
        if (s.decoder) {
            // A packet the decoder refuses adds nothing; the length then comes out short.
            if (avcodec_send_packet(s.decoder.get(), pkt.get()) >= 0)
                count_frames(s, frame.get(), sink_of(pkt->stream_index));
        } else {
            const int64_t at = pkt->pts != AV_NOPTS_VALUE ? pkt->pts : pkt->dts;
            if (at != AV_NOPTS_VALUE) {
                const int64_t length = std::max<int64_t>(0, pkt->duration);
                s.first = s.first == AV_NOPTS_VALUE ? at : std::min(s.first, at);
                s.end = s.end == AV_NOPTS_VALUE ? at + length : std::max(s.end, at + length);
                s.frame_us =
                    std::max(s.frame_us, av_rescale_q(length, s.time_base, AV_TIME_BASE_Q));
            }
        }
        av_packet_unref(pkt.get());
    }

    OutputLength out;
    for (size_t i = 0; i < streams.size(); ++i) {
        StreamLength& s = streams[i];
        if (s.decoder && avcodec_send_packet(s.decoder.get(), nullptr) >= 0)
            count_frames(s, frame.get(), sink_of(static_cast<int>(i)));
        out.us = std::max(out.us, s.us());
        out.frame_us = std::max(out.frame_us, s.frame_us);
    }
    return out;
}

LengthAllowance length_allowance(int64_t frame_us, int64_t extra_long_us)
{
    const int64_t base = std::max(kLeastAllowanceUs, frame_us);
    return {base, base + std::max<int64_t>(0, extra_long_us)};
}

void check_output_length(const OutputLength& got, int64_t expected_us,
                         const LengthAllowance& allowance)
{
    if (got.us < expected_us - allowance.short_us || got.us > expected_us + allowance.long_us)
        throw ConvError(Failure::Codec,
                        "output check failed: " + length_failure_text(got.us, expected_us));
}

std::string length_failure_text(int64_t got_us, int64_t expected_us)
{
    // Tenths of a second, unless the two would read the same: then hundredths.
    auto text = [](int64_t us, int decimals) {
        char buf[64];
        std::snprintf(buf, sizeof buf, "%.*f s", decimals, static_cast<double>(us) / 1e6);
        return std::string(buf);
    };
    int decimals = 1;
    while (decimals < 3 && text(got_us, decimals) == text(expected_us, decimals))
        ++decimals;
    return text(got_us, decimals) + " of " + text(expected_us, decimals);
}

} // namespace zmconv
