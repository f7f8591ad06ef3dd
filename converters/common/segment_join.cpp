#include "common/segment_join.h"

extern "C" {
#include <libavcodec/vorbis_parser.h>
#include <libavutil/bswap.h>
#include <libavutil/crc.h>
#include <libavutil/intreadwrite.h>
}

#include <algorithm>
#include <cstring>
#include <vector>

namespace zmconv {

namespace {

// Reads bits most significant first; reading past the end gives zeros and sets `over`.
class BitReader
{
public:
    explicit BitReader(std::span<const uint8_t> bytes) : m_bytes(bytes) {}
    uint32_t read(int bits)
    {
        uint32_t value = 0;
        for (int i = 0; i < bits; ++i) {
            const size_t byte = m_pos / 8;
            int bit = 0;
            if (byte < m_bytes.size())
                bit = (m_bytes[byte] >> (7 - m_pos % 8)) & 1;
            else
                m_over = true;
            value = (value << 1) | static_cast<uint32_t>(bit);
            ++m_pos;
        }
        return value;
    }
    void skip(int bits) { read(bits); }
    bool over() const { return m_over; }

private:
    std::span<const uint8_t> m_bytes;
    size_t m_pos = 0;
    bool m_over = false;
};

// Size of a Xiph-laced length at data[*pos]; advances *pos.
bool xiph_length(std::span<const uint8_t> data, size_t* pos, size_t* length)
{
    *length = 0;
    while (*pos < data.size()) {
        const uint8_t v = data[(*pos)++];
        *length += v;
        if (v != 255)
            return true;
    }
    return false;
}

// The main data areas of frames in order: for each frame [main_offset, size).
struct Area {
    uint8_t* data;
    int size;
};

bool areas_of(std::span<AVPacket* const> frames, std::vector<Area>* out)
{
    for (AVPacket* pkt : frames) {
        const auto f = parse_mp3_frame({pkt->data, static_cast<size_t>(pkt->size)});
        if (!f || f->main_offset > pkt->size)
            return false;
        out->push_back({pkt->data + f->main_offset, pkt->size - f->main_offset});
    }
    return true;
}

// Copies the last n bytes of the concatenated areas into (or out of) buf.
bool tail_bytes(const std::vector<Area>& areas, uint8_t* buf, int n, bool into_areas)
{
    int left = n;
    for (auto it = areas.rbegin(); it != areas.rend() && left > 0; ++it) {
        const int take = std::min(left, it->size);
        uint8_t* area_part = it->data + (it->size - take);
        uint8_t* buf_part = buf + (left - take);
        if (into_areas)
            std::memcpy(area_part, buf_part, static_cast<size_t>(take));
        else
            std::memcpy(buf_part, area_part, static_cast<size_t>(take));
        left -= take;
    }
    return left == 0;
}

int utf8_length(int64_t v)
{
    if (v < 0x80)
        return 1;
    if (v < 0x800)
        return 2;
    if (v < 0x10000)
        return 3;
    if (v < 0x200000)
        return 4;
    if (v < 0x4000000)
        return 5;
    if (v < 0x80000000LL)
        return 6;
    return 7;
}

void put_utf8(uint8_t* out, int64_t v, int length)
{
    if (length == 1) {
        out[0] = static_cast<uint8_t>(v);
        return;
    }
    static constexpr uint8_t kLead[] = {0, 0, 0xC0, 0xE0, 0xF0, 0xF8, 0xFC, 0xFE};
    out[0] = static_cast<uint8_t>(kLead[length] | (length < 7 ? (v >> (6 * (length - 1))) : 0));
    for (int i = 1; i < length; ++i)
        out[i] = static_cast<uint8_t>(0x80 | ((v >> (6 * (length - 1 - i))) & 0x3F));
}

// Length of the UTF-8 coded number starting with byte b, or 0 when b cannot start one.
int utf8_length_of(uint8_t b)
{
    if (b < 0x80)
        return 1;
    for (int n = 2; n <= 7; ++n)
        if ((b & (0xFF << (7 - n)) & 0xFF) == ((0xFF << (8 - n)) & 0xFF))
            return n;
    return 0;
}

struct FlacHeader {
    size_t number_at = 0;
    int number_length = 0;
    size_t crc8_at = 0; // the header ends with its CRC-8 here
};

std::optional<FlacHeader> parse_flac_header(std::span<const uint8_t> f)
{
    if (f.size() < 6 || f[0] != 0xFF || f[1] != 0xF8) // fixed block size only
        return std::nullopt;
    FlacHeader h;
    h.number_at = 4;
    h.number_length = utf8_length_of(f[4]);
    if (h.number_length == 0)
        return std::nullopt;
    size_t pos = 4 + static_cast<size_t>(h.number_length);
    const int block_code = f[2] >> 4;
    const int rate_code = f[2] & 0x0F;
    pos += block_code == 6 ? 1 : block_code == 7 ? 2 : 0;
    pos += rate_code == 12 ? 1 : (rate_code == 13 || rate_code == 14) ? 2 : 0;
    if (pos + 1 + 2 > f.size())
        return std::nullopt;
    h.crc8_at = pos;
    return h;
}

} // namespace

std::optional<Mp3Frame> parse_mp3_frame(std::span<const uint8_t> f)
{
    if (f.size() < 4 || f[0] != 0xFF || (f[1] & 0xE0) != 0xE0)
        return std::nullopt;
    const int version = (f[1] >> 3) & 3; // 3 MPEG-1, 2 MPEG-2, 0 MPEG-2.5
    const int layer = (f[1] >> 1) & 3;   // 1 = layer III
    if (version == 1 || layer != 1)
        return std::nullopt;
    const bool crc = (f[1] & 1) == 0;
    const bool mono = ((f[3] >> 6) & 3) == 3;
    const bool lsf = version != 3;
    const int channels = mono ? 1 : 2;
    const int side = lsf ? (mono ? 9 : 17) : (mono ? 17 : 32);
    Mp3Frame frame;
    frame.main_offset = 4 + (crc ? 2 : 0) + side;
    if (f.size() < static_cast<size_t>(frame.main_offset))
        return std::nullopt;
    BitReader bits(f.subspan(crc ? size_t{6} : size_t{4}));
    frame.borrowed = static_cast<int>(bits.read(lsf ? 8 : 9));
    bits.skip(lsf ? (mono ? 1 : 2) : (mono ? 5 : 3));
    if (!lsf)
        bits.skip(4 * channels); // scfsi
    const int granules = lsf ? 1 : 2;
    for (int gr = 0; gr < granules; ++gr) {
        for (int ch = 0; ch < channels; ++ch) {
            bits.skip(12 + 9 + 8 + (lsf ? 9 : 4)); // part2_3, big_values, gain, scalefac_compress
            int block_type = 0;
            int mixed = 0;
            if (bits.read(1)) { // window switching
                block_type = static_cast<int>(bits.read(2));
                mixed = static_cast<int>(bits.read(1));
                bits.skip(2 * 5 + 3 * 3);
            } else {
                bits.skip(3 * 5 + 4 + 3);
            }
            bits.skip(lsf ? 2 : 3);
            if (gr == granules - 1)
                frame.shape |= (block_type | (mixed << 2)) << (3 * ch);
        }
    }
    if (bits.over())
        return std::nullopt;
    return frame;
}

bool move_reservoir(std::span<AVPacket* const> a, std::span<const AVPacket* const> b, int borrowed)
{
    if (borrowed <= 0)
        return true;
    std::vector<uint8_t> bytes(static_cast<size_t>(borrowed));
    std::vector<Area> b_areas;
    std::vector<AVPacket*> b_frames;
    for (const AVPacket* pkt : b)
        b_frames.push_back(const_cast<AVPacket*>(pkt)); // only read below
    if (!areas_of(b_frames, &b_areas) || !tail_bytes(b_areas, bytes.data(), borrowed, false))
        return false;
    // Only the frames whose areas the bytes land in are made writable.
    std::vector<Area> a_areas;
    if (!areas_of(a, &a_areas))
        return false;
    int total = 0;
    for (const Area& area : a_areas)
        total += area.size;
    if (total < borrowed)
        return false;
    int left = borrowed;
    for (size_t i = a.size(); i-- > 0 && left > 0;) {
        if (av_packet_make_writable(a[i]) < 0)
            return false;
        left -= a_areas[i].size;
    }
    a_areas.clear();
    areas_of(a, &a_areas); // the writable copies
    return tail_bytes(a_areas, bytes.data(), borrowed, true);
}

int aac_window_shape(std::span<const uint8_t> frame)
{
    BitReader bits(frame);
    const uint32_t id = bits.read(3);
    bits.skip(4);                    // element instance tag
    if (id == 1) {                   // channel pair
        if (!bits.read(1))           // no common window: the first channel's stream follows
            bits.skip(8);            // global gain
    } else if (id == 0 || id == 3) { // single channel, LFE
        bits.skip(8);
    } else {
        return -1;
    }
    bits.skip(1); // reserved
    const int sequence = static_cast<int>(bits.read(2));
    const int shape = static_cast<int>(bits.read(1));
    return bits.over() ? -1 : (sequence << 1) | shape;
}

VorbisBlocks::VorbisBlocks(std::span<const uint8_t> extradata)
{
    // Three headers in Xiph lacing: a count byte (2), the lengths of the first two, the headers.
    if (extradata.size() < 3 || extradata[0] != 2)
        return;
    size_t pos = 1;
    size_t first = 0;
    size_t second = 0;
    if (!xiph_length(extradata, &pos, &first) || !xiph_length(extradata, &pos, &second))
        return;
    // Identification header: type 1, "vorbis", version, channels, rate, three bit rates, then
    // the two block sizes as powers of two in one byte.
    if (first < 30 || pos + first > extradata.size() || extradata[pos] != 1)
        return;
    const uint8_t sizes = extradata[pos + 28];
    m_short = 1 << (sizes & 0x0F);
    m_parser = av_vorbis_parse_init(extradata.data(), static_cast<int>(extradata.size()));
}

VorbisBlocks::~VorbisBlocks()
{
    if (m_parser)
        av_vorbis_parse_free(&m_parser);
}

int VorbisBlocks::shape(std::span<const uint8_t> packet)
{
    if (!valid() || packet.empty())
        return -1;
    // After a reset the previous block counts as short: a short packet then lasts half a short
    // block, a long one more.
    av_vorbis_parse_reset(m_parser);
    const int duration =
        av_vorbis_parse_frame(m_parser, packet.data(), static_cast<int>(packet.size()));
    if (duration <= 0)
        return -1;
    return duration > m_short / 2 ? 1 : 0;
}

int packet_shape(JoinKind kind, std::span<const uint8_t> packet, VorbisBlocks* vorbis)
{
    switch (kind) {
    case JoinKind::Mp3: {
        const auto f = parse_mp3_frame(packet);
        return f ? f->shape : -1;
    }
    case JoinKind::Aac:
        return aac_window_shape(packet);
    case JoinKind::Opus:
        return packet.empty() ? -1 : packet[0];
    case JoinKind::Vorbis:
        return vorbis ? vorbis->shape(packet) : -1;
    case JoinKind::Plain:
    case JoinKind::Flac:
        return 0;
    }
    return -1;
}

uint64_t fingerprint(std::span<const uint8_t> bytes)
{
    uint64_t h = 1469598103934665603ULL;
    for (const uint8_t b : bytes) {
        h ^= b;
        h *= 1099511628211ULL;
    }
    return h;
}

int64_t flac_frame_number(std::span<const uint8_t> f)
{
    const auto h = parse_flac_header(f);
    if (!h)
        return -1;
    const size_t n = static_cast<size_t>(h->number_length);
    if (n == 1)
        return f[4];
    int64_t v = f[4] & (0x7F >> n);
    for (size_t i = 1; i < n; ++i)
        v = (v << 6) | (f[4 + i] & 0x3F);
    return v;
}

bool flac_set_frame_number(AVPacket* pkt, int64_t number)
{
    const std::span<const uint8_t> old(pkt->data, static_cast<size_t>(pkt->size));
    const auto h = parse_flac_header(old);
    if (!h || number < 0)
        return false;
    const int length = utf8_length(number);
    std::vector<uint8_t> frame;
    frame.reserve(old.size() + 8);
    frame.insert(frame.end(), old.begin(), old.begin() + static_cast<ptrdiff_t>(h->number_at));
    const size_t at = frame.size();
    frame.resize(at + static_cast<size_t>(length));
    put_utf8(frame.data() + at, number, length);
    // The rest of the header, its CRC-8 (recomputed), the subframes; the CRC-16 (recomputed).
    const size_t rest = h->number_at + static_cast<size_t>(h->number_length);
    frame.insert(frame.end(), old.begin() + static_cast<ptrdiff_t>(rest),
                 old.begin() + static_cast<ptrdiff_t>(h->crc8_at));
    const AVCRC* crc8 = av_crc_get_table(AV_CRC_8_ATM);
    frame.push_back(static_cast<uint8_t>(av_crc(crc8, 0, frame.data(), frame.size())));
    frame.insert(frame.end(), old.begin() + static_cast<ptrdiff_t>(h->crc8_at + 1), old.end() - 2);
    const AVCRC* crc16 = av_crc_get_table(AV_CRC_16_ANSI);
    const uint16_t sum =
        av_bswap16(static_cast<uint16_t>(av_crc(crc16, 0, frame.data(), frame.size())));
    frame.push_back(static_cast<uint8_t>(sum >> 8));
    frame.push_back(static_cast<uint8_t>(sum & 0xFF));

    if (static_cast<int>(frame.size()) != pkt->size) {
        const int grow = static_cast<int>(frame.size()) - pkt->size;
        if (grow > 0 ? av_grow_packet(pkt, grow) < 0 : false)
            return false;
        if (grow < 0)
            av_shrink_packet(pkt, static_cast<int>(frame.size()));
    }
    if (av_packet_make_writable(pkt) < 0)
        return false;
    std::memcpy(pkt->data, frame.data(), frame.size());
    return true;
}

void flac_update_streaminfo(std::span<uint8_t, 34> info, int64_t total_samples, int min_frame,
                            int max_frame, const std::array<uint8_t, 16>& md5)
{
    AV_WB24(info.data() + 4, static_cast<unsigned>(min_frame));
    AV_WB24(info.data() + 7, static_cast<unsigned>(max_frame));
    constexpr uint64_t kCountMask = (uint64_t(1) << 36) - 1;
    uint64_t word = AV_RB64(info.data() + 10);
    word = (word & ~kCountMask) | (static_cast<uint64_t>(total_samples) & kCountMask);
    AV_WB64(info.data() + 10, word);
    std::memcpy(info.data() + 18, md5.data(), md5.size());
}

} // namespace zmconv
