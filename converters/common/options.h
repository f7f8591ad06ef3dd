// Command-line tokenizing shared by the converters, in the FFmpeg style "-name [value]".
// A table names each accepted option and whether it takes a value; anything else starting with
// '-' is an unknown option. Arguments that are not options are positional (the output file).
// Values are taken verbatim from the next argument, even when it starts with '-', so "-ss -5"
// reaches the value check and fails there with a clear message.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace zmconv {

struct OptionSpec {
    std::string_view name; // without the leading '-', e.g. "ab", "map_meta_data", "c:a"
    bool takes_value;
    int id; // caller's identifier; several names may share an id (aliases)
};

struct ParsedOption {
    int id;
    std::string name;  // as written, without '-'
    std::string value; // empty for flags
};

struct ParsedCommandLine {
    std::vector<ParsedOption> options; // in command-line order; later ones win for the caller
    std::vector<std::string> positional;
};

// Throws ConvError(Failure::Usage) for an unknown option or a missing value.
ParsedCommandLine tokenize(std::span<const std::string> args, std::span<const OptionSpec> table);

// Value parsers; each throws ConvError(Failure::Usage) naming the option on a bad value.
// Seconds: "30", "2.5", "00:01:30", "1:30.25"; never negative. Returns microseconds.
int64_t parse_seconds(std::string_view option, std::string_view text);
// Bit rate: "192k", "7.4k", "128000", "1.5M"; must be > 0. Returns bits per second.
int64_t parse_bit_rate(std::string_view option, std::string_view text);
// Whole number in [min, max].
int parse_int(std::string_view option, std::string_view text, int min, int max);

// Throws ConvError(Failure::Usage): 'invalid value "TEXT" for -OPTION: WHY', with the value as
// typed. option is the name without its dash.
[[noreturn]] void bad_value(std::string_view option, std::string_view text, const std::string& why);

} // namespace zmconv
