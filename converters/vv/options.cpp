#include "vv/options.h"

#include "common/errors.h"
#include "common/options.h"

#include <array>
#include <cctype>
#include <map>

extern "C" {
#include <libavutil/parseutils.h>
#include <libavutil/rational.h>
}

namespace vv {
namespace {

using zmconv::ConvError;
using zmconv::Failure;

using zmconv::bad_value;

enum Id {
    Input,
    Overwrite,
    VCodec,
    ACodec,
    VBitRate,
    ABitRate,
    Size,
    Rate,
    Aspect,
    Preset,
    Strict,
    SampleRate,
    Channels,
    NoVerify
};

constexpr std::array<zmconv::OptionSpec, 20> kTable{{
    {"i", true, Input},        {"y", false, Overwrite},
    {"vcodec", true, VCodec},  {"c:v", true, VCodec},
    {"codec:v", true, VCodec}, {"acodec", true, ACodec},
    {"c:a", true, ACodec},     {"codec:a", true, ACodec},
    {"b", true, VBitRate},     {"b:v", true, VBitRate},
    {"ab", true, ABitRate},    {"b:a", true, ABitRate},
    {"s", true, Size},         {"r", true, Rate},
    {"aspect", true, Aspect},  {"fpre", true, Preset},
    {"strict", true, Strict},  {"ar", true, SampleRate},
    {"ac", true, Channels},    {"-no-verify", false, NoVerify},
}};

const std::map<std::string, std::string> &strict_values()
{
    static const std::map<std::string, std::string> values = {
        {"very", "very"},
        {"2", "very"},
        {"strict", "strict"},
        {"1", "strict"},
        {"normal", "normal"},
        {"0", "normal"},
        {"unofficial", "unofficial"},
        {"-1", "unofficial"},
        {"experimental", "experimental"},
        {"-2", "experimental"},
    };
    return values;
}

} // namespace

std::pair<int, int> parse_frame_size(const std::string &text)
{
    int w = 0, h = 0;
    // Digits mean "WxH" exactly; otherwise one of the usual names (qcif, cif, vga, ...).
    const bool numeric = !text.empty() && std::isdigit(static_cast<unsigned char>(text[0]));
    const auto x = text.find('x');
    const bool well_formed = !numeric
                             || (x != std::string::npos && x > 0 && x + 1 < text.size()
                                 && text.find_first_not_of("0123456789", x + 1) == std::string::npos
                                 && text.find_first_not_of("0123456789") == x);
    if (text.empty() || !well_formed || av_parse_video_size(&w, &h, text.c_str()) < 0 || w <= 0
        || h <= 0)
        bad_value("s", text, "expected a frame size such as 176x144");
    if (w > 8192 || h > 8192)
        bad_value("s", text, "frame size larger than 8192x8192");
    if (w % 2 || h % 2)
        bad_value("s", text, "width and height must be even");
    return {w, h};
}

Rational parse_frame_rate(const std::string &text)
{
    AVRational rate{0, 1};
    if (text.empty() || av_parse_video_rate(&rate, text.c_str()) < 0 || rate.num <= 0
        || rate.den <= 0)
        bad_value("r", text, "expected a frame rate such as 25 or 14.985");
    if (av_q2d(rate) < 1.0 || av_q2d(rate) > 240.0)
        bad_value("r", text, "frame rate must be from 1 to 240");
    return {rate.num, rate.den};
}

Rational parse_aspect(const std::string &text)
{
    AVRational ratio{0, 1};
    if (text.empty() || av_parse_ratio(&ratio, text.c_str(), 255, 0, nullptr) < 0 || ratio.num <= 0
        || ratio.den <= 0)
        bad_value("aspect", text, "expected an aspect ratio such as 4:3");
    const double value = av_q2d(ratio);
    if (value < 0.1 || value > 10.0)
        bad_value("aspect", text, "aspect ratio out of range");
    return {ratio.num, ratio.den};
}

Options parse_options(const std::vector<std::string> &args)
{
    const zmconv::ParsedCommandLine parsed = zmconv::tokenize(args, kTable);

    Options o;
    bool have_input = false;
    for (const zmconv::ParsedOption &opt : parsed.options) {
        const std::string &name = opt.name; // without its dash
        const std::string &v = opt.value;
        switch (opt.id) {
        case Input:
            if (have_input)
                throw ConvError(Failure::Usage, "only one input file (-i) is supported");
            if (v.empty())
                throw ConvError(Failure::Usage, "empty input file name after -i");
            o.input = v;
            have_input = true;
            break;
        case Overwrite:
            o.overwrite = true;
            break;
        case NoVerify:
            o.verify = false;
            break;
        case VCodec:
            if (v.empty())
                bad_value(name, v, "expected a video encoder name");
            o.video_codec = v;
            break;
        case ACodec:
            if (v.empty())
                bad_value(name, v, "expected an audio encoder name");
            o.audio_codec = v;
            break;
        case VBitRate:
            o.video_bit_rate = zmconv::parse_bit_rate(name, v);
            break;
        case ABitRate:
            o.audio_bit_rate = zmconv::parse_bit_rate(name, v);
            break;
        case Size: {
            const auto [w, h] = parse_frame_size(v);
            o.width = w;
            o.height = h;
            break;
        }
        case Rate:
            o.frame_rate = parse_frame_rate(v);
            break;
        case Aspect:
            o.aspect = parse_aspect(v);
            break;
        case Preset:
            if (v.empty())
                throw ConvError(Failure::Usage, "empty preset file name after -fpre");
            o.preset_file = v;
            break;
        case Strict: {
            const auto it = strict_values().find(v);
            if (it == strict_values().end())
                bad_value(name, v, "expected experimental, unofficial, normal, strict or very");
            o.strict = it->second;
            break;
        }
        case SampleRate:
            o.sample_rate = zmconv::parse_int(name, v, 1000, 192000);
            break;
        case Channels:
            o.channels = zmconv::parse_int(name, v, 1, 8);
            break;
        }
    }

    if (!have_input)
        throw ConvError(Failure::Usage, "no input file given (-i)");
    if (parsed.positional.empty())
        throw ConvError(Failure::Usage, "no output file given");
    if (parsed.positional.size() > 1)
        throw ConvError(Failure::Usage, "unexpected argument '" + parsed.positional.front()
                                            + "' (only one output file is supported)");
    o.output = parsed.positional.back();
    if (o.output.empty())
        throw ConvError(Failure::Usage, "empty output file name");
    return o;
}

} // namespace vv
