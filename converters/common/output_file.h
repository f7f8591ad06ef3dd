// The output of a conversion: muxer chosen from the file's extension (or a format name), streams
// added by the encoders, header, interleaved packet writing and checked trailer. The bytes go
// through an AVIOContext of our own over the descriptor of an OutputTarget, so the output appears
// under its name only when finish() has completed it (see output_target.h); until then the
// destructor discards it. Writing is thread-safe: the encoders of several streams may write from
// threads of their own, and the lock covers only the write itself.
#pragma once

#include "common/av_owner.h"
#include "common/output_target.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace zmconv {

struct OutputOptions {
    std::string path;
    std::string format_name; // "" = guess from the extension of path
    bool overwrite = false;  // -y
    std::string input_path;  // refused as output (same file); "" = no check
};

class OutputFile
{
public:
    // Checks the folder (exists, writable), the overwrite rule and the format; does not create
    // the file yet. Throws ConvError(Failure::Output or Failure::Usage for an unknown format).
    explicit OutputFile(const OutputOptions& options);
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    AVFormatContext* context() const { return m_ctx; }
    const AVOutputFormat* format() const { return m_ctx->oformat; }
    const std::string& path() const { return m_target.path(); }
    // True when encoders must put their extradata in the stream header
    // (AV_CODEC_FLAG_GLOBAL_HEADER).
    bool wants_global_header() const;
    // Whether the container can hold this codec (avformat_query_codec; unknown counts as yes).
    bool can_store(AVCodecID codec) const;

    // A new stream; the caller fills codecpar and time_base before write_header().
    AVStream* add_stream();
    // Global tags written with the header (copied, may be null).
    void set_metadata(const AVDictionary* tags);
    // An option of the muxer (such as "write_xing"), passed when the header is written.
    void set_muxer_option(const char* key, const char* value);
    // Nothing random or from the clock in the file: Ogg's stream serial number then comes from
    // the muxer's "serial_offset" option instead of chance (and Ogg names "ffmpeg" as vendor).
    void set_bit_exact();
    // Cover art: a stream for the input's attached picture (its parameters, tags and the
    // picture itself), written right after the header. Returns false, adding nothing, when
    // this muxer cannot carry the picture (only MP3, MP4/M4A and FLAC keep JPEG or PNG covers).
    bool add_attached_picture(const AVStream* source);

    // Creates the temporary file and writes the header. Stream time bases may change here.
    void write_header();
    // Rescales pkt from time_base to its stream's time base and writes it interleaved. Takes the
    // packet's reference. May be called from several threads. Throws ConvError(Failure::Codec)
    // on a muxer or write error.
    void write(AVPacket* pkt, AVRational time_base);
    // Flushes the interleaving queue, writes the trailer, checks the file (see set_check),
    // flushes it to disk and gives it its name; from now on the output is complete and is kept.
    void finish();

    // finish() reads the file back before it gets its name and compares its length with the
    // expected one (output_check.h): expected_us gives it in microseconds when finish() asks,
    // or a negative number for the length of the packets written to each stream (the longest).
    // A check that fails throws ConvError(Codec) and the file never gets its name. On by
    // default, with the written length; a device or FIFO output cannot be read back and is not
    // checked. ZMCONV_FAULT_TRUNCATE_OUTPUT=F (tests) cuts the file to the share F of its bytes
    // before the check, checked or not.
    void set_check(bool on, std::function<int64_t()> expected_us = {});
    // Whether the check decodes the sound (the default) or reads its packets only: for a file
    // whose packets are copied from one that was checked already (a tags-only rewrite).
    void set_check_decodes(bool decode) { m_check_decodes = decode; }
    // How many threads the check may decode the sound on (output_check.h, ReadBack); 1 by
    // default.
    void set_check_threads(int threads) { m_check_threads = threads; }
    // Whether the finished file can be read back (not a device or FIFO).
    bool can_read_back() const { return m_target.seekable(); }
    // Every frame of the sound decoded by the check also goes to `sound` (the check decodes
    // then, even when it would only read packets, and runs with the check off too). The step
    // before commit (set_before_commit) then comes after the check, so that it can use what
    // the sound showed: it may only overwrite bytes in place, never move or add any (finish()
    // fails when the file's size changed), so the file that gets its name is the file checked
    // in every other byte. Only for files that can be read back.
    void set_check_sound(std::function<void(const AVFrame*)> sound);
    // Microseconds from the first packet's start to the last one's end, of the stream where
    // that is longest (before the file is finished: so far).
    int64_t written_us() const;
    // Bytes written so far (the final size once finished). May be read from any thread.
    int64_t bytes_written() const;
    // A last change to the complete file before it gets its name (tags the muxer cannot write),
    // given the file's descriptor. Only for outputs written to a file (not a device or FIFO);
    // its exceptions fail the output like any write error.
    void set_before_commit(std::function<void(int fd)> step);
    // Sees every packet of one stream before it is written (time_base as given to write()),
    // under the write lock. Set before write_header().
    void set_packet_tap(int stream_index, std::function<void(const AVPacket*, AVRational)> tap);

private:
    struct Io;
    void check_write(int ret, const char* what);
    void check_output();

    struct Span {
        int64_t first = INT64_MAX;
        int64_t end = INT64_MIN;
    };

    OutputTarget m_target;
    AVFormatContext* m_ctx = nullptr;
    std::unique_ptr<Io> m_io;
    AVDictionary* m_muxer_options = nullptr;
    std::vector<PacketPtr> m_pictures; // stream_index set
    // Packets go straight to the muxer: one stream of sound besides pictures needs no
    // interleaving, and the interleaver would hold back seconds of sound waiting for a second
    // picture that never comes.
    bool m_direct = false;
    std::mutex m_write_lock;
    bool m_header = false;
    bool m_done = false;
    std::atomic<int64_t> m_bytes{0};
    std::function<void(int)> m_before_commit;
    int m_tap_stream = -1;
    std::function<void(const AVPacket*, AVRational)> m_tap;
    bool m_check = true;
    bool m_check_decodes = true;
    int m_check_threads = 1;
    std::function<void(const AVFrame*)> m_check_sound;
    std::function<int64_t()> m_expected_us;
    std::vector<Span> m_written; // per stream, in its time base
};

} // namespace zmconv
