#include "common/loudness.h"
#include "common/errors.h"
#include "common/true_peak.h"

extern "C" {
#include <ebur128.h>
#include <libavutil/channel_layout.h>
#include <libavutil/samplefmt.h>
}

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string_view>
#include <type_traits>
#include <utility>

namespace zmconv {

namespace {

constexpr double kAbsoluteGate = -70.0; // LUFS
constexpr double kRelativeGate = -10.0; // LU under the absolutely gated loudness
constexpr double kStep = 0.01;          // LU per histogram step

double energy_of(double lufs)
{
    return std::pow(10.0, (lufs + 0.691) / 10.0);
}

double lufs_of(double energy)
{
    return 10.0 * std::log10(energy) - 0.691;
}

int ebur128_channel_of(AVChannel ch)
{
    switch (ch) {
    case AV_CHAN_FRONT_LEFT:
        return EBUR128_LEFT;
    case AV_CHAN_FRONT_RIGHT:
        return EBUR128_RIGHT;
    case AV_CHAN_FRONT_CENTER:
        return EBUR128_CENTER;
    case AV_CHAN_LOW_FREQUENCY:
    case AV_CHAN_LOW_FREQUENCY_2:
        return EBUR128_UNUSED;
    case AV_CHAN_BACK_LEFT:
    case AV_CHAN_SIDE_LEFT:
        return EBUR128_LEFT_SURROUND;
    case AV_CHAN_BACK_RIGHT:
    case AV_CHAN_SIDE_RIGHT:
        return EBUR128_RIGHT_SURROUND;
    default:
        return EBUR128_CENTER; // any other speaker counts with the weight of a front one
    }
}

// A small reader of the JSON our own measurement files hold: objects, arrays, numbers, strings,
// true/false/null. Anything else is refused.
struct Json {
    enum Type { Null, Bool, Number, String, Array, Object } type = Null;
    double number = 0;
    std::string text;
    std::vector<Json> items;
    std::vector<std::string> keys; // of an object, with its values in items

    const Json* member(std::string_view key) const
    {
        for (size_t i = 0; i < keys.size(); ++i)
            if (keys[i] == key)
                return &items[i];
        return nullptr;
    }
};

class JsonReader
{
public:
    explicit JsonReader(std::string_view text) : m_text(text) {}

    bool read(Json& out)
    {
        if (!value(out, 0))
            return false;
        space();
        return m_pos == m_text.size();
    }

private:
    std::string_view m_text;
    size_t m_pos = 0;

    void space()
    {
        while (m_pos < m_text.size()
               && (m_text[m_pos] == ' ' || m_text[m_pos] == '\n' || m_text[m_pos] == '\r'
                   || m_text[m_pos] == '\t'))
            ++m_pos;
    }
    bool take(char c)
    {
        space();
        if (m_pos < m_text.size() && m_text[m_pos] == c) {
            ++m_pos;
            return true;
        }
        return false;
    }
    bool word(std::string_view w)
    {
        if (m_text.substr(m_pos, w.size()) != w)
            return false;
        m_pos += w.size();
        return true;
    }
    bool string(std::string& out)
    {
        if (!take('"'))
            return false;
        while (m_pos < m_text.size()) {
            const char c = m_text[m_pos++];
            if (c == '"')
                return true;
            if (c == '\\') {
                if (m_pos >= m_text.size())
                    return false;
                const char e = m_text[m_pos++];
                static constexpr std::string_view kFrom = "\"\\/bfnrt";
                static constexpr std::string_view kTo = "\"\\/\b\f\n\r\t";
                const auto at = kFrom.find(e);
                if (at == std::string_view::npos)
                    return false; // \u escapes never appear in our files
                out += kTo[at];
            } else {
                out += c;
            }
        }
        return false;
    }
    bool value(Json& out, int depth)
    {
        if (depth > 16)
            return false;
        space();
        if (m_pos >= m_text.size())
            return false;
        const char c = m_text[m_pos];
        if (c == '{') {
            ++m_pos;
            out.type = Json::Object;
            if (take('}'))
                return true;
            do {
                std::string key;
                Json v;
                if (!string(key) || !take(':') || !value(v, depth + 1))
                    return false;
                out.keys.push_back(std::move(key));
                out.items.push_back(std::move(v));
            } while (take(','));
            return take('}');
        }
        if (c == '[') {
            ++m_pos;
            out.type = Json::Array;
            if (take(']'))
                return true;
            do {
                Json v;
                if (!value(v, depth + 1))
                    return false;
                out.items.push_back(std::move(v));
            } while (take(','));
            return take(']');
        }
        if (c == '"') {
            out.type = Json::String;
            return string(out.text);
        }
        if (word("null")) {
            out.type = Json::Null;
            return true;
        }
        if (word("true") || word("false")) {
            out.type = Json::Bool;
            out.number = m_text[m_pos - 1] == 'e' && m_text[m_pos - 2] == 'u';
            return true;
        }
        const std::string rest(m_text.substr(m_pos, 64));
        char* end = nullptr;
        out.number = std::strtod(rest.c_str(), &end);
        if (end == rest.c_str() || !std::isfinite(out.number))
            return false;
        out.type = Json::Number;
        m_pos += static_cast<size_t>(end - rest.c_str());
        return true;
    }
};

std::string number_text(double v, const char* format)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, format, v);
    return buf;
}

} // namespace

