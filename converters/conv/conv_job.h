// The audio converter conv: its command line, the table of output formats chosen by the output
// file's extension, and the conversion run itself (input -> one audio stream -> output file).
//
//   conv -i IN [-ss S] [-t T] [-y] [-vn] [-ab RATE] [-ar HZ] [-ac N] [-acodec NAME|copy]
//        [-map_meta_data ANY] [-threads N] [-replaygain track] [-album-from JSON]...
//        [-loudness-out JSON] [-loudnorm LUFS [-loudnorm-ceiling DBTP]] [--no-verify] OUT
//   conv -i IN [-ss S] [-t T] [-ab RATE] [-ar HZ] [-ac N] -measure-only -loudness-out JSON OUT
//   conv -retag FILE [-retag FILE]... [-replaygain track] [-album-from JSON]... [-loudness-out
//   JSON]
//
// An encode of two minutes or more is cut into one-minute segments encoded side by side on up
// to N threads and joined sample-exactly (common/segmented_encoder.h); the bytes do not depend
// on N.
//
// Loudness (see loudness_work.h): -replaygain track measures the sound and writes ReplayGain
// 2.0 track tags, -album-from adds album tags from the measurements of all the album's tracks,
// -loudness-out writes the measurement, -loudnorm brings the sound to a loudness (with
// -album-from: the album's one gain, from the album's loudness and true peak, for every track, so
// the album keeps its balance). -measure-only decodes the input (the cut applied, at the rate
// and channels a conversion to OUT would have) and writes nothing but the -loudness-out file:
// the measurement of a track before its album is converted. -retag rewrites
// a finished file with such tags without encoding it again (its packets copied, through the same
// temporary file and rename as a conversion); several -retag files are rewritten one after the
// other in one run (an album's files: one start of the converter), stopping at the first that
// fails (those before it are complete, it and those after it unchanged).
//
// Input audio that already has the output format's codec is copied, not encoded again, when
// nothing asked for differs and there is no cut (see audio_route.h). The input's tags and, into
// MP3, M4A and FLAC, its cover picture come along wherever the output has a place for them, as
// with the ffmpeg CLI; -map_meta_data asks for that too, "-map_metadata -1" leaves them behind.
// The sound's language tag goes with its stream.
//
// Before the output gets its name it is read back and decoded whole; a length that is not the
// length of the sound read from the input (within a frame or 50 ms) fails with exit 5
// (common/output_check.h). --no-verify leaves that out.
//
// Progress goes to standard output: "Duration: HH:MM:SS.cc, start: ..., bitrate: ..." once the
// input is open, then "size=...kB time=SECONDS.cc bitrate=..." lines a few times a second and
// once at the end.
#pragma once

#include "common/audio_path.h"
#include "conv/audio_route.h"
#include "conv/loudness_work.h"

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

namespace conv {

struct Job {
    std::string input;
    std::string output;
    zmconv::TimeRange range;   // -ss / -t
    bool overwrite = false;    // -y
    bool copy_metadata = true; // tags and cover; "-map_metadata -1" turns it off
    std::string encoder;       // -acodec; "" = the format's own, "copy" = copy or fail
    int64_t bit_rate = 0;      // -ab
    int sample_rate = 0;       // -ar
    int channels = 0;          // -ac
    int threads = 0;           // -threads; 0 = automatic (see segment_threads)
    LoudnessOptions loudness;  // -replaygain, -album-from, -loudness-out, -loudnorm
    bool retag = false;        // -retag FILE: input and output are FILE, tags only
    // Further -retag files, rewritten one after the other with the same tags, in one process.
    std::vector<std::string> retag_more;
    bool verify = true;        // read the output back before it gets its name; --no-verify
    bool measure_only = false; // -measure-only: only the -loudness-out file, OUT not written
};

// One output format, picked by the extension of the output file (case-insensitive).
struct OutputKind {
    const char* extension; // with the dot, lower case
    const char* muxer;     // libavformat muxer name
    const char* encoder;   // default encoder
    int max_channels;      // 0 = encoder's own limit
    AVCodecID copyable;    // input audio of this codec is copied as it is; NONE = never
    int64_t bit_rate;      // bits/s when -ab is not given; 0 = the encoder's default
    int sample_rate;       // Hz when -ar is not given; 0 = the input's (nearest the encoder takes)
};

// Throws zmconv::ConvError(Failure::Usage) on any problem with the arguments.
Job parse_command_line(std::span<const std::string> args);

// The kind for the output path's extension, or nullptr for an unsupported one.
const OutputKind* output_kind_for(const std::string& path);

// Receives every progress text (already ending in a newline).
using TextSink = std::function<void(const std::string&)>;

// The route for this job and input stream (the encoder's codec worked out from the names).
Route route_for(const Job& job, const OutputKind& kind, const AVCodecParameters& source);

// Converts; throws zmconv::ConvError on failure, in which case no output file is left. A
// damaged input that still converts gives one warning line on stderr at the end.
void run(const Job& job, const TextSink& progress);

// Progress line for a position (seconds) and an output size (bytes).
std::string progress_line(double seconds, int64_t bytes);

} // namespace conv
