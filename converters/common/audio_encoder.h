// Audio encoders writing into an OutputFile stream. make_audio_encoder() picks the encoder by
// name (FFmpeg's encoders, plus "libopencore_amrnb"/"amr_nb" which calls opencore-amrnb
// directly because Debian's libavcodec has none), chooses the sample format, rate, channel
// layout and bit rate the encoder supports closest to the request, opens it, and adds its
// stream to the output. A requested value the encoder cannot take is replaced by the nearest it
// can, with a "note:" line on stderr saying so. Several encoders (and a video stream of the caller)
// may share one output; packets go through OutputFile::write, which interleaves them.
#pragma once

#include "common/av_owner.h"
#include "common/output_file.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace zmconv {

struct AudioEncoderSettings {
    std::string encoder;          // encoder name, e.g. "libmp3lame", "wmav1", "libopencore_amrnb"
    int64_t bit_rate = 0;         // bits/s; 0 = default_bit_rate
    int64_t default_bit_rate = 0; // bits/s when none is asked; 0 = the encoder's default.
                                  // Brought within the encoder's range without a note.
    int sample_rate = 0;          // 0 = keep the input's rate (nearest the encoder supports)
    int channels = 0;             // 0 = keep the input's channel count (nearest supported)
    int max_channels = 0;         // 0 = no extra limit; caps the channel count (e.g. 2 for WMA v1)
};

// What the decoder delivers; used for the "keep the input's value" choices.
struct AudioSourceFormat {
    int sample_rate = 0;
    int channels = 0;
    AVSampleFormat sample_format = AV_SAMPLE_FMT_NONE;
    // Which channels these are (5.1 with side or with back speakers, quad, ...); null or
    // unspecified = the usual layout of that many. Kept wherever the encoder takes it.
    const AVChannelLayout* layout = nullptr;
};

class AudioEncoder
{
public:
    virtual ~AudioEncoder() = default;

    AVSampleFormat sample_format() const { return m_format; }
    int sample_rate() const { return m_rate; }
    const AVChannelLayout& channel_layout() const { return m_layout; }
    // Samples per frame the encoder needs; 0 = any size. Only the last frame may be shorter.
    int frame_size() const { return m_frame_size; }
    AVStream* stream() const { return m_stream; }
    // The time base of frame and packet timestamps (1 / sample rate).
    AVRational time_base() const { return AVRational{1, m_rate}; }

    // Encodes one frame (pts in time_base()); null drains the encoder. Every packet produced
    // is written to the output. Throws ConvError(Failure::Codec).
    virtual void encode(const AVFrame* frame) = 0;

    // The name of the encoder ("libmp3lame"), as FFmpeg knows it.
    virtual std::string name() const = 0;
    // A fresh codec context opened with this encoder's settings, working on one thread, for
    // encoding part of the stream on its own (several such parts are joined into the stream).
    // Null for an encoder that cannot do that.
    virtual CodecContextPtr open_twin() const { return nullptr; }

protected:
    AudioEncoder(OutputFile& out) : m_out(out) {}
    OutputFile& m_out;
    AVStream* m_stream = nullptr;
    AVSampleFormat m_format = AV_SAMPLE_FMT_NONE;
    int m_rate = 0;
    AVChannelLayout m_layout{};
    int m_frame_size = 0;
};

// The layout an encoder gets for this many channels: the source's own when it has that many and
// the encoder takes it (any layout when the encoder lists none), else the encoder's first of that
// many, else its nearest count, else the usual layout of that many. Into out (uninitialised).
void choose_channel_layout(const AVChannelLayout* supported, int channels,
                           const AVChannelLayout* source, AVChannelLayout* out);

// Throws ConvError(Failure::Usage) for an unknown encoder or one the container cannot hold,
// ConvError(Failure::Codec) when the encoder refuses its settings.
std::unique_ptr<AudioEncoder> make_audio_encoder(const AudioEncoderSettings& settings,
                                                 const AudioSourceFormat& source, OutputFile& out);

// Choosing helpers (exposed for tests): the supported value nearest the wanted one; ties go to
// the higher value. An empty list (0-terminated, may be null) means "anything": wanted is kept.
int nearest_sample_rate(const int* supported, int wanted);
// AMR-NB mode (0 = 4.75k ... 7 = 12.2k) whose rate is nearest bit_rate; 0 = default 12.2k.
int amr_nb_mode(int64_t bit_rate);
// The bit rate an encoder takes nearest the wanted one at this sample rate and channel count:
// the nearest of the MPEG table for mp2 and libmp3lame (ties go up), within AAC's range for aac;
// unchanged for encoders that take any.
int64_t encoder_bit_rate(const std::string& encoder, int sample_rate, int channels, int64_t wanted);
// The bit rate nearest wanted that an encoder takes, for an encoder that takes one range of bit
// rates and tells only by refusing to open (takes() opens it at a rate). Searched in whole kbit/s
// (in bits below 1 kbit/s); 0 when it takes none of the usual rates either, so that its refusal
// is not about the bit rate.
int64_t nearest_accepted_bit_rate(int64_t wanted, const std::function<bool(int64_t)>& takes);
// "128 kbit/s", "12.2 kbit/s", "500 bit/s".
std::string bit_rate_text(int64_t bits);

} // namespace zmconv
