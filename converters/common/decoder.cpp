#include "common/decoder.h"

#include "common/errors.h"
#include "common/progress.h"

extern "C" {
#include <libavutil/samplefmt.h>
}

#include <algorithm>
#include <cmath>

namespace zmconv {

namespace {

// A decoder that answers every receive with an error would otherwise be asked for ever.
constexpr int kMaxErrorsInARow = 64;
// How far a frame may start from where the one before it ended and still be in line: sound
// beyond the jitter of millisecond stamps and below the shortest gap the converters fill with
// silence; pictures more (their stated durations are often rough).
constexpr int64_t kSoundToleranceUs = 50000;
constexpr int64_t kPictureToleranceUs = 500000;

template <class Sample>
int64_t sanitize(Sample* data, int64_t count)
{
    int64_t changed = 0;
    for (int64_t i = 0; i < count; ++i) {
        const Sample v = data[i];
        if (std::fabs(v) <= static_cast<Sample>(kSampleLimit))
            continue; // the common case; false for NaN
        data[i] = std::isnan(v) ? Sample(0) : (v > 0 ? Sample(1) : Sample(-1));
        ++changed;
    }
    return changed;
}

template <class Sample>
bool all_valid(const Sample* data, int64_t count)
{
    bool ok = true;
    for (int64_t i = 0; i < count; ++i)
        ok &= std::fabs(data[i]) <= static_cast<Sample>(kSampleLimit);
    return ok;
}

} // namespace

int64_t frame_duration(const AVFrame* frame)
{
#if LIBAVUTIL_VERSION_MAJOR >= 58
    return frame->duration;
#else
    return frame->pkt_duration;
#endif
}

Decoder::Decoder(const InputFile& in, int stream_index)
    : m_frame(make_frame()), m_stream(in.context()->streams[stream_index]),
      m_file_start_us(in.start_us())
{
    const AVCodecParameters* par = m_stream->codecpar;
    const char* kind = par->codec_type == AVMEDIA_TYPE_VIDEO ? "video" : "audio";
    const AVCodec* codec = avcodec_find_decoder(par->codec_id);
    if (!codec)
        throw ConvError(Failure::Input, std::string("no decoder for the input's ") + kind
                                            + " codec " + avcodec_get_name(par->codec_id));
    m_ctx.reset(avcodec_alloc_context3(codec));
    if (!m_ctx)
        throw ConvError(Failure::Codec, "out of memory");
    check(avcodec_parameters_to_context(m_ctx.get(), par), Failure::Input,
          std::string("cannot read the input's ") + kind + " parameters");
    m_ctx->pkt_timebase = m_stream->time_base;
    m_ctx->thread_count = 0;
    m_ctx->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
    const std::string what =
        std::string("cannot open the ") + codec->name + " " + kind + " decoder";
    int opened = avcodec_open2(m_ctx.get(), codec, nullptr);
    if (opened == AVERROR(EAGAIN)) {
        // Its threads could not be started (short of memory for their stacks): it decodes alone.
        take_library_message();
        m_ctx.reset(avcodec_alloc_context3(codec));
        if (!m_ctx)
            throw out_of_memory();
        check(avcodec_parameters_to_context(m_ctx.get(), par), Failure::Input,
              std::string("cannot read the input's ") + kind + " parameters");
        m_ctx->pkt_timebase = m_stream->time_base;
        m_ctx->thread_count = 1;
        opened = avcodec_open2(m_ctx.get(), codec, nullptr);
    }
    check(opened, Failure::Input, what);
    m_tolerance = av_rescale_q(par->codec_type == AVMEDIA_TYPE_AUDIO ? kSoundToleranceUs
                                                                     : kPictureToleranceUs,
                               AV_TIME_BASE_Q, m_stream->time_base);
}

int64_t Decoder::declared_us() const
{
    if (m_stream->duration <= 0 || m_stream->duration == AV_NOPTS_VALUE)
        return AV_NOPTS_VALUE;
    return av_rescale_q(m_stream->duration, m_stream->time_base, AV_TIME_BASE_Q);
}

void Decoder::skip(int err)
{
    if (err == AVERROR_EXIT || stop_requested())
        throw ConvError(Failure::Interrupted, "interrupted");
    // The decoder's complaint belongs to the skipped packet, unless memory ran out: then no
    // packet is damaged, and the conversion cannot go on.
    if (is_out_of_memory(err, take_library_message()))
        throw out_of_memory();
    ++m_damaged;
}

void Decoder::decode(const AVPacket* pkt, const FrameSink& sink)
{
    for (int tries = 0;; ++tries) {
        const int ret = avcodec_send_packet(m_ctx.get(), pkt);
        if (ret == AVERROR(EAGAIN) && tries == 0) {
            // Frames are waiting to be taken first; then the packet goes in. A decoder that
            // still refuses it after that has lost its way: the packet is skipped.
            receive(sink);
            continue;
        }
        if (ret < 0 && ret != AVERROR_EOF)
            skip(ret);
        break;
    }
    receive(sink);
    if (!pkt)
        arrive(nullptr, sink); // the end: a frame still held goes on
}

void Decoder::receive(const FrameSink& sink)
{
    AVFrame* frame = m_frame.get();
    int errors = 0;
    for (;;) {
        const int ret = avcodec_receive_frame(m_ctx.get(), frame);
        if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF)
            return;
        if (ret < 0) {
            skip(ret);
            if (++errors >= kMaxErrorsInARow)
                return;
            continue;
        }
        errors = 0;
        ++m_frames;
        if (m_ctx->codec_type == AVMEDIA_TYPE_AUDIO)
            m_invalid_samples += sanitize_samples(frame);
        arrive(frame, sink);
        av_frame_unref(frame);
    }
}

