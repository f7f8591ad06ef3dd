// Encoder preset files (-fpre): "key=value" lines of encoder options.
// Blank lines and lines starting with '#' are comments; blanks around keys and values are
// ignored. Any other line without '=' or with an empty key is an error.
//
// A preset may set only encoder options that name no file: numbers, switches and named choices,
// and the few text options known to be plain settings (preset, tune, profile, level, ...). Text
// options that name files (stats, passlogfile) or pass settings on unchecked (x264-params,
// x264opts), and two-pass encoding (which writes a statistics file), are refused.
#pragma once

#include <string>
#include <vector>

struct AVCodecContext;

namespace vv {

struct PresetEntry {
    std::string key;
    std::string value;
    int line = 0; // 1-based line of the file
    bool operator==(const PresetEntry &) const = default;
};
using PresetEntries = std::vector<PresetEntry>;

// Parses the text of a preset file; `name` is used in error messages. A malformed line is
// zmconv::ConvError(Failure::Usage) naming the file and the line.
PresetEntries parse_preset(const std::string &text, const std::string &name);

// Reads and parses a preset file. A missing, unreadable, oversized or binary file is
// zmconv::ConvError(Failure::Input).
PresetEntries read_preset_file(const std::string &path);

// Sets the entries on the (not yet opened) encoder. An unknown key, a refused key or a bad value
// is zmconv::ConvError(Failure::Usage) naming the file and the line.
void apply_preset(AVCodecContext *encoder, const PresetEntries &entries, const std::string &name);

// The error for a line whose value the encoder took but then refused to open with (an unknown
// level, a value with a comment after it): zmconv::ConvError(Failure::Usage) naming the file
// and the line, with the library's words when they add something.
[[noreturn]] void refuse_preset_line(const PresetEntry &entry, const std::string &name,
                                     const std::string &codec, const std::string &detail);

} // namespace vv
