// One audio stream copied packet by packet from the input into an OutputFile: no decoding, no
// encoding, the same bytes in a new container. The caller owns the read loop, as with
// AudioPath: every packet of the stream goes to send_packet(), finish() once at the end.
//
// Timestamps keep the input's, moved so the file starts at 0 (an MP4's priming samples keep
// their negative time, which becomes the output's edit list). Ogg and MP4 store each packet's
// position to the sample; from a container that stamps coarser (Matroska: milliseconds) the
// positions are counted on from the packets' lengths instead, and a last packet's trimmed end
// is kept.
#pragma once

#include "common/av_owner.h"
#include "common/input_file.h"
#include "common/output_file.h"

#include <cstdint>

namespace zmconv {

class AudioCopy
{
public:
    // Adds the output stream with the input stream's parameters. Call before out.write_header().
    AudioCopy(InputFile& in, int stream_index, OutputFile& out);
    AudioCopy(const AudioCopy&) = delete;
    AudioCopy& operator=(const AudioCopy&) = delete;

    AVStream* stream() const { return m_out_stream; }
    // Writes one packet of the stream (pkt is left unchanged). Throws ConvError(Failure::Codec)
    // when the muxer refuses it.
    void send_packet(const AVPacket* pkt);

    // Packets written so far, and the seconds of sound they reach to.
    int64_t packets() const { return m_packets; }
    double seconds_done() const;

private:
    OutputFile& m_out;
    AVStream* m_in_stream;
    AVStream* m_out_stream;
    AVRational m_time_base; // of the timestamps handed to the output
    int64_t m_start = 0;    // the file's start in the input stream's time base
    bool m_count_samples = false;
    int64_t m_next = 0; // the next packet's position when counting samples
    int64_t m_end = 0;  // end of the last packet, in m_time_base
    int64_t m_packets = 0;
    PacketPtr m_packet;
};

} // namespace zmconv
