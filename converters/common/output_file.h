// The output of a conversion: muxer chosen from the file's extension (or a format name), streams
// added by the encoders, header, interleaved packet writing and checked trailer.
// Until finish() succeeds the file counts as partial: the destructor closes and deletes it, so a
// failed conversion never leaves a half-written file behind. An existing file is only replaced
// when overwrite is set; the output may never be the input file itself. An existing regular
// file is replaced only by a complete output: the new one is written under a hidden temporary
// name beside it and renamed over it at the end, so a failed conversion leaves the old file as
// it was.
#pragma once

#include "av_owner.h"

#include <atomic>
#include <string>

namespace zmconv {

struct OutputOptions {
    std::string path;
    std::string format_name;     // "" = guess from the extension of path
    bool overwrite = false;      // -y
    std::string input_path;      // refused as output (same file); "" = no check
};

class OutputFile {
public:
    // Checks the folder (exists, writable), the overwrite rule and the format; does not create
    // the file yet. Throws ConvError(Failure::Output or Failure::Usage for an unknown format).
    explicit OutputFile(const OutputOptions& options);
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    AVFormatContext* context() const { return m_ctx; }
    const AVOutputFormat* format() const { return m_ctx->oformat; }
    const std::string& path() const { return m_path; }
    // True when encoders must put their extradata in the stream header (AV_CODEC_FLAG_GLOBAL_HEADER).
    bool wants_global_header() const;
    // Whether the container can hold this codec (avformat_query_codec; unknown counts as yes).
    bool can_store(AVCodecID codec) const;

    // A new stream; the caller fills codecpar and time_base before write_header().
    AVStream* add_stream();
    // Global tags written with the header (copied, may be null).
    void set_metadata(const AVDictionary* tags);

    // Creates the file and writes the header. Stream time bases may change here.
    void write_header();
    // Rescales pkt from time_base to its stream's time base and writes it interleaved.
    // Takes the packet's reference. Throws ConvError(Failure::Codec) on a muxer error.
    void write(AVPacket* pkt, AVRational time_base);
    // Flushes the interleaving queue, writes the trailer, closes the file; from now on the
    // output is complete and is kept.
    void finish();
    // Bytes written so far (the final size once finished). May be read from another thread
    // than the one writing.
    int64_t bytes_written() const;

private:
    std::string m_path;
    std::string m_write_path;    // where the bytes go: m_path, or the temporary name
    bool m_replace = false;      // m_path is an existing regular file, replaced at finish()
    AVFormatContext* m_ctx = nullptr;
    bool m_opened = false;
    bool m_header = false;
    bool m_done = false;
    std::atomic<int64_t> m_bytes{0};
};

} // namespace zmconv