std::optional<double> gated_loudness(const std::vector<const Loudness*>& tracks)
{
    // The blocks above the absolute gate, their mean energy, the relative gate under it, and the
    // mean energy of the blocks above both.
    double sum = 0;
    int64_t count = 0;
    for (const Loudness* t : tracks)
        for (const auto& [step, n] : t->blocks)
            if (step * kStep >= kAbsoluteGate) {
                sum += energy_of(step * kStep) * static_cast<double>(n);
                count += n;
            }
    if (count == 0)
        return std::nullopt;
    const double relative = lufs_of(sum / static_cast<double>(count)) + kRelativeGate;
    sum = 0;
    count = 0;
    for (const Loudness* t : tracks)
        for (const auto& [step, n] : t->blocks)
            if (step * kStep >= kAbsoluteGate && step * kStep > relative) {
                sum += energy_of(step * kStep) * static_cast<double>(n);
                count += n;
            }
    if (count == 0)
        return std::nullopt;
    return lufs_of(sum / static_cast<double>(count));
}

std::string loudness_json(const Loudness& l, bool true_kind)
{
    std::string s = "{\"format\": \"zelmora-loudness\", \"version\": 1, \"integrated_lufs\": ";
    s += l.integrated ? number_text(*l.integrated, "%.4f") : "null";
    s += ", \"range_lu\": " + number_text(l.range, "%.4f");
    s += ", \"true_peak\": " + number_text(l.true_peak, "%.8f");
    s += ", \"sample_peak\": " + number_text(l.sample_peak, "%.8f");
    s += ", \"peak\": " + number_text(true_kind ? l.true_peak : l.sample_peak, "%.8f");
    s += std::string(", \"peak_kind\": \"") + (true_kind ? "true" : "sample") + "\"";
    s += ", \"sample_rate\": " + std::to_string(l.sample_rate);
    s += ", \"channels\": " + std::to_string(l.channels);
    s += ", \"seconds\": " + number_text(l.seconds, "%.3f");
    s += ", \"block_step_lu\": 0.01, \"blocks\": [";
    bool first = true;
    for (const auto& [step, n] : l.blocks) {
        s += first ? "" : ", ";
        s += "[" + std::to_string(step) + ", " + std::to_string(n) + "]";
        first = false;
    }
    s += "]}\n";
    return s;
}

