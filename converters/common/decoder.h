// The one decode step of both converters, for sound and picture alike.
//
// Decoder opens the decoder of an input stream (threads on) and turns packets into frames under
// one policy: a packet or frame that fails to decode is skipped and counted, whatever the
// decoder's error code, except running out of memory and a stop. Float sound samples that no
// encoder should see (NaN, infinities, magnitudes far past full scale) are replaced before the
// frame is handed on, and counted. The caller decides at the end what a count of zero frames
// means; DecodeReport gathers what is worth a warning.
//
// One frame whose timestamp is out of line with its neighbours (a damaged packet stamped seconds
// ahead of or behind the others) is put back in line: a frame that lands away from where the one
// before it ended is held until the next one shows whether the stream really jumped there (the
// next frame goes on from it: kept as it is) or the frame alone was out of place (the next frame
// goes on from where it should have been: the frame gets that place, or is dropped when the next
// one already takes it). So neither a sound track nor a picture follows one bad timestamp.
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
    // Frames whose out-of-place timestamp was put back in line.
    int64_t retimed() const { return m_retimed; }
    int64_t invalid_samples() const { return m_invalid_samples; }
    // End of the last frame decoded, in microseconds from the file's start; AV_NOPTS_VALUE when
    // no frame carried a timestamp.
    int64_t end_us() const { return m_end_us; }
    // The stream's own declared length in microseconds, or AV_NOPTS_VALUE.
    int64_t declared_us() const;

private:
    void receive(const FrameSink& sink);
    void skip(int err);
    // Where a decoded frame goes next: held, or on to emit(); at the end (frame null) a held
    // frame goes on in line.
    void arrive(AVFrame* frame, const FrameSink& sink);
    void emit(AVFrame* frame, const FrameSink& sink);
    // Timestamp of a frame in the stream's time base (AV_NOPTS_VALUE when it has none), and how
    // long it lasts there (0 when unknown).
    static int64_t stamp(const AVFrame* frame);
    int64_t length(const AVFrame* frame) const;

    CodecContextPtr m_ctx;
    FramePtr m_frame;
    AVStream* m_stream = nullptr;
    int64_t m_file_start_us = 0;
    int64_t m_frames = 0;
    int64_t m_damaged = 0;
    int64_t m_invalid_samples = 0;
    int64_t m_retimed = 0;
    int64_t m_end_us = AV_NOPTS_VALUE;
    FramePtr m_held; // a frame whose place is not known yet
    bool m_holding = false;
    int64_t m_expected = AV_NOPTS_VALUE; // where the next frame should start
    int64_t m_tolerance = 0;             // how far from there is still in line
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
    int64_t retimed = 0;                      // out-of-place timestamps put back in line

    void add(const Decoder& decoder);
};

// The text of the one warning line for report, or "" when there is nothing to warn of. The input
// counts as ending early when it stops more than half a second (and 2 %) before its declared end
// (unless timestamps were out of line, from which that end may have been worked out).
std::string warning_text(const DecodeReport& report);

} // namespace zmconv
