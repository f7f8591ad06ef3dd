#include "common/segments.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <numeric>
#include <sched.h>
#include <thread>

namespace zmconv {

namespace {

// Pre-rolls: the encoder's memory of the past (MDCT overlap, psychoacoustic smoothing, bit
// reservoir, rate control, CELT's energy prediction) has settled within them; LAME, libopus,
// libvorbis, AC3 and WMA then mostly give the very packets a single encode gives. FFmpeg's AAC
// encoder adapts its quantiser for seconds: two seconds leave it as close as the same encoder is
// to itself across a file. The search covers where two runs find a boundary they agree on: at
// once for frames of one size, and for Vorbis too once a run starts in step with the run before
// it (the block scan); without that, half a second holds enough long blocks to tell how far
// apart they lie. Vorbis runs start on multiples of 2048 samples, where a fresh encoder's long
// blocks fall as those of the encode from the file's start do while no transient has moved them,
// or as much later as puts them in step.
constexpr std::array<SegmentCodec, 8> kCodecs = {{
    {"libmp3lame", JoinKind::Mp3, 1.0, 1.0, 0.2, 1},
    {"aac", JoinKind::Aac, 8.0, 0.5, 0.1, 1},
    {"libopus", JoinKind::Opus, 1.0, 0.5, 0.1, 1},
    {"libvorbis", JoinKind::Vorbis, 1.5, 0.5, 0.2, 2048},
    {"ac3", JoinKind::Plain, 0.1, 0.0, 0.1, 1},
    {"wmav1", JoinKind::Plain, 0.2, 0.0, 0.2, 1},
    {"wmav2", JoinKind::Plain, 0.2, 0.0, 0.2, 1},
    {"flac", JoinKind::Flac, 0.0, 0.0, 0.0, 1},
}};

// Frames a run keeps before its segment: the MP3 reservoir reaches back at most 511 bytes,
// which is fewer than ten frames at the lowest bit rate.
constexpr int64_t kReachFrames = 16;

int64_t round_up(int64_t value, int64_t unit)
{
    return (value + unit - 1) / unit * unit;
}

int64_t samples_of(double seconds, int rate)
{
    return static_cast<int64_t>(std::ceil(seconds * rate - 1e-9));
}

bool compatible(JoinKind kind, const PacketFacts& a0, const PacketFacts& a1, const PacketFacts& b0,
                const PacketFacts& b1)
{
    switch (kind) {
    case JoinKind::Plain:
    case JoinKind::Flac:
        return true;
    case JoinKind::Mp3:
        return a0.shape >= 0 && a0.shape == b0.shape && b1.borrowed <= a1.borrowed;
    case JoinKind::Aac:
    case JoinKind::Opus:
        return a0.shape >= 0 && a0.shape == b0.shape;
    case JoinKind::Vorbis:
        return a0.shape >= 0 && a1.shape >= 0 && a0.shape == b0.shape && a1.shape == b1.shape;
    }
    return false;
}

} // namespace

const SegmentCodec* segment_codec(std::string_view encoder)
{
    for (const SegmentCodec& c : kCodecs)
        if (c.encoder == encoder)
            return &c;
    return nullptr;
}

SegmentPlan make_segment_plan(const SegmentCodec& codec, int sample_rate, int frame_size,
                              double segment_seconds, int free_frame)
{
    SegmentPlan plan;
    plan.frame = frame_size > 0 ? frame_size : std::max(free_frame, 1);
    // Every run starts on the codec's grid and on a frame boundary.
    const int64_t grid = std::max(codec.grid, 1);
    const int64_t quantum = std::lcm(plan.frame, grid);
    plan.pre_roll = round_up(samples_of(codec.pre_roll, sample_rate), quantum);
    plan.search = round_up(samples_of(codec.search, sample_rate), plan.frame);
    // At least a frame, so that a run is started only once the input is known to go on past its
    // segment: an input that ends right at a segment's end has that segment in its last run.
    plan.post_roll = std::max(
        round_up(samples_of(codec.search + codec.settle, sample_rate), plan.frame), plan.frame);
    plan.reach = kReachFrames * plan.frame;
    // Packets are stamped with their samples' time less the encoder's delay (under a frame), so
    // the window opens a frame early; FLAC has no delay and its runs no overlap.
    plan.lead = codec.join == JoinKind::Flac ? 0 : plan.frame;
    const int64_t wanted = std::llround(segment_seconds * sample_rate);
    const int64_t least = std::max({plan.pre_roll, plan.post_roll, plan.reach}) + plan.frame;
    plan.length = round_up(std::max(wanted, least), quantum);
    return plan;
}

bool worth_splitting(const SegmentPlan& plan, int64_t samples)
{
    return plan.length > 0 && samples >= 2 * plan.length;
}

bool segment_log_enabled()
{
    const char* text = std::getenv("ZMCONV_SEGMENT_LOG");
    return text && *text && std::string_view(text) != "0";
}

bool vorbis_scan_enabled()
{
    const char* text = std::getenv("ZMCONV_VORBIS_SCAN");
    return !text || std::string_view(text) != "0";
}

double segment_seconds_from_environment()
{
    const char* text = std::getenv("ZMCONV_SEGMENT_SECONDS");
    if (!text || !*text)
        return kSegmentSeconds;
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(text, &end);
    if (errno != 0 || *end != '\0' || !(value >= 0.0) || !std::isfinite(value))
        return kSegmentSeconds;
    return value;
}

int segment_threads(int requested, const char* share, int processors)
{
    if (requested > 0)
        return std::min(requested, kMaxThreads);
    if (share && *share) {
        char* end = nullptr;
        errno = 0;
        const long value = std::strtol(share, &end, 10);
        if (errno == 0 && *end == '\0' && value > 0)
            return static_cast<int>(std::min<long>(value, kMaxThreads));
    }
    return std::clamp(processors, 1, kMaxThreads);
}

int segment_threads(int requested)
{
    int processors = 0;
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0)
        processors = CPU_COUNT(&set);
    if (processors <= 0)
        processors = static_cast<int>(std::thread::hardware_concurrency());
    return segment_threads(requested, std::getenv("ZM_CONV_THREADS"), processors);
}

