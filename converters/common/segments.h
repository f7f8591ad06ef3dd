// Planning of a long encode in segments: which samples each run of an encoder is fed, which of
// its packets it keeps, and where two neighbouring runs are joined. Pure arithmetic on sample
// positions and on what the packets say about themselves, so it is tested without encoding.
//
// The input is cut into segments of a fixed number of samples, which depends only on the codec
// and the sample rate (never on the machine or the number of threads), so the joined stream is
// the same whatever runs where. Run k encodes segment k with a pre-roll before it (encoded and
// thrown away, so that the encoder's state has settled when the segment begins) and a post-roll
// after it (where the join with run k + 1 may lie). Segment boundaries, pre- and post-rolls are
// whole frames, so every run's frames fall on the grid of one encode from the start: a packet
// of a run covers exactly the samples of the packet with the same timestamp in a single run.
//
// Two runs are joined at a packet boundary both have, from the segment's nominal end on, where
// the packets on either side describe the same decoder state in both runs (same window or block
// shape; for MP3 enough room in the bit reservoir). The join keeps every sample exactly once.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace zmconv {

// How a codec's runs are joined.
enum class JoinKind {
    Plain,  // any frame boundary (the frames carry no state the decoder carries over)
    Mp3,    // same block types; the reservoir bytes the first frame borrows are moved over
    Aac,    // same window sequence and shape
    Opus,   // same mode, bandwidth and frame size (TOC byte)
    Vorbis, // a block boundary both runs have, with the same block sizes on both sides
    Flac,   // runs without overlap; frame numbers and stream summary written anew
};

// Per codec: how long the runs overlap. Times in seconds; the plan rounds them to frames.
struct SegmentCodec {
    std::string_view encoder; // FFmpeg encoder name
    JoinKind join;
    double pre_roll; // encoded before a segment and thrown away
    double search;   // after a segment's nominal end, where the join may lie
    double settle;   // post-roll beyond the search, so the packets there have left the encoder
    int grid;        // the runs' first samples lie on multiples of this (block phase of Vorbis)
};

// The codec table entry for an encoder, or nullptr when that encoder is never split.
const SegmentCodec* segment_codec(std::string_view encoder);

// Seconds of one segment unless the environment says otherwise (ZMCONV_SEGMENT_SECONDS).
constexpr double kSegmentSeconds = 60.0;

// The plan of one encode, in samples at the encoder's rate.
struct SegmentPlan {
    int64_t length = 0;    // of one segment; the last runs to the end of the input
    int64_t pre_roll = 0;  // before each segment but the first
    int64_t search = 0;    // the join lies in [end - lead, end + search]
    int64_t lead = 0;      // packet timestamps run up to a frame early (the encoder's delay)
    int64_t post_roll = 0; // fed after a segment's nominal end (>= search)
    int64_t frame = 0;     // samples per frame fed to the encoder
    int64_t reach = 0;     // packets kept before a segment's start, for the join's look back

    // First sample fed to the run that starts with segment k.
    int64_t feed_from(int64_t k) const { return k == 0 ? 0 : k * length - pre_roll; }
    // One past the last sample fed to a run that ends with segment k and is not the last.
    int64_t feed_to(int64_t k) const { return (k + 1) * length + post_roll; }
    // Run k can start once this many samples are known, unless the input ends first (then it is
    // the last run and goes to the end).
    int64_t needed_for(int64_t k) const { return feed_to(k); }
    // A packet [pts, end) of a run from segment first to segment last is kept for the join when
    // it ends after keep_low(first) and, unless the run is the last, starts before keep_high(last).
    int64_t keep_low(int64_t first) const
    {
        return first == 0 ? INT64_MIN : first * length - reach;
    }
    int64_t keep_high(int64_t last) const { return (last + 1) * length + search + 2 * frame; }
};

// The plan for a codec at a rate and frame size (0 = any size, fed in frames of free_frame),
// with segments of about segment_seconds. Every length is a whole number of frames and of the
// codec's grid; a segment is at least as long as its pre-roll and post-roll.
SegmentPlan make_segment_plan(const SegmentCodec& codec, int sample_rate, int frame_size,
                              double segment_seconds, int free_frame);

// Whether an input of this many samples is encoded in segments: from two segments on. Shorter
// inputs are encoded in one run, exactly as without segments.
bool worth_splitting(const SegmentPlan& plan, int64_t samples);

// Whether Vorbis runs are started in step by scanning libvorbis's block decisions first
// (ZMCONV_VORBIS_SCAN=0 turns it off, for tests of the joins that do without it).
bool vorbis_scan_enabled();

// Whether ZMCONV_SEGMENT_LOG asks for a line on stderr about every join (tests read them).
bool segment_log_enabled();

// The segment length from ZMCONV_SEGMENT_SECONDS (tests and benchmarks: "0" never splits), else
// kSegmentSeconds. A value that is not a number >= 0 is ignored.
double segment_seconds_from_environment();

// How many runs encode at once for "-threads N": N when positive; for 0 ("automatic") the share
// the front end gives in ZM_CONV_THREADS, else the processors this process may run on. At least
// 1, at most kMaxThreads.
constexpr int kMaxThreads = 64;
int segment_threads(int requested);
// The same with the environment's value and the processor count given (for tests).
int segment_threads(int requested, const char* share, int processors);

// What the join needs to know about one packet of a run.
struct PacketFacts {
    int64_t pts = 0;
    int64_t end = 0;          // pts + duration
    int32_t shape = 0;        // codec-specific: window/block shape, TOC byte; -1 = unknown
    int32_t borrowed = 0;     // MP3: bytes of main data this frame starts before its own
    uint64_t fingerprint = 0; // of the packet's bytes, to tell identical packets
    int32_t size = 0;
};

struct Junction {
    size_t last_of_a = 0;   // index in a of the last packet written from run a
    size_t first_of_b = 0;  // index in b of the first packet written from run b
    bool identical = false; // the packets before the join were the same bytes in both runs
};

// The first boundary in [from, to] where run a can be followed by run b: a has a packet ending
// there and one after it, b has a packet ending there and one after it, and the packets agree
// as the kind of join requires. A boundary where the packets before it are identical in both runs
// wins over an earlier one where they only agree. Empty when there is none.
std::optional<Junction> find_junction(std::span<const PacketFacts> a,
                                      std::span<const PacketFacts> b, int64_t from, int64_t to,
                                      JoinKind kind);

// For two Vorbis runs that found no junction because their long blocks fall out of step (the
// earlier run's blocks were moved by a transient long before, the later run starts on its own
// grid, and no transient brings them together within the search): how many samples later the
// later run must start for its blocks to fall where the earlier run's do. Measured on the last
// packets of a long block's length that end in [from, to] in each run; a multiple of `unit` (the
// encoder's frame) in (0, long block / 2). Empty when the runs are in step already, when either
// run has no such packet there, or when the shift is not a whole number of frames.
std::optional<int64_t> vorbis_realignment(std::span<const PacketFacts> a,
                                          std::span<const PacketFacts> b, int64_t from, int64_t to,
                                          int64_t unit);

} // namespace zmconv
