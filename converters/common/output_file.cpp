#include "common/output_file.h"
#include "common/errors.h"
#include "common/output_check.h"
#include "common/program.h"
#include "common/progress.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace zmconv {

namespace {
// Bytes gathered before each write(): few system calls, and well under the size of one second
// of any output.
constexpr int kIoBuffer = 256 * 1024;
} // namespace

// The AVIOContext over the target's descriptor, with the errno of a failed write kept for the
// message (libavformat passes on only a code).
struct OutputFile::Io {
    int fd = -1;
    int last_errno = 0;
    AVIOContext* pb = nullptr;

#if LIBAVFORMAT_VERSION_MAJOR >= 61
    static int write_packet(void* opaque, const uint8_t* buf, int size)
#else
    static int write_packet(void* opaque, uint8_t* buf, int size)
#endif
    {
        Io& io = *static_cast<Io*>(opaque);
        int done = 0;
        while (done < size) {
            const ssize_t n = ::write(io.fd, buf + done, static_cast<size_t>(size - done));
            if (n < 0) {
                const int err = errno;
                if (err == EINTR && !stop_requested())
                    continue;
                // A full FIFO (written without blocking): wait until it takes data or the
                // conversion is stopped.
                if (err == EAGAIN && wait_writable(io.fd))
                    continue;
                if (stop_requested())
                    return AVERROR_EXIT;
                io.last_errno = err;
                return AVERROR(err);
            }
            done += static_cast<int>(n);
        }
        return size;
    }

    static int64_t seek(void* opaque, int64_t offset, int whence)
    {
        Io& io = *static_cast<Io*>(opaque);
        if (whence == AVSEEK_SIZE) {
            struct stat st {};
            return ::fstat(io.fd, &st) == 0 ? st.st_size : AVERROR(errno);
        }
        const off_t at = ::lseek(io.fd, static_cast<off_t>(offset), whence & ~AVSEEK_FORCE);
        return at < 0 ? AVERROR(errno) : at;
    }

    ~Io()
    {
        if (pb) {
            av_freep(&pb->buffer);
            avio_context_free(&pb);
        }
    }
};

OutputFile::OutputFile(const OutputOptions& options)
    : m_target(OutputTarget::Options{options.path, options.overwrite, options.input_path})
{
    const std::string& path = m_target.path();
    const char* name = options.format_name.empty() ? nullptr : options.format_name.c_str();
    const int ret = avformat_alloc_output_context2(&m_ctx, nullptr, name, path.c_str());
    take_library_message();
    if (ret < 0 || !m_ctx) {
        if (name)
            throw ConvError(Failure::Usage, "unknown output format: " + options.format_name);
        throw ConvError(Failure::Usage, "cannot tell the output format from the name: " + path);
    }
    // The output is the one file of that name. A muxer that writes files of its own (playlists
    // with segments, numbered pictures) would bypass the protocol above, and no muxer may open
    // further files or addresses.
    if (m_ctx->oformat->flags & AVFMT_NOFILE) {
        const std::string format = m_ctx->oformat->name;
        avformat_free_context(m_ctx);
        m_ctx = nullptr;
        throw ConvError(Failure::Usage, "the " + format
                                            + " format writes several files; choose a format "
                                              "of one file: "
                                            + path);
    }
    m_ctx->io_open = [](AVFormatContext*, AVIOContext**, const char*, int, AVDictionary**) {
        return AVERROR_PROTOCOL_NOT_FOUND;
    };
    // Bytes leave in whole buffers, not one write() per packet: a copy of small AAC packets
    // would otherwise spend most of its time in system calls.
    m_ctx->flush_packets = 0;
}

OutputFile::~OutputFile()
{
    // Bytes that reached the muxer may still wait in the I/O buffer: they count as written.
    if (!m_done && m_io && m_io->pb && avio_tell(m_io->pb) > 0
        && m_target.kind() != OutputTarget::Kind::Direct)
        set_partial_output_removed(true);
    av_dict_free(&m_muxer_options);
    if (m_ctx) {
        m_ctx->pb = nullptr; // ours, freed with m_io
        avformat_free_context(m_ctx);
    }
    // m_io, then m_target: the temporary file goes unless finish() gave it its name.
}

bool OutputFile::wants_global_header() const
{
    return (m_ctx->oformat->flags & AVFMT_GLOBALHEADER) != 0;
}

bool OutputFile::can_store(AVCodecID codec) const
{
    return avformat_query_codec(m_ctx->oformat, codec, FF_COMPLIANCE_NORMAL) != 0;
}

AVStream* OutputFile::add_stream()
{
    AVStream* st = avformat_new_stream(m_ctx, nullptr);
    if (!st)
        throw ConvError(Failure::Codec, "cannot add a stream to the output: out of memory");
    return st;
}

