// Where libvorbis will put its blocks, found without encoding. libvorbis chooses the size of each
// block with its envelope search, which looks only at the samples an encoder was fed since it
// started and at the sizes it chose before; the coding that follows (transforms, psychoacoustics,
// residues) costs about fifteen times as much and changes none of it. The scan runs libvorbis's
// own block decisions alone, set up as FFmpeg's libvorbis encoder sets it up and fed as a run of
// the segmented encoder feeds it (frames of the same size), so the packets a run will make are
// known in time and block size before it is encoded. The segmented encoder uses this to start a
// run where its long blocks fall in step with the run before it.
#pragma once

#include "common/segments.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace zmconv {

class VorbisGrid
{
public:
    // The settings FFmpeg's libvorbis encoder takes for a bit rate (0: its default quality).
    // Throws ConvError when libvorbis refuses them.
    VorbisGrid(int channels, int sample_rate, int64_t bit_rate);
    ~VorbisGrid();
    VorbisGrid(const VorbisGrid&) = delete;
    VorbisGrid& operator=(const VorbisGrid&) = delete;

    // Starts over as a fresh encoder whose first sample is `first` of the stream; what was
    // scanned before is forgotten.
    void restart(int64_t first);
    // Feeds one frame of planar float samples, one plane per channel.
    void feed(const float* const* planes, int count);
    // The packets such an encoder has made so far, as FFmpeg stamps them: pts, end and shape (1 a
    // long block, 0 a short one).
    const std::vector<PacketFacts>& packets() const { return m_packets; }
    int64_t fed_to() const { return m_position; }

private:
    struct State;
    std::unique_ptr<State> m_state;
    std::vector<PacketFacts> m_packets;
    int64_t m_position = 0;   // one past the last sample fed
    int64_t m_next_pts = 0;   // of the next packet
    int m_previous_block = 0; // samples of the block before the next one
};

} // namespace zmconv
