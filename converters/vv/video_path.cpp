#include "vv/video_path.h"

#include "common/errors.h"
#include "common/program.h"
#include "common/progress.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <cstdio>

extern "C" {
#include <libavfilter/avfilter.h>
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavutil/display.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
}

namespace vv {

using zmconv::check;
using zmconv::ConvError;
using zmconv::Failure;

namespace {

struct GraphFreer {
    void operator()(AVFilterGraph *g) const { avfilter_graph_free(&g); }
};
struct InOutFreer {
    void operator()(AVFilterInOut *io) const { avfilter_inout_free(&io); }
};
using GraphPtr = std::unique_ptr<AVFilterGraph, GraphFreer>;
using InOutPtr = std::unique_ptr<AVFilterInOut, InOutFreer>;

AVPixelFormat choose_encoder_format(const AVCodec *codec)
{
    if (!codec->pix_fmts)
        return AV_PIX_FMT_YUV420P;
    for (const AVPixelFormat *p = codec->pix_fmts; *p != AV_PIX_FMT_NONE; ++p)
        if (*p == AV_PIX_FMT_YUV420P)
            return *p;
    return codec->pix_fmts[0];
}

std::string ratio_text(AVRational r)
{
    return std::to_string(r.num) + "/" + std::to_string(r.den);
}

} // namespace

bool is_h263_size(int width, int height)
{
    static constexpr std::array<std::pair<int, int>, 5> sizes{
        {{128, 96}, {176, 144}, {352, 288}, {704, 576}, {1408, 1152}}};
    for (const auto &[w, h] : sizes)
        if (w == width && h == height)
            return true;
    return false;
}

Rational limit_frame_rate(Rational rate)
{
    int num = 0, den = 0;
    av_reduce(&num, &den, rate.num, rate.den, 65535);
    return {num, den};
}

std::pair<int, int> output_size(const VideoSettings &settings, int in_width, int in_height)
{
    if (settings.width > 0 && settings.height > 0)
        return {settings.width, settings.height};
    return {in_width & ~1, in_height & ~1};
}

struct VideoPath::Impl {
    zmconv::OutputFile &out;
    AVStream *in_stream = nullptr;
    AVStream *out_stream = nullptr;
    std::unique_ptr<zmconv::Decoder> decoder;
    zmconv::CodecContextPtr encoder;
    GraphPtr graph;
    AVFilterContext *source = nullptr;
    AVFilterContext *sink = nullptr;
    zmconv::FramePtr filtered = zmconv::make_frame();
    zmconv::PacketPtr packet = zmconv::make_packet();
    int64_t start_pts = 0; // the file's start in the input stream's time base
    int graph_width = 0, graph_height = 0, graph_format = -1;
    AVRational graph_sar{0, 1};
    int out_width = 0, out_height = 0;
    AVPixelFormat encoder_format = AV_PIX_FMT_YUV420P;
    AVRational frame_rate{25, 1};
    std::optional<Rational> aspect;
    int64_t last_pts = AV_NOPTS_VALUE;     // input time base
    int64_t end_pts = AV_NOPTS_VALUE;      // end of the last frame sent to the graph (graph time)
    AVRational container_sar{0, 1};        // 0/1: the container states none
    int64_t last_out_pts = AV_NOPTS_VALUE; // encoder time base
    int64_t input_frame_ticks = 1;         // one input frame in the input time base
    int64_t max_jump_ticks = INT64_MAX;    // largest gap between two frames that is kept
    int encoder_threads = 0;               // 0 = as many as are useful
    std::string rotation;                  // filters that turn the picture upright, or ""
    bool swap_sides = false;               // the rotation swaps width and height

