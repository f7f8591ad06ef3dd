#include "vv/preset.h"

#include "common/errors.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/opt.h>
}

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <sys/stat.h>

namespace vv {
namespace {

std::string trim(const std::string &s)
{
    const auto first = s.find_first_not_of(" \t\r\n");
    if (first == std::string::npos)
        return {};
    const auto last = s.find_last_not_of(" \t\r\n");
    return s.substr(first, last - first + 1);
}

constexpr std::streamsize kMaxPresetBytes = std::streamsize{64} * 1024;

// Text options that are plain settings. Every other text option may name a file or carry
// settings past these checks, and is refused.
constexpr const char *kTextOptions[] = {"preset",     "tune",   "profile", "level", "deblock",
                                        "partitions", "psy-rd", "wpredp",  "rc_eq"};

[[noreturn]] void bad_line(const std::string &name, int line, const std::string &why)
{
    throw zmconv::ConvError(zmconv::Failure::Usage,
                            "preset file " + name + " line " + std::to_string(line) + ": " + why);
}

// A '#' inside a value is taken as part of it: say so, as it is the likely mistake.
std::string comment_hint(const std::string &value)
{
    return value.find('#') != std::string::npos
               ? " ('#' starts a comment only at the start of a line)"
               : std::string();
}

bool is_text_option(const AVOption *o)
{
    return o->type == AV_OPT_TYPE_STRING || o->type == AV_OPT_TYPE_DICT
           || o->type == AV_OPT_TYPE_BINARY;
}

} // namespace

void refuse_preset_line(const PresetEntry &entry, const std::string &name, const std::string &codec,
                        const std::string &detail)
{
    // The library's words, unless they only repeat a long value.
    constexpr size_t kRepeat = 32;
    const bool repeats = entry.value.size() > kRepeat
                         && detail.find(entry.value.substr(0, kRepeat)) != std::string::npos;
    const std::string why =
        detail.empty() || repeats ? std::string() : " (" + zmconv::value_text(detail) + ")";
    bad_line(name, entry.line,
             "the encoder " + codec + " refuses '" + zmconv::value_text(entry.key) + "="
                 + zmconv::value_text(entry.value) + "'" + why + comment_hint(entry.value));
}

PresetEntries parse_preset(const std::string &text, const std::string &name)
{
    PresetEntries entries;
    std::istringstream in(text);
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        const std::string t = trim(line);
        if (t.empty() || t[0] == '#')
            continue;
        const auto eq = t.find('=');
        if (eq == std::string::npos)
            bad_line(name, number, "expected key=value");
        const std::string key = trim(t.substr(0, eq));
        const std::string value = trim(t.substr(eq + 1));
        if (key.empty())
            bad_line(name, number, "empty key");
        entries.push_back({key, value, number});
    }
    return entries;
}

PresetEntries read_preset_file(const std::string &path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        throw zmconv::ConvError(zmconv::Failure::Input,
                                "cannot read preset file " + path + ": " + std::strerror(errno));
    if (!S_ISREG(st.st_mode))
        throw zmconv::ConvError(zmconv::Failure::Input,
                                "cannot read preset file " + path + ": not a regular file");
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw zmconv::ConvError(zmconv::Failure::Input,
                                "cannot read preset file " + path + ": " + std::strerror(errno));
    std::string text(static_cast<size_t>(kMaxPresetBytes) + 1, '\0');
    in.read(text.data(), kMaxPresetBytes + 1);
    if (in.bad())
        throw zmconv::ConvError(zmconv::Failure::Input,
                                "cannot read preset file " + path + ": read error");
    text.resize(static_cast<size_t>(in.gcount()));
    if (static_cast<std::streamsize>(text.size()) > kMaxPresetBytes)
        throw zmconv::ConvError(zmconv::Failure::Input, "preset file " + path + " is too large");
    if (text.find('\0') != std::string::npos)
        throw zmconv::ConvError(zmconv::Failure::Input,
                                "preset file " + path + " is not a text file");
    return parse_preset(text, path);
}

void apply_preset(AVCodecContext *encoder, const PresetEntries &entries, const std::string &name)
{
    const std::string codec = encoder->codec ? encoder->codec->name : "video";
    for (const PresetEntry &e : entries) {
        const AVOption *option =
            av_opt_find2(encoder, e.key.c_str(), nullptr, 0, AV_OPT_SEARCH_CHILDREN, nullptr);
        if (!option)
            bad_line(name, e.line,
                     "the encoder " + codec + " has no option '" + zmconv::value_text(e.key) + "'");
        if (is_text_option(option)) {
            bool plain = false;
            for (const char *allowed : kTextOptions)
                plain = plain || e.key == allowed;
            if (!plain)
                bad_line(name, e.line,
                         "'" + zmconv::value_text(e.key)
                             + "' is not allowed in a preset file (it names "
                               "a file or passes settings on unchecked)");
        }
        const int ret = av_opt_set(encoder, e.key.c_str(), e.value.c_str(), AV_OPT_SEARCH_CHILDREN);
        zmconv::take_library_message();
        if (ret < 0)
            bad_line(name, e.line,
                     "bad value '" + zmconv::value_text(e.value) + "' for '" + e.key
                         + "': " + zmconv::av_error_text(ret) + comment_hint(e.value));
        if (encoder->flags & (AV_CODEC_FLAG_PASS1 | AV_CODEC_FLAG_PASS2))
            bad_line(name, e.line,
                     "two-pass encoding writes a statistics file and is not allowed "
                     "in a preset file");
    }
}

} // namespace vv
