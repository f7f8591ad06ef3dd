// What the packets of the codecs that are encoded in segments say about the decoder state they
// leave behind, and the few changes a join makes to them. Each function reads only the bytes it
// is given; none keeps state between packets except the Vorbis block reader, which knows the two
// block sizes from the stream's headers.
#pragma once

#include "common/segments.h"

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>

extern "C" {
#include <libavcodec/packet.h>
}

struct AVVorbisParseContext;

namespace zmconv {

// An MPEG audio layer III frame: where its main data area begins (after header, CRC and side
// information), how many bytes of main data it takes from the frames before it, and the block
// types of its last granule (per channel, with the mixed-block flag) as one number.
struct Mp3Frame {
    int main_offset = 0;
    int borrowed = 0;
    int shape = 0;
};
std::optional<Mp3Frame> parse_mp3_frame(std::span<const uint8_t> frame);

// Makes the last `borrowed` bytes of main data before frame b.back()+1 of run b (the frames of b
// up to the one before the join, in order) the last bytes of main data of a's frames (up to the
// last one written before the join, in order). Those bytes of a are free: they belonged to a's
// own frame after the join, which is not written. Makes a's packets writable as needed. Returns
// false, changing nothing, when the frames do not reach back far enough or do not parse.
bool move_reservoir(std::span<AVPacket* const> a, std::span<const AVPacket* const> b, int borrowed);

// Window sequence and shape of the first channel of a raw AAC frame; -1 when it does not parse.
int aac_window_shape(std::span<const uint8_t> frame);

// Reads the block size of Vorbis packets, given the stream's three headers in Xiph lacing (the
// encoder's extradata). shape() is 1 for a long block, 0 for a short one, -1 when unknown.
class VorbisBlocks
{
public:
    explicit VorbisBlocks(std::span<const uint8_t> extradata);
    ~VorbisBlocks();
    VorbisBlocks(const VorbisBlocks&) = delete;
    VorbisBlocks& operator=(const VorbisBlocks&) = delete;
    bool valid() const { return m_parser != nullptr && m_short > 0; }
    int shape(std::span<const uint8_t> packet);

private:
    AVVorbisParseContext* m_parser = nullptr;
    int m_short = 0; // samples of a short block
};

// The shape of one packet for a kind of join (0 where the kind has none).
int packet_shape(JoinKind kind, std::span<const uint8_t> packet, VorbisBlocks* vorbis);

// 64-bit FNV-1a of the bytes, to tell identical packets apart cheaply.
uint64_t fingerprint(std::span<const uint8_t> bytes);

// Rewrites the frame number in the header of a FLAC frame of fixed block size, with the header's
// CRC-8 and the frame's CRC-16. Returns false, changing nothing, when the frame does not parse.
// Makes the packet writable (a longer number makes the frame longer).
bool flac_set_frame_number(AVPacket* pkt, int64_t number);
// The frame number in a FLAC frame header, or -1.
int64_t flac_frame_number(std::span<const uint8_t> frame);

// The MD5 of the samples, total count and smallest and largest frame written into a FLAC
// STREAMINFO block (34 bytes).
void flac_update_streaminfo(std::span<uint8_t, 34> info, int64_t total_samples, int min_frame,
                            int max_frame, const std::array<uint8_t, 16>& md5);

} // namespace zmconv
