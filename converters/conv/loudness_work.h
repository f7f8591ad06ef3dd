// What conv does about loudness for one conversion: measuring the sound on its way to the
// encoder (or, for a copy, decoded beside it), ReplayGain 2.0 tags in the output, the track's
// measurement file for album gain, and the gain of a normalisation.
//
//   -replaygain track     REPLAYGAIN_TRACK_GAIN / _PEAK (reference -18 LUFS): Vorbis comments
//                         (OGG, FLAC), ID3v2 TXXX (MP3), ASF (WMA), iTunes freeform atoms (M4A);
//                         Opus gets R128_TRACK_GAIN (Q7.8 dB, reference -23 LUFS) and keeps an
//                         output gain of 0. WAV, AMR, AC3 and AAC (ADTS) carry no tags.
//   -album-from FILE      (repeated, one per track of the album) REPLAYGAIN_ALBUM_GAIN / _PEAK
//                         (Opus: R128_ALBUM_GAIN) from the blocks of all the files together.
//   -loudness-out FILE    the measurement as JSON (see common/loudness.h).
//   -loudnorm LUFS        one gain that brings the sound to that loudness, lowered so the true
//                         peak stays at or under -loudnorm-ceiling (dBTP, default -1). With
//                         -album-from, the album's gain: its loudness and true peak over all its
//                         tracks, the same gain for each, so the album keeps its balance.
//
// The peak is the true peak (4x oversampled), except for the lossless outputs FLAC and WAV,
// whose samples are exactly what players get: there it is the sample peak.
#pragma once

#include "common/loudness.h"
#include "common/output_file.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace conv {

struct LoudnessOptions {
    bool track_tags = false;         // -replaygain track
    std::vector<std::string> album;  // -album-from
    std::string json_out;            // -loudness-out
    std::optional<double> normalise; // -loudnorm target, LUFS
    double ceiling = -1.0;           // -loudnorm-ceiling, dBTP
    // The gain (dB) a normalisation gives every track of the album: the album's tags describe
    // the sound after it.
    double album_gain_db = 0;
    bool any() const { return track_tags || !album.empty() || !json_out.empty() || normalise; }
};

// How a muxer carries ReplayGain tags.
enum class TagStyle { None, Header, Mp4, Opus };
TagStyle tag_style(const std::string& muxer);
// Whether the peak of the muxer's files is their sample peak (lossless) rather than true peak.
bool sample_peak_format(const std::string& muxer);
// Names a format without tags for the note ("WAV").
std::string format_title(const std::string& muxer);

// The album's loudness and peak from the measurement files of its tracks.
struct Album {
    std::optional<double> loudness; // LUFS; none for an album of silence
    double peak = 0;
    double true_peak = 0; // the highest of the tracks' true peaks, linear
};
// Throws ConvError(Failure::Input) for a file that cannot be read, Usage for one that is not a
// measurement file.
Album read_album(const std::vector<std::string>& files);

class LoudnessWork
{
public:
    using TextSink = std::function<void(const std::string&)>;

    // Reads the album files (throws as read_album). muxer picks the tags and the peak.
    LoudnessWork(const LoudnessOptions& options, const std::string& muxer);
    ~LoudnessWork();

    // Whether the sound must be measured (tags, measurement file or normalisation).
    bool measuring() const;

    // Takes the gain tags of the source out of tags (they describe other sound) and puts in the
    // album's and placeholders for the track's. Call with the tags the output will carry.
    void prepare_tags(AVDictionary** tags);
    // Fills in the track's tags when the output is complete, before it gets its name.
    void attach(zmconv::OutputFile& out);

    // A frame of the sound as it goes into the output (any format; the first one sets the
    // layout and rate; frames of another layout or rate are left out).
    void add(const AVFrame* frame);
    // Measures the sound as players will get it: the packets written to the stream decoded
    // again (what a lossy encoder left of the sound). Call before the header is written.
    void measure_output(zmconv::OutputFile& out, const AVStream* stream);
    // The same from the output check's decoding of the finished file (no decoding of its own);
    // the track's tags are filled in after the check, in place. Only where the file can be
    // read back and its tags are filled in place (not M4A: see checkable()).
    void measure_checked(zmconv::OutputFile& out);
    bool checkable() const { return m_style != TagStyle::Mp4; }

    // A measurement made elsewhere (a measuring run): what finish writes.
    void take_result(const zmconv::Loudness& measured) { m_result = measured; }

    // The measurement so far; throws when nothing was measured.
    const zmconv::Loudness& result();

    // After the output is complete: writes the measurement file and prints the loudness line.
    void finish(const TextSink& progress);

private:
    LoudnessOptions m_options;
    std::string m_muxer;
    TagStyle m_style;
    Album m_album;
    std::unique_ptr<zmconv::LoudnessMeter> m_meter;
    zmconv::CodecContextPtr m_decoder; // of the output's packets
    zmconv::FramePtr m_decoded;
    int64_t m_skip = 0; // samples the encoder put before the sound (its priming)
    void receive_decoded();
    int m_rate = 0;
    int m_channels = 0;
    std::optional<zmconv::Loudness> m_result;
    bool m_placeholders = false;
    std::vector<std::pair<std::string, std::string>> m_mp4_kept; // gain tags the source had
};

// The line conv prints once the loudness is known.
std::string loudness_line(const zmconv::Loudness& l, bool true_peak);

// The tags of a measurement for a format (keys and texts as written into the file), without
// placeholders: for tests and for the M4A atoms. album may be null.
std::vector<std::pair<std::string, std::string>>
gain_tags(TagStyle style, const zmconv::Loudness* track, bool sample_peak, const Album* album);

} // namespace conv
