#include "common/output_check.h"

#include "common/av_owner.h"
#include "common/errors.h"
#include "common/progress.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/intreadwrite.h>
}

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <deque>
#include <future>
#include <system_error>
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
    bool decoded = false;    // sound, counted in samples
    CodecContextPtr decoder; // sound decoded here, in order
    AVRational time_base{0, 1};
    int64_t samples = 0;
    int rate = 0;
    int64_t first = AV_NOPTS_VALUE; // packet timestamps, other streams
    int64_t end = AV_NOPTS_VALUE;
    int64_t frame_us = 0;

    int64_t us() const
    {
        if (decoded)
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

CodecContextPtr open_sound_decoder(const AVCodecParameters* par, AVRational time_base,
                                   bool manual_skip)
{
    const AVCodec* codec = avcodec_find_decoder(par->codec_id);
    if (!codec)
        unreadable(std::string("no decoder for ") + avcodec_get_name(par->codec_id));
    CodecContextPtr dec(avcodec_alloc_context3(codec));
    if (!dec)
        throw out_of_memory();
    check(avcodec_parameters_to_context(dec.get(), par), Failure::Codec, "output check failed");
    dec->pkt_timebase = time_base;
    dec->thread_count = 1;
    if (manual_skip)
        dec->flags2 |= AV_CODEC_FLAG2_SKIP_MANUAL;
    if (const int ret = avcodec_open2(dec.get(), codec, nullptr); ret < 0)
        unreadable(av_error_text(ret));
    return dec;
}

// Decoders whose sound for a packet depends only on the few packets before it (the MP3 bit
// reservoir, the overlap with the frame before, Vorbis's previous block size): one that starts a
// few packets early is, from there on, in the state of one that read from the start.
bool decodes_in_stretches(AVCodecID id)
{
    switch (id) {
    case AV_CODEC_ID_MP2:
    case AV_CODEC_ID_MP3:
    case AV_CODEC_ID_AAC:
    case AV_CODEC_ID_OPUS:
    case AV_CODEC_ID_VORBIS:
    case AV_CODEC_ID_FLAC:
    case AV_CODEC_ID_AC3:
    case AV_CODEC_ID_EAC3:
    case AV_CODEC_ID_WMAV1:
    case AV_CODEC_ID_WMAV2:
    case AV_CODEC_ID_AMR_NB:
        return true;
    default:
        return false;
    }
}

// The priming a file says to drop (the LAME header's delay, Opus's pre-skip, an edit list's
// start) may span several packets; it is dropped within the first stretch, never longer than this.
constexpr size_t kLeastFirstPackets = 64;

// Packets a stretch's decoder reads before the stretch, their sound not counted. The MP3 bit
// reservoir reaches back 511 bytes: eight of the smallest frames (8 kHz, 8 kbit/s) hold more.
constexpr size_t kLeadPackets = 8;

struct SoundCount {
    int64_t samples = 0;
    int rate = 0;
    int64_t frame_us = 0;
};

// The sound decoded of one stretch. A stretch counts what its decoder gives while its own packets
// are sent (and, for the last, while it is drained), so a decoder that gives a packet's sound one
// packet late is counted once too. After the first stretch, priming the decoder drops by itself
// (Opus's pre-skip) falls in the lead and is not dropped again; padding the last packet's side
// data says to drop is dropped as a single decoder drops it.
SoundCount decode_stretch(const AVCodecParameters* par, AVRational time_base,
                          const std::vector<PacketPtr>& lead, const std::vector<PacketPtr>& own,
                          bool first, bool last)
{
    CodecContextPtr dec = open_sound_decoder(par, time_base, !first);
    FramePtr frame = make_frame();
    SoundCount count;
    auto take = [&](bool counted) {
        for (;;) {
            const int ret = avcodec_receive_frame(dec.get(), frame.get());
            if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF)
                return;
            if (ret == AVERROR(ENOMEM))
                throw out_of_memory();
            if (ret < 0)
                continue;
            int64_t n = frame->nb_samples;
            if (const AVFrameSideData* side =
                    av_frame_get_side_data(frame.get(), AV_FRAME_DATA_SKIP_SAMPLES);
                side && side->size >= 8) {
                const int64_t padding = AV_RL32(side->data + 4);
                if (padding > 0 && padding <= n)
                    n -= padding;
            }
            if (counted && n > 0) {
                count.samples += n;
                if (frame->sample_rate > 0) {
                    count.rate = frame->sample_rate;
                    count.frame_us =
                        std::max(count.frame_us, av_rescale(n, AV_TIME_BASE, frame->sample_rate));
                }
            }
            av_frame_unref(frame.get());
        }
    };
    for (const PacketPtr& p : lead)
        if (avcodec_send_packet(dec.get(), p.get()) >= 0)
            take(false);
    for (const PacketPtr& p : own) {
        throw_if_stopped();
        if (avcodec_send_packet(dec.get(), p.get()) >= 0)
            take(true);
    }
    if (last && avcodec_send_packet(dec.get(), nullptr) >= 0)
        take(true);
    return count;
}

