// The opened input of a conversion: demuxer, stream info, the chosen audio (and optionally video)
// stream. Every other stream is discarded at the demuxer (AVDISCARD_ALL) so no time is spent on it.
//
// The input is the file of that name and nothing else: the name is a path, never a protocol
// ("pipe:0", "file:a.mp3" and "concat:a|b" are names of files like any other). The file is opened
// here and its bytes reach the demuxer through an AVIOContext over that descriptor; a demuxer
// that wants to open further files or addresses (playlists, references) is refused.
#pragma once

#include "common/av_owner.h"

#include <memory>
#include <string>

namespace zmconv {

class InputFile
{
public:
    // Opens and probes the file. Throws ConvError(Failure::Input) when it is missing, unreadable,
    // not a regular file (checked before anything opens it) or not media. With only_type set (e.g.
    // AVMEDIA_TYPE_AUDIO), streams of other types are discarded before probing when the container
    // declares its streams in a header, so no time goes into decoding pictures nobody will use.
    explicit InputFile(const std::string& path, AVMediaType only_type = AVMEDIA_TYPE_UNKNOWN);
    ~InputFile();
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    AVFormatContext* context() const { return m_ctx.get(); }
    const std::string& path() const { return m_path; }

    // Best stream of the type, or -1. Index of the stream in context()->streams.
    int best_stream(AVMediaType type) const;
    // Marks every stream except the given ones (-1 = none) as discarded.
    void keep_only(int stream_a, int stream_b = -1);

    // Length in microseconds, or AV_NOPTS_VALUE when unknown.
    int64_t duration_us() const;
    // Start time of the file in microseconds (0 when unknown).
    int64_t start_us() const;

    // Seeks so that reading continues at or before position_us (relative to the file's start).
    // Returns false when the demuxer cannot seek; reading then goes on from where it is.
    bool seek_before(int64_t position_us);

    // Next packet of a kept stream into pkt (unreferenced first). Returns false at the end of
    // the file; throws ConvError(Failure::Input) on a read error, Interrupted on a stop.
    bool read(AVPacket* pkt);

private:
    struct Io;
    std::string m_path;
    std::unique_ptr<Io> m_io; // outlives m_ctx, which reads through it
    InputFormatPtr m_ctx;
};

// "Duration: 00:03:25.12, start: 0.000000, bitrate: 128 kb/s", with N/A for unknown values.
std::string describe_input(const InputFile& in);
// Formats microseconds as HH:MM:SS.cc (hundredths cut, not rounded, like the FFmpeg CLI).
std::string format_clock(int64_t us);

} // namespace zmconv
