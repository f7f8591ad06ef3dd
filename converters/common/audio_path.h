// One audio stream from demuxed packets to muxed packets:
//   decode -> cut to the wanted range (sample-accurate) -> resample/convert -> frames of the
//   encoder's size -> encode -> OutputFile.
// The caller owns the read loop (so it can interleave a video path on the same output): it
// hands every packet of the stream to send_packet() and calls finish() once at the end.
#pragma once

#include "common/audio_encoder.h"
#include "common/av_owner.h"
#include "common/decoder.h"
#include "common/input_file.h"
#include "common/output_file.h"
#include "common/worker.h"

#include <cstdint>
#include <functional>
#include <memory>

namespace zmconv {

// A range of the input, in microseconds from the file's start. length_us < 0 = to the end.
struct TimeRange {
    int64_t start_us = 0;
    int64_t length_us = -1;
};

class AudioPath
{
public:
    // Opens the decoder of in's stream stream_index (threads on), creates the encoder and its
    // stream on out. Call before out.write_header().
    AudioPath(InputFile& in, int stream_index, const AudioEncoderSettings& settings,
              OutputFile& out, TimeRange range = {});
    ~AudioPath();
    AudioPath(const AudioPath&) = delete;
    AudioPath& operator=(const AudioPath&) = delete;

    AudioEncoder& encoder() { return *m_encoder; }

    // Puts a stage in the encoder's place that takes the same frames (one that encodes in
    // segments on several threads, say): wrap gets the encoder and returns the stage. Call before
    // the first packet; the stage keeps the encoder's sample format, rate, layout and frame size.
    using EncoderWrap = std::function<std::unique_ptr<AudioEncoder>(std::unique_ptr<AudioEncoder>)>;
    void wrap_encoder(const EncoderWrap& wrap);

    // Decodes and encodes one packet of the stream. Returns false once the end of the range
    // has been reached (the caller may stop reading). Damaged packets are skipped and counted
    // (see Decoder); throws ConvError(Failure::Codec) on encoder or muxer failure.
    bool send_packet(const AVPacket* pkt);
    // Drains decoder, resampler and encoder. Throws ConvError(Failure::Codec).
    void finish();

    // With gap filling on, silence fills where the input's timestamps jump ahead (a sound
    // track that starts after the picture included), so the sound stays in step with a
    // picture converted beside it. Off by default; only without a range.
    void set_fill_gaps(bool on);

    // With the encode thread on, encoding and muxing run on a thread of their own while the
    // caller's thread reads and decodes on. Call before the first packet. Off by default.
    void set_encode_thread(bool on);

    // A stage every frame passes on its way to the encoder, in the encoder's sample format,
    // rate and layout, after the cut and before encoding: it may measure the frame or change
    // its samples in place. Runs on the caller's thread. Call before the first packet.
    void set_frame_stage(std::function<void(AVFrame*)> stage);
    // One more stage after those set before.
    void add_frame_stage(std::function<void(AVFrame*)> stage);
    // With the encoder off, frames end at the stage: nothing is encoded or written (a measuring
    // pass over the same sound). Call before the first packet.
    void set_encoding(bool on);

    // The decoder, with its counts of frames, damaged packets and replaced samples.
    const Decoder& decoder() const;

    // Seconds of audio handed to the encoder so far (the position within the range).
    double seconds_done() const;
    // True once the end of the range has been reached.
    bool range_done() const { return m_range_done; }

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
    std::unique_ptr<AudioEncoder> m_encoder;
    std::unique_ptr<BoundedWorker<FramePtr>> m_worker;
    bool m_range_done = false;
    std::function<void(AVFrame*)> m_stage;
    bool m_encoding = true;
    void handle_decoded(AVFrame* frame);
    void push_samples(const uint8_t* const* data, int count);
    void emit_frames(bool flush);
    void push_silence(int64_t count, AVSampleFormat format, int channels);
};

} // namespace zmconv
