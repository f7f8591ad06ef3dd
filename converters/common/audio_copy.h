// One audio stream copied packet by packet from the input into an OutputFile: no decoding, no
// encoding, the same bytes in a new container. The caller owns the read loop, as with
// AudioPath: every packet of the stream goes to send_packet(), finish() once at the end.
//
// Timestamps keep the input's, moved so the file starts at 0 (an MP4's priming samples keep
// their negative time, which becomes the output's edit list). Ogg and MP4 store each packet's
// position to the sample; from a container that stamps coarser (Matroska: milliseconds, laced
// packets without a time of their own) the positions are counted on from the packets' lengths
// instead, and a last packet's trimmed end is kept. Vorbis and Opus packets say their own length
// (block sizes, table of contents), which is what is counted for them; the container's rounded
// durations would put the Ogg granule positions off.
#pragma once

#include "common/av_owner.h"
#include "common/input_file.h"
#include "common/output_file.h"

#include <cstdint>
#include <memory>

struct AVVorbisParseContext;

namespace zmconv {

// Samples of sound in each packet of one stream, read from the packet itself for the codecs
// whose packets say so (Vorbis, Opus).
class PacketSamples
{
public:
    explicit PacketSamples(const AVCodecParameters& par);
    ~PacketSamples();
    PacketSamples(const PacketSamples&) = delete;
    PacketSamples& operator=(const PacketSamples&) = delete;

    // Whether the codec's packets tell their length. False for Vorbis whose headers cannot be
    // read.
    bool known() const { return m_known; }
    // The packet's samples; 0 for a packet that holds no sound (a Vorbis header), -1 for one
    // that cannot be read (damaged). Only when known().
    int64_t of(const AVPacket& pkt);

private:
    AVCodecID m_codec;
    bool m_known = false;
    AVVorbisParseContext* m_vorbis = nullptr;
};

// The samples of one Opus packet (at 48000 Hz) from its table of contents; -1 when it is not a
// valid one.
int64_t opus_packet_samples(const uint8_t* data, int size);

class AudioCopy
{
public:
    // Adds the output stream with the input stream's parameters. Call before out.write_header().
    AudioCopy(InputFile& in, int stream_index, OutputFile& out);
    ~AudioCopy();
    AudioCopy(const AudioCopy&) = delete;
    AudioCopy& operator=(const AudioCopy&) = delete;

    AVStream* stream() const { return m_out_stream; }
    // Writes one packet of the stream (pkt is left unchanged). Throws ConvError(Failure::Codec)
    // when the muxer refuses it.
    void send_packet(const AVPacket* pkt);

    // Whether a copy of this stream into this muxer gets right timestamps. False where they
    // would have to be counted from packets whose lengths cannot be read (Vorbis with unreadable
    // headers): such a stream is encoded instead.
    static bool can_time(const AVStream& stream, const char* muxer);

    // Packets written so far, and the seconds of sound they reach to.
    int64_t packets() const { return m_packets; }
    // Packets left out because their length could not be read (damaged).
    int64_t damaged() const { return m_damaged; }
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
    int64_t m_damaged = 0;
    std::unique_ptr<PacketSamples> m_samples; // when the packets tell their own length
    PacketPtr m_packet;
};

} // namespace zmconv
