#include "common/input_file.h"
#include "common/errors.h"
#include "common/progress.h"

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace zmconv {

InputFile::InputFile(const std::string& path, AVMediaType only_type) : m_path(path)
{
    // Only a regular file is opened: a FIFO or a device would block the reading for ever or
    // never end, and a socket cannot be opened at all. Nothing opens the input before this.
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            throw ConvError(Failure::Input, "input file not found: " + path);
        throw ConvError(Failure::Input,
                        "cannot read the input " + path + ": " + std::strerror(errno));
    }
    if (S_ISDIR(st.st_mode))
        throw ConvError(Failure::Input, "input is a folder, not a file: " + path);
    if (!S_ISREG(st.st_mode)) {
        const char* kind = S_ISFIFO(st.st_mode)                         ? "a FIFO"
                           : S_ISSOCK(st.st_mode)                       ? "a socket"
                           : S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode) ? "a device"
                                                                        : "a special file";
        throw ConvError(Failure::Input,
                        std::string("input is ") + kind + ", not a regular file: " + path);
    }
    if (::access(path.c_str(), R_OK) != 0)
        throw ConvError(Failure::Input, "input file is not readable: " + path);

    AVFormatContext* raw = avformat_alloc_context();
    if (!raw)
        throw ConvError(Failure::Codec, "out of memory");
    // A stop signal also ends a read that waits for data (a slow pipe or network file).
    raw->interrupt_callback.callback = [](void*) -> int { return stop_requested() ? 1 : 0; };
    const int ret =
        avformat_open_input(&raw, path.c_str(), nullptr, nullptr); // frees raw on failure
    if (ret < 0) {
        take_library_message();
        throw_if_stopped();
        if (ret == AVERROR_INVALIDDATA)
            throw ConvError(Failure::Input, "input is not a media file FFmpeg can read: " + path);
        throw ConvError(Failure::Input, "cannot open input " + path + ": " + av_error_text(ret));
    }
    m_ctx.reset(raw);
    if (only_type != AVMEDIA_TYPE_UNKNOWN && !(raw->ctx_flags & AVFMTCTX_NOHEADER)) {
        bool have = false;
        for (unsigned i = 0; i < raw->nb_streams; ++i)
            have = have || raw->streams[i]->codecpar->codec_type == only_type;
        for (unsigned i = 0; have && i < raw->nb_streams; ++i)
            if (raw->streams[i]->codecpar->codec_type != only_type)
                raw->streams[i]->discard = AVDISCARD_ALL;
    }
    const int info = avformat_find_stream_info(m_ctx.get(), nullptr);
    if (info < 0) {
        take_library_message();
        throw_if_stopped();
        throw ConvError(Failure::Input,
                        "cannot read stream information of " + path + ": " + av_error_text(info));
    }
}

int InputFile::best_stream(AVMediaType type) const
{
    const int idx = av_find_best_stream(m_ctx.get(), type, -1, -1, nullptr, 0);
    return idx < 0 ? -1 : idx;
}

void InputFile::keep_only(int stream_a, int stream_b)
{
    for (unsigned i = 0; i < m_ctx->nb_streams; ++i) {
        const int idx = static_cast<int>(i);
        m_ctx->streams[i]->discard =
            (idx == stream_a || idx == stream_b) ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
    }
}

int64_t InputFile::duration_us() const
{
    return m_ctx->duration > 0 ? m_ctx->duration : AV_NOPTS_VALUE;
}

int64_t InputFile::start_us() const
{
    return m_ctx->start_time == AV_NOPTS_VALUE ? 0 : m_ctx->start_time;
}

bool InputFile::seek_before(int64_t position_us)
{
    const int64_t target = start_us() + position_us;
    const int ret = avformat_seek_file(m_ctx.get(), -1, INT64_MIN, target, target, 0);
    take_library_message();
    return ret >= 0;
}

bool InputFile::read(AVPacket* pkt)
{
    av_packet_unref(pkt);
    const int ret = av_read_frame(m_ctx.get(), pkt);
    if (ret == AVERROR_EOF)
        return false;
    if (ret < 0) {
        // A stop cuts a read short: the conversion was stopped, the input is not at fault.
        if (ret == AVERROR_EXIT || stop_requested())
            throw ConvError(Failure::Interrupted, "interrupted");
        // Like the CLI, a damaged tail ends the input rather than failing what was converted;
        // only a real I/O error is reported.
        if (ret == AVERROR(EIO)
            || (m_ctx->pb && m_ctx->pb->error < 0 && m_ctx->pb->error != AVERROR_EOF))
            check(ret, Failure::Input, "cannot read " + m_path);
        return false;
    }
    return true;
}

std::string format_clock(int64_t us)
{
    if (us < 0)
        us = 0;
    const int64_t hundredths = us / 10000;
    const int64_t secs = hundredths / 100;
    char buf[64];
    std::snprintf(buf, sizeof buf, "%02" PRId64 ":%02" PRId64 ":%02" PRId64 ".%02" PRId64,
                  secs / 3600, (secs / 60) % 60, secs % 60, hundredths % 100);
    return buf;
}

std::string describe_input(const InputFile& in)
{
    const AVFormatContext* ctx = in.context();
    std::string text = "Duration: ";
    const int64_t d = in.duration_us();
    text += d == AV_NOPTS_VALUE ? std::string("N/A") : format_clock(d);
    text += ", start: ";
    if (ctx->start_time != AV_NOPTS_VALUE) {
        char buf[64];
        const int64_t s = ctx->start_time;
        std::snprintf(buf, sizeof buf, "%s%" PRId64 ".%06" PRId64, s < 0 ? "-" : "",
                      (s < 0 ? -s : s) / AV_TIME_BASE, (s < 0 ? -s : s) % AV_TIME_BASE);
        text += buf;
    } else {
        text += "N/A";
    }
    text += ", bitrate: ";
    text += ctx->bit_rate > 0 ? std::to_string(ctx->bit_rate / 1000) + " kb/s" : std::string("N/A");
    return text;
}

} // namespace zmconv