    explicit Impl(zmconv::OutputFile &o) : out(o) {}
};

VideoPath::VideoPath(zmconv::InputFile &in, int stream_index, const VideoSettings &settings,
                     zmconv::OutputFile &out)
    : m_impl(std::make_unique<Impl>(out))
{
    Impl &d = *m_impl;
    d.in_stream = in.context()->streams[stream_index];
    const AVCodecParameters *par = d.in_stream->codecpar;

    d.decoder = std::make_unique<zmconv::Decoder>(in, stream_index);
    if (par->width <= 0 || par->height <= 0 || par->format < 0)
        throw ConvError(Failure::Input, "the input's video frame size or pixel format is unknown");

    const int64_t start = in.start_us();
    d.start_pts = av_rescale_q(start, AV_TIME_BASE_Q, d.in_stream->time_base);

    // Encoder.
    const AVCodec *codec = avcodec_find_encoder_by_name(settings.encoder.c_str());
    if (!codec)
        throw ConvError(Failure::Usage, "unknown video encoder '" + settings.encoder + "'");
    if (codec->type != AVMEDIA_TYPE_VIDEO)
        throw ConvError(Failure::Usage, "'" + settings.encoder + "' is not a video encoder");
    if (!out.can_store(codec->id))
        throw ConvError(Failure::Usage, std::string("the ") + out.format()->name
                                            + " container cannot hold " + codec->name + " video");

    // A picture the container says to show turned (a phone held upright) is turned upright
    // first, as players and the FFmpeg CLI do; its sides swap for a quarter turn.
    if (const uint8_t *matrix =
            av_stream_get_side_data(d.in_stream, AV_PKT_DATA_DISPLAYMATRIX, nullptr)) {
        double theta =
            -std::round(av_display_rotation_get(reinterpret_cast<const int32_t *>(matrix)));
        theta -= 360 * std::floor(theta / 360 + 0.9 / 360);
        if (std::fabs(theta - 90) < 1.0) {
            d.rotation = "transpose=dir=clock";
            d.swap_sides = true;
        } else if (std::fabs(theta - 180) < 1.0) {
            d.rotation = "hflip,vflip";
        } else if (std::fabs(theta - 270) < 1.0) {
            d.rotation = "transpose=dir=cclock";
            d.swap_sides = true;
        }
    }
    std::tie(d.out_width, d.out_height) = d.swap_sides
                                              ? output_size(settings, par->height, par->width)
                                              : output_size(settings, par->width, par->height);
    if (d.out_width < 2 || d.out_height < 2)
        throw ConvError(Failure::Input, "the input's video frame is too small");
    if (codec->id == AV_CODEC_ID_H263 && !is_h263_size(d.out_width, d.out_height))
        throw ConvError(Failure::Usage,
                        "H.263 cannot encode " + std::to_string(d.out_width) + "x"
                            + std::to_string(d.out_height)
                            + " frames; it supports only 128x96, 176x144, 352x288, 704x576 "
                              "and 1408x1152");

    Rational rate = settings.frame_rate;
    if (rate.num <= 0) {
        AVRational r = d.in_stream->avg_frame_rate;
        if (r.num <= 0 || r.den <= 0)
            r = d.in_stream->r_frame_rate;
        if (r.num <= 0 || r.den <= 0 || av_q2d(r) > 240.0)
            r = AVRational{25, 1};
        rate = {r.num, r.den};
    }
    {
        AVRational in_rate = d.in_stream->avg_frame_rate;
        if (in_rate.num <= 0 || in_rate.den <= 0)
            in_rate = d.in_stream->r_frame_rate;
        if (in_rate.num <= 0 || in_rate.den <= 0)
            in_rate = AVRational{25, 1};
        d.input_frame_ticks =
            std::max<int64_t>(1, av_rescale_q(1, av_inv_q(in_rate), d.in_stream->time_base));
    }
    // Gaps in the picture up to this long are kept (the last picture repeats, as the sound fills
    // the same gap with silence); longer jumps of the timestamps are not followed.
    d.max_jump_ticks =
        av_rescale_q(zmconv::kMaxGapSeconds, AVRational{1, 1}, d.in_stream->time_base);
    rate = limit_frame_rate(rate);
    d.frame_rate = AVRational{rate.num, rate.den};
    d.aspect = settings.aspect;
    d.encoder_format = choose_encoder_format(codec);

    // The container's pixel aspect, when it states one, wins over the bitstream's (as in the
    // FFmpeg CLI); every frame gets it, so the encoder's aspect stays what it was opened with.
    d.container_sar = d.in_stream->sample_aspect_ratio;
    if (d.container_sar.num <= 0 || d.container_sar.den <= 0)
        d.container_sar = AVRational{0, 1};
    build_graph(par->width, par->height, par->format,
                d.container_sar.num > 0 ? d.container_sar : par->sample_aspect_ratio);

    // The preset's lines go to the encoder in order; when it refuses to open, the first line it
    // cannot take is found (lines that pass when set may still be refused by the encoder) and
    // named, as a bad line of the preset file is.
    std::string detail;
    int opened = open_encoder(codec, settings, settings.preset.size(), &detail);
    if (opened == AVERROR(EAGAIN)) {
        d.encoder_threads = 1; // its threads could not be started: it works alone
        opened = open_encoder(codec, settings, settings.preset.size(), &detail);
    }
    if (opened < 0 && zmconv::is_out_of_memory(opened, detail))
        throw zmconv::out_of_memory();
    if (opened < 0 && !settings.preset.empty()) {
        std::string ignored;
        if (open_encoder(codec, settings, 0, &ignored) >= 0) {
            size_t taken = 0;                        // this many lines open
            size_t refused = settings.preset.size(); // this many do not
            while (refused - taken > 1) {
                const size_t middle = taken + (refused - taken) / 2;
                (open_encoder(codec, settings, middle, &ignored) >= 0 ? taken : refused) = middle;
            }
            refuse_preset_line(settings.preset[refused - 1], settings.preset_name, codec->name,
                               detail);
        }
    }
    if (opened < 0) {
        throw ConvError(Failure::Codec,
                        std::string("cannot open the video encoder ") + codec->name + " for "
                            + std::to_string(d.out_width) + "x" + std::to_string(d.out_height)
                            + " at " + ratio_text(d.frame_rate)
                            + " fps: " + zmconv::av_error_text(opened)
                            + (detail.empty() ? "" : " (" + zmconv::value_text(detail) + ")"));
    }
    AVCodecContext *enc = d.encoder.get();

    d.out_stream = out.add_stream();
    check(avcodec_parameters_from_context(d.out_stream->codecpar, enc), Failure::Codec,
          "cannot set up the output video stream");
    d.out_stream->time_base = enc->time_base;
    d.out_stream->avg_frame_rate = d.frame_rate;
    d.out_stream->r_frame_rate = d.frame_rate;
    d.out_stream->sample_aspect_ratio = enc->sample_aspect_ratio;
}

VideoPath::~VideoPath() = default;

int VideoPath::open_encoder(const AVCodec *codec, const VideoSettings &settings,
                            size_t preset_lines, std::string *detail)
{
    Impl &d = *m_impl;
    d.encoder.reset(avcodec_alloc_context3(codec));
    if (!d.encoder)
        throw zmconv::out_of_memory();
    AVCodecContext *enc = d.encoder.get();
    enc->width = d.out_width;
    enc->height = d.out_height;
    enc->pix_fmt = d.encoder_format;
    enc->time_base = av_inv_q(d.frame_rate);
    enc->framerate = d.frame_rate;
    enc->sample_aspect_ratio = av_buffersink_get_sample_aspect_ratio(d.sink);
    enc->thread_count = d.encoder_threads;
    if (d.out.wants_global_header())
        enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (!settings.strict.empty())
        check(av_opt_set(enc, "strict", settings.strict.c_str(), 0), Failure::Usage,
              "bad -strict value");

    const PresetEntries lines(settings.preset.begin(),
                              settings.preset.begin() + static_cast<std::ptrdiff_t>(preset_lines));
    apply_preset(enc, lines, settings.preset_name);
    // Explicit options win over the preset.
    if (settings.bit_rate > 0)
        enc->bit_rate = settings.bit_rate;

    // Some encoders (libx264 reading its preset and tune) print a refusal of their own on the
    // standard error; the converter's one line says it instead.
    const zmconv::StandardErrorSilenced quiet;
    const int opened = avcodec_open2(enc, codec, nullptr);
    *detail = zmconv::take_library_message();
    if (opened < 0)
        d.encoder.reset();
    return opened;
}

void VideoPath::build_graph(int width, int height, int format, AVRational sar)
{
    Impl &d = *m_impl;
    d.graph.reset(avfilter_graph_alloc());
    if (!d.graph)
        throw ConvError(Failure::Codec, "out of memory");
    if (sar.num <= 0 || sar.den <= 0)
        sar = AVRational{1, 1};

    char args[256];
    std::snprintf(args, sizeof args,
                  "video_size=%dx%d:pix_fmt=%d:time_base=%d/%d:pixel_aspect=%d/%d", width, height,
                  format, d.in_stream->time_base.num, d.in_stream->time_base.den, sar.num, sar.den);
    check(avfilter_graph_create_filter(&d.source, avfilter_get_by_name("buffer"), "in", args,
                                       nullptr, d.graph.get()),
          Failure::Codec, "cannot create the video filter source");
    check(avfilter_graph_create_filter(&d.sink, avfilter_get_by_name("buffersink"), "out", nullptr,
                                       nullptr, d.graph.get()),
          Failure::Codec, "cannot create the video filter sink");

    // Rate first: frames the rate change drops are never scaled.
    std::string chain = "fps=fps=" + ratio_text(d.frame_rate);
    if (!d.rotation.empty())
        chain += "," + d.rotation;
    const int upright_width = d.swap_sides ? height : width;
    const int upright_height = d.swap_sides ? width : height;
    if (upright_width != d.out_width || upright_height != d.out_height)
        chain += ",scale=w=" + std::to_string(d.out_width) + ":h=" + std::to_string(d.out_height)
                 + ":flags=bicubic";
    if (d.aspect)
        chain +=
            ",setdar=dar=" + std::to_string(d.aspect->num) + "/" + std::to_string(d.aspect->den);
    chain += std::string(",format=pix_fmts=") + av_get_pix_fmt_name(d.encoder_format);

    InOutPtr outputs(avfilter_inout_alloc());
    InOutPtr inputs(avfilter_inout_alloc());
    if (!outputs || !inputs)
        throw ConvError(Failure::Codec, "out of memory");
    outputs->name = av_strdup("in");
    outputs->filter_ctx = d.source;
    inputs->name = av_strdup("out");
    inputs->filter_ctx = d.sink;
    AVFilterInOut *in = inputs.release();
    AVFilterInOut *outp = outputs.release();
    const int parsed = avfilter_graph_parse_ptr(d.graph.get(), chain.c_str(), &in, &outp, nullptr);
    avfilter_inout_free(&in);
    avfilter_inout_free(&outp);
    check(parsed, Failure::Codec, "cannot build the video filters '" + chain + "'");
    check(avfilter_graph_config(d.graph.get(), nullptr), Failure::Codec,
          "cannot configure the video filters '" + chain + "'");

    d.graph_width = width;
    d.graph_height = height;
    d.graph_format = format;
    d.graph_sar = sar;
}

const zmconv::Decoder &VideoPath::decoder() const
{
    return *m_impl->decoder;
}

void VideoPath::send_packet(const AVPacket *pkt)
{
    m_impl->decoder->decode(pkt, [this](AVFrame *frame) { filter_frame(frame); });
}

void VideoPath::filter_frame(AVFrame *frame)
{
    Impl &d = *m_impl;
    if (d.container_sar.num > 0)
        frame->sample_aspect_ratio = d.container_sar;
    AVRational sar = frame->sample_aspect_ratio;
    if (sar.num <= 0 || sar.den <= 0)
        sar = AVRational{1, 1};
    int64_t pts = frame->best_effort_timestamp;
    if (pts == AV_NOPTS_VALUE)
        pts = frame->pts;
    // A frame stamped far ahead of the one before it carries a broken timestamp (a damaged
    // file) or a reset; filling such a jump would repeat the last picture for hours. It is
    // taken as the next frame instead, like a frame without a timestamp.
    const bool jump = pts != AV_NOPTS_VALUE && d.last_pts != AV_NOPTS_VALUE
                      && pts - d.last_pts > d.max_jump_ticks;
    if (pts == AV_NOPTS_VALUE || jump) {
        // Streams without timestamps (raw elementary streams): one frame after the last.
        pts = d.last_pts == AV_NOPTS_VALUE ? d.start_pts : d.last_pts + d.input_frame_ticks;
    }
    d.last_pts = pts;
    frame->pts = pts - d.start_pts;

    if (frame->width != d.graph_width || frame->height != d.graph_height
        || frame->format != d.graph_format || av_cmp_q(sar, d.graph_sar) != 0) {
        // The picture changed mid-stream: the old graph ends where this frame begins; what it
        // holds is finished, then a new one starts.
        check(av_buffersrc_close(d.source, frame->pts, AV_BUFFERSRC_FLAG_PUSH), Failure::Codec,
              "cannot flush the video filters");
        pull_filtered();
        build_graph(frame->width, frame->height, frame->format, sar);
    }
    // Where this frame ends: the end of the stream closes the graph there, so the last picture
    // is shown for its whole duration like every other.
    const int64_t duration = zmconv::frame_duration(frame);
    const int64_t end = frame->pts + (duration > 0 ? duration : d.input_frame_ticks);
    d.end_pts = d.end_pts == AV_NOPTS_VALUE ? end : std::max(d.end_pts, end);
    check(av_buffersrc_add_frame_flags(d.source, frame, AV_BUFFERSRC_FLAG_KEEP_REF), Failure::Codec,
          "cannot filter a video frame");
    pull_filtered();
}

void VideoPath::pull_filtered()
{
    Impl &d = *m_impl;
    for (;;) {
        const int ret = av_buffersink_get_frame(d.sink, d.filtered.get());
        if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF)
            return;
        check(ret, Failure::Codec, "video filtering failed");
        // One input frame may turn into many output frames: a stop request is honoured
        // between them, not only between packets.
        zmconv::throw_if_stopped();
        AVFrame *f = d.filtered.get();
        f->pts = av_rescale_q(f->pts, av_buffersink_get_time_base(d.sink), d.encoder->time_base);
        f->pict_type = AV_PICTURE_TYPE_NONE;
        // After a rebuilt graph the first frames may repeat a time already sent: skip them, so
        // the output's timestamps keep rising.
        if (d.last_out_pts == AV_NOPTS_VALUE || f->pts > d.last_out_pts) {
            d.last_out_pts = f->pts;
            encode(f);
        }
        av_frame_unref(f);
    }
}

