// A long encode in segments on several threads, joined into one stream (see segments.h).
//
// SegmentedEncoder takes the encoder's place in the audio path: it is fed the same frames, keeps
// them in memory by segment, and hands each run (a segment with its pre- and post-roll) to one of
// its threads, which encodes it with a fresh twin of the encoder. The caller's thread joins the
// runs in order and writes their packets to the output stream of the wrapped encoder, so the
// output protocol sees one ordinary stream. At most `threads` runs are under way at once: a
// frame that would start one more waits until the oldest has been written, so memory stays
// bounded (about threads + 4 segments of samples).
//
// Where two runs find no boundary to be joined at (rare: a long stretch where Vorbis's blocks of
// the two runs fall differently), the earlier run is encoded again, continued through the later
// segment, and that continuation is joined with the next run instead. The choices depend only on
// the encoded packets, so the output is the same whatever the number of threads.
//
// FLAC runs do not overlap (its frames are independent): frame numbers are written for their
// place in the stream and the stream summary (length, frame sizes, MD5 of the samples) is
// rebuilt from the whole stream.
#pragma once

#include "common/audio_encoder.h"
#include "common/segments.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace zmconv {

class SegmentedEncoder final : public AudioEncoder
{
public:
    // inner must give twins (AudioEncoder::open_twin); its stream receives the joined packets.
    // Throws ConvError(Failure::Codec) when the threads cannot be started.
    SegmentedEncoder(std::unique_ptr<AudioEncoder> inner, OutputFile& out,
                     const SegmentCodec& codec, const SegmentPlan& plan, int threads);
    ~SegmentedEncoder() override;
    SegmentedEncoder(const SegmentedEncoder&) = delete;
    SegmentedEncoder& operator=(const SegmentedEncoder&) = delete;

    // Frames must come in order, every one full but the last; null ends the stream: the last
    // run is encoded, every run joined and written.
    void encode(const AVFrame* frame) override;
    std::string name() const override;

    // Samples encoded so far by all runs together (progress). Any thread.
    int64_t samples_encoded() const;
    // Called about every 200 ms while the caller's thread waits for a run to finish.
    void set_waiting(std::function<void()> callback);

    struct Counts {
        int runs = 0;            // runs encoded, continuations and realignments included
        int continued = 0;       // continuations of a run past a segment it found no join in
        int identical_joins = 0; // joins where the packets before it were the same in both runs
        int realigned = 0;       // Vorbis runs encoded again in step with the run before them
        int met = 0;             // of those, the ones stopped where they met the first encode
        int started_in_step = 0; // Vorbis runs started later, in step, as the block scan said
    };
    Counts counts() const;

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

// The stage for an encoder when an input of `samples` samples (at the encoder's rate; <= 0 when
// unknown) is worth encoding in segments with this encoder, else the encoder itself. threads as
// for "-threads" (0 = automatic). segment_seconds 0 never splits.
std::unique_ptr<AudioEncoder> segmented_if_worth_it(std::unique_ptr<AudioEncoder> encoder,
                                                    OutputFile& out, int64_t samples, int threads,
                                                    double segment_seconds);

} // namespace zmconv
