#include "common/options.h"
#include "common/errors.h"

extern "C" {
#include <libavutil/avutil.h>
#include <libavutil/parseutils.h>
}

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdlib>

namespace zmconv {

void bad_value(std::string_view option, std::string_view text, const std::string& why)
{
    throw ConvError(Failure::Usage, "invalid value \"" + std::string(text) + "\" for -"
                                        + std::string(option) + ": " + why);
}

ParsedCommandLine tokenize(std::span<const std::string> args, std::span<const OptionSpec> table)
{
    ParsedCommandLine out;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        // A lone "-" would mean stdin/stdout, which the converters do not support; it is
        // positional and rejected by the caller as a file name if needed.
        if (arg.size() < 2 || arg[0] != '-') {
            out.positional.push_back(arg);
            continue;
        }
        const std::string_view name = std::string_view(arg).substr(1);
        const OptionSpec* def = nullptr;
        for (const OptionSpec& s : table) {
            if (s.name == name) {
                def = &s;
                break;
            }
        }
        if (!def)
            throw ConvError(Failure::Usage, "unknown option " + arg);
        ParsedOption opt{def->id, std::string(name), {}};
        if (def->takes_value) {
            if (i + 1 >= args.size())
                throw ConvError(Failure::Usage, "missing value for " + arg);
            opt.value = args[++i];
        }
        out.options.push_back(std::move(opt));
    }
    return out;
}

int64_t parse_seconds(std::string_view option, std::string_view text)
{
    const std::string s(text);
    if (s.empty())
        bad_value(option, text, "expected seconds");
    if (s.find('-') != std::string::npos)
        bad_value(option, text, "must not be negative");
    // Plain seconds, or [HH:]MM:SS[.frac]; av_parse_time also accepts a trailing unit such
    // as "ms"/"us", which is harmless.
    for (char c : s) {
        if (!(std::isdigit(static_cast<unsigned char>(c)) || c == '.' || c == ':' || c == 'm'
              || c == 's' || c == 'u'))
            bad_value(option, text, "expected seconds");
    }
    if (!std::isdigit(static_cast<unsigned char>(s[0])) && s[0] != '.')
        bad_value(option, text, "expected seconds");
    int64_t us = 0;
    if (av_parse_time(&us, s.c_str(), 1) < 0)
        bad_value(option, text, "expected seconds");
    if (us < 0)
        bad_value(option, text, "must not be negative");
    return us;
}

int64_t parse_bit_rate(std::string_view option, std::string_view text)
{
    if (text.empty())
        bad_value(option, text, "expected a bit rate such as 192k");
    std::string number(text);
    double scale = 1.0;
    const char last = number.back();
    if (last == 'k' || last == 'K') {
        scale = 1e3;
        number.pop_back();
    } else if (last == 'm' || last == 'M') {
        scale = 1e6;
        number.pop_back();
    }
    if (number.empty() || number.find_first_not_of("0123456789.") != std::string::npos
        || number.find('.') != number.rfind('.') || number == ".")
        bad_value(option, text, "expected a bit rate such as 192k");
    double value = 0;
    auto [ptr, ec] = std::from_chars(number.data(), number.data() + number.size(), value);
    if (ec != std::errc() || ptr != number.data() + number.size())
        bad_value(option, text, "expected a bit rate such as 192k");
    const double bits = value * scale;
    if (!(bits >= 1.0) || bits > 1e9)
        bad_value(option, text, "out of range");
    return static_cast<int64_t>(std::llround(bits));
}

int parse_int(std::string_view option, std::string_view text, int min, int max)
{
    int value = 0;
    auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || ptr != text.data() + text.size())
        bad_value(option, text, "expected a whole number");
    if (value < min || value > max)
        bad_value(option, text,
                  "must be between " + std::to_string(min) + " and " + std::to_string(max));
    return value;
}

} // namespace zmconv