void VideoPath::encode(AVFrame *frame)
{
    Impl &d = *m_impl;
    const int sent = avcodec_send_frame(d.encoder.get(), frame);
    if (sent < 0 && !(frame == nullptr && sent == AVERROR_EOF))
        check(sent, Failure::Codec,
              std::string("video encoding failed (") + d.encoder->codec->name + ")");
    if (frame)
        ++m_frames_encoded;
    for (;;) {
        const int ret = avcodec_receive_packet(d.encoder.get(), d.packet.get());
        if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF)
            return;
        check(ret, Failure::Codec,
              std::string("video encoding failed (") + d.encoder->codec->name + ")");
        d.packet->stream_index = d.out_stream->index;
        d.out.write(d.packet.get(), d.encoder->time_base);
    }
}

void VideoPath::finish()
{
    Impl &d = *m_impl;
    send_packet(nullptr);
    // The source closes at the end of the last frame, not at its start: two seconds of input
    // give two seconds of output frames at any rate.
    check(av_buffersrc_close(d.source, d.end_pts == AV_NOPTS_VALUE ? 0 : d.end_pts,
                             AV_BUFFERSRC_FLAG_PUSH),
          Failure::Codec, "cannot flush the video filters");
    pull_filtered();
    if (m_frames_encoded == 0) {
        const int64_t damaged = d.decoder->damaged();
        throw ConvError(Failure::Input, damaged > 0
                                            ? "no video frame could be decoded from the input: "
                                                  + std::to_string(damaged) + " damaged packets"
                                            : "no video frame could be decoded from the input");
    }
    encode(nullptr);
}

} // namespace vv