// One sound stream decoded in stretches on threads beside the reading, at most `threads` at once;
// the packets of a stretch are held until it is decoded.
class StretchedSound
{
public:
    StretchedSound(const AVStream* st, const ReadBack& how)
        : m_par(avcodec_parameters_alloc()), m_time_base(st->time_base), m_how(how)
    {
        if (!m_par)
            throw out_of_memory();
        check(avcodec_parameters_copy(m_par.get(), st->codecpar), Failure::Codec,
              "output check failed");
        // A file no decoder can open fails here, before any packet is read, as it does in one
        // piece.
        open_sound_decoder(m_par.get(), m_time_base, false);
    }
    ~StretchedSound()
    {
        for (std::future<SoundCount>& f : m_running)
            if (f.valid())
                f.wait();
    }
    StretchedSound(const StretchedSound&) = delete;
    StretchedSound& operator=(const StretchedSound&) = delete;

    // Takes the packet's reference.
    void add(AVPacket* pkt)
    {
        PacketPtr own = make_packet();
        av_packet_move_ref(own.get(), pkt);
        m_bytes += static_cast<size_t>(std::max(0, own->size));
        m_own.push_back(std::move(own));
        if (stretch_full())
            launch(false);
    }

    SoundCount finish()
    {
        launch(true);
        while (!m_running.empty())
            take_oldest();
        return m_total;
    }

private:
    bool stretch_full() const
    {
        if (m_first && m_own.size() < kLeastFirstPackets)
            return false;
        return m_own.size() >= std::max<size_t>(1, m_how.stretch_packets)
               || m_bytes >= m_how.stretch_bytes;
    }

    void launch(bool last)
    {
        while (m_running.size() >= static_cast<size_t>(std::max(1, m_how.threads)))
            take_oldest();
        // The next stretch's lead: the last packets read so far, new references to them.
        std::vector<PacketPtr> next_lead;
        const size_t have = m_lead.size() + m_own.size();
        for (size_t i = have > kLeadPackets ? have - kLeadPackets : 0; i < have; ++i) {
            const AVPacket* p =
                i < m_lead.size() ? m_lead[i].get() : m_own[i - m_lead.size()].get();
            PacketPtr ref(av_packet_clone(p));
            if (!ref)
                throw out_of_memory();
            next_lead.push_back(std::move(ref));
        }
        try {
            m_running.push_back(std::async(std::launch::async, decode_stretch, m_par.get(),
                                           m_time_base, std::move(m_lead), std::move(m_own),
                                           m_first, last));
        } catch (const std::system_error& e) {
            throw ConvError(Failure::Codec,
                            std::string("cannot start the checking threads: ") + e.what());
        }
        m_lead = std::move(next_lead);
        m_own.clear();
        m_bytes = 0;
        m_first = false;
    }

    void take_oldest()
    {
        std::future<SoundCount> oldest = std::move(m_running.front());
        m_running.pop_front();
        const SoundCount c = oldest.get();
        m_total.samples += c.samples;
        if (c.rate > 0)
            m_total.rate = c.rate;
        m_total.frame_us = std::max(m_total.frame_us, c.frame_us);
    }

    ParametersPtr m_par;
    AVRational m_time_base;
    ReadBack m_how;
    std::vector<PacketPtr> m_lead;
    std::vector<PacketPtr> m_own;
    size_t m_bytes = 0;
    bool m_first = true;
    std::deque<std::future<SoundCount>> m_running;
    SoundCount m_total;
};

} // namespace

OutputLength read_output_length(const std::string& path, bool decode,
                                const std::function<void(const AVFrame*)>& sound,
                                const ReadBack& how)
{
    AVFormatContext* raw = nullptr;
    if (const int ret = avformat_open_input(&raw, path.c_str(), nullptr, nullptr); ret < 0)
        unreadable(av_error_text(ret));
    InputFormatPtr ctx(raw);
    if (const int ret = avformat_find_stream_info(ctx.get(), nullptr); ret < 0)
        unreadable(av_error_text(ret));

    std::vector<StreamLength> streams(ctx->nb_streams);
    int sound_stream = -1; // the one whose frames go to `sound`
    int sound_streams = 0;
    for (unsigned i = 0; i < ctx->nb_streams; ++i)
        sound_streams += ctx->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO;
    int stretched_stream = -1; // the one decoded in stretches
    std::unique_ptr<StretchedSound> stretched;
    for (unsigned i = 0; i < ctx->nb_streams; ++i) {
        const AVStream* st = ctx->streams[i];
        streams[i].time_base = st->time_base;
        if (st->codecpar->codec_type != AVMEDIA_TYPE_AUDIO || !decode)
            continue;
        streams[i].decoded = true;
        streams[i].rate = st->codecpar->sample_rate;
        if (how.threads > 1 && !sound && sound_streams == 1
            && decodes_in_stretches(st->codecpar->codec_id)) {
            stretched = std::make_unique<StretchedSound>(st, how);
            stretched_stream = static_cast<int>(i);
            continue;
        }
        streams[i].decoder = open_sound_decoder(st->codecpar, st->time_base, false);
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
        if (pkt->stream_index == stretched_stream) {
            stretched->add(pkt.get());
        } else if (s.decoder) {
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

    if (stretched) {
        StreamLength& s = streams[static_cast<size_t>(stretched_stream)];
        const SoundCount c = stretched->finish();
        s.samples = c.samples;
        if (c.rate > 0)
            s.rate = c.rate;
        s.frame_us = c.frame_us;
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
