// Whether conv copies the input's sound as it is or decodes and encodes it. A copy is lossless
// and many times faster; it is taken when the input already holds the codec the output format
// would get and nothing asked for is different: bit rate, sample rate and channels given equal
// to the input's or not at all, and no cut (a copy can only cut at packet boundaries, not at
// the exact sample). "-acodec copy" insists on a copy and is refused when one is not possible.
#pragma once

#include <cstdint>
#include <string>

extern "C" {
#include <libavcodec/codec_id.h>
}

namespace conv {

// What the output asks for.
struct RouteRequest {
    AVCodecID copyable = AV_CODEC_ID_NONE;   // the codec this format can take as it is; NONE = none
    AVCodecID encodes_to = AV_CODEC_ID_NONE; // the codec the chosen encoder would make
    bool forced = false;                     // -acodec copy
    int64_t bit_rate = 0;                    // -ab; 0 = not given
    int sample_rate = 0;                     // -ar; 0 = not given
    int channels = 0;                        // -ac; 0 = not given
    bool cut = false;                        // -ss or -t given
};

// What the input's audio stream holds.
struct RouteSource {
    AVCodecID codec = AV_CODEC_ID_NONE;
    int64_t bit_rate = 0; // 0 = unknown
    int sample_rate = 0;
    int channels = 0;
};

struct Route {
    bool copy = false;
    // Why a forced copy cannot be done (then copy is false); empty otherwise.
    std::string refusal;
};

// Pure: decides from the two descriptions alone. A bit rate asked of a lossless codec (FLAC,
// PCM) means nothing and does not stand in the way; one asked of a stream whose rate is
// unknown does.
Route choose_route(const RouteRequest& request, const RouteSource& source);

} // namespace conv