Loudness parse_loudness_json(const std::string& text, const std::string& name)
{
    auto refuse = [&](const std::string& why) -> Loudness {
        throw ConvError(Failure::Usage,
                        "\"" + name + "\" is not a loudness file written by -loudness-out: " + why);
    };
    Json root;
    if (!JsonReader(text).read(root) || root.type != Json::Object)
        return refuse("not JSON");
    const Json* format = root.member("format");
    if (!format || format->type != Json::String || format->text != "zelmora-loudness")
        return refuse("no \"format\": \"zelmora-loudness\"");
    const Json* version = root.member("version");
    if (!version || version->type != Json::Number || version->number != 1)
        return refuse("a version other than 1");
    auto number = [&](const char* key, double fallback) {
        const Json* v = root.member(key);
        return v && v->type == Json::Number ? v->number : fallback;
    };
    Loudness l;
    if (const Json* i = root.member("integrated_lufs"); i && i->type == Json::Number)
        l.integrated = i->number;
    l.range = number("range_lu", 0);
    l.true_peak = number("true_peak", 0);
    l.sample_peak = number("sample_peak", 0);
    l.peak = number("peak", l.true_peak);
    l.sample_rate = static_cast<int>(number("sample_rate", 0));
    l.channels = static_cast<int>(number("channels", 0));
    l.seconds = number("seconds", 0);
    if (number("block_step_lu", 0) != kStep)
        return refuse("blocks in steps other than 0.01 LU");
    const Json* blocks = root.member("blocks");
    if (!blocks || blocks->type != Json::Array)
        return refuse("no \"blocks\"");
    for (const Json& b : blocks->items) {
        if (b.type != Json::Array || b.items.size() != 2 || b.items[0].type != Json::Number
            || b.items[1].type != Json::Number || b.items[1].number < 0
            || std::abs(b.items[0].number) > 1e6 || b.items[1].number > 1e15)
            return refuse("a block that is not [step, count]");
        l.blocks[static_cast<int>(b.items[0].number)] += static_cast<int64_t>(b.items[1].number);
    }
    return l;
}

struct LoudnessMeter::Impl {
    ebur128_state* state = nullptr;
    std::optional<TruePeak> peaks; // libebur128's own true peak costs several times more
    SwrPtr swr;
    int channels = 0;
    int rate = 0;
    size_t chunk = 0;           // samples in 100 ms, as libebur128 counts them
    std::vector<float> pending; // interleaved samples not yet a whole chunk
    std::vector<float> converted;
    int64_t chunks = 0;
    // Where a chunk is exactly 100 ms, a block's energy is the mean of its four chunks', each
    // read as libebur128's 100 ms window: a quarter of the work of reading the 400 ms window.
    bool by_chunks = false;
    double chunk_energy[4] = {};
    int64_t samples = 0;
    std::map<int, int64_t> blocks;
    // The energy of every block above the absolute gate, for the integrated loudness: gated
    // here as libebur128 gates its own, which it then need not keep (a third of its work).
    std::vector<double> block_energy;
    bool finished = false;

    ~Impl()
    {
        if (state)
            ebur128_destroy(&state);
    }
};

LoudnessMeter::LoudnessMeter(const AVChannelLayout& layout, int sample_rate)
    : m_impl(std::make_unique<Impl>())
{
    Impl& d = *m_impl;
    d.channels = layout.nb_channels;
    d.rate = sample_rate;
    if (d.channels <= 0 || sample_rate <= 0)
        throw ConvError(Failure::Codec, "cannot measure the loudness of this sound");
    d.state =
        ebur128_init(static_cast<unsigned>(d.channels), static_cast<unsigned long>(sample_rate),
                     EBUR128_MODE_M | EBUR128_MODE_LRA);
    if (!d.state)
        throw ConvError(Failure::Codec, "out of memory");
    if (layout.order != AV_CHANNEL_ORDER_UNSPEC && d.channels > 1)
        for (int i = 0; i < d.channels; ++i)
            ebur128_set_channel(d.state, static_cast<unsigned>(i),
                                ebur128_channel_of(av_channel_layout_channel_from_index(
                                    &layout, static_cast<unsigned>(i))));
    d.chunk = static_cast<size_t>((sample_rate + 5) / 10);
    d.by_chunks = sample_rate % 10 == 0;
    d.peaks.emplace(d.channels, sample_rate);
}

