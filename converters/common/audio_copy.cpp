#include "common/audio_copy.h"
#include "common/errors.h"

extern "C" {
#include <libavutil/intreadwrite.h>
}

#include <algorithm>
#include <string_view>

namespace zmconv {

AudioCopy::AudioCopy(InputFile& in, int stream_index, OutputFile& out)
    : m_out(out), m_in_stream(in.context()->streams[stream_index]), m_packet(make_packet())
{
    const AVCodecParameters* par = m_in_stream->codecpar;
    if (!out.can_store(par->codec_id))
        throw ConvError(Failure::Usage,
                        std::string("audio codec ") + avcodec_get_name(par->codec_id)
                            + " cannot be stored in the " + out.format()->name + " format");
    m_out_stream = out.add_stream();
    check(avcodec_parameters_copy(m_out_stream->codecpar, par), Failure::Codec,
          "cannot describe the audio stream");
    m_out_stream->codecpar->codec_tag = 0; // the new container's own tag
    m_time_base = m_in_stream->time_base;
    const int64_t start_us = in.start_us();
    m_start = av_rescale_q(start_us, AV_TIME_BASE_Q, m_time_base);

    const std::string_view muxer = out.format()->name;
    const int rate = par->sample_rate;
    const bool stores_positions =
        muxer == "ogg" || muxer == "opus" || muxer == "ipod" || muxer == "mp4";
    if (stores_positions && rate > 0 && av_cmp_q(m_time_base, AVRational{1, rate}) > 0) {
        m_count_samples = true;
        m_time_base = AVRational{1, rate};
        // Opus counts its pre-skip before the first sample of sound.
        m_next = par->codec_id == AV_CODEC_ID_OPUS ? -int64_t(par->initial_padding) : 0;
    }
    m_out_stream->time_base = m_time_base;
}

void AudioCopy::send_packet(const AVPacket* pkt)
{
    AVPacket* p = m_packet.get();
    av_packet_unref(p);
    check(av_packet_ref(p, pkt), Failure::Codec, "out of memory");
    p->stream_index = m_out_stream->index;
    p->pos = -1;
    if (m_count_samples) {
        // A codec of fixed frames (AAC: 1024 samples) says the length exactly; the container's
        // rounded duration would make every packet 21 or 22 ms long.
        const int frame = m_in_stream->codecpar->frame_size;
        int64_t length =
            frame > 0 ? frame : av_rescale_q(pkt->duration, m_in_stream->time_base, m_time_base);
        // Samples trimmed off the end of the last packet (Matroska's discard padding): the Ogg
        // page position says where the sound ends.
        size_t size = 0;
        if (const uint8_t* skip = av_packet_get_side_data(pkt, AV_PKT_DATA_SKIP_SAMPLES, &size);
            skip && size >= 10)
            length -= std::min<int64_t>(length, AV_RL32(skip + 4));
        p->pts = p->dts = m_next;
        p->duration = length;
        m_next += length;
    } else {
        if (p->pts != AV_NOPTS_VALUE)
            p->pts -= m_start;
        if (p->dts != AV_NOPTS_VALUE)
            p->dts -= m_start;
    }
    const int64_t at = p->pts != AV_NOPTS_VALUE ? p->pts : p->dts;
    if (at != AV_NOPTS_VALUE)
        m_end = std::max(m_end, at + std::max<int64_t>(0, p->duration));
    m_out.write(p, m_time_base);
    ++m_packets;
}

double AudioCopy::seconds_done() const
{
    return m_end > 0 ? static_cast<double>(m_end) * av_q2d(m_time_base) : 0.0;
}

} // namespace zmconv
