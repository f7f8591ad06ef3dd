#include "vv/convert.h"

#include "vv/video_path.h"

#include "common/audio_path.h"
#include "common/errors.h"
#include "common/input_file.h"
#include "common/output_file.h"
#include "common/program.h"
#include "common/progress.h"
#include "common/worker.h"

#include <algorithm>

namespace vv {

using zmconv::ConvError;
using zmconv::Failure;

std::string video_encoder_name(const std::string &requested, const AVOutputFormat *format)
{
    if (!requested.empty())
        return requested;
    const AVCodec *codec = avcodec_find_encoder(format->video_codec);
    if (!codec)
        throw ConvError(Failure::Usage, std::string("no video encoder for the ") + format->name
                                            + " container; choose one with -vcodec");
    return codec->name;
}

std::string audio_encoder_name(const std::string &requested, const AVOutputFormat *format)
{
    if (!requested.empty())
        return requested;
    // libavcodec has no AMR-NB encoder here; the shared audio path calls opencore-amrnb.
    if (format->audio_codec == AV_CODEC_ID_AMR_NB)
        return "libopencore_amrnb";
    const AVCodec *codec = avcodec_find_encoder(format->audio_codec);
    if (!codec)
        throw ConvError(Failure::Usage, std::string("no audio encoder for the ") + format->name
                                            + " container; choose one with -acodec");
    return codec->name;
}

namespace {

// Sound packets waiting for the sound thread at most (a few seconds of sound).
constexpr size_t kQueuedPackets = 128;
constexpr size_t kWakeBatch = 4;

int find_video_stream(const zmconv::InputFile &in)
{
    const int best = in.best_stream(AVMEDIA_TYPE_VIDEO);
    if (best >= 0 && !(in.context()->streams[best]->disposition & AV_DISPOSITION_ATTACHED_PIC))
        return best;
    // A cover picture is not a video; look for a real one.
    for (unsigned i = 0; i < in.context()->nb_streams; ++i) {
        const AVStream *st = in.context()->streams[i];
        if (st->codecpar->codec_type == AVMEDIA_TYPE_VIDEO
            && !(st->disposition & AV_DISPOSITION_ATTACHED_PIC))
            return static_cast<int>(i);
    }
    return -1;
}

} // namespace

void convert(const Options &options, ProgressFile &progress)
{
    // The preset is read first: a missing preset file fails before any work is done.
    VideoSettings video;
    if (!options.preset_file.empty()) {
        video.preset = read_preset_file(options.preset_file);
        video.preset_name = options.preset_file;
    }

    zmconv::InputFile in(options.input);
    const int video_index = find_video_stream(in);
    if (video_index < 0)
        throw ConvError(Failure::Input, "the input " + options.input + " has no video stream");
    const int audio_index = in.best_stream(AVMEDIA_TYPE_AUDIO);
    in.keep_only(video_index, audio_index);

    zmconv::OutputFile out(
        zmconv::OutputOptions{options.output, "", options.overwrite, options.input});

    video.encoder = video_encoder_name(options.video_codec, out.format());
    video.bit_rate = options.video_bit_rate.value_or(0);
    video.width = options.width.value_or(0);
    video.height = options.height.value_or(0);
    if (options.frame_rate)
        video.frame_rate = *options.frame_rate;
    video.aspect = options.aspect;
    video.strict = options.strict;
    VideoPath video_path(in, video_index, video, out);

    std::unique_ptr<zmconv::AudioPath> audio_path;
    if (audio_index >= 0) {
        zmconv::AudioEncoderSettings audio;
        audio.encoder = audio_encoder_name(options.audio_codec, out.format());
        audio.bit_rate = options.audio_bit_rate.value_or(0);
        audio.sample_rate = options.sample_rate.value_or(0);
        audio.channels = options.channels.value_or(0);
        audio_path = std::make_unique<zmconv::AudioPath>(in, audio_index, audio, out);
        // The picture keeps the input's timing, so the sound must too.
        audio_path->set_fill_gaps(true);
    }

    // The output is read back before it gets its name; its length must be that of what was
    // written into it: the input's, or for a damaged input what could be decoded of it.
    out.set_check(options.verify);
    out.write_header();
    progress.flush();

    // The sound is decoded, converted and encoded on a thread of its own, beside the picture;
    // both write into the output, whose writing is thread-safe.
    std::unique_ptr<zmconv::BoundedWorker<zmconv::PacketPtr>> audio_worker;
    if (audio_path) {
        zmconv::AudioPath &path = *audio_path;
        audio_worker = std::make_unique<zmconv::BoundedWorker<zmconv::PacketPtr>>(
            [&path](zmconv::PacketPtr &packet) { path.send_packet(packet.get()); },
            [&path] { path.finish(); }, kQueuedPackets, kWakeBatch);
    }

    const int64_t duration = in.duration_us();
    const int64_t start = in.start_us();
    const int64_t size = in.context()->pb ? avio_size(in.context()->pb) : -1;
    zmconv::PacketPtr pkt = zmconv::make_packet();
    while (in.read(pkt.get())) {
        zmconv::throw_if_stopped();
        const AVStream *st = in.context()->streams[pkt->stream_index];
        int64_t ts = pkt->pts != AV_NOPTS_VALUE ? pkt->pts : pkt->dts;
        if (pkt->stream_index == video_index) {
            video_path.send_packet(pkt.get());
        } else if (audio_worker && pkt->stream_index == audio_index) {
            zmconv::PacketPtr copy = zmconv::make_packet();
            av_packet_move_ref(copy.get(), pkt.get());
            audio_worker->push(std::move(copy));
        }
        if (ts != AV_NOPTS_VALUE && duration > 0) {
            const int64_t us = av_rescale_q(ts, st->time_base, AV_TIME_BASE_Q) - start;
            progress.update(static_cast<double>(us) / static_cast<double>(duration));
        } else if (duration <= 0 && size > 0) {
            // Length unknown: the share of the file read so far.
            progress.update(static_cast<double>(avio_tell(in.context()->pb))
                            / static_cast<double>(size));
        }
        av_packet_unref(pkt.get());
    }
    zmconv::throw_if_stopped();
    video_path.finish();
    if (audio_worker)
        audio_worker->finish();
    out.finish();
    progress.finish();

    zmconv::DecodeReport report;
    report.add(video_path.decoder());
    int64_t declared = video_path.decoder().declared_us();
    if (audio_path) {
        report.add(audio_path->decoder());
        declared = std::max(declared, audio_path->decoder().declared_us());
    }
    // The streams' own lengths where the file states them, else the file's.
    report.expected_end_us = declared > 0 ? declared : duration;
    if (const std::string text = zmconv::warning_text(report); !text.empty())
        zmconv::warn(text);
}

} // namespace vv
