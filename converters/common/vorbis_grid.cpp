#include "common/vorbis_grid.h"

#include "common/errors.h"

#include <cstring>
#include <string>

#include <vorbis/vorbisenc.h>

namespace zmconv {

struct VorbisGrid::State {
    vorbis_info info{};
    vorbis_dsp_state dsp{};
    vorbis_block block{};
    bool running = false;
    int block_size[2] = {0, 0};

    void stop()
    {
        if (!running)
            return;
        vorbis_block_clear(&block);
        vorbis_dsp_clear(&dsp);
        running = false;
    }
    ~State()
    {
        stop();
        vorbis_info_clear(&info);
    }
};

VorbisGrid::VorbisGrid(int channels, int sample_rate, int64_t bit_rate)
    : m_state(std::make_unique<State>())
{
    vorbis_info_init(&m_state->info);
    int ret = 0;
    if (bit_rate > 0) {
        // An average rate, managed by estimate only (no limits, no slow rate management), as
        // FFmpeg asks for it.
        ret = vorbis_encode_setup_managed(&m_state->info, channels, sample_rate, -1,
                                          static_cast<long>(bit_rate), -1);
        if (ret == 0)
            ret = vorbis_encode_ctl(&m_state->info, OV_ECTL_RATEMANAGE2_SET, nullptr);
    } else {
        // FFmpeg's default: quality 3 of oggenc's -1..10.
        ret = vorbis_encode_setup_vbr(&m_state->info, channels, sample_rate, 0.3F);
    }
    if (ret == 0)
        ret = vorbis_encode_setup_init(&m_state->info);
    if (ret != 0)
        throw ConvError(Failure::Codec,
                        "libvorbis refused its settings (error " + std::to_string(ret) + ")");
    m_state->block_size[0] = static_cast<int>(vorbis_info_blocksize(&m_state->info, 0));
    m_state->block_size[1] = static_cast<int>(vorbis_info_blocksize(&m_state->info, 1));
}

VorbisGrid::~VorbisGrid() = default;

void VorbisGrid::restart(int64_t first)
{
    State& s = *m_state;
    s.stop();
    if (vorbis_analysis_init(&s.dsp, &s.info) != 0)
        throw ConvError(Failure::Codec, "libvorbis could not start");
    if (vorbis_block_init(&s.dsp, &s.block) != 0) {
        vorbis_dsp_clear(&s.dsp);
        throw ConvError(Failure::Codec, "libvorbis could not start");
    }
    s.running = true;
    m_packets.clear();
    m_position = first;
    m_next_pts = first;
    m_previous_block = s.block_size[0];
}

void VorbisGrid::feed(const float* const* planes, int count)
{
    State& s = *m_state;
    if (!s.running || count <= 0)
        return;
    float** buffer = vorbis_analysis_buffer(&s.dsp, count);
    for (int ch = 0; ch < s.info.channels; ++ch)
        std::memcpy(buffer[ch], planes[ch], static_cast<size_t>(count) * sizeof(float));
    vorbis_analysis_wrote(&s.dsp, count);
    m_position += count;
    // Each block the search settles on becomes one packet. FFmpeg gives a packet a quarter of its
    // own block and of the one before (a short one before the first); the first packet's length
    // is the encoder's delay, by which the stamps run early.
    while (vorbis_analysis_blockout(&s.dsp, &s.block) == 1) {
        const int size = s.block_size[s.block.W != 0 ? 1 : 0];
        const int64_t duration = (m_previous_block + size) / 4;
        if (m_packets.empty())
            m_next_pts -= duration;
        PacketFacts f;
        f.pts = m_next_pts;
        f.end = m_next_pts + duration;
        f.shape = s.block.W != 0 ? 1 : 0;
        m_packets.push_back(f);
        m_next_pts = f.end;
        m_previous_block = size;
    }
}

} // namespace zmconv
