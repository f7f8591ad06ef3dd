// Command-line options of the video converter vv.
//
// vv takes FFmpeg-style options, legacy spellings included, in any order:
//   vv -i IN [-y] [-vcodec C] [-aspect A] [-fpre FILE] [-b N] [-s WxH] [-r R]
//      [-strict S] [-acodec C] [-ab N] [-ar N] [-ac N] OUT
// The last argument that is not an option (or an option's value) is the output.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace vv {

struct Rational {
    int num = 0;
    int den = 1;
    bool operator==(const Rational &) const = default;
};

struct Options {
    std::string input;
    std::string output;
    bool overwrite = false;
    bool verify = true; // read the output back before it gets its name; --no-verify

    std::string video_codec;                 // encoder name; empty: the container's default
    std::optional<Rational> aspect;          // display aspect ratio
    std::string preset_file;                 // -fpre: key=value encoder options
    std::optional<long long> video_bit_rate; // bits per second
    std::optional<int> width;
    std::optional<int> height;
    std::optional<Rational> frame_rate;

    std::string strict;                      // "-strict" value as given
    std::string audio_codec;                 // encoder name; empty: the container's default
    std::optional<long long> audio_bit_rate; // bits per second
    std::optional<int> sample_rate;
    std::optional<int> channels;
};

// Parses argv (without the program name). Every value parser below and parse_options throw
// zmconv::ConvError(Failure::Usage) with one line naming the option and the bad value.
Options parse_options(const std::vector<std::string> &args);

// "176x144" -> (176, 144); also the usual abbreviations (qcif, cif, vga, ...).
std::pair<int, int> parse_frame_size(const std::string &text);

// "14.985" -> 2997/200, "25" -> 25/1, "30000/1001" -> 30000/1001.
Rational parse_frame_rate(const std::string &text);

// "4:3" -> 4/3, "16:9", "1.7777".
Rational parse_aspect(const std::string &text);

} // namespace vv