void OutputFile::set_metadata(const AVDictionary* tags)
{
    av_dict_free(&m_ctx->metadata);
    if (tags)
        av_dict_copy(&m_ctx->metadata, tags, 0);
}

void OutputFile::set_muxer_option(const char* key, const char* value)
{
    av_dict_set(&m_muxer_options, key, value, 0);
}

void OutputFile::set_bit_exact()
{
    m_ctx->flags |= AVFMT_FLAG_BITEXACT;
}

bool OutputFile::add_attached_picture(const AVStream* source)
{
    if (!source || !(source->disposition & AV_DISPOSITION_ATTACHED_PIC)
        || source->attached_pic.size <= 0)
        return false;
    const AVCodecID codec = source->codecpar->codec_id;
    if (codec != AV_CODEC_ID_MJPEG && codec != AV_CODEC_ID_PNG)
        return false;
    const std::string_view muxer = m_ctx->oformat->name;
    if (muxer != "mp3" && muxer != "ipod" && muxer != "mp4" && muxer != "flac")
        return false;
    PacketPtr pkt = make_packet();
    check(av_packet_ref(pkt.get(), &source->attached_pic), Failure::Codec, "out of memory");
    AVStream* st = add_stream();
    check(avcodec_parameters_copy(st->codecpar, source->codecpar), Failure::Codec,
          "cannot describe the cover picture");
    st->codecpar->codec_tag = 0;
    st->disposition = AV_DISPOSITION_ATTACHED_PIC;
    st->time_base = AVRational{1, 90000};
    // The picture's kind and description ("Cover (front)") travel as its stream's tags.
    av_dict_copy(&st->metadata, source->metadata, 0);
    pkt->stream_index = st->index;
    pkt->pts = pkt->dts = 0;
    pkt->duration = 0;
    pkt->flags |= AV_PKT_FLAG_KEY;
    m_pictures.push_back(std::move(pkt));
    return true;
}

void OutputFile::check_write(int ret, const char* what)
{
    if (ret >= 0)
        return;
    throw_if_stopped();
    if (m_io && m_io->last_errno != 0) {
        take_library_message();
        throw ConvError(Failure::Codec, "cannot write the output file " + path() + ": "
                                            + std::strerror(m_io->last_errno));
    }
    check(ret, Failure::Codec, what);
}

void OutputFile::write_header()
{
    throw_if_stopped(); // a stopped conversion starts no output
    {
        m_target.open();
        m_io = std::make_unique<Io>();
        m_io->fd = m_target.fd();
        auto* buffer = static_cast<unsigned char*>(av_malloc(kIoBuffer));
        if (!buffer)
            throw ConvError(Failure::Codec, "out of memory");
        m_io->pb = avio_alloc_context(buffer, kIoBuffer, 1, m_io.get(), nullptr, &Io::write_packet,
                                      m_target.seekable() ? &Io::seek : nullptr);
        if (!m_io->pb) {
            av_free(buffer);
            throw ConvError(Failure::Codec, "out of memory");
        }
        m_io->pb->seekable = m_target.seekable() ? AVIO_SEEKABLE_NORMAL : 0;
        m_ctx->pb = m_io->pb;
    }
    check_write(avformat_write_header(m_ctx, &m_muxer_options), "cannot write the output header");
    m_header = true;
    m_direct = !m_pictures.empty() && m_ctx->nb_streams == m_pictures.size() + 1;
    for (PacketPtr& pkt : m_pictures) {
        const AVStream* st = m_ctx->streams[pkt->stream_index];
        av_packet_rescale_ts(pkt.get(), AVRational{1, 90000}, st->time_base);
        check_write(m_direct ? av_write_frame(m_ctx, pkt.get())
                             : av_interleaved_write_frame(m_ctx, pkt.get()),
                    "cannot write the cover picture");
    }
    m_pictures.clear();
}

void OutputFile::write(AVPacket* pkt, AVRational time_base)
{
    std::lock_guard lock(m_write_lock);
    if (m_tap && pkt->stream_index == m_tap_stream)
        m_tap(pkt, time_base);
    AVStream* st = m_ctx->streams[pkt->stream_index];
    av_packet_rescale_ts(pkt, time_base, st->time_base);
    if (const int64_t at = pkt->pts != AV_NOPTS_VALUE ? pkt->pts : pkt->dts; at != AV_NOPTS_VALUE) {
        if (m_written.size() <= static_cast<size_t>(pkt->stream_index))
            m_written.resize(static_cast<size_t>(pkt->stream_index) + 1);
        Span& span = m_written[static_cast<size_t>(pkt->stream_index)];
        span.first = std::min(span.first, at);
        span.end = std::max(span.end, at + std::max<int64_t>(0, pkt->duration));
    }
    if (m_direct) {
        const int ret = av_write_frame(m_ctx, pkt);
        av_packet_unref(pkt);
        check_write(ret, "cannot write to the output");
    } else {
        check_write(av_interleaved_write_frame(m_ctx, pkt), "cannot write to the output");
    }
    if (m_ctx->pb)
        m_bytes.store(std::max<int64_t>(0, avio_tell(m_ctx->pb)), std::memory_order_relaxed);
}