int64_t Decoder::stamp(const AVFrame* frame)
{
    return frame->best_effort_timestamp != AV_NOPTS_VALUE ? frame->best_effort_timestamp
                                                          : frame->pts;
}

int64_t Decoder::length(const AVFrame* frame) const
{
    if (m_ctx->codec_type == AVMEDIA_TYPE_AUDIO && frame->sample_rate > 0)
        return av_rescale_q(frame->nb_samples, AVRational{1, frame->sample_rate},
                            m_stream->time_base);
    return std::max<int64_t>(0, frame_duration(frame));
}

void Decoder::arrive(AVFrame* frame, const FrameSink& sink)
{
    const auto near = [this](int64_t a, int64_t b) { return std::llabs(a - b) <= m_tolerance; };
    const int64_t at = frame ? stamp(frame) : AV_NOPTS_VALUE;
    if (m_holding) {
        m_holding = false;
        AVFrame* held = m_held.get();
        const int64_t held_at = stamp(held);
        const int64_t held_length = length(held);
        const bool known = at != AV_NOPTS_VALUE && m_expected != AV_NOPTS_VALUE;
        if (!frame
            || (known && !near(at, held_at + held_length) && near(at, m_expected + held_length))) {
            // Out of place: the frame takes the place it should have had (at the end, where
            // nothing can show a jump, a frame is kept in line too).
            held->pts = held->best_effort_timestamp = m_expected;
            ++m_retimed;
            emit(held, sink);
        } else if (known && !near(at, held_at + held_length) && near(at, m_expected)) {
            ++m_retimed; // out of place, and the next frame takes that place: left out
        } else {
            emit(held, sink); // the stream did jump (or nothing tells): as it is
        }
        av_frame_unref(held);
    }
    if (!frame)
        return;
    if (at != AV_NOPTS_VALUE && m_expected != AV_NOPTS_VALUE && !near(at, m_expected)) {
        if (!m_held)
            m_held = make_frame();
        av_frame_move_ref(m_held.get(), frame);
        m_holding = true;
        return;
    }
    emit(frame, sink);
}