LoudnessMeter::~LoudnessMeter() = default;

void LoudnessMeter::add(const AVFrame* frame)
{
    Impl& d = *m_impl;
    if (d.finished || frame->nb_samples <= 0)
        return;
    const auto format = static_cast<AVSampleFormat>(frame->format);
    if (format == AV_SAMPLE_FMT_FLT) {
        feed(reinterpret_cast<const float*>(frame->extended_data[0]), frame->nb_samples);
        return;
    }
    if (!d.swr) {
        SwrContext* raw = nullptr;
        AVChannelLayout layout{};
        check(av_channel_layout_copy(&layout, &frame->ch_layout), Failure::Codec, "channel layout");
        const int made = swr_alloc_set_opts2(&raw, &layout, AV_SAMPLE_FMT_FLT, d.rate, &layout,
                                             format, d.rate, 0, nullptr);
        av_channel_layout_uninit(&layout);
        check(made, Failure::Codec, "cannot set up the loudness meter");
        d.swr.reset(raw);
        check(swr_init(d.swr.get()), Failure::Codec, "cannot set up the loudness meter");
    }
    d.converted.resize(static_cast<size_t>(frame->nb_samples) * static_cast<size_t>(d.channels));
    auto* out = reinterpret_cast<uint8_t*>(d.converted.data());
    const int got =
        swr_convert(d.swr.get(), &out, frame->nb_samples,
                    const_cast<const uint8_t**>(frame->extended_data), frame->nb_samples);
    check(got, Failure::Codec, "cannot measure the loudness");
    feed(d.converted.data(), got);
}

void LoudnessMeter::feed(const float* samples, int count)
{
    // Whole chunks of 100 ms go to libebur128 one at a time: each completes one 400 ms gating
    // block (after the first four), whose loudness is then the momentary loudness.
    Impl& d = *m_impl;
    const size_t ch = static_cast<size_t>(d.channels);
    size_t left = static_cast<size_t>(count);
    d.samples += count;
    d.peaks->add(samples, left);
    auto one_chunk = [&d](const float* data) {
        check(ebur128_add_frames_float(d.state, data, d.chunk) == EBUR128_SUCCESS ? 0
                                                                                  : AVERROR(ENOMEM),
              Failure::Codec, "cannot measure the loudness");
        double momentary = 0;
        if (d.by_chunks) {
            double chunk = 0;
            check(ebur128_loudness_window(d.state, 100, &chunk) == EBUR128_SUCCESS
                      ? 0
                      : AVERROR(EINVAL),
                  Failure::Codec, "cannot measure the loudness");
            d.chunk_energy[d.chunks % 4] = std::isfinite(chunk) ? energy_of(chunk) : 0.0;
            if (++d.chunks < 4)
                return;
            const double block =
                (d.chunk_energy[0] + d.chunk_energy[1] + d.chunk_energy[2] + d.chunk_energy[3]) / 4;
            if (block <= 0)
                return;
            momentary = lufs_of(block);
        } else {
            if (++d.chunks < 4)
                return;
            if (ebur128_loudness_momentary(d.state, &momentary) != EBUR128_SUCCESS)
                return;
        }
        if (std::isfinite(momentary) && momentary >= kAbsoluteGate) {
            ++d.blocks[static_cast<int>(std::lround(momentary / kStep))];
            d.block_energy.push_back(energy_of(momentary));
        }
    };
    if (!d.pending.empty()) {
        const size_t need = d.chunk - d.pending.size() / ch;
        const size_t take = std::min(need, left);
        d.pending.insert(d.pending.end(), samples, samples + take * ch);
        samples += take * ch;
        left -= take;
        if (d.pending.size() / ch < d.chunk)
            return;
        one_chunk(d.pending.data());
        d.pending.clear();
    }
    while (left >= d.chunk) {
        one_chunk(samples);
        samples += d.chunk * ch;
        left -= d.chunk;
    }
    d.pending.assign(samples, samples + left * ch);
}