std::optional<Junction> find_junction(std::span<const PacketFacts> a,
                                      std::span<const PacketFacts> b, int64_t from, int64_t to,
                                      JoinKind kind)
{
    if (kind == JoinKind::Flac) {
        // Runs without overlap: the later one starts right at the earlier one's segment end.
        size_t p = 0;
        while (p + 1 < a.size() && a[p].end < from)
            ++p;
        size_t q = 0;
        while (q < b.size() && b[q].pts < from)
            ++q;
        if (p < a.size() && a[p].end == from && q < b.size() && b[q].pts == from)
            return Junction{p, q, false};
        return std::nullopt;
    }
    for (const bool want_identical : {true, false}) {
        size_t q = 0;
        for (size_t p = 0; p + 1 < a.size(); ++p) {
            const int64_t boundary = a[p].end;
            if (boundary < from)
                continue;
            if (boundary > to)
                break;
            if (a[p + 1].pts != boundary)
                continue;
            while (q < b.size() && b[q].end < boundary)
                ++q;
            if (q + 1 >= b.size())
                break;
            if (b[q].end != boundary || b[q + 1].pts != boundary)
                continue;
            if (!compatible(kind, a[p], a[p + 1], b[q], b[q + 1]))
                continue;
            const bool identical = a[p].size == b[q].size && a[p].fingerprint == b[q].fingerprint;
            if (want_identical && !identical)
                continue;
            return Junction{p, q + 1, identical};
        }
    }
    return std::nullopt;
}

std::optional<int64_t> vorbis_realignment(std::span<const PacketFacts> a,
                                          std::span<const PacketFacts> b, int64_t from, int64_t to,
                                          int64_t unit)
{
    // A packet between two long blocks lasts half a long block, the longest any packet lasts.
    auto hop_of = [&](std::span<const PacketFacts> run) {
        int64_t hop = 0;
        for (const PacketFacts& f : run)
            if (f.end >= from && f.end <= to)
                hop = std::max(hop, f.end - f.pts);
        return hop;
    };
    const int64_t hop = hop_of(a);
    if (hop <= 0 || hop_of(b) != hop || unit <= 0)
        return std::nullopt;
    auto last_long_end = [&](std::span<const PacketFacts> run) -> std::optional<int64_t> {
        for (auto f = run.rbegin(); f != run.rend(); ++f)
            if (f->end >= from && f->end <= to && f->end - f->pts == hop)
                return f->end;
        return std::nullopt;
    };
    const auto ea = last_long_end(a);
    const auto eb = last_long_end(b);
    if (!ea || !eb)
        return std::nullopt;
    const int64_t shift = ((*ea - *eb) % hop + hop) % hop;
    if (shift == 0 || shift % unit != 0)
        return std::nullopt;
    return shift;
}

} // namespace zmconv