void OutputFile::finish()
{
    std::lock_guard lock(m_write_lock);
    if (!m_header)
        throw ConvError(Failure::Codec, "output was never started");
    check_write(av_interleaved_write_frame(m_ctx, nullptr), "cannot write to the output");
    check_write(av_write_trailer(m_ctx), "cannot finish the output");
    if (m_ctx->pb) {
        avio_flush(m_ctx->pb);
        check_write(m_ctx->pb->error, "cannot write to the output");
        m_bytes.store(std::max<int64_t>(0, avio_tell(m_ctx->pb)), std::memory_order_relaxed);
        // The disk writes while the file is read back.
        m_target.start_flush();
        if (m_check_sound && m_target.seekable()) {
            // The check first: the last change needs what its decoding showed.
            check_output();
            if (m_before_commit) {
                const off_t checked = ::lseek(m_target.fd(), 0, SEEK_END);
                m_before_commit(m_target.fd());
                if (::lseek(m_target.fd(), 0, SEEK_END) != checked)
                    throw ConvError(Failure::Codec,
                                    "output check failed: the file changed after its check");
            }
        } else {
            if (m_before_commit && m_target.seekable()) {
                m_before_commit(m_target.fd());
                m_bytes.store(static_cast<int64_t>(lseek(m_target.fd(), 0, SEEK_END)),
                              std::memory_order_relaxed);
            }
            check_output();
        }
        m_target.commit();
    }
    m_done = true;
}

void OutputFile::set_packet_tap(int stream_index,
                                std::function<void(const AVPacket*, AVRational)> tap)
{
    m_tap_stream = stream_index;
    m_tap = std::move(tap);
}

void OutputFile::set_before_commit(std::function<void(int fd)> step)
{
    m_before_commit = std::move(step);
}

void OutputFile::set_check_sound(std::function<void(const AVFrame*)> sound)
{
    m_check_sound = std::move(sound);
}

void OutputFile::set_check(bool on, std::function<int64_t()> expected_us)
{
    m_check = on;
    m_expected_us = std::move(expected_us);
}

int64_t OutputFile::written_us() const
{
    int64_t longest = 0;
    for (size_t i = 0; i < m_written.size() && i < m_ctx->nb_streams; ++i)
        if (m_written[i].first <= m_written[i].end)
            longest = std::max(longest, av_rescale_q(m_written[i].end - m_written[i].first,
                                                     m_ctx->streams[i]->time_base, AV_TIME_BASE_Q));
    return longest;
}

void OutputFile::check_output()
{
    const std::string path = m_target.read_path();
    if (path.empty())
        return;
    if (const char* share = std::getenv("ZMCONV_FAULT_TRUNCATE_OUTPUT"); share && *share) {
        // A writer that stops short, for the tests of the check.
        const double f = std::clamp(std::strtod(share, nullptr), 0.0, 1.0);
        const off_t size = ::lseek(m_target.fd(), 0, SEEK_END);
        if (size > 0 && ::ftruncate(m_target.fd(), static_cast<off_t>(size * f)) != 0)
            throw ConvError(Failure::Codec, "cannot cut the output short");
    }
    if (!m_check && !m_check_sound)
        return;
    if (!m_check) {
        read_output_length(path, true, m_check_sound);
        return;
    }
    int64_t expected = m_expected_us ? m_expected_us() : -1;
    const bool written = expected < 0;
    if (written)
        expected = written_us();
    // Priming and padding that decoders give where the container does not say to drop them
    // (raw AAC, AC3), and the last frame's padding. The packets written span them too, and
    // decoders drop them where the container says so: then the sound is shorter by as much.
    int64_t extra = 0;
    for (unsigned i = 0; i < m_ctx->nb_streams; ++i) {
        const AVCodecParameters* par = m_ctx->streams[i]->codecpar;
        if (par->codec_type == AVMEDIA_TYPE_AUDIO && par->sample_rate > 0)
            extra = std::max(extra, av_rescale(int64_t(par->initial_padding) + par->frame_size,
                                               AV_TIME_BASE, par->sample_rate));
    }
    const OutputLength got = read_output_length(path, m_check_decodes || m_check_sound,
                                                m_check_sound, ReadBack{m_check_threads});
    LengthAllowance allowance = length_allowance(got.frame_us, extra);
    if (written)
        allowance.short_us = allowance.long_us;
    check_output_length(got, expected, allowance);
}

int64_t OutputFile::bytes_written() const
{
    return m_bytes.load(std::memory_order_relaxed);
}

} // namespace zmconv
