#include "output_file.h"
#include "errors.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace zmconv {

namespace {

std::string folder_of(const std::string& path)
{
    const auto slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return path.substr(0, slash);
}

} // namespace

OutputFile::OutputFile(const OutputOptions& options) : m_path(options.path)
{
    if (m_path.empty())
        throw ConvError(Failure::Usage, "no output file given");
    if (m_path.back() == '/')
        throw ConvError(Failure::Usage, "output is a folder, not a file name: " + m_path);

    const std::string folder = folder_of(m_path);
    struct stat st {};
    if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        throw ConvError(Failure::Output, "output folder does not exist: " + folder);
    if (::access(folder.c_str(), W_OK | X_OK) != 0)
        throw ConvError(Failure::Output, "output folder is not writable: " + folder);

    struct stat out_st {};
    if (::stat(m_path.c_str(), &out_st) == 0) {
        if (S_ISDIR(out_st.st_mode))
            throw ConvError(Failure::Output, "output is a folder: " + m_path);
        struct stat in_st {};
        if (!options.input_path.empty() && ::stat(options.input_path.c_str(), &in_st) == 0
            && in_st.st_dev == out_st.st_dev && in_st.st_ino == out_st.st_ino)
            throw ConvError(Failure::Output, "output file is the input file: " + m_path);
        if (!options.overwrite)
            throw ConvError(Failure::Output,
                            "output file already exists (use -y to overwrite): " + m_path);
        // The file is replaced by a rename, which its own permissions would not stop: a file
        // its owner made read-only stays protected.
        if (::access(m_path.c_str(), W_OK) != 0)
            throw ConvError(Failure::Output, "output file is not writable: " + m_path);
        // A link is written through, as before, so the file it points to gets the output.
        struct stat link_st {};
        m_replace = S_ISREG(out_st.st_mode) && ::lstat(m_path.c_str(), &link_st) == 0
                    && !S_ISLNK(link_st.st_mode);
    }
    m_write_path = m_path;

    const char* name = options.format_name.empty() ? nullptr : options.format_name.c_str();
    const int ret = avformat_alloc_output_context2(&m_ctx, nullptr, name, m_path.c_str());
    take_library_message();
    if (ret < 0 || !m_ctx) {
        if (name)
            throw ConvError(Failure::Usage, "unknown output format: " + options.format_name);
        throw ConvError(Failure::Usage, "cannot tell the output format from the name: " + m_path);
    }
}

OutputFile::~OutputFile()
{
    if (!m_ctx)
        return;
    if (m_opened && !(m_ctx->oformat->flags & AVFMT_NOFILE))
        avio_closep(&m_ctx->pb);
    if (m_opened && !m_done)
        ::unlink(m_write_path.c_str());
    avformat_free_context(m_ctx);
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

void OutputFile::write_header()
{
    if (!(m_ctx->oformat->flags & AVFMT_NOFILE)) {
        if (m_replace) {
            // A fresh hidden name beside the old file (same file system, so the final rename
            // is atomic), with the old file's permissions.
            const auto slash = m_path.rfind('/');
            const std::string folder = slash == std::string::npos ? "." : m_path.substr(0, slash);
            const std::string name = slash == std::string::npos ? m_path : m_path.substr(slash + 1);
            // A long name would make the temporary one too long for the file system.
            std::string temp = folder + "/." + (name.size() <= 200 ? name + "." : std::string())
                               + "partial-XXXXXX";
            const int fd = ::mkstemp(temp.data());
            if (fd < 0)
                throw ConvError(Failure::Output, "cannot create a file in the output folder "
                                                     + folder + ": " + std::strerror(errno));
            struct stat old_st {};
            if (::stat(m_path.c_str(), &old_st) == 0)
                (void)::fchmod(fd, old_st.st_mode & 07777);
            ::close(fd);
            m_write_path = temp;
            m_opened = true; // from here on the temporary file is removed on failure
        }
        const int ret = avio_open(&m_ctx->pb, m_write_path.c_str(), AVIO_FLAG_WRITE);
        if (ret < 0) {
            take_library_message();
            throw ConvError(Failure::Output,
                            "cannot create output file " + m_path + ": " + av_error_text(ret));
        }
    }
    m_opened = true;
    check(avformat_write_header(m_ctx, nullptr), Failure::Codec, "cannot write the output header");
    m_header = true;
}

void OutputFile::write(AVPacket* pkt, AVRational time_base)
{
    AVStream* st = m_ctx->streams[pkt->stream_index];
    av_packet_rescale_ts(pkt, time_base, st->time_base);
    check(av_interleaved_write_frame(m_ctx, pkt), Failure::Codec, "cannot write to the output");
    if (m_ctx->pb)
        m_bytes.store(std::max<int64_t>(0, avio_tell(m_ctx->pb)), std::memory_order_relaxed);
}

void OutputFile::finish()
{
    if (!m_header)
        throw ConvError(Failure::Codec, "output was never started");
    check(av_interleaved_write_frame(m_ctx, nullptr), Failure::Codec, "cannot write to the output");
    check(av_write_trailer(m_ctx), Failure::Codec, "cannot finish the output");
    if (m_ctx->pb) {
        avio_flush(m_ctx->pb);
        if (m_ctx->pb->error < 0)
            check(m_ctx->pb->error, Failure::Output, "cannot write the output file " + m_path);
    }
    if (m_ctx->pb)
        m_bytes.store(std::max<int64_t>(0, avio_tell(m_ctx->pb)), std::memory_order_relaxed);
    if (!(m_ctx->oformat->flags & AVFMT_NOFILE)) {
        const int ret = avio_closep(&m_ctx->pb);
        if (ret < 0)
            check(ret, Failure::Output, "cannot close the output file " + m_path);
    }
    if (m_write_path != m_path && ::rename(m_write_path.c_str(), m_path.c_str()) != 0)
        throw ConvError(Failure::Output,
                        "cannot replace the output file " + m_path + ": " + std::strerror(errno));
    m_done = true;
}

int64_t OutputFile::bytes_written() const
{
    return m_bytes.load(std::memory_order_relaxed);
}

} // namespace zmconv
