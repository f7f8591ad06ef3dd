// Owners for FFmpeg objects: std::unique_ptr with the matching free function as deleter,
// so every early return or exception releases what was allocated.
#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/frame.h>
#include <libswresample/swresample.h>
}

#include <memory>

namespace zmconv {

struct InputFormatCloser {
    void operator()(AVFormatContext* c) const { avformat_close_input(&c); }
};
struct CodecContextFreer {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct FrameFreer {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketFreer {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct SwrFreer {
    void operator()(SwrContext* s) const { swr_free(&s); }
};
struct AudioFifoFreer {
    void operator()(AVAudioFifo* f) const { av_audio_fifo_free(f); }
};
struct DictionaryFreer {
    void operator()(AVDictionary* d) const { av_dict_free(&d); }
};
struct ParametersFreer {
    void operator()(AVCodecParameters* p) const { avcodec_parameters_free(&p); }
};

using InputFormatPtr = std::unique_ptr<AVFormatContext, InputFormatCloser>;
using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextFreer>;
using FramePtr = std::unique_ptr<AVFrame, FrameFreer>;
using PacketPtr = std::unique_ptr<AVPacket, PacketFreer>;
using SwrPtr = std::unique_ptr<SwrContext, SwrFreer>;
using AudioFifoPtr = std::unique_ptr<AVAudioFifo, AudioFifoFreer>;
using ParametersPtr = std::unique_ptr<AVCodecParameters, ParametersFreer>;

// Allocators that throw ConvError (Failure::Codec, "out of memory") instead of returning null.
FramePtr make_frame();
PacketPtr make_packet();

} // namespace zmconv
