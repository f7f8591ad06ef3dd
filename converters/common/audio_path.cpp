#include "common/audio_path.h"
#include "common/errors.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libavutil/samplefmt.h>
}

#include <algorithm>
#include <climits>

namespace zmconv {

namespace {
// Frame size used for encoders that take any number of samples (PCM).
constexpr int kFreeFrameSize = 4096;
// Frames waiting for the encoder thread at most (well under a second of sound). The threads
// wake each other in batches, not once per frame.
constexpr size_t kQueuedFrames = 32;
constexpr size_t kWakeBatch = 8;
} // namespace

struct AudioPath::Impl {
    AVStream* stream = nullptr;
    int64_t file_start_us = 0;
    TimeRange range;
    bool cutting = false;

    std::unique_ptr<Decoder> decoder;
    FramePtr out_frame;
    SwrPtr swr;
    bool swr_passthrough = false;
    // Parameters the resampler was made for.
    int in_rate = 0;
    AVSampleFormat in_format = AV_SAMPLE_FMT_NONE;
    AVChannelLayout in_layout{};

    AudioFifoPtr fifo;
    uint8_t** scratch = nullptr;
    int scratch_samples = 0;

    bool have_position = false;
    int64_t next_position = 0; // expected input position (samples at in_rate) of the next frame
    int64_t samples_sent = 0;  // samples handed to the encoder

    bool fill_gaps = false;
    int64_t filled_to = 0; // input position (samples at in_rate) the output has reached

