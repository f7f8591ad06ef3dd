// The one decode step of both converters, for sound and picture alike.
//
// Decoder opens the decoder of an input stream (threads on) and turns packets into frames under
// one policy: a packet or frame that fails to decode is skipped and counted, whatever the
// decoder's error code, except running out of memory and a stop. Float sound samples that no
// encoder should see (NaN, infinities, magnitudes far past full scale) are replaced before the
// frame is handed on, and counted. The caller decides at the end what a count of zero frames
// means; DecodeReport gathers what is worth a warning.
#pragma once

#include "common/av_owner.h"
#include "common/input_file.h"

#include <cstdint>
#include <functional>
#include <string>

namespace zmconv {

// Timestamps that jump ahead by more than this are broken (a damaged file) or a reset, not a gap
// in the material: neither sound nor picture fills them.
constexpr int64_t kMaxGapSeconds = 600;

// A float sample whose magnitude exceeds this is taken as garbage, not as loud sound.
constexpr double kSampleLimit = 64.0;

class Decoder
{
public:
    using FrameSink = std::function<void(AVFrame* frame)>;

    // Throws ConvError(Input) when the input's codec has no decoder or the decoder cannot be
    // opened with the stream's parameters.
    Decoder(const InputFile& in, int stream_index);
    Decoder(const Decoder&) = delete;
    Decoder& operator=(const Decoder&) = delete;

    AVCodecContext* context() const { return m_ctx.get(); }
    AVStream* stream() const { return m_stream; }

    // Decodes pkt (null drains the decoder) and hands every frame to sink. Throws
    // ConvError(Codec) when out of memory, ConvError(Interrupted) on a stop; exceptions of the
    // sink pass through.
    void decode(const AVPacket* pkt, const FrameSink& sink);

    int64_t frames() const { return m_frames; }
    int64_t damaged() const { return m_damaged; }
    int64_t invalid_samples() const { return m_invalid_samples; }
    // End of the last frame decoded, in microseconds from the file's start; AV_NOPTS_VALUE when
    // no frame carried a timestamp.
    int64_t end_us() const { return m_end_us; }
    // The stream's own declared length in microseconds, or AV_NOPTS_VALUE.
    int64_t declared_us() const;

private:
    void receive(const FrameSink& sink);
    void skip(int err);

    CodecContextPtr m_ctx;
    FramePtr m_frame;
    AVStream* m_stream = nullptr;
    int64_t m_file_start_us = 0;
    int64_t m_frames = 0;
    int64_t m_damaged = 0;
    int64_t m_invalid_samples = 0;
    int64_t m_end_us = AV_NOPTS_VALUE;
};

// How long a frame lasts in its stream's time base (0 when unknown).
int64_t frame_duration(const AVFrame* frame);

// Replaces NaN with silence and clamps infinities and magnitudes beyond kSampleLimit to full
// scale, in frames of float or double samples (others are left alone). Makes the frame writable
// only when it has such samples. Returns how many samples were changed.
int64_t sanitize_samples(AVFrame* frame);

// What went wrong with the input of a conversion that still completed.
struct DecodeReport {
    int64_t damaged = 0;                      // packets and frames skipped
    int64_t invalid_samples = 0;              // samples replaced
    int64_t end_us = AV_NOPTS_VALUE;          // where the decoded material ends
    int64_t expected_end_us = AV_NOPTS_VALUE; // where the input says it ends

    void add(const Decoder& decoder);
};

// The text of the one warning line for report, or "" when there is nothing to warn of. The input
// counts as ending early when it stops more than half a second (and 2 %) before its declared end.
std::string warning_text(const DecodeReport& report);

} // namespace zmconv
