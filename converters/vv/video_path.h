// One video stream from demuxed packets to muxed packets:
//   decode (threads on) -> libavfilter: fps, scale, setdar, format -> encode -> OutputFile.
// The frame rate is changed before scaling so dropped frames cost no scaling time; sizes,
// rate and aspect all go through the filter graph, so timestamps stay those of the input and
// the audio stays in sync.
#pragma once

#include "vv/options.h"
#include "vv/preset.h"

#include "common/av_owner.h"
#include "common/decoder.h"
#include "common/input_file.h"
#include "common/output_file.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace vv {

struct VideoSettings {
    std::string encoder;    // FFmpeg encoder name, e.g. "mpeg4", "libx264"
    long long bit_rate = 0; // bits/s; 0 = the encoder's default
    int width = 0;          // 0 = the input's (made even)
    int height = 0;
    Rational frame_rate;            // num 0 = the input's
    std::optional<Rational> aspect; // display aspect; unset = keep the picture's
    PresetEntries preset;           // encoder options (from -fpre)
    std::string preset_name;        // file name for messages
    std::string strict;             // "-strict" value, empty = default
};

// Frame sizes the H.263 (1996) encoder can code.
bool is_h263_size(int width, int height);
// Frame rate reduced to a denominator of at most 65535 (what MPEG-4 Visual time bases hold).
Rational limit_frame_rate(Rational rate);
// The frame size to encode: the requested one, else the input's rounded down to even numbers.
std::pair<int, int> output_size(const VideoSettings &settings, int in_width, int in_height);

class VideoPath final
{
public:
    // Opens the decoder, builds the filter graph and opens the encoder and its output stream.
    // Call before out.write_header(). Throws zmconv::ConvError.
    VideoPath(zmconv::InputFile &in, int stream_index, const VideoSettings &settings,
              zmconv::OutputFile &out);
    ~VideoPath();
    VideoPath(const VideoPath &) = delete;
    VideoPath &operator=(const VideoPath &) = delete;

    // Decodes, filters and encodes one packet (null: the end). Damaged packets are skipped and
    // counted (see zmconv::Decoder). Throws zmconv::ConvError(Failure::Codec) on filter, encoder
    // or muxer failure.
    void send_packet(const AVPacket *pkt);
    // Drains decoder, filters and encoder. Throws when no frame at all could be encoded.
    void finish();

    const zmconv::Decoder &decoder() const;

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
    int64_t m_frames_encoded = 0;

    // A fresh encoder with the settings and the first preset_lines lines of the preset, opened;
    // the error code (and the library's message in detail) when it refuses.
    int open_encoder(const AVCodec *codec, const VideoSettings &settings, size_t preset_lines,
                     std::string *detail);
    void build_graph(int width, int height, int format, AVRational sar);
    void filter_frame(AVFrame *frame);
    void pull_filtered();
    void encode(AVFrame *frame);
};

} // namespace vv