void Decoder::emit(AVFrame* frame, const FrameSink& sink)
{
    const int64_t at = stamp(frame);
    if (at != AV_NOPTS_VALUE) {
        m_expected = at + length(frame);
        int64_t end = av_rescale_q(at, m_stream->time_base, AV_TIME_BASE_Q) - m_file_start_us;
        if (m_ctx->codec_type == AVMEDIA_TYPE_AUDIO && frame->sample_rate > 0)
            end += av_rescale(frame->nb_samples, AV_TIME_BASE, frame->sample_rate);
        else if (frame_duration(frame) > 0)
            end += av_rescale_q(frame_duration(frame), m_stream->time_base, AV_TIME_BASE_Q);
        m_end_us = m_end_us == AV_NOPTS_VALUE ? end : std::max(m_end_us, end);
    } else if (m_expected != AV_NOPTS_VALUE) {
        m_expected += length(frame);
    }
    sink(frame);
}

int64_t sanitize_samples(AVFrame* frame)
{
    const auto format = static_cast<AVSampleFormat>(frame->format);
    const AVSampleFormat packed = av_get_packed_sample_fmt(format);
    if (packed != AV_SAMPLE_FMT_FLT && packed != AV_SAMPLE_FMT_DBL)
        return 0;
    const bool planar = av_sample_fmt_is_planar(format);
    const int channels = frame->ch_layout.nb_channels;
    const int planes = planar ? channels : 1;
    const int64_t per_plane = static_cast<int64_t>(frame->nb_samples) * (planar ? 1 : channels);
    if (planes <= 0 || per_plane <= 0)
        return 0;

    bool valid = true;
    for (int p = 0; p < planes && valid; ++p) {
        valid =
            packed == AV_SAMPLE_FMT_FLT
                ? all_valid(reinterpret_cast<const float*>(frame->extended_data[p]), per_plane)
                : all_valid(reinterpret_cast<const double*>(frame->extended_data[p]), per_plane);
    }
    if (valid)
        return 0;
    check(av_frame_make_writable(frame), Failure::Codec, "out of memory");
    int64_t changed = 0;
    for (int p = 0; p < planes; ++p) {
        changed += packed == AV_SAMPLE_FMT_FLT
                       ? sanitize(reinterpret_cast<float*>(frame->extended_data[p]), per_plane)
                       : sanitize(reinterpret_cast<double*>(frame->extended_data[p]), per_plane);
    }
    return changed;
}

void DecodeReport::add(const Decoder& decoder)
{
    damaged += decoder.damaged();
    retimed += decoder.retimed();
    invalid_samples += decoder.invalid_samples();
    if (decoder.end_us() != AV_NOPTS_VALUE)
        end_us = end_us == AV_NOPTS_VALUE ? decoder.end_us() : std::max(end_us, decoder.end_us());
}

std::string warning_text(const DecodeReport& r)
{
    std::string text;
    auto part = [&text](const std::string& s) { text += (text.empty() ? "" : "; ") + s; };
    if (r.damaged > 0)
        part(std::to_string(r.damaged) + (r.damaged == 1 ? " damaged packet" : " damaged packets")
             + " skipped");
    if (r.retimed > 0)
        part(std::to_string(r.retimed)
             + (r.retimed == 1 ? " timestamp out of line" : " timestamps out of line")
             + " put right");
    if (r.invalid_samples > 0)
        part(std::to_string(r.invalid_samples)
             + (r.invalid_samples == 1 ? " invalid sample" : " invalid samples")
             + " (not a number, infinite or far past full scale) replaced");
    // A length the file states was worked out from its timestamps: with one of them out of
    // line, it says nothing about where the material ends.
    if (r.retimed == 0 && r.end_us != AV_NOPTS_VALUE && r.expected_end_us != AV_NOPTS_VALUE
        && r.expected_end_us > 0) {
        const int64_t slack = std::max<int64_t>(AV_TIME_BASE / 2, r.expected_end_us / 50);
        if (r.end_us < r.expected_end_us - slack)
            part("the input ends at " + format_clock(r.end_us) + ", before its stated length of "
                 + format_clock(r.expected_end_us));
    }
    return text;
}

} // namespace zmconv
