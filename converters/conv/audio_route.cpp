#include "conv/audio_route.h"

extern "C" {
#include <libavcodec/codec_desc.h>
}

namespace conv {

namespace {

std::string codec_name(AVCodecID id)
{
    const AVCodecDescriptor* d = avcodec_descriptor_get(id);
    return d ? d->name : "unknown";
}

std::string kbit(int64_t bits)
{
    return std::to_string(bits / 1000)
           + (bits % 1000 ? "." + std::to_string(bits % 1000 / 100) : "") + "k";
}

// The first thing asked for that differs from the input, or "".
std::string difference(const RouteRequest& r, const RouteSource& s)
{
    const AVCodecDescriptor* d = avcodec_descriptor_get(s.codec);
    const bool lossless = d && (d->props & AV_CODEC_PROP_LOSSLESS);
    if (r.bit_rate > 0 && !lossless && r.bit_rate != s.bit_rate)
        return "-ab " + kbit(r.bit_rate) + " differs from the input's "
               + (s.bit_rate > 0 ? kbit(s.bit_rate) : std::string("unknown bit rate"));
    if (r.sample_rate > 0 && r.sample_rate != s.sample_rate)
        return "-ar " + std::to_string(r.sample_rate) + " differs from the input's "
               + std::to_string(s.sample_rate) + " Hz";
    if (r.channels > 0 && r.channels != s.channels)
        return "-ac " + std::to_string(r.channels) + " differs from the input's "
               + std::to_string(s.channels) + " channels";
    return {};
}

} // namespace

Route choose_route(const RouteRequest& r, const RouteSource& s)
{
    const bool same_codec = r.copyable != AV_CODEC_ID_NONE && s.codec == r.copyable
                            && (r.forced || r.encodes_to == r.copyable);
    if (!r.forced)
        return {same_codec && !r.cut && difference(r, s).empty(), {}};
    if (r.copyable == AV_CODEC_ID_NONE)
        return {false, "this output format takes no copied audio"};
    if (s.codec != r.copyable)
        return {false, "the input's audio is " + codec_name(s.codec) + ", this output format takes "
                           + codec_name(r.copyable)};
    if (r.cut)
        return {false, "a cut (-ss, -t) needs the audio encoded again"};
    if (std::string why = difference(r, s); !why.empty())
        return {false, why};
    return {true, {}};
}

} // namespace conv