Loudness LoudnessMeter::result()
{
    Impl& d = *m_impl;
    if (!d.finished && !d.pending.empty()) {
        // The last part of a chunk completes no block (the peaks have counted it already).
        ebur128_add_frames_float(d.state, d.pending.data(), d.pending.size() / d.channels);
        d.pending.clear();
    }
    d.finished = true;
    Loudness l;
    l.sample_rate = d.rate;
    l.channels = d.channels;
    l.seconds = static_cast<double>(d.samples) / d.rate;
    l.blocks = d.blocks;
    double v = 0;
    if (!d.block_energy.empty()) {
        double sum = 0;
        for (const double e : d.block_energy)
            sum += e;
        const double relative =
            sum / static_cast<double>(d.block_energy.size()) * std::pow(10.0, kRelativeGate / 10.0);
        sum = 0;
        size_t above = 0;
        for (const double e : d.block_energy)
            if (e >= relative) {
                sum += e;
                ++above;
            }
        if (above > 0)
            l.integrated = lufs_of(sum / static_cast<double>(above));
    }
    if (ebur128_loudness_range(d.state, &v) == EBUR128_SUCCESS && std::isfinite(v))
        l.range = v;
    l.sample_peak = d.peaks->sample_peak();
    l.true_peak = d.peaks->true_peak();
    return l;
}

double limited_gain(double loudness, double target, double peak, double ceiling_db)
{
    double gain = target - loudness;
    if (peak > 0)
        gain = std::min(gain, ceiling_db - 20.0 * std::log10(peak));
    return gain;
}

namespace {

template <typename T>
void scale(uint8_t* plane, size_t count, double gain, double lo, double hi)
{
    auto* s = reinterpret_cast<T*>(plane);
    for (size_t i = 0; i < count; ++i) {
        double v = static_cast<double>(s[i]) * gain;
        if constexpr (std::is_integral_v<T>)
            v = std::clamp(std::nearbyint(v), lo, hi);
        s[i] = static_cast<T>(v);
    }
}

} // namespace

void apply_gain(AVFrame* frame, double gain)
{
    const auto format = static_cast<AVSampleFormat>(frame->format);
    const bool planar = av_sample_fmt_is_planar(format);
    const int channels = frame->ch_layout.nb_channels;
    const int planes = planar ? channels : 1;
    const size_t count = static_cast<size_t>(frame->nb_samples) * (planar ? 1 : channels);
    for (int p = 0; p < planes; ++p) {
        uint8_t* data = frame->extended_data[p];
        switch (av_get_packed_sample_fmt(format)) {
        case AV_SAMPLE_FMT_U8: {
            // Unsigned samples are centred on 128.
            for (size_t i = 0; i < count; ++i)
                data[i] = static_cast<uint8_t>(
                    std::clamp(std::nearbyint((data[i] - 128.0) * gain) + 128.0, 0.0, 255.0));
            break;
        }
        case AV_SAMPLE_FMT_S16:
            scale<int16_t>(data, count, gain, -32768.0, 32767.0);
            break;
        case AV_SAMPLE_FMT_S32:
            scale<int32_t>(data, count, gain, -2147483648.0, 2147483647.0);
            break;
        case AV_SAMPLE_FMT_S64:
            scale<int64_t>(data, count, gain, -9.2233720368547758e18, 9.2233720368547748e18);
            break;
        case AV_SAMPLE_FMT_FLT:
            scale<float>(data, count, gain, 0, 0);
            break;
        case AV_SAMPLE_FMT_DBL:
            scale<double>(data, count, gain, 0, 0);
            break;
        default:
            break;
        }
    }
}

std::string replaygain_gain_text(double db)
{
    // Never "-0.00 dB".
    const double rounded = std::round(db * 100.0) / 100.0;
    return number_text(rounded == 0 ? 0.0 : rounded, "%.2f dB");
}

std::string replaygain_peak_text(double peak)
{
    return number_text(peak, "%.6f");
}

std::string r128_gain_text(double db)
{
    const long q = std::lround(std::clamp(db * 256.0, -32768.0, 32767.0));
    return std::to_string(q);
}

} // namespace zmconv
