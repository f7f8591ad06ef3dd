#include "common/audio_copy.h"
#include "common/errors.h"

extern "C" {
#include <libavcodec/vorbis_parser.h>
#include <libavutil/intreadwrite.h>
}

#include <algorithm>
#include <string_view>

namespace zmconv {

namespace {

// Whether the muxer stores each packet's position to the sample (Ogg granules, MP4 sample
// tables) while the input stamps coarser than one sample: then the positions are counted.
bool counts_samples(const AVStream& in, std::string_view muxer)
{
    const bool stores_positions =
        muxer == "ogg" || muxer == "opus" || muxer == "ipod" || muxer == "mp4";
    const int rate = in.codecpar->sample_rate;
    return stores_positions && rate > 0 && av_cmp_q(in.time_base, AVRational{1, rate}) > 0;
}

// The samples of one Opus frame for the configuration in the top five bits of the first byte:
// SILK 10/20/40/60 ms, hybrid 10/20 ms, CELT 2.5/5/10/20 ms, at 48000 Hz.
int64_t opus_frame_samples(uint8_t toc)
{
    static constexpr int64_t kSilk[] = {480, 960, 1920, 2880};
    const int config = toc >> 3;
    if (config < 12)
        return kSilk[config & 3];
    if (config < 16)
        return (config & 1) ? 960 : 480;
    return int64_t{120} << (config & 3);
}

} // namespace

int64_t opus_packet_samples(const uint8_t* data, int size)
{
    if (!data || size < 1)
        return -1;
    int64_t frames = 0;
    switch (data[0] & 3) {
    case 0:
        frames = 1;
        break;
    case 1:
    case 2:
        frames = 2;
        break;
    default:
        if (size < 2)
            return -1;
        frames = data[1] & 0x3f;
        break;
    }
    const int64_t samples = frames * opus_frame_samples(data[0]);
    // A packet holds at least one frame and at most 120 ms.
    return frames > 0 && samples <= 5760 ? samples : -1;
}

PacketSamples::PacketSamples(const AVCodecParameters& par) : m_codec(par.codec_id)
{
    if (m_codec == AV_CODEC_ID_OPUS) {
        m_known = true;
    } else if (m_codec == AV_CODEC_ID_VORBIS && par.extradata && par.extradata_size > 0) {
        m_vorbis = av_vorbis_parse_init(par.extradata, par.extradata_size);
        take_library_message(); // headers it could not read are said by known()
        m_known = m_vorbis != nullptr;
    }
}

PacketSamples::~PacketSamples()
{
    av_vorbis_parse_free(&m_vorbis);
}

int64_t PacketSamples::of(const AVPacket& pkt)
{
    if (m_codec == AV_CODEC_ID_OPUS)
        return opus_packet_samples(pkt.data, pkt.size);
    if (!m_vorbis || !pkt.data || pkt.size <= 0)
        return -1;
    int flags = 0;
    const int samples = av_vorbis_parse_frame_flags(m_vorbis, pkt.data, pkt.size, &flags);
    take_library_message();
    if (flags & (VORBIS_FLAG_HEADER | VORBIS_FLAG_COMMENT | VORBIS_FLAG_SETUP))
        return 0;
    return samples > 0 ? samples : -1;
}

bool AudioCopy::can_time(const AVStream& stream, const char* muxer)
{
    if (!counts_samples(stream, muxer) || stream.codecpar->codec_id != AV_CODEC_ID_VORBIS)
        return true;
    return PacketSamples(*stream.codecpar).known();
}

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

    if (counts_samples(*m_in_stream, out.format()->name)) {
        m_count_samples = true;
        m_time_base = AVRational{1, par->sample_rate};
        // Opus counts its pre-skip before the first sample of sound.
        m_next = par->codec_id == AV_CODEC_ID_OPUS ? -int64_t(par->initial_padding) : 0;
        auto samples = std::make_unique<PacketSamples>(*par);
        if (samples->known())
            m_samples = std::move(samples);
        else if (par->codec_id == AV_CODEC_ID_VORBIS)
            throw ConvError(Failure::Input, "the input's Vorbis headers cannot be read");
    }
    m_out_stream->time_base = m_time_base;
}

AudioCopy::~AudioCopy() = default;

void AudioCopy::send_packet(const AVPacket* pkt)
{
    int64_t length = 0;
    if (m_count_samples) {
        if (m_samples) {
            length = m_samples->of(*pkt);
            if (length < 0) {
                ++m_damaged; // a decoder would refuse it too
                return;
            }
            if (length == 0)
                return; // a header repeated among the sound: the output has its own
            // The first Vorbis packet only primes the decoder: its sound lies before the start,
            // as an encoder stamps it.
            if (m_packets == 0 && m_in_stream->codecpar->codec_id == AV_CODEC_ID_VORBIS)
                m_next = -length;
        } else {
            // A codec of fixed frames (AAC: 1024 samples) says the length exactly; the
            // container's rounded duration would make every packet 21 or 22 ms long.
            const int frame = m_in_stream->codecpar->frame_size;
            length = frame > 0 ? frame
                               : av_rescale_q(pkt->duration, m_in_stream->time_base, m_time_base);
        }
        // Samples trimmed off the end of the last packet (Matroska's discard padding): the Ogg
        // page position says where the sound ends.
        size_t size = 0;
        if (const uint8_t* skip = av_packet_get_side_data(pkt, AV_PKT_DATA_SKIP_SAMPLES, &size);
            skip && size >= 10)
            length -= std::min<int64_t>(length, AV_RL32(skip + 4));
    }

    AVPacket* p = m_packet.get();
    av_packet_unref(p);
    check(av_packet_ref(p, pkt), Failure::Codec, "out of memory");
    p->stream_index = m_out_stream->index;
    p->pos = -1;
    if (m_count_samples) {
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