    ~Impl()
    {
        if (scratch)
            av_freep(&scratch[0]);
        av_freep(&scratch);
        av_channel_layout_uninit(&in_layout);
    }
};

AudioPath::AudioPath(InputFile& in, int stream_index, const AudioEncoderSettings& settings,
                     OutputFile& out, TimeRange range)
    : m_impl(std::make_unique<Impl>())
{
    Impl& d = *m_impl;
    d.stream = in.context()->streams[stream_index];
    d.file_start_us = in.start_us();
    d.range = range;
    d.cutting = range.start_us > 0 || range.length_us >= 0;

    d.decoder = std::make_unique<Decoder>(in, stream_index);
    const AVCodecContext* dec = d.decoder->context();

    AudioSourceFormat source;
    source.sample_rate = dec->sample_rate;
    source.channels = dec->ch_layout.nb_channels;
    source.sample_format = dec->sample_fmt;
    source.layout = &dec->ch_layout;
    m_encoder = make_audio_encoder(settings, source, out);

    d.out_frame = make_frame();
    d.fifo.reset(av_audio_fifo_alloc(m_encoder->sample_format(),
                                     m_encoder->channel_layout().nb_channels, 8192));
    if (!d.fifo)
        throw ConvError(Failure::Codec, "out of memory");
}

AudioPath::~AudioPath()
{
    // The thread uses the encoder: it ends before any member goes.
    m_worker.reset();
}

void AudioPath::set_encode_thread(bool on)
{
    if (on && !m_worker) {
        AudioEncoder& encoder = *m_encoder;
        m_worker = std::make_unique<BoundedWorker<FramePtr>>(
            [&encoder](FramePtr& frame) { encoder.encode(frame.get()); },
            [&encoder] { encoder.encode(nullptr); }, kQueuedFrames, kWakeBatch);
    } else if (!on && m_worker) {
        m_worker.reset();
    }
}

void AudioPath::wrap_encoder(const EncoderWrap& wrap)
{
    m_worker.reset(); // it refers to the encoder being wrapped
    m_encoder = wrap(std::move(m_encoder));
}

void AudioPath::set_frame_stage(std::function<void(AVFrame*)> stage)
{
    m_stage = std::move(stage);
}

void AudioPath::add_frame_stage(std::function<void(AVFrame*)> stage)
{
    if (!m_stage) {
        m_stage = std::move(stage);
        return;
    }
    m_stage = [first = std::move(m_stage), then = std::move(stage)](AVFrame* f) {
        first(f);
        then(f);
    };
}

void AudioPath::set_encoding(bool on)
{
    m_encoding = on;
}

const Decoder& AudioPath::decoder() const
{
    return *m_impl->decoder;
}

double AudioPath::seconds_done() const
{
    return static_cast<double>(m_impl->samples_sent) / m_encoder->sample_rate();
}

bool AudioPath::send_packet(const AVPacket* pkt)
{
    if (m_range_done)
        return false;
    // Damaged packets are skipped and counted by the decoder; frames after the end of the range
    // are not needed.
    m_impl->decoder->decode(pkt, [this](AVFrame* frame) {
        if (!m_range_done)
            handle_decoded(frame);
    });
    return !m_range_done;
}

void AudioPath::handle_decoded(AVFrame* frame)
{
    Impl& d = *m_impl;
    const int rate =
        frame->sample_rate > 0 ? frame->sample_rate : d.decoder->context()->sample_rate;
    if (rate <= 0 || frame->nb_samples <= 0)
        return;

    // (Re)build the converter when the decoded format differs from what it was made for.
    const bool changed = d.in_rate == 0 || rate != d.in_rate || frame->format != d.in_format
                         || frame->ch_layout.nb_channels != d.in_layout.nb_channels
                         || (frame->ch_layout.order != AV_CHANNEL_ORDER_UNSPEC
                             && av_channel_layout_compare(&frame->ch_layout, &d.in_layout) != 0);
    if (changed) {
        if (d.swr) {
            push_samples(nullptr, 0); // drain the old converter first
            d.swr.reset();
        }
        // Position is kept in samples of the input rate; rescale it on a rate change.
        if (d.in_rate > 0 && d.in_rate != rate) {
            d.next_position = av_rescale(d.next_position, rate, d.in_rate);
            d.filled_to = av_rescale(d.filled_to, rate, d.in_rate);
        }
        d.in_rate = rate;
        d.in_format = static_cast<AVSampleFormat>(frame->format);
        av_channel_layout_uninit(&d.in_layout);
        check(av_channel_layout_copy(&d.in_layout, &frame->ch_layout), Failure::Codec,
              "channel layout");
        if (d.in_layout.order == AV_CHANNEL_ORDER_UNSPEC)
            av_channel_layout_default(&d.in_layout, frame->ch_layout.nb_channels);
        const AudioEncoder& enc = *m_encoder;
        d.swr_passthrough = rate == enc.sample_rate() && d.in_format == enc.sample_format()
                            && av_channel_layout_compare(&d.in_layout, &enc.channel_layout()) == 0;
        if (!d.swr_passthrough) {
            SwrContext* raw = nullptr;
            AVChannelLayout out_layout{};
            check(av_channel_layout_copy(&out_layout, &enc.channel_layout()), Failure::Codec,
                  "channel layout");
            const int made =
                swr_alloc_set_opts2(&raw, &out_layout, enc.sample_format(), enc.sample_rate(),
                                    &d.in_layout, d.in_format, rate, 0, nullptr);
            av_channel_layout_uninit(&out_layout);
            check(made, Failure::Codec, "cannot set up the audio converter");
            d.swr.reset(raw);
            check(swr_init(d.swr.get()), Failure::Codec, "cannot set up the audio converter");
        }
    }

    // Position of this frame in samples from the file's start. Samples are counted on from the
    // first timestamp; a later timestamp only counts when it jumps by more than rounding could
    // explain (containers such as FLV store whole milliseconds), so cuts stay sample-exact.
    int64_t position = d.next_position;
    const int64_t ts =
        frame->best_effort_timestamp != AV_NOPTS_VALUE ? frame->best_effort_timestamp : frame->pts;
    if (ts != AV_NOPTS_VALUE) {
        const int64_t stamped = av_rescale_q(ts, d.stream->time_base, AVRational{1, rate})
                                - av_rescale(d.file_start_us, rate, AV_TIME_BASE);
        const int64_t slack = rate / 50; // 20 ms
        // A jump of more than ten minutes ahead is a broken timestamp (a damaged file) or a
        // reset, not missing sound: samples are counted on, so a cut does not end early.
        const bool broken = d.have_position && stamped - position > int64_t(rate) * kMaxGapSeconds;
        if (!broken
            && (!d.have_position || stamped > position + slack || stamped < position - slack))
            position = stamped;
    }
    d.have_position = true;
    const int n = frame->nb_samples;
    d.next_position = position + n;

    int offset = 0;
    int count = n;
    if (d.cutting) {
        const int64_t start = av_rescale(d.range.start_us, rate, AV_TIME_BASE);
        const int64_t end = d.range.length_us < 0 ? INT64_MAX
                                                  : av_rescale(d.range.start_us + d.range.length_us,
                                                               rate, AV_TIME_BASE);
        if (position >= end) {
            m_range_done = true;
            return;
        }
        if (position + n <= start)
            return;
        offset = static_cast<int>(std::max<int64_t>(0, start - position));
        const int64_t stop = std::min<int64_t>(position + n, end);
        count = static_cast<int>(stop - position) - offset;
        if (position + n >= end)
            m_range_done = true;
        if (count <= 0)
            return;
    }

    if (d.fill_gaps && !d.cutting) {
        // Gaps up to 50 ms are left alone (timestamp jitter); they are caught up once they add
        // up. A jump of more than ten minutes is a timestamp reset, not missing sound.
        const int64_t gap = position - d.filled_to;
        if (gap > rate / 20 && gap <= static_cast<int64_t>(rate) * kMaxGapSeconds)
            push_silence(gap, static_cast<AVSampleFormat>(frame->format),
                         frame->ch_layout.nb_channels);
        d.filled_to = (gap > rate / 20 ? position : d.filled_to) + count;
    }

    // Point into the kept part of the frame without copying.
    const int bps = av_get_bytes_per_sample(d.in_format);
    const int channels = frame->ch_layout.nb_channels;
    const bool planar = av_sample_fmt_is_planar(d.in_format);
    const uint8_t* planes[AV_NUM_DATA_POINTERS * 8];
    const int nplanes = planar ? channels : 1;
    if (nplanes > static_cast<int>(std::size(planes)))
        throw ConvError(Failure::Codec, "too many audio channels");
    for (int p = 0; p < nplanes; ++p)
        planes[p] = frame->extended_data[p]
                    + static_cast<ptrdiff_t>(offset) * bps * (planar ? 1 : channels);
    push_samples(planes, count);
    emit_frames(false);
}

void AudioPath::set_fill_gaps(bool on)
{
    m_impl->fill_gaps = on;
}

void AudioPath::push_silence(int64_t count, AVSampleFormat format, int channels)
{
    constexpr int kChunk = 4096;
    uint8_t** silence = nullptr;
    check(av_samples_alloc_array_and_samples(&silence, nullptr, channels, kChunk, format, 0),
          Failure::Codec, "out of memory");
    std::unique_ptr<uint8_t*, void (*)(uint8_t**)> owner(silence, [](uint8_t** p) {
        av_freep(&p[0]);
        av_freep(&p);
    });
    av_samples_set_silence(silence, 0, kChunk, channels, format);
    while (count > 0) {
        const int n = static_cast<int>(std::min<int64_t>(count, kChunk));
        push_samples(silence, n);
        emit_frames(false);
        count -= n;
    }
}

void AudioPath::push_samples(const uint8_t* const* data, int count)
{
    Impl& d = *m_impl;
    if (d.swr_passthrough && data) {
        // The FIFO only reads from these planes; its interface is not const-correct.
        void** planes = reinterpret_cast<void**>(const_cast<uint8_t**>(data));
        if (av_audio_fifo_write(d.fifo.get(), planes, count) < count)
            throw ConvError(Failure::Codec, "out of memory");
        return;
    }
    if (!d.swr)
        return;
    const int room = swr_get_out_samples(d.swr.get(), data ? count : 0);
    if (room <= 0)
        return;
    if (room > d.scratch_samples) {
        if (d.scratch)
            av_freep(&d.scratch[0]);
        av_freep(&d.scratch);
        const AudioEncoder& enc = *m_encoder;
        check(av_samples_alloc_array_and_samples(&d.scratch, nullptr,
                                                 enc.channel_layout().nb_channels, room,
                                                 enc.sample_format(), 0),
              Failure::Codec, "out of memory");
        d.scratch_samples = room;
    }
    const int got = swr_convert(d.swr.get(), d.scratch, room, const_cast<const uint8_t**>(data),
                                data ? count : 0);
    check(got, Failure::Codec, "audio conversion failed");
    if (got > 0
        && av_audio_fifo_write(d.fifo.get(), reinterpret_cast<void**>(d.scratch), got) < got)
        throw ConvError(Failure::Codec, "out of memory");
}

void AudioPath::emit_frames(bool flush)
{
    Impl& d = *m_impl;
    AudioEncoder& enc = *m_encoder;
    const int size = enc.frame_size() > 0 ? enc.frame_size() : kFreeFrameSize;
    for (;;) {
        const int avail = av_audio_fifo_size(d.fifo.get());
        if (avail <= 0 || (avail < size && !flush))
            return;
        const int n = std::min(avail, size);
        // A queued frame is owned by the encoder thread, so that path gets a new one each time.
        FramePtr fresh = m_worker ? make_frame() : nullptr;
        AVFrame* f = m_worker ? fresh.get() : d.out_frame.get();
        if (f->nb_samples != n || !f->buf[0]) {
            av_frame_unref(f);
            f->format = enc.sample_format();
            f->sample_rate = enc.sample_rate();
            check(av_channel_layout_copy(&f->ch_layout, &enc.channel_layout()), Failure::Codec,
                  "channel layout");
            f->nb_samples = n;
            check(av_frame_get_buffer(f, 0), Failure::Codec, "out of memory");
        } else {
            check(av_frame_make_writable(f), Failure::Codec, "out of memory");
        }
        if (av_audio_fifo_read(d.fifo.get(), reinterpret_cast<void**>(f->extended_data), n) < n)
            throw ConvError(Failure::Codec, "audio buffer underrun");
        f->pts = d.samples_sent;
        d.samples_sent += n;
        if (m_stage)
            m_stage(f);
        if (!m_encoding)
            continue;
        if (m_worker)
            m_worker->push(std::move(fresh));
        else
            enc.encode(f);
    }
}

void AudioPath::finish()
{
    if (!m_range_done)
        send_packet(nullptr);
    push_samples(nullptr, 0);
    emit_frames(true);
    if (m_worker) {
        m_worker->finish();
        m_worker.reset();
    } else if (m_encoding) {
        m_encoder->encode(nullptr);
    }
}

} // namespace zmconv
