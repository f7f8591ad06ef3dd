#include "common/input_file.h"
#include "common/errors.h"
#include "common/progress.h"

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zmconv {

namespace {

// Bytes read from the file at a time (what FFmpeg's own file reading uses).
constexpr int kReadBuffer = 32 * 1024;

std::string kind_of(const struct stat& st)
{
    return S_ISFIFO(st.st_mode)                         ? "a FIFO"
           : S_ISSOCK(st.st_mode)                       ? "a socket"
           : S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode) ? "a device"
                                                        : "a special file";
}

// Only a regular file is read: a FIFO or a device would block the reading for ever or never
// end, and a socket cannot be opened at all.
void require_regular(const struct stat& st, const std::string& path)
{
    if (S_ISDIR(st.st_mode))
        throw ConvError(Failure::Input, "input is a folder, not a file: " + path);
    if (!S_ISREG(st.st_mode))
        throw ConvError(Failure::Input,
                        "input is " + kind_of(st) + ", not a regular file: " + path);
}

[[noreturn]] void refer_elsewhere(const std::string& path)
{
    throw ConvError(Failure::Input, "input refers to other files or addresses (a playlist or a "
                                    "reference), which are not read: "
                                        + path);
}

} // namespace

// The input's descriptor as the demuxer's byte source.
struct InputFile::Io {
    int fd = -1;
    AVIOContext* pb = nullptr;
    bool wanted_more = false; // the demuxer asked to open another file or address

    static int read(void* opaque, uint8_t* buf, int size)
    {
        const Io& io = *static_cast<Io*>(opaque);
        for (;;) {
            if (stop_requested())
                return AVERROR_EXIT; // a stop ends the reading, as FFmpeg's own files do
            const ssize_t n = ::read(io.fd, buf, static_cast<size_t>(size));
            if (n > 0)
                return static_cast<int>(n);
            if (n == 0)
                return AVERROR_EOF;
            if (stop_requested())
                return AVERROR_EXIT;
            if (errno != EINTR)
                return AVERROR(errno);
        }
    }

    static int64_t seek(void* opaque, int64_t offset, int whence)
    {
        const Io& io = *static_cast<Io*>(opaque);
        if (whence == AVSEEK_SIZE) {
            struct stat st {};
            return ::fstat(io.fd, &st) == 0 ? st.st_size : AVERROR(errno);
        }
        const off_t at = ::lseek(io.fd, static_cast<off_t>(offset), whence & ~AVSEEK_FORCE);
        return at < 0 ? AVERROR(errno) : at;
    }

    // Every file or address a demuxer would open besides the input itself is refused.
    static int refuse_open(AVFormatContext* s, AVIOContext**, const char*, int, AVDictionary**)
    {
        static_cast<Io*>(s->opaque)->wanted_more = true;
        return AVERROR_PROTOCOL_NOT_FOUND;
    }

    ~Io()
    {
        if (pb) {
            av_freep(&pb->buffer);
            avio_context_free(&pb);
        }
        if (fd >= 0)
            ::close(fd);
    }
};

InputFile::InputFile(const std::string& path, AVMediaType only_type)
    : m_path(path), m_io(std::make_unique<Io>())
{
    // The kind of file is known before anything opens it (opening some devices has effects).
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            throw ConvError(Failure::Input, "input file not found: " + path);
        throw ConvError(Failure::Input,
                        "cannot read the input " + path + ": " + std::strerror(errno));
    }
    require_regular(st, path);
    // Without blocking, so that a FIFO put in the file's place meanwhile cannot hold the open up;
    // what was opened is checked again.
    m_io->fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (m_io->fd < 0) {
        if (errno == EACCES || errno == EPERM)
            throw ConvError(Failure::Input, "input file is not readable: " + path);
        if (errno == ENOENT || errno == ENOTDIR)
            throw ConvError(Failure::Input, "input file not found: " + path);
        if (errno == ENOMEM)
            throw out_of_memory();
        throw ConvError(Failure::Input,
                        "cannot read the input " + path + ": " + std::strerror(errno));
    }
    if (::fstat(m_io->fd, &st) != 0)
        throw ConvError(Failure::Input,
                        "cannot read the input " + path + ": " + std::strerror(errno));
    require_regular(st, path);
    ::fcntl(m_io->fd, F_SETFL, ::fcntl(m_io->fd, F_GETFL) & ~O_NONBLOCK);

    auto* buffer = static_cast<unsigned char*>(av_malloc(kReadBuffer));
    if (!buffer)
        throw out_of_memory();
    m_io->pb =
        avio_alloc_context(buffer, kReadBuffer, 0, m_io.get(), &Io::read, nullptr, &Io::seek);
    if (!m_io->pb) {
        av_free(buffer);
        throw out_of_memory();
    }
    m_io->pb->seekable = AVIO_SEEKABLE_NORMAL;

    AVFormatContext* raw = avformat_alloc_context();
    if (!raw)
        throw out_of_memory();
    raw->pb = m_io->pb;
    raw->opaque = m_io.get();
    raw->io_open = &Io::refuse_open;
    // Demuxers that open further inputs through contexts of their own (concat lists) meet this
    // list, which names no protocol.
    raw->protocol_whitelist = av_strdup("none");
    if (!raw->protocol_whitelist) {
        avformat_free_context(raw);
        throw out_of_memory();
    }
    // A stop signal also ends a read that waits for data.
    raw->interrupt_callback.callback = [](void*) -> int { return stop_requested() ? 1 : 0; };
    // The name only helps to tell the format; the bytes come from the descriptor.
    const int ret =
        avformat_open_input(&raw, path.c_str(), nullptr, nullptr); // frees raw on failure
    if (ret < 0) {
        const bool refused = library_said("not on whitelist");
        const std::string detail = take_library_message();
        throw_if_stopped();
        if (m_io->wanted_more || refused)
            refer_elsewhere(path);
        if (is_out_of_memory(ret, detail))
            throw out_of_memory();
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
    const std::string detail = take_library_message();
    if (m_io->wanted_more)
        refer_elsewhere(path);
    if (info < 0) {
        throw_if_stopped();
        if (is_out_of_memory(info, detail))
            throw out_of_memory();
        throw ConvError(Failure::Input,
                        "cannot read stream information of " + path + ": " + av_error_text(info));
    }
}

InputFile::~InputFile() = default;

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
        if (m_io->wanted_more)
            refer_elsewhere(m_path);
        if (ret == AVERROR(ENOMEM))
            throw out_of_memory();
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
