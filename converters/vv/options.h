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

    std::string videoCodec;            // encoder name; empty: the container's default
    std::optional<Rational> aspect;    // display aspect ratio
    std::string presetFile;            // -fpre: key=value encoder options
    std::optional<long long> videoBitRate; // bits per second
    std::optional<int> width;
    std::optional<int> height;
    std::optional<Rational> frameRate;

    std::string strict;                // "-strict" value as given
    std::string audioCodec;            // encoder name; empty: the container's default
    std::optional<long long> audioBitRate; // bits per second
    std::optional<int> sampleRate;
    std::optional<int> channels;
};

// Parses argv (without the program name). Every value parser below and parseOptions throw
// zmconv::ConvError(Failure::Usage) with one line naming the option and the bad value.
Options parseOptions(const std::vector<std::string> &args);

// "176x144" -> (176, 144); also the usual abbreviations (qcif, cif, vga, ...).
std::pair<int, int> parseFrameSize(const std::string &text);

// "14.985" -> 2997/200, "25" -> 25/1, "30000/1001" -> 30000/1001.
Rational parseFrameRate(const std::string &text);

// "4:3" -> 4/3, "16:9", "1.7777".
Rational parseAspect(const std::string &text);

} // namespace vv
